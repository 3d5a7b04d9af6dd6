# Installing Lumivore (cmake --install, any prefix) and its Debian package (cpack -G DEB):
# the executable and its window module, the desktop entry, the icon in the hicolor theme, the
# AppStream metainfo, the man page and the bash completion. The package takes its version from project(), the number the executable embeds.
include(GNUInstallDirs)

set(_res ${CMAKE_SOURCE_DIR}/resources)
install(TARGETS lumivore RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The window module, which the executable loads to show the window (app/WindowModule.h).
install(TARGETS lumivore_window LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/lumivore)
install(FILES ${_res}/lumivore.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${_res}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${_res}/example.lumivore.Lumivore.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Completion of the commands and their options, loaded by bash-completion on first use.
install(FILES ${_res}/lumivore.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lumivore)

# The man page carries the version; it is installed compressed, as Debian keeps man pages. Both
# are made when configuring, so packaging needs nothing built but the executable.
configure_file(${_res}/lumivore.1.in ${CMAKE_BINARY_DIR}/lumivore.1 @ONLY)
execute_process(COMMAND gzip -9nkf lumivore.1 WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_BINARY_DIR}/lumivore.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumivore)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Lumivore developers")
set(CPACK_PACKAGE_CONTACT "The Lumivore developers <lumivore@lumivore.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "always-on-top screen-capture tool for X11 desktops")
set(CPACK_PACKAGE_DESCRIPTION [[
Drag the capture tool over any window to see its class name, text and pixel
colours, and release to capture it. Trim, resize, rotate, reduce colours,
pixelate and stamp a cursor, with undo, then copy the picture to the clipboard
or save it to a file, optionally handing it on to another program.
The user interface is Japanese.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://lumivore.example/)
# Shared libraries are found by dpkg-shlibdeps; what is loaded otherwise is named here: the
# Japanese font the window is laid out for. xdg-open shows the help file and the web page.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-translations-l10n")
include(CPack)
