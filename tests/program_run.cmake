# Runs the program as a shell would and checks how it ends: its exit code,
# an empty standard output and what it wrote on standard error.
#   cmake -DPROGRAM=<exe> -DARGS=<list> -DEXIT_CODE=<n> -DSTDERR_MATCHES=<regex> -P program_run.cmake
execute_process(COMMAND ${PROGRAM} ${ARGS}
  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
set(problems "")
if(NOT code STREQUAL "${EXIT_CODE}")
  string(APPEND problems "ended with '${code}', not ${EXIT_CODE}\n")
endif()
if(NOT out STREQUAL "")
  string(APPEND problems "wrote on standard output:\n${out}\n")
endif()
if(NOT err MATCHES "${STDERR_MATCHES}")
  string(APPEND problems "standard error does not match '${STDERR_MATCHES}':\n${err}\n")
endif()
if(problems)
  message(FATAL_ERROR "${PROGRAM} ${ARGS}: ${problems}")
endif()
