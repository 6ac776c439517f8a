# Compares `nm -D --defined-only` of the module with the functions the
# public header declares; any extra or missing name fails.
execute_process(COMMAND nm -D --defined-only ${MODULE} OUTPUT_VARIABLE nm_output RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ [A-Za-z] ([A-Za-z0-9_]+)" lines "${nm_output}")
set(exported)
foreach(line ${lines})
  string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" name "${line}")
  list(APPEND exported ${name})
endforeach()
list(SORT exported)

include(${CMAKE_CURRENT_LIST_DIR}/header_exports.cmake)
header_exports(expected ${HEADER})
list(LENGTH expected count)

if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exports differ from the header\n  exported: ${exported}\n  expected: ${expected}")
endif()
message(STATUS "${count} exports, as declared")
