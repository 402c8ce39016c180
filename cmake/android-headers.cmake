# Builds for one Android ABI without the NDK, as close to the NDK's own build
# as this machine allows: clang with the target triple, libc++'s headers,
# bionic's headers from ORV_ANDROID_HEADERS (../shared/android-sysroot), and a
# link with -nostdlib against stub libraries generated from that folder's
# symbol maps (ORV_ANDROID_STUBS, one folder per ABI, see scripts/test.d/android).
# The NDK's own toolchain file is what a real build uses (see README).
#
#   -DORV_ANDROID_TRIPLE=aarch64-linux-android21 -DORV_ANDROID_HEADERS=... -DORV_ANDROID_STUBS=...
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORV_ANDROID_TRIPLE ORV_ANDROID_HEADERS ORV_ANDROID_STUBS)
foreach(v ORV_ANDROID_TRIPLE ORV_ANDROID_HEADERS ORV_ANDROID_STUBS)
  if(NOT ${v})
    message(FATAL_ERROR "android-headers.cmake needs -D${v}=...")
  endif()
endforeach()

set(CMAKE_SYSTEM_NAME Linux)
set(ANDROID TRUE)
string(REGEX MATCH "^[^-]+" orv_triple_arch "${ORV_ANDROID_TRIPLE}")
if(orv_triple_arch STREQUAL "armv7a")
  set(CMAKE_SYSTEM_PROCESSOR armv7-a)
  set(orv_asm asm-arm)
  set(orv_arch_flags "-march=armv7-a -mthumb -mfpu=neon -mfloat-abi=softfp")
elseif(orv_triple_arch STREQUAL "aarch64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
  set(orv_asm asm-arm64)
elseif(orv_triple_arch STREQUAL "i686")
  set(CMAKE_SYSTEM_PROCESSOR i686)
  set(orv_asm asm-x86)
elseif(orv_triple_arch STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(orv_asm asm-x86)
else()
  message(FATAL_ERROR "unknown Android triple ${ORV_ANDROID_TRIPLE}")
endif()

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${ORV_ANDROID_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${ORV_ANDROID_TRIPLE})
# The kernels' .S files (src/kernels/arm, x86) for the same target.
set(CMAKE_ASM_COMPILER_TARGET ${ORV_ANDROID_TRIPLE})

execute_process(COMMAND clang -print-resource-dir OUTPUT_VARIABLE orv_clang_resource
  OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND clang -dumpversion OUTPUT_VARIABLE orv_clang_version
  OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "^[0-9]+" orv_clang_major "${orv_clang_version}")
set(orv_libcxx /usr/lib/llvm-${orv_clang_major}/include/c++/v1)
if(NOT EXISTS ${orv_libcxx}/atomic)
  message(FATAL_ERROR "libc++ headers missing at ${orv_libcxx} (libc++-${orv_clang_major}-dev)")
endif()

set(h ${ORV_ANDROID_HEADERS})
# The folder has no android/native_window.h: the project's own declaration
# of the NDK's window API stands in for it, searched last.
get_filename_component(orv_window_api ${CMAKE_CURRENT_LIST_DIR}/../platform/android ABSOLUTE)
set(orv_c_includes "-isystem ${orv_clang_resource}/include -isystem ${h}/include \
-isystem ${h}/kernel-uapi -isystem ${h}/kernel-uapi/${orv_asm} -isystem ${h}/kernel-android-uapi \
-idirafter ${orv_window_api}")
# The NDK's defaults for every compile.
set(orv_common "${orv_arch_flags} -DANDROID -nostdinc -ffunction-sections -fdata-sections -funwind-tables \
-fstack-protector-strong -no-canonical-prefixes -D_FORTIFY_SOURCE=2 -Wformat -Werror=format-security")
set(CMAKE_C_FLAGS_INIT "${orv_common} ${orv_c_includes}")
set(CMAKE_CXX_FLAGS_INIT "${orv_common} -nostdinc++ -isystem ${orv_libcxx} ${orv_c_includes}")
set(CMAKE_ASM_FLAGS_INIT "${orv_common}")

# Stubs only: no start files, no C++ runtime. Undefined symbols are warnings
# here; the step that builds this compares them with the stubs afterwards, so
# the C++ runtime (which an app links from the NDK) is set aside, not faked.
set(orv_link "-fuse-ld=lld -nostdlib -L${ORV_ANDROID_STUBS} -Wl,-z,noexecstack -Wl,-z,relro -Wl,-z,now \
-Wl,--warn-unresolved-symbols")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${orv_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${orv_link}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${orv_link}")
# compiler-rt's builtins, linked in as the NDK does, where this machine has
# them (x86): __builtin_cpu_supports needs its hidden __cpu_model in the link.
set(orv_builtins "")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i686|x86_64)$")
  string(REPLACE i686 i386 orv_rt_arch ${CMAKE_SYSTEM_PROCESSOR})
  set(orv_builtins "${orv_clang_resource}/lib/linux/libclang_rt.builtins-${orv_rt_arch}.a")
endif()
set(CMAKE_C_STANDARD_LIBRARIES "${orv_builtins} -lc -lm -ldl")
set(CMAKE_CXX_STANDARD_LIBRARIES "${orv_builtins} -lc -lm -ldl")
# Executables cannot link without start files; checks build static archives.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH ${ORV_ANDROID_STUBS}/.. ${ORV_ANDROID_HEADERS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
