# What every cross build of chunklens shares; included by the file of each
# architecture in this folder (scripts/cross-test picks one), after it has
# set CHUNKLENS_CROSS_TRIPLE, CMAKE_SYSTEM_PROCESSOR and
# CHUNKLENS_DEB_HOST_ARCH (Debian's name of the architecture, for which
# cmake/hardening.cmake asks dpkg-buildflags), and, where the
# target's libraries cannot be installed beside the build machine's,
# CHUNKLENS_CROSS_SYSROOT: a folder into which they were unpacked, with
# CHUNKLENS_CROSS_LOADER, the target's path of the dynamic loader.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${CHUNKLENS_CROSS_TRIPLE}-g++)

if(CHUNKLENS_CROSS_SYSROOT)
  # Headers and libraries come from the unpacked packages first, then from
  # the cross compiler's own C library. pkg-config reads only the sysroot's
  # .pc files and puts the sysroot in front of the paths it gives.
  set(sysroot_lib ${CHUNKLENS_CROSS_SYSROOT}/usr/lib/${CHUNKLENS_CROSS_TRIPLE})
  set(CMAKE_FIND_ROOT_PATH ${CHUNKLENS_CROSS_SYSROOT} /usr/${CHUNKLENS_CROSS_TRIPLE})
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${CHUNKLENS_CROSS_SYSROOT})
  set(ENV{PKG_CONFIG_LIBDIR} "${sysroot_lib}/pkgconfig:${CHUNKLENS_CROSS_SYSROOT}/usr/share/pkgconfig")
  set(PKG_CONFIG_EXECUTABLE pkg-config)
  # The binaries start with the sysroot's loader and find every library
  # there, the libraries' own too (an RPATH, not a RUNPATH, which would
  # serve only the executable's), so that they run under qemu-user with
  # nothing set in the environment and nothing installed on this machine.
  set(sysroot_dirs "${sysroot_lib}:${CHUNKLENS_CROSS_SYSROOT}/lib/${CHUNKLENS_CROSS_TRIPLE}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT
    " -Wl,--dynamic-linker=${CHUNKLENS_CROSS_SYSROOT}${CHUNKLENS_CROSS_LOADER}"
    " -Wl,--disable-new-dtags -Wl,-rpath,${sysroot_dirs} -Wl,-rpath-link,${sysroot_dirs}")
else()
  # Multiarch: the target's -dev packages sit beside the build machine's,
  # and Debian's pkg-config for the triple reads theirs.
  set(PKG_CONFIG_EXECUTABLE ${CHUNKLENS_CROSS_TRIPLE}-pkg-config)
endif()
