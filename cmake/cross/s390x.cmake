# Debian's s390x: chunklens built with s390x-linux-gnu-g++.
set(CHUNKLENS_CROSS_TRIPLE s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CHUNKLENS_DEB_HOST_ARCH s390x)
# This architecture's libraries are unpacked into a folder of the build tree
# (see scripts/cross-test) instead of being installed through multiarch.
set(CHUNKLENS_CROSS_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../../build/cross/s390x-sysroot)
set(CHUNKLENS_CROSS_LOADER /lib/ld64.so.1)
# Its binaries run here through qemu-user, which binfmt_misc starts.
set(CHUNKLENS_CROSS_EMULATOR qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
