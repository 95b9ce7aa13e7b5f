# The program itself: only the entry point is compiled here; everything else comes from
# hl73_program and the device layer of the target system.

juce_add_gui_app (VelmorHL73Updater
    PRODUCT_NAME "VelmorHL73Updater"
    VERSION "${PROJECT_VERSION}"
    COMPANY_NAME "Kestrelworks"
    ICON_BIG "${CMAKE_SOURCE_DIR}/resources/HL73_icon.png"
    ICON_SMALL "${CMAKE_SOURCE_DIR}/resources/HL73_icon.png"
    NEEDS_CURL TRUE
    NEEDS_WEB_BROWSER FALSE)

target_sources (VelmorHL73Updater PRIVATE app/Main.cpp)

target_link_libraries (VelmorHL73Updater PRIVATE
    hl73_app
    hl73_updater
    hl73_device
    hl73_warnings)

set_target_properties (VelmorHL73Updater PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

if (WIN32)
    include (WindowsResources)
endif()
