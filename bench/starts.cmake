# cmake -DPROGRAM=... -DARGS="a;b;..." -P starts.cmake: runs one benchmark program and fails
# unless it exits with 0 and prints its result line with "ok":true.
execute_process(COMMAND ${PROGRAM} ${ARGS} RESULT_VARIABLE code OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
string(REGEX MATCH "BENCH_RESULT [^\n]*" line "${out}")
if(NOT code EQUAL 0 OR NOT line MATCHES "\"ok\":true}$")
  message(FATAL_ERROR "${PROGRAM} ${ARGS}: exit ${code}\n${out}\n${err}")
endif()
message(STATUS "${line}")
