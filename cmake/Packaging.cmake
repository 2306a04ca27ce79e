# Installing the programs and building a Debian package with CPack:
#   cmake --install build --prefix /usr/local
#   (cd build && cpack -G DEB)
include(GNUInstallDirs)

if(TARGET qbox)
  install(TARGETS qbox RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# Man pages install compressed, as Debian keeps them; -n leaves no time stamp in the file.
find_program(QB_GZIP gzip)
foreach(page qbox.1 quarrybox.1)
  if(NOT EXISTS ${CMAKE_SOURCE_DIR}/docs/${page})
    continue()
  endif()
  if(QB_GZIP)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${page}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/${page} ${CMAKE_BINARY_DIR}/${page}
      COMMAND ${QB_GZIP} -9nf ${CMAKE_BINARY_DIR}/${page}
      DEPENDS ${CMAKE_SOURCE_DIR}/docs/${page} VERBATIM)
    string(REPLACE "." "_" target ${page})
    add_custom_target(qb_man_${target} ALL DEPENDS ${CMAKE_BINARY_DIR}/${page}.gz)
    install(FILES ${CMAKE_BINARY_DIR}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    install(FILES ${CMAKE_SOURCE_DIR}/docs/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
# Debian wants the copyright statement beside the documentation.
install(FILES ${CMAKE_SOURCE_DIR}/docs/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quarrybox)
install(FILES ${CMAKE_SOURCE_DIR}/docs/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME quarrybox)

set(CPACK_PACKAGE_NAME "quarrybox")
set(CPACK_PACKAGE_VENDOR "Brisbyn")
set(CPACK_PACKAGE_CONTACT "Quarrybox maintainers <quarrybox@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tool for TRS-80 emulator disk images")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Opens JV1, JV3 and DMK floppy images and HDV hard-disk images, recognises the
DOS on them (TRSDOS, LDOS, NEWDOS/80, CP/M, RSDOS and others) and lists,
extracts, adds, renames and deletes their files. Ships the desktop program
quarrybox and the command-line tool qbox, which can also mount a disk as a
folder.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION "otherosfs")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debian wants a compressed changelog beside the documentation, even for a native package.
if(QB_GZIP)
  string(TIMESTAMP QB_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  file(WRITE ${CMAKE_BINARY_DIR}/changelog
    "quarrybox (${PROJECT_VERSION}) unstable; urgency=medium\n\n  * Release ${PROJECT_VERSION}.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${QB_CHANGELOG_DATE}\n")
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND ${QB_GZIP} -9nkf ${CMAKE_BINARY_DIR}/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/changelog VERBATIM)
  add_custom_target(qb_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quarrybox)
endif()

# The package ships stripped programs; the libraries they link (Qt 6; libfuse 3 unless qbox is
# linked statically) come from shlibdeps, and qbox mount needs fusermount3 from fuse3 as well.
set(CPACK_STRIP_FILES ON)
if(QB_HAVE_FUSE)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fuse3")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_GENERATOR "DEB")
include(CPack)
