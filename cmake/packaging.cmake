# What cmake --install puts where, and the Debian package cpack builds.

include(GNUInstallDirs)
install(TARGETS pintool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES res/de.quintara.pintool.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(res/de.quintara.pintool.metainfo.xml.in de.quintara.pintool.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/de.quintara.pintool.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Documentation as Debian keeps it: copyright, changelog and manual page, compressed for good.
set(pintool_doc ${CMAKE_INSTALL_DATADIR}/doc/pintool)
install(FILES res/copyright DESTINATION ${pintool_doc})
configure_file(res/changelog.in changelog @ONLY)
configure_file(res/pintool.1.in pintool.1 @ONLY)
foreach(document changelog pintool.1)
    add_custom_command(OUTPUT ${document}.gz
        COMMAND gzip -9nc ${document} > ${document}.gz
        DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${document}
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endforeach()
add_custom_target(documentation ALL
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz ${CMAKE_CURRENT_BINARY_DIR}/pintool.1.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${pintool_doc})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pintool.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

foreach(size 16 32 128)
    install(FILES res/icons/pintool-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME de.quintara.pintool.png)
endforeach()

set(CPACK_PACKAGE_NAME pintool)
set(CPACK_PACKAGE_VENDOR "Quintara")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all four parts of the version block
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Ändert die PIN eines Softzertifikats (PKCS#12)")
set(CPACK_PACKAGE_DESCRIPTION [=[
Quintara(R) Tessaplan für Softzertifikate ändert die PIN, also das Passwort,
einer PKCS#12-Datei (.pfx, .p12) mit Zertifikaten und privaten Schlüsseln.
Jedes Zertifikat und jeder Schlüssel wird mit der neuen PIN verschlüsselt, mit
denselben Verfahren wie zuvor, und die Datei als Ganzes ersetzt. Ein kleines
Fenster mit deutscher Oberfläche, ganz mit der Tastatur bedienbar.]=])
set(CPACK_PACKAGE_CONTACT "Quintara <pintool@quintara.example>")
# Qt's own texts in its dialogs come in German from Qt's translations.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Folders as Debian has them, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
