# Cross build for 64-bit ARM (arm64-v8a devices); NEON is part of the base
# architecture, so the kernels compile natively. Tests run under qemu-aarch64.
# As for armhf: only the host's packages, the cross compiler's C library under
# /usr/aarch64-linux-gnu is the target root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
# -DORV_CLANG=ON: Debian's clang and lld for the same target and root (the
# NDK's compiler is clang), so the kernels' speed can be counted under both.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORV_CLANG)
if(ORV_CLANG)
  set(CMAKE_C_COMPILER clang)
  set(CMAKE_CXX_COMPILER clang++)
  foreach(lang C CXX ASM)
    set(CMAKE_${lang}_COMPILER_TARGET aarch64-linux-gnu)
  endforeach()
  foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT -fuse-ld=lld)
  endforeach()
else()
  set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
  set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
endif()
set(ORV_TARGET_ROOT /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${ORV_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${ORV_TARGET_ROOT})
