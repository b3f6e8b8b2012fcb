# Read by cpack before it installs and packs. Two packages made from the same
# commit must be the same bytes, so the files in them are dated with
# SOURCE_DATE_EPOCH when it is given, else with the last commit's date, and
# in a tree that is not a git checkout with the newest changelog entry's.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "")
  # Only the tree's own repository: an unpacked source tree inside some
  # other checkout must not take that one's date.
  execute_process(COMMAND git -C "${CPACK_CHUNKLENS_SOURCE_DIR}" rev-parse --show-toplevel
    OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0)
    get_filename_component(top "${top}" REALPATH)
    get_filename_component(source "${CPACK_CHUNKLENS_SOURCE_DIR}" REALPATH)
    if(top STREQUAL source)
      execute_process(COMMAND git -C "${CPACK_CHUNKLENS_SOURCE_DIR}" log -1 --format=%ct
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    set(epoch "${CPACK_CHUNKLENS_RELEASE_EPOCH}")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
