# The Windows program file's resources: icon groups at every size Windows uses, the version
# block and the manifest (asInvoker, common controls 6, per-monitor DPI awareness).
#
# JUCE writes a resources.rc of its own for a Windows app, but with four icon sizes only and no
# manifest; ours takes its place.

set (HL73_WINDOWS_RESOURCES "${CMAKE_SOURCE_DIR}/resources/windows")
set (HL73_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
string (REPLACE "." "," HL73_VERSION_COMMAS "${HL73_VERSION_QUAD}")
set (HL73_MANIFEST "${CMAKE_BINARY_DIR}/resources/VelmorHL73Updater.manifest")

configure_file ("${HL73_WINDOWS_RESOURCES}/VelmorHL73Updater.manifest" "${HL73_MANIFEST}" @ONLY)
configure_file ("${HL73_WINDOWS_RESOURCES}/VelmorHL73Updater.rc.in"
                "${CMAKE_BINARY_DIR}/resources/VelmorHL73Updater.rc" @ONLY)

get_target_property (hl73_juce_generated VelmorHL73Updater JUCE_GENERATED_SOURCES_DIRECTORY)
set_source_files_properties ("${hl73_juce_generated}/resources.rc" PROPERTIES HEADER_FILE_ONLY TRUE)

target_sources (VelmorHL73Updater PRIVATE "${CMAKE_BINARY_DIR}/resources/VelmorHL73Updater.rc")
set_property (SOURCE "${CMAKE_BINARY_DIR}/resources/VelmorHL73Updater.rc" APPEND PROPERTY
              OBJECT_DEPENDS "${HL73_WINDOWS_RESOURCES}/VelmorHL73Updater.ico" "${HL73_MANIFEST}")
