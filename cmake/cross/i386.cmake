# Debian's i386: chunklens built with i686-linux-gnu-g++.
set(CHUNKLENS_CROSS_TRIPLE i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CHUNKLENS_DEB_HOST_ARCH i386)
# The amd64 kernel runs its binaries itself where it has 32-bit support;
# elsewhere scripts/cross-test runs them through qemu-i386 and sets
# CHUNKLENS_CROSS_EMULATOR.
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
