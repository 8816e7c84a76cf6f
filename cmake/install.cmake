# Installing KESTO IDE like a desktop program, and its Debian package.
#
# Everything the program ships belongs to the install component "kestoide":
# `make install` and the .deb take that component only, so nothing else that
# the tree may install (tests, benchmarks) ends up beside the program.
#
# The lab's tools ruderari.exe and zozevadi.exe are not shipped: the program
# looks for them in its own folder, so the lab puts them beside the installed
# kestoide (for the package: /usr/bin). Its helper kestoide-run, which runs
# them, goes there too.

include(GNUInstallDirs)

set(KESTO_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging)

install(TARGETS kestoide kestoide-run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kestoide)
# The desktop entry names the installed program (cmake/desktopentry.cmake).
install(CODE "set(KESTO_DESKTOP_SOURCE \"${KESTO_PACKAGING_DIR}/kestoide.desktop\")
              set(KESTO_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
              set(KESTO_DATADIR \"${CMAKE_INSTALL_DATADIR}\")"
        COMPONENT kestoide)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/desktopentry.cmake COMPONENT kestoide)
install(FILES ${KESTO_PACKAGING_DIR}/kestoide.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT kestoide)
install(FILES ${KESTO_PACKAGING_DIR}/io.github.kestoide.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT kestoide)
# The file type of *.asm, which the shared MIME database lacks. Only the
# definition: the database is rebuilt from it by shared-mime-info's dpkg
# trigger for the package and by `make install` (mk/e2e.mk), so no generated
# file of the database lands in the package.
install(FILES ${KESTO_PACKAGING_DIR}/kestoide-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME kestoide.xml COMPONENT kestoide)
# Debian's copyright file, which CPack does not write.
install(FILES ${KESTO_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT kestoide)

# --- Debian package (cpack -G DEB in the build folder) -----------------------
set(CPACK_PACKAGE_NAME kestoide)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KESTO IDE")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Assembler IDE for the KESTO microcomputer system")
set(CPACK_PACKAGE_DESCRIPTION
    "A small single-window IDE, in Polish, for students who write assembly programs\n"
    "for the KESTO microcomputer system of the teaching laboratory. It edits one\n"
    "source file, starts the laboratory's assembler ruderari.exe on it and the run\n"
    "tool zozevadi.exe with the serial port COM1-COM4, each in a terminal window\n"
    "that shows what the tool printed; Windows tools run through Wine. Neither\n"
    "tool is part of this package: put them beside /usr/bin/kestoide.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "KESTO IDE developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
# Only the program's own component goes into the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};kestoide;/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the program links (Qt, QScintilla, the C++ runtime) are found by
# dpkg-shlibdeps; what it cannot see is named here: Qt's own Polish texts for
# the standard buttons and the file dialog, and the terminal the lab's tools
# run in (kestoide-run inside xterm). Without dpkg-shlibdeps the libraries
# are named by hand.
find_program(KESTO_DPKG_SHLIBDEPS dpkg-shlibdeps)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, xterm")
if(KESTO_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4),"
         " libqscintilla2-qt6-15, libstdc++6, libc6")
endif()
# A fixed-pitch font that draws every Polish letter, for the editor and the
# tools' terminal; Wine, for the lab's own tools, which are Windows programs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, wine")

include(CPack)
