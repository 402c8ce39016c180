# Cross build for 32-bit ARMv7 hard-float with NEON; tests run under qemu-arm.
# Everything comes from the host's own packages: the cross compiler's C
# library under /usr/arm-linux-gnueabihf is the target root (no multiarch
# armhf packages), GoogleTest is built from its source and the Android log is
# the stand-in's writer.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
# -DORV_CLANG=ON: Debian's clang and lld for the same target and root (the
# NDK's compiler is clang), so the kernels' speed can be counted under both.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORV_CLANG)
if(ORV_CLANG)
  set(CMAKE_C_COMPILER clang)
  set(CMAKE_CXX_COMPILER clang++)
  foreach(lang C CXX ASM)
    set(CMAKE_${lang}_COMPILER_TARGET armv7a-linux-gnueabihf)
  endforeach()
  foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT -fuse-ld=lld)
  endforeach()
else()
  set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
  set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
endif()
set(CMAKE_C_FLAGS_INIT "-march=armv7-a -mfpu=neon -mfloat-abi=hard")
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a -mfpu=neon -mfloat-abi=hard")
set(ORV_TARGET_ROOT /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH ${ORV_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
# Arch-independent headers (android/log.h, jni.h) come from the host's /usr/include.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${ORV_TARGET_ROOT})
