# Installs the desktop entry with a TryExec line naming the installed program file. Run at
# install time, from the install rule in Packaging.cmake, which sets TINTAVO_DESKTOP_SOURCE,
# TINTAVO_DESKTOP_DIR and TINTAVO_PROGRAM_DIR.
cmake_path(ABSOLUTE_PATH TINTAVO_PROGRAM_DIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}")
cmake_path(ABSOLUTE_PATH TINTAVO_DESKTOP_DIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}")
cmake_path(GET TINTAVO_DESKTOP_SOURCE FILENAME name)
file(READ "${TINTAVO_DESKTOP_SOURCE}" entry)
string(REPLACE "\nExec=" "\nTryExec=${TINTAVO_PROGRAM_DIR}/tintavo\nExec=" entry "${entry}")
set(target "$ENV{DESTDIR}${TINTAVO_DESKTOP_DIR}/${name}")
message(STATUS "Installing: ${target}")
file(WRITE "${target}" "${entry}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
