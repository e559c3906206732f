# Runs PROGRAM with the arguments ARGS (separated by spaces) and writes what it prints to OUTPUT; fails the
# build when the program fails. Used to write the manual page and the completion from the client.
separate_arguments(ARGS UNIX_COMMAND "${ARGS}")
execute_process(COMMAND ${PROGRAM} ${ARGS} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "${PROGRAM} ${ARGS} failed: ${status}")
endif()
