# Installs the build in BUILD_DIR into a fresh prefix under WORK_DIR, then configures, builds and
# runs the consumer project against it, with the build's compiler and flags:
#   cmake -DSOURCE_DIR=... -DBUILD_DIR=... -DWORK_DIR=... -DCXX=... -DCXX_FLAGS=... -DLINKER_FLAGS=...
#         -DBUILD_TYPE=... -DGENERATOR=... -P run.cmake
function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
step(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

# The public tree is installed whole and nothing else beside it, and each header compiles on its
# own with one -I<prefix>/include. Every fault is named, not just the first.
set(failures "")
file(GLOB_RECURSE public RELATIVE "${SOURCE_DIR}/include" "${SOURCE_DIR}/include/*")
list(SORT public)
file(GLOB_RECURSE installed RELATIVE "${prefix}/include" "${prefix}/include/*")
list(SORT installed)
if(NOT installed STREQUAL public)
  string(APPEND failures "the install put under include/\n  ${installed}\ninstead of the public tree\n  ${public}\n")
endif()
separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS}")
foreach(header IN LISTS installed)
  string(MAKE_C_IDENTIFIER "${header}" name)
  file(WRITE "${WORK_DIR}/alone/${name}.cpp" "#include <${header}>\n")
  execute_process(COMMAND "${CXX}" ${flags} -std=c++20 -fsyntax-only "-I${prefix}/include"
      "${WORK_DIR}/alone/${name}.cpp"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    string(APPEND failures "${header} does not compile on its own:\n${out}\n")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()

step(${CMAKE_COMMAND} -S "${CMAKE_CURRENT_LIST_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}"
  "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}"
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
step(${CMAKE_COMMAND} --build "${WORK_DIR}/build")

set(ENV{WINEPREFIX} "${WORK_DIR}/wine")
foreach(program resolve layer)
  execute_process(COMMAND "${WORK_DIR}/build/${program}" RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(APPEND got "${program} ${status}\n${out}${err}")
endforeach()
set(expected "resolve 0\nc:\\x\nC:\\x\nC:\\y\n[not an absolute path\n]\n6\nlayer 0\nd:dog\n1\n")
if(NOT got STREQUAL expected)
  message(FATAL_ERROR "the consumer wrote\n${got}\ninstead of\n${expected}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
