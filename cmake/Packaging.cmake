# Installing the programs and building a Debian package with CPack:
#   cmake --install build --prefix /usr/local
#   (cd build && cpack -G DEB)
include(GNUInstallDirs)

if(TARGET qbox)
  install(TARGETS qbox RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/docs/qbox.1)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/qbox.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME "quarrybox")
set(CPACK_PACKAGE_VENDOR "Brisbyn")
set(CPACK_PACKAGE_CONTACT "Quarrybox maintainers <quarrybox@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tool for TRS-80 emulator disk images")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION "otherosfs")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_GENERATOR "DEB")
include(CPack)
