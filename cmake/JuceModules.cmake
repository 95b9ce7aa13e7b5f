# All JUCE modules the program uses, compiled once into one static library. Every JUCE_* setting
# lives here; the definitions and include paths travel to whatever links this target.

add_library (juce_modules STATIC)

target_link_libraries (juce_modules
    PRIVATE
        juce::juce_core
        juce::juce_data_structures
        juce::juce_events
        juce::juce_graphics
        juce::juce_gui_basics
    PUBLIC
        juce::juce_recommended_config_flags)

target_compile_definitions (juce_modules
    PUBLIC
        JUCE_WEB_BROWSER=0
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_REPORT_APP_USAGE=0
        JUCE_STANDALONE_APPLICATION=1
        JUCE_MODAL_LOOPS_PERMITTED=1
    INTERFACE
        $<TARGET_PROPERTY:juce_modules,COMPILE_DEFINITIONS>)

if (WIN32)
    # Downloads go through WinINet, which uses the system's certificate store. Debian's JUCE comes
    # without its bundled zlib, libpng and libjpeg: link Debian's mingw zlib and the libpng and
    # libjpeg that scripts/windows-deps cross-builds.
    set (ZLIB_USE_STATIC_LIBS ON) # libz.a, not the import library of zlib1.dll
    find_package (ZLIB REQUIRED)
    find_package (PNG REQUIRED)
    find_package (JPEG REQUIRED)

    target_compile_definitions (juce_modules PUBLIC
        JUCE_USE_CURL=0
        JUCE_INCLUDE_ZLIB_CODE=0
        JUCE_INCLUDE_PNGLIB_CODE=0
        JUCE_INCLUDE_JPEGLIB_CODE=0)
    target_link_libraries (juce_modules PRIVATE PNG::PNG JPEG::JPEG ZLIB::ZLIB)
    target_link_libraries (juce_modules INTERFACE PNG::PNG JPEG::JPEG ZLIB::ZLIB)
else()
    target_compile_definitions (juce_modules PUBLIC
        JUCE_USE_CURL=1
        JUCE_USE_XRANDR=1)
    target_link_libraries (juce_modules PRIVATE
        juce::pkgconfig_JUCE_CURL_LINUX_DEPS
        juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
    # The curl and image libraries are needed by whoever links the static archive.
    target_link_libraries (juce_modules INTERFACE
        juce::pkgconfig_JUCE_CURL_LINUX_DEPS
        juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
endif()

# SYSTEM, so that our own -Werror build is not stopped by warnings inside JUCE's headers.
target_include_directories (juce_modules SYSTEM INTERFACE
    $<TARGET_PROPERTY:juce_modules,INCLUDE_DIRECTORIES>)

set_target_properties (juce_modules PROPERTIES
    POSITION_INDEPENDENT_CODE TRUE
    VISIBILITY_INLINES_HIDDEN TRUE
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden)
