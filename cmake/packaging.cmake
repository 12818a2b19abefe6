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
  if(TARGET vesknet)
    install(TARGETS vesknet RUNTIME DESTINATION .)
  endif()
  install(TARGETS Quenbase Zenthal Morvane RUNTIME DESTINATION standins)
  # Text files with Windows line ends, for Notepad; made again when they change.
  foreach(file docs/windows-readme.txt docs/standins.txt docs/administrators.md)
    get_filename_component(name ${file} NAME)
    file(READ ${PROJECT_SOURCE_DIR}/${file} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${CMAKE_BINARY_DIR}/crlf/${name} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${file})
  endforeach()
  install(FILES ${CMAKE_BINARY_DIR}/crlf/windows-readme.txt DESTINATION . RENAME README.txt)
  install(FILES ${CMAKE_BINARY_DIR}/crlf/standins.txt DESTINATION standins RENAME README.txt)
  install(FILES ${CMAKE_BINARY_DIR}/crlf/administrators.md DESTINATION . RENAME administrators.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_FILE_NAME veskcfg-${PROJECT_VERSION}-windows)
  # Unpacked, everything is in one folder of that name.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  include(GNUInstallDirs)
  install(TARGETS VeskCfg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/VeskCfg.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # One file completes both programs; bash-completion looks for it under
  # the name of each.
  install(FILES tools/completion/veskcfg.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME VeskCfg)
  if(TARGET vesknet)
    install(TARGETS vesknet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${CMAKE_BINARY_DIR}/vesknet.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(CODE "file(CREATE_LINK VeskCfg \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/bash-completion/completions/vesknet SYMBOLIC)")
  endif()
  if(TARGET veskcfg-smb)
    install(TARGETS veskcfg-smb LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/veskcfg)
  endif()
  install(FILES docs/administrators.md README.md packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/veskcfg)
  install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME veskcfg)
  # Manual pages and the changelog go compressed, as Debian's policy asks.
  set(compressed)
  foreach(file docs/man/VeskCfg.1 docs/man/vesknet.1 packaging/changelog)
    get_filename_component(name ${file} NAME)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${name}.gz
                       COMMAND sh -c "gzip -9nc '${PROJECT_SOURCE_DIR}/${file}' > '${CMAKE_BINARY_DIR}/${name}.gz'"
                       DEPENDS ${PROJECT_SOURCE_DIR}/${file} VERBATIM)
    list(APPEND compressed ${CMAKE_BINARY_DIR}/${name}.gz)
  endforeach()
  add_custom_target(compressed-docs ALL DEPENDS ${compressed})
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/veskcfg)
  # The programs need only the C library; the smb network's module needs
  # Samba's client libraries and MIT's libkrb5, which a machine that never
  # uses it can do without (VESKCFG_NETWORK=smb then says they are missing).
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "samba-libs, libkrb5-3")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "VeskCfg developers <developers@veskcfg.org>")
  set(CPACK_PACKAGE_DESCRIPTION "VeskCfg makes a server of the Vesklane backup option a primary, attaches
distributed servers to it, detaches and removes them, lists roles and changes
the stored account that reaches a server. This build runs on a simulated
network of computers kept in a folder, or against real SMB servers over the
winreg remote registry; vesknet makes, shows, checks and draws such a
simulated network.")
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "graphviz, man-db")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
endif()
include(CPack)
