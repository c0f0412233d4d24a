# What makes the two programs installed tools: their manual pages, winpath's bash completion, and
# pathprobe.pc, for builds that take their flags from pkg-config:
#   c++ -std=c++20 app.cpp $(pkg-config --cflags --libs pathprobe)
install(FILES share/man/winpath.1 share/man/pathprobe.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES share/bash-completion/winpath
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The .pc file names its folders relative to itself, so that a tree installed with
# `cmake --install --prefix DIR`, or moved, is found where it is.
set(PC_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
  set(PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
else()
  file(RELATIVE_PATH up "/root/${PC_DIR}" "/root")
  string(REGEX REPLACE "/$" "" up "${up}")
  set(PC_PREFIX "\${pcfiledir}/${up}")
  set(PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  set(PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
# path_resolution first: it calls winfs.
set(PC_LIBS "-lpathprobe_path_resolution")
if(NOT WIN32)
  string(APPEND PC_LIBS " -lpathprobe_winfs")
endif()
configure_file(share/pathprobe.pc.in "${CMAKE_CURRENT_BINARY_DIR}/pathprobe.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/pathprobe.pc" DESTINATION ${PC_DIR})
