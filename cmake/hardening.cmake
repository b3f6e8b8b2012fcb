# Sets CHUNKLENS_HARDENING_COMPILE and CHUNKLENS_HARDENING_LINK to the
# hardening that dpkg-buildflags gives the packages of the release this
# builds on (hardening=+all), for the architecture it builds for: a cross
# toolchain file in cmake/cross names that one in CHUNKLENS_DEB_HOST_ARCH.
# What hardening=+all means grows with the releases (stack clash protection,
# control flow protection on amd64, _FORTIFY_SOURCE=3), and a package should
# not ship with less than the release's own.
find_program(CHUNKLENS_DPKG_BUILDFLAGS dpkg-buildflags)
if(CHUNKLENS_DPKG_BUILDFLAGS)
  set(hardening_env DEB_BUILD_MAINT_OPTIONS=hardening=+all)
  # Without it dpkg works the architecture out from CC, which names the
  # build machine's compiler in a cross build.
  if(CHUNKLENS_DEB_HOST_ARCH)
    list(APPEND hardening_env DEB_HOST_ARCH=${CHUNKLENS_DEB_HOST_ARCH})
  endif()
  foreach(hardening_kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env ${hardening_env} ${CHUNKLENS_DPKG_BUILDFLAGS} --get ${hardening_kind}
      OUTPUT_VARIABLE hardening_flags OUTPUT_STRIP_TRAILING_WHITESPACE
      ERROR_VARIABLE hardening_error RESULT_VARIABLE hardening_status)
    if(NOT hardening_status EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${hardening_kind} failed: ${hardening_error}")
    endif()
    separate_arguments(hardening_flags UNIX_COMMAND "${hardening_flags}")
    # The optimisation level is the Release config's -O3, which the speed
    # figures are measured with, and debug information would only be
    # stripped again. The path maps name the folder cmake ran in; the
    # tree's own map, in CMakeLists.txt, is what keeps the build's folder
    # out of the binary.
    list(FILTER hardening_flags EXCLUDE REGEX "^-O|^-g|-prefix-map=")
    set(hardening_${hardening_kind} ${hardening_flags})
  endforeach()
  set(CHUNKLENS_HARDENING_COMPILE ${hardening_CPPFLAGS} ${hardening_CXXFLAGS})
  set(CHUNKLENS_HARDENING_LINK ${hardening_LDFLAGS})
  set(hardening_source "dpkg-buildflags")
else()
  # A builder that is not Debian's: what Debian 12's dpkg-buildflags gives.
  set(CHUNKLENS_HARDENING_COMPILE
    -D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wformat -Werror=format-security)
  set(CHUNKLENS_HARDENING_LINK -Wl,-z,relro -Wl,-z,now)
  set(hardening_source "a fixed list (no dpkg-buildflags)")
endif()

# GCC and clang make position-independent executables by default on Debian,
# so dpkg-buildflags says nothing of it there; elsewhere they may not.
if(NOT "-fPIE" IN_LIST CHUNKLENS_HARDENING_COMPILE)
  list(APPEND CHUNKLENS_HARDENING_COMPILE -fPIE)
endif()
if(NOT "-pie" IN_LIST CHUNKLENS_HARDENING_LINK)
  list(APPEND CHUNKLENS_HARDENING_LINK -pie)
endif()
list(JOIN CHUNKLENS_HARDENING_COMPILE " " hardening_compile_shown)
list(JOIN CHUNKLENS_HARDENING_LINK " " hardening_link_shown)
message(STATUS "Release hardening from ${hardening_source}: ${hardening_compile_shown}; linking: ${hardening_link_shown}")
