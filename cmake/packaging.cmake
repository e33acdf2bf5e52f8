# What cmake --install puts where, and the Debian package cpack builds.

include(GNUInstallDirs)
install(TARGETS pintool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES res/de.quintara.pintool.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(res/de.quintara.pintool.metainfo.xml.in de.quintara.pintool.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/de.quintara.pintool.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 32 128)
    install(FILES res/icons/pintool-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME de.quintara.pintool.png)
endforeach()

set(CPACK_PACKAGE_NAME pintool)
set(CPACK_PACKAGE_VENDOR "Quintara")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Ändert die PIN eines Softzertifikats (PKCS#12)")
set(CPACK_PACKAGE_CONTACT "pintool <pintool@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
