# Runs the README's example on a fresh prefix: it must end with status 0 and print what the README
# says it prints.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env "WINEPREFIX=${PREFIX}" "${EXE}"
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
file(REMOVE_RECURSE "${PREFIX}")
set(expected [[32: The process cannot access the file because it is being used by another process.
"C:\\zor\\out\\report.txt"
"C:\\zor\\foo"
]])
if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "the README's example ended with ${status} and printed\n${out}${err}\n"
                      "where the README says\n${expected}")
endif()
