# `cmake --install`: the two programs, and the libraries as the CMake package `pathprobe`
#   find_package(pathprobe CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE pathprobe::path_resolution)   # or pathprobe::winfs alone
# with the headers under include/pathprobe, so that <pathprobe/path_resolution.h> works.
include(CMakePackageConfigHelpers)

set(PATHPROBE_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/pathprobe")

install(TARGETS pathprobe winpath RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(exported path_resolution)
if(NOT WIN32)
  list(PREPEND exported winfs)
endif()
# Named for the project in lib/, where "winfs" alone could meet another library's file.
foreach(target IN LISTS exported)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME pathprobe_${target})
endforeach()
install(TARGETS ${exported} EXPORT pathprobeTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The public tree whole: path_resolution.h everywhere, winfs's headers where winfs is built.
if(WIN32)
  install(FILES include/pathprobe/path_resolution.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pathprobe)
else()
  install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

install(EXPORT pathprobeTargets NAMESPACE pathprobe:: DESTINATION ${PATHPROBE_CMAKE_DIR})
# 0.x: a new minor version may change the interface.
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/pathprobeConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/pathprobeConfig.cmake"
  "include(\"\${CMAKE_CURRENT_LIST_DIR}/pathprobeTargets.cmake\")\n")
install(FILES
  "${CMAKE_CURRENT_BINARY_DIR}/pathprobeConfig.cmake"
  "${CMAKE_CURRENT_BINARY_DIR}/pathprobeConfigVersion.cmake"
  DESTINATION ${PATHPROBE_CMAKE_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/tool_files.cmake)
