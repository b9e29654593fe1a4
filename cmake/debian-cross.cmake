# Common part of the cross toolchain files. Debian installs each target's
# C library and headers under /usr/<triplet> (from the libc6-dev-*-cross
# packages that the cross compiler pulls in); the compiler finds them there
# by itself, so no sysroot is given. The same directory is the prefix from
# which qemu-user loads the target's dynamic loader and libraries.
set(CMAKE_SYSTEM_NAME Linux)
if(VELLUM_TARGET_TRIPLET MATCHES "^aarch64")
  set(CMAKE_SYSTEM_PROCESSOR aarch64)
else()
  set(CMAKE_SYSTEM_PROCESSOR arm)
endif()

set(CMAKE_C_COMPILER ${VELLUM_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VELLUM_TARGET_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VELLUM_TARGET_TRIPLET})

set(VELLUM_TARGET_ROOT /usr/${VELLUM_TARGET_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${VELLUM_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# What CTest starts (the test executable, and test discovery) runs under the
# emulator; the test harness puts it in front of the target programs it
# starts itself.
find_program(VELLUM_EMULATOR ${VELLUM_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELLUM_EMULATOR} -L ${VELLUM_TARGET_ROOT})
