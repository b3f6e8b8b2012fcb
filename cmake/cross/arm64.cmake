# Debian's arm64: chunklens built with aarch64-linux-gnu-g++.
set(CHUNKLENS_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CHUNKLENS_DEB_HOST_ARCH arm64)
# Its binaries run here through qemu-user, which binfmt_misc starts.
set(CHUNKLENS_CROSS_EMULATOR qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
