# What `cmake --install` puts where, and the packages CPack makes: a .deb on
# Linux, a .zip of the Windows program.
set(CPACK_PACKAGE_NAME veskcfg)
set(CPACK_PACKAGE_VENDOR "VeskCfg developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Groups the servers of the Vesklane backup option")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})

if(WIN32)
  # VeskCfg.exe goes beside the product's own DLLs; our stand-ins only to a
  # machine without the product, hence a folder of their own.
  install(TARGETS VeskCfg RUNTIME DESTINATION .)
  install(TARGETS Quenbase Zenthal Morvane RUNTIME DESTINATION standins)
  install(FILES docs/standins.txt DESTINATION standins RENAME README.txt)
  install(FILES docs/administrators.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME veskcfg-${PROJECT_VERSION}-windows)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  install(TARGETS VeskCfg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES docs/man/VeskCfg.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES tools/completion/VeskCfg.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME VeskCfg)
  if(TARGET vesknet)
    install(TARGETS vesknet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES docs/man/vesknet.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES tools/completion/vesknet.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME vesknet)
  endif()
  install(FILES docs/administrators.md README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/veskcfg)
  # Both programs are linked statically: the package needs no library.
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "VeskCfg developers <veskcfg@localhost>")
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "graphviz, man-db")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
endif()
include(CPack)
