# What `cmake --install` puts on a machine, and the Debian package CPack makes of it:
# the helper alone (nothing of the tests or benchmarks).
include(GNUInstallDirs)

install(TARGETS zoba-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
# Not shown in menus; KDE Plasma's KWin grants screenshots to the program its Exec
# names, the installed path, fixed when configuring: configure with the final prefix.
install(FILES ${PROJECT_BINARY_DIR}/ZobaCapture/zoba-capture.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)

# A release's debug symbols (see SplitDebug.cmake), where gdb looks for them through
# the debug link: <prefix>/lib/debug<prefix>/bin/zoba-capture.debug, the prefix taken at
# install time.
if(ZOBA_SPLIT_DEBUG)
  install(CODE "file(INSTALL \"$<TARGET_FILE:zoba-capture>.debug\"
                     DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/debug\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")"
    COMPONENT debug EXCLUDE_FROM_ALL)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zoba-capture)
set(CPACK_PACKAGE_VENDOR "Zoba")
set(CPACK_PACKAGE_CONTACT "Zoba developers <developers@zoba.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Captures the focused window for a host application: screenshot, accessibility text, overlay")
# The package installs where the desktop file's Exec points.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME zoba-capture)
set(CPACK_DEBIAN_RUNTIME_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries' packages come from the binary itself; the accessibility bus is what
# the text needs, but a capture without it still works.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "at-spi2-core")
include(CPack)
