# Desktop integration and the Debian package (`make package`, or `cmake --build build --target
# package`): the desktop entry, the icon at every size a desktop asks for, the software-centre
# metainfo and the man pages, installed beside the two programs.

set(TINTAVO_DIST ${PROJECT_SOURCE_DIR}/dist)
set(TINTAVO_DESKTOP_ID orvane-tintavo)

# The desktop entry. It makes the program one of the installed programs, under the name the
# installed test looks for; its TryExec names the installed program file, so that another copy
# of the program on the same machine (a build tree, a copy on a removable drive) still runs
# portable. The prefix is only known when installing (CPack installs under its own), so the
# line is written then.
install(CODE "
  set(TINTAVO_DESKTOP_SOURCE \"${TINTAVO_DIST}/${TINTAVO_DESKTOP_ID}.desktop\")
  set(TINTAVO_DESKTOP_DIR \"${CMAKE_INSTALL_DATADIR}/applications\")
  set(TINTAVO_PROGRAM_DIR \"${CMAKE_INSTALL_BINDIR}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/InstallDesktopEntry.cmake\")")

install(FILES ${TINTAVO_DIST}/${TINTAVO_DESKTOP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Bitmap icons for the desktops and docks that do not draw the SVG, rendered from it.
find_program(TINTAVO_RSVG_CONVERT rsvg-convert)
if(TINTAVO_RSVG_CONVERT)
  set(icons)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/apps/${TINTAVO_DESKTOP_ID}.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}/apps
      COMMAND ${TINTAVO_RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
              ${TINTAVO_DIST}/${TINTAVO_DESKTOP_ID}.svg
      DEPENDS ${TINTAVO_DIST}/${TINTAVO_DESKTOP_ID}.svg
      COMMENT "Icon ${size}x${size}"
      VERBATIM)
    list(APPEND icons ${png})
  endforeach()
  add_custom_target(tintavo_icons ALL DEPENDS ${icons})
  install(DIRECTORY ${CMAKE_BINARY_DIR}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
else()
  message(WARNING "rsvg-convert (Debian package librsvg2-bin) not found: only the SVG icon is "
                  "installed")
endif()

install(FILES ${TINTAVO_DIST}/example.orvane.Tintavo.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The man pages and the shell completion. The tool's own page and completion are installed
# here only, never from tools/cli, so that each file has one install rule.
install(FILES ${TINTAVO_DIST}/man/tintavo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(EXISTS ${TINTAVO_DIST}/man/tintavo-cli.1)
  install(FILES ${TINTAVO_DIST}/man/tintavo-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(EXISTS ${TINTAVO_DIST}/bash-completion/tintavo-cli)
  install(FILES ${TINTAVO_DIST}/bash-completion/tintavo-cli
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# The Debian package. Its library dependencies are read from the programs (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tintavo)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_CONTACT "Orvane <support@orvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "colour-keep photo program")
set(CPACK_PACKAGE_DESCRIPTION
    "Tintavo turns a photograph into a colour-keep picture: click the colour to keep, set the\n"
    "red, green and blue thresholds, and every pixel near that colour keeps it while the rest\n"
    "turns grey. The package holds the window program and tintavo-cli, which applies the same\n"
    "colour keep to files, for batches and scripts.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL https://www.orvane.example)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
