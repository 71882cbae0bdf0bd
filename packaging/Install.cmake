# Install rules and the Debian package. `cmake --install` puts the two
# programs and the help in lib/veskoqindra/ (their folder, where F1 looks for
# the help) with links in bin/, and the menu entry, icons, AppStream
# metainfo, man pages, bash completion, copyright and changelog under share/;
# `cpack -G DEB` (or `./build.sh package`) wraps the same tree into a .deb.
include(GNUInstallDirs)

set(VQ_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
# Not the multiarch library folder: this is the programs' own folder.
set(VQ_PROGRAM_DIR lib/veskoqindra)
set(VQ_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/veskoqindra)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS veskoqindra veskoqindra-cli RUNTIME DESTINATION ${VQ_PROGRAM_DIR})
# A stripped install (the package) also drops the compiler's notes, as
# Debian's own packages do.
install(CODE "set(VQ_STRIP \"${CMAKE_STRIP}\")")
install(CODE [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program veskoqindra veskoqindra-cli)
      execute_process(COMMAND "${VQ_STRIP}" --remove-section=.comment --remove-section=.note
        "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/veskoqindra/${program}" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
]])
if(VQ_BUILD_CHM)
  install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/brevant.chm DESTINATION ${VQ_PROGRAM_DIR})
endif()
# The HTML copy of the help is architecture-independent data: it lives with
# the desktop's help, and the program's folder links to it.
set(VQ_HELP_PAGES_DIR ${CMAKE_INSTALL_DATADIR}/help/zh_CN/veskoqindra)
install(DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/brevant/ DESTINATION ${VQ_HELP_PAGES_DIR})
# Relative links, so the tree works under any prefix.
set(VQ_LINKS ${CMAKE_CURRENT_BINARY_DIR}/packaging/links)
file(MAKE_DIRECTORY ${VQ_LINKS})
foreach(program veskoqindra veskoqindra-cli)
  file(CREATE_LINK ../${VQ_PROGRAM_DIR}/${program} ${VQ_LINKS}/${program} SYMBOLIC)
  install(FILES ${VQ_LINKS}/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
file(CREATE_LINK ../../${VQ_HELP_PAGES_DIR} ${VQ_LINKS}/brevant SYMBOLIC)
install(FILES ${VQ_LINKS}/brevant DESTINATION ${VQ_PROGRAM_DIR})

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

install(FILES ${VQ_PACKAGING_DIR}/com.example.veskoqindra.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${VQ_PACKAGING_DIR}/veskoqindra-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME veskoqindra-cli)
install(FILES ${VQ_PACKAGING_DIR}/copyright DESTINATION ${VQ_DOC_DIR})

# Debian wants man pages and changelogs compressed, and reproducibly so (-n:
# no name or time stamp in the header).
find_program(VQ_GZIP gzip REQUIRED)
function(vq_gzipped source name destination)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name})
  add_custom_command(
    OUTPUT ${out}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${out}
    COMMAND ${VQ_GZIP} -9 -n -f ${out}
    DEPENDS ${source}
    VERBATIM)
  string(MAKE_C_IDENTIFIER "vq_gz_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${out}.gz)
  install(FILES ${out}.gz DESTINATION ${destination})
endfunction()
vq_gzipped(${VQ_PACKAGING_DIR}/veskoqindra.1 veskoqindra.1 ${CMAKE_INSTALL_MANDIR}/man1)
vq_gzipped(${VQ_PACKAGING_DIR}/veskoqindra-cli.1 veskoqindra-cli.1 ${CMAKE_INSTALL_MANDIR}/man1)
vq_gzipped(${VQ_PACKAGING_DIR}/changelog changelog ${VQ_DOC_DIR})

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
# without linking it is named by hand: Qt's platform plugins (no window
# without them; Qt only recommends them), a CJK font (without one every
# Chinese text is boxes) and Qt's translations, which make its own dialogs
# Chinese.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, fonts-wqy-microhei, fonts-liberation2 | fonts-liberation, qt6-translations-l10n")
# A viewer for the help file, and the opener that starts it (and the browser
# for the HTML copy of the help, the home page and the mail program).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xchm | kchmviewer, xdg-utils")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
include(CPack)
