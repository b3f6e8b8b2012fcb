# Debian's ppc64el: chunklens built with powerpc64le-linux-gnu-g++.
set(CHUNKLENS_CROSS_TRIPLE powerpc64le-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(CHUNKLENS_DEB_HOST_ARCH ppc64el)
# Its binaries run here through qemu-user, which binfmt_misc starts.
set(CHUNKLENS_CROSS_EMULATOR qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
