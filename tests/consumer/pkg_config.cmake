# Installs the build in BUILD_DIR into a fresh prefix under WORK_DIR, then uses what it installed
# for a tool's users: a program built by one compiler command line from
# `pkg-config --cflags --libs pathprobe`, run; the manual pages rendered by `man -l`; winpath's
# bash completion registered and completing; the installed winpath run.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCXX=... -DCXX_FLAGS=... -DLINKER_FLAGS=... -P pkg_config.cmake
function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect what got expected)
  if(NOT got STREQUAL expected)
    message(FATAL_ERROR "${what} gave\n${got}\ninstead of\n${expected}")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
step(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")

# The compiler command line, as a user writes it.
file(GLOB_RECURSE pc_file "${prefix}/*/pathprobe.pc")
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
step(pkg-config --cflags --libs pathprobe)
string(STRIP "${out}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS} ${LINKER_FLAGS}")
step(${CXX} -std=c++20 ${cxx_flags} "${CMAKE_CURRENT_LIST_DIR}/pkg_config.cpp" ${pc_flags}
  -o "${WORK_DIR}/app")

set(ENV{WINEPREFIX} "${WORK_DIR}/wine")
file(MAKE_DIRECTORY "${WORK_DIR}/wine/drive_c/zor")
file(REAL_PATH "${WORK_DIR}/wine/drive_c" drive_c)
step("${WORK_DIR}/app" "${drive_c}/zor/new/" "c:\\ZOR\\new")
expect("the pkg-config consumer" "${out}" "C:\\zor\\new\\\n${drive_c}/zor/new\nC:\\y\n")
step("${prefix}/bin/winpath" windows "${drive_c}/zor")
expect("the installed winpath" "${out}" "C:\\zor\n")

# The manual pages render, without a warning from the formatter.
set(ENV{MANWIDTH} 80)
set(ENV{MANPAGER} cat)
foreach(page winpath pathprobe)
  step(man --warnings -l "${prefix}/share/man/man1/${page}.1")
  expect("man -l ${page}.1 on standard error" "${err}" "")
  if(NOT out MATCHES "EXIT STATUS" OR NOT out MATCHES "ENVIRONMENT")
    message(FATAL_ERROR "man -l ${page}.1 rendered\n${out}")
  endif()
endforeach()

# The completion registers, and completes operations (the conversions first), options, and host
# file names only where a host path is asked for: never for a Windows path (host, -u, -s, --base).
# (No ';' in the script: the step's arguments are a CMake list.)
step(bash -c [=[
source "$1" && complete -p winpath &&
for words in "wi" "host --mi" "-h" "host /us" "-u /us" "-s /us" "abspath --base /us" "-w /us" "-m windows /us" \
    "host -f /us"
do
  COMP_WORDS=(winpath $words) && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _winpath &&
  echo "[${COMPREPLY[*]}]" || exit
done &&
COMP_WORDS=(winpath "") COMP_CWORD=1 && _winpath && echo "${COMPREPLY[*]:0:3}"
]=] completion "${prefix}/share/bash-completion/completions/winpath")
expect("the bash completion" "${out}" "complete -o filenames -F _winpath winpath
[windows]\n[--mixed]\n[-h]\n[]\n[]\n[]\n[]\n[/usr]\n[/usr]\n[/usr]\nwindows host short\n")
file(REMOVE_RECURSE "${WORK_DIR}")
