# Installs the man page and the shell completions beside the binary, and
# makes a Debian package of them with `cpack -G DEB`.

# Debian installs man pages compressed, with no name or time stamp inside so
# that the same page always gives the same bytes.
find_program(GZIP_EXECUTABLE gzip)
if(NOT GZIP_EXECUTABLE)
  message(FATAL_ERROR "gzip is needed to install the man page")
endif()
set(CHUNKLENS_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/chunklens.1.gz)
add_custom_command(OUTPUT ${CHUNKLENS_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/man/chunklens.1
          ${CMAKE_CURRENT_BINARY_DIR}/chunklens.1
  COMMAND ${GZIP_EXECUTABLE} -9nf ${CMAKE_CURRENT_BINARY_DIR}/chunklens.1
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/man/chunklens.1
  VERBATIM)
add_custom_target(man_page ALL DEPENDS ${CHUNKLENS_MAN_PAGE})

install(FILES ${CHUNKLENS_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# bash-completion loads completions/NAME when NAME is first completed; zsh
# finds _NAME on its function path, where Debian's zsh has vendor-completions.
install(FILES completion/chunklens.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME chunklens)
install(FILES completion/_chunklens DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

set(CPACK_PACKAGE_NAME chunklens)
set(CPACK_PACKAGE_CONTACT "chunklens maintainers <maintainers@users.noreply.c-seed-6b742a23.example>"
  CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list the chunk tree of a RIFF file and dump chunks as hex")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "chunklens shows the chunk tree of a RIFF file (WAV, SoundFont 2, DLS, WebP,\n"
  "AVI, and the big-endian RIFX form) with each chunk's ID, running index,\n"
  "header offset and size, and dumps the bytes of chosen chunks as hex,\n"
  "formatted or raw. It is meant for damaged files and says where the damage is.")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The dependencies come from the libraries that the binary links against,
# libinstpatch's runtime among them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
include(CPack)
