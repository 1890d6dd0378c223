# Appends the 32-byte configuration trailer to the freshly linked program,
# after 72 bytes of room for a publisher's key block: stamping a key then
# overwrites bytes that belong to no section, as writing the address does.
# Left NUL, the room carries no key. execute_process writes the bytes
# unchanged, NULs included.
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${EXE} ${KEYROOM} ${TRAILER}
                OUTPUT_FILE ${EXE}.tmp RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not append the trailer to ${EXE}")
endif()
file(RENAME ${EXE}.tmp ${EXE})
# The rename left the freshly written file's default mode; Linux tools that
# run the program directly (Wine's binfmt handler) need it executable.
if(NOT CMAKE_HOST_WIN32 AND NOT CMAKE_VERSION VERSION_LESS 3.19)
  file(CHMOD ${EXE} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
       WORLD_READ WORLD_EXECUTE)
endif()
