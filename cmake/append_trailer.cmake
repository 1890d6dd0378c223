# Appends the 32-byte configuration trailer to the freshly linked program.
# execute_process writes the bytes unchanged, NULs included.
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${EXE} ${TRAILER}
                OUTPUT_FILE ${EXE}.tmp RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not append the trailer to ${EXE}")
endif()
file(RENAME ${EXE}.tmp ${EXE})
