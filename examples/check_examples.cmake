# Makes the example files afresh and compares them with those in the tree.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${MAKE_EXAMPLES} ${WORK_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "make_examples failed: ${result}")
endif()
foreach(name sample.wav sample.sf2 sample.rifx)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/${name} ${SOURCE_DIR}/${name}
    RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "examples/${name} is not what make_examples writes; rerun it")
  endif()
endforeach()
