# Debian's armhf: chunklens built with arm-linux-gnueabihf-g++.
set(CHUNKLENS_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CHUNKLENS_DEB_HOST_ARCH armhf)
# Its binaries run here through qemu-user, which binfmt_misc starts.
set(CHUNKLENS_CROSS_EMULATOR qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
