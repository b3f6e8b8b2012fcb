# Installs the man page, the shell completions and Debian's copyright and
# changelog files beside the binary, and makes a Debian package of them with
# `cpack -G DEB`.

# The version is written in project() only. The newest changelog entry takes
# it from there, and gives its date to the man page's header; older entries
# keep the versions they were released with.
set(CHUNKLENS_CHANGELOG ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog.in)
file(STRINGS ${CHUNKLENS_CHANGELOG} changelog_heads REGEX "^chunklens \\(")
list(GET changelog_heads 0 newest_head)
if(NOT newest_head MATCHES "^chunklens \\(@PROJECT_VERSION@\\) ")
  message(FATAL_ERROR "packaging/changelog.in: the newest entry must read "
    "'chunklens (@PROJECT_VERSION@) ...', so that project() stays the one place of the version")
endif()
file(STRINGS ${CHUNKLENS_CHANGELOG} changelog_trailers REGEX "^ -- ")
list(GET changelog_trailers 0 newest_trailer)
if(NOT newest_trailer MATCHES
   "^ -- .+ <.+>  (([A-Z][a-z][a-z]), ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) [0-9:]+ [-+][0-9]+)$")
  message(FATAL_ERROR "packaging/changelog.in: cannot read the date of the newest entry: ${newest_trailer}")
endif()
set(changelog_date "${CMAKE_MATCH_1}")
set(day ${CMAKE_MATCH_3})
set(month_name ${CMAKE_MATCH_4})
set(year ${CMAKE_MATCH_5})
string(REGEX REPLACE "^([0-9])$" "0\\1" day ${day})
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${month_name} month)
math(EXPR month "${month} + 1")
string(REGEX REPLACE "^([0-9])$" "0\\1" month ${month})
set(CHUNKLENS_RELEASE_DATE ${year}-${month}-${day})
# Packages made from a tree that is not a git checkout are dated with it.
execute_process(COMMAND date -d "${changelog_date}" +%s
  OUTPUT_VARIABLE CHUNKLENS_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "date cannot read the changelog's date '${changelog_date}'")
endif()

configure_file(${CHUNKLENS_CHANGELOG} ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog @ONLY)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/man/chunklens.1 ${CMAKE_CURRENT_BINARY_DIR}/man/chunklens.1 @ONLY)

# Debian installs man pages and changelogs compressed, with no name or time
# stamp inside so that the same text always gives the same bytes.
find_program(GZIP_EXECUTABLE gzip)
if(NOT GZIP_EXECUTABLE)
  message(FATAL_ERROR "gzip is needed to install the man page")
endif()
function(chunklens_gzip source output)
  string(REGEX REPLACE "\\.gz$" "" plain ${output})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND ${GZIP_EXECUTABLE} -9nf ${plain}
    DEPENDS ${source}
    VERBATIM)
endfunction()
set(CHUNKLENS_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/chunklens.1.gz)
chunklens_gzip(${CMAKE_CURRENT_BINARY_DIR}/man/chunklens.1 ${CHUNKLENS_MAN_PAGE})
set(CHUNKLENS_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
chunklens_gzip(${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog ${CHUNKLENS_CHANGELOG_GZ})
add_custom_target(compressed_docs ALL DEPENDS ${CHUNKLENS_MAN_PAGE} ${CHUNKLENS_CHANGELOG_GZ})

# A stripped install (cpack strips) also drops what dh_strip drops: the
# compilers' .comment and the bare .note, which say nothing a user needs.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    set(binary \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:chunklens>\")
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note \"\${binary}\"
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR \"cannot strip \${binary}\")
    endif()
  endif()")

install(FILES ${CHUNKLENS_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# bash-completion loads completions/NAME when NAME is first completed; zsh
# finds _NAME on its function path, where Debian's zsh has vendor-completions.
install(FILES completion/chunklens.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME chunklens)
install(FILES completion/_chunklens DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES packaging/copyright ${CHUNKLENS_CHANGELOG_GZ} DESTINATION ${CMAKE_INSTALL_DOCDIR})

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
# cpack dates every file in the package with SOURCE_DATE_EPOCH; this picks
# it when it is not given, at packaging time, so that a new commit counts.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/package_date.cmake)
set(CPACK_CHUNKLENS_SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
set(CPACK_CHUNKLENS_RELEASE_EPOCH ${CHUNKLENS_RELEASE_EPOCH})
include(CPack)
