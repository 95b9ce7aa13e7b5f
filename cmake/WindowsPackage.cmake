# What Windows users download, in packages/: the installer VelmorHL73Updater-<version>-setup.exe
# (NSIS, from resources/windows/VelmorHL73Updater.nsi.in) and a plain zip of the program for
# those who want no installer. Both are built with the program.

find_program (HL73_MAKENSIS makensis REQUIRED)

set (hl73_packages "${CMAKE_BINARY_DIR}/packages")
set (HL73_EXE "$<TARGET_FILE:VelmorHL73Updater>")
set (HL73_SETUP_EXE "${hl73_packages}/VelmorHL73Updater-${PROJECT_VERSION}-setup.exe")
set (hl73_zip "${hl73_packages}/VelmorHL73Updater-${PROJECT_VERSION}-win64.zip")

configure_file ("${HL73_WINDOWS_RESOURCES}/VelmorHL73Updater.nsi.in"
                "${CMAKE_BINARY_DIR}/installer/VelmorHL73Updater.nsi.in" @ONLY)
file (GENERATE OUTPUT "${CMAKE_BINARY_DIR}/installer/VelmorHL73Updater.nsi"
      INPUT "${CMAKE_BINARY_DIR}/installer/VelmorHL73Updater.nsi.in")

add_custom_command (OUTPUT "${HL73_SETUP_EXE}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${hl73_packages}"
    COMMAND "${HL73_MAKENSIS}" -V2 -NOCD "${CMAKE_BINARY_DIR}/installer/VelmorHL73Updater.nsi"
    DEPENDS VelmorHL73Updater
            "${CMAKE_BINARY_DIR}/installer/VelmorHL73Updater.nsi"
            "${HL73_WINDOWS_RESOURCES}/VelmorHL73Updater.ico"
    COMMENT "Building the installer ${HL73_SETUP_EXE}"
    VERBATIM)

# The zip holds one folder with the program and its licence.
set (hl73_zip_root "${CMAKE_BINARY_DIR}/zip/VelmorHL73Updater-${PROJECT_VERSION}")
add_custom_command (OUTPUT "${hl73_zip}"
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${CMAKE_BINARY_DIR}/zip"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${hl73_zip_root}" "${hl73_packages}"
    COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE:VelmorHL73Updater>" "${hl73_zip_root}/"
    COMMAND ${CMAKE_COMMAND} -E copy "${CMAKE_SOURCE_DIR}/LICENSE" "${hl73_zip_root}/LICENSE.txt"
    COMMAND ${CMAKE_COMMAND} -E chdir "${CMAKE_BINARY_DIR}/zip"
            ${CMAKE_COMMAND} -E tar cf "${hl73_zip}" --format=zip "VelmorHL73Updater-${PROJECT_VERSION}"
    DEPENDS VelmorHL73Updater "${CMAKE_SOURCE_DIR}/LICENSE"
    COMMENT "Building ${hl73_zip}"
    VERBATIM)

add_custom_target (windows_packages ALL DEPENDS "${HL73_SETUP_EXE}" "${hl73_zip}")
