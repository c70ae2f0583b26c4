# Installation of the program for a Linux desktop, and its Debian package.
# Only the program, its manual and the command-line companion with its manual
# page and its service unit are installed (component "program"): the simulated instrument, the tests
# and the benchmarks stay in the build tree.
include(GNUInstallDirs)

install(TARGETS tarvelo tarvelo-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/src/cli/tarvelo-cli.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
# The operator's manual, where the installed program looks for it.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/manual/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvelo/help COMPONENT program
        FILES_MATCHING PATTERN "*.html" PATTERN "*.css" PATTERN "*.png")
# The service unit template for recordings around the clock (systemd looks in
# PREFIX/lib/systemd/system for /usr and /usr/local).
install(FILES ${PROJECT_BINARY_DIR}/systemd/tarvelo-record@.service
        DESTINATION lib/systemd/system COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/resources/tarvelo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)
install(FILES ${PROJECT_SOURCE_DIR}/resources/logo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME tarvelo.svg COMPONENT program)

set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL program)
set(CPACK_PACKAGE_NAME tarvelo)
set(CPACK_PACKAGE_VENDOR "Tarvelo maintainers")
set(CPACK_PACKAGE_CONTACT "Tarvelo maintainers <maintainers@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tarvelo II: front end of a four-channel measuring instrument")
set(CPACK_PACKAGE_DESCRIPTION
    "Fetches the current values of the four channels of a measuring instrument on the \
local network, records time series while the instrument streams, reads out its batch \
memory, and shows, analyses, prints, saves and exports what was recorded.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
# The prefix the program was built for, so that it recognises its installed
# folder (TARVELO_INSTALL_BINDIR) in the package as well.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarvelo maintainers <maintainers@example.com>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.com/tarvelo")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# Libraries linked directly are found by dpkg-shlibdeps; the Qt plugins the
# program loads at run time (display platform, SVG pictures) are not.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, hicolor-icon-theme")
include(CPack)
