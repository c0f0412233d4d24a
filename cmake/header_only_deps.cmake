# CLI11 and nlohmann-json, both header-only: winpath's command line and its JSON output.
#
# A native build takes their CMake packages. A cross build (the windows preset) finds no package of
# the build host, since its find root is the target's, and must not put the host's /usr/include on
# its include path, where the host's C library headers would shadow MinGW-w64's. It takes each
# library's own header folder alone instead, linked into the build tree.
function(pathprobe_host_headers target folder probe)
  find_path(_pathprobe_${folder}_root "${folder}/${probe}" NO_CMAKE_FIND_ROOT_PATH
    PATHS /usr/include /usr/local/include)
  if(NOT _pathprobe_${folder}_root)
    message(FATAL_ERROR "${folder}/${probe} not found on the build host: scripts/install-deps installs it")
  endif()
  set(staged "${CMAKE_BINARY_DIR}/host-headers")
  file(MAKE_DIRECTORY "${staged}")
  file(CREATE_LINK "${_pathprobe_${folder}_root}/${folder}" "${staged}/${folder}" SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED)
  target_include_directories(${target} SYSTEM INTERFACE "${staged}")
endfunction()

if(CMAKE_CROSSCOMPILING)
  pathprobe_host_headers(CLI11::CLI11 CLI CLI.hpp)
  pathprobe_host_headers(nlohmann_json::nlohmann_json nlohmann json.hpp)
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json 3 CONFIG REQUIRED)
endif()
