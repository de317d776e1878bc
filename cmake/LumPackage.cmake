# The Debian package (scripts/package runs cpack -G DEB in a build configured
# for /usr): what cmake --install puts on a desktop, with dependencies worked
# out from the binaries by dpkg-shlibdeps, and Debian's copyright and
# changelog.
include(GNUInstallDirs)
# lintian's notes on what it mistakes for faults.
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME lumviewer)
# Named after the package, as Debian wants, not after the CMake project.
set(LUM_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/lumviewer)
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright ${PROJECT_SOURCE_DIR}/data/debian/changelog
        DESTINATION ${LUM_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumviewer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "lumviewer developers <lumviewer@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player for slide shows made with the Lum authoring tool")
# The long description, one string (cpack puts the summary above it as the
# synopsis line).
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "lumviewer plays slide shows: .lumshow files, show executables, bundles\n"
       "and project folders, full screen or in a window, with their music,\n"
       "videos, transitions and dialogs. It answers media keys and desktop media\n"
       "widgets (MPRIS) and gives file managers thumbnails of shows.\n"
       "lumshow, the toolbox, inspects, extracts and packs shows, renders frames\n"
       "and exports whole shows as video files.")
# The file name Debian tools expect: lumviewer_<version>_amd64.deb.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opened at run time, so dpkg-shlibdeps cannot see them: colour management,
# the fonts shows name most, and xdg-open for the web pages shows open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "liblcms2-2, fonts-liberation2, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The plugin folder compiled into the player must be where the package puts it.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Manual pages and the changelog compressed as Debian wants them, and the
# changelog checked against the version.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/LumPackageStage.cmake)
set(CPACK_LUM_DOCDIR ${LUM_DOCDIR})
set(CPACK_LUM_MANDIR ${CMAKE_INSTALL_MANDIR})
include(CPack)
