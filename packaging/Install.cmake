# Install rules and the Debian package. `cmake --install` puts the two
# programs in bin/, the menu entry, the icon in every hicolor size and the
# man page of the command-line companion under share/; `cpack -G DEB` (or
# `./build.sh package`) wraps the same tree into a .deb.
include(GNUInstallDirs)

set(VQ_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

install(TARGETS veskoqindra veskoqindra-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The entry's file name is the desktop file name the program announces, so
# desktops match its windows with the menu entry and its icon.
install(FILES ${VQ_PACKAGING_DIR}/veskoqindra.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${VQ_PACKAGING_DIR}/icons/hicolor/${size}x${size}/veskoqindra.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${VQ_PACKAGING_DIR}/icons/veskoqindra.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Debian wants man pages compressed, and reproducibly so (-n: no name or
# time stamp in the header).
find_program(VQ_GZIP gzip REQUIRED)
set(VQ_MANPAGE ${CMAKE_CURRENT_BINARY_DIR}/packaging/veskoqindra-cli.1.gz)
add_custom_command(
  OUTPUT ${VQ_MANPAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${VQ_PACKAGING_DIR}/veskoqindra-cli.1
          ${CMAKE_CURRENT_BINARY_DIR}/packaging/veskoqindra-cli.1
  COMMAND ${VQ_GZIP} -9 -n -f ${CMAKE_CURRENT_BINARY_DIR}/packaging/veskoqindra-cli.1
  DEPENDS ${VQ_PACKAGING_DIR}/veskoqindra-cli.1
  VERBATIM)
add_custom_target(vq_manpage ALL DEPENDS ${VQ_MANPAGE})
install(FILES ${VQ_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veskoqindra)
set(CPACK_PACKAGE_VENDOR "Vesko")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VeskoQindra <veskoqindra@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mailing-list cleaner for plain text lists")
# One string, below the summary line: CPack indents it and turns the empty
# line into the paragraph mark.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "VeskoQindra keeps mailing lists as plain text files, one address per line.\n"
  "It removes repeated addresses, splits a list by domain parameters into a\n"
  "matching and a non-matching file, merges two lists or a whole folder of\n"
  "lists, cuts a list into numbered files and appends a typed address. Its\n"
  "windows speak Simplified Chinese.\n"
  "\n"
  "veskoqindra-cli runs the same commands from a shell.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.example.com/veskoqindra/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Libraries come from dpkg-shlibdeps. What the program loads at run time
# without linking it is named by hand: a CJK font (without one every Chinese
# text is boxes) and Qt's translations, which make its own dialogs Chinese.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, fonts-liberation2 | fonts-liberation, qt6-translations-l10n")
include(CPack)
