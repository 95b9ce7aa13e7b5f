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
        juce::pkgconfig_JUCE_CURL_LINUX_DEPS
        juce::pkgconfig_JUCE_IMG_LINUX_DEPS
    PUBLIC
        juce::juce_recommended_config_flags)

target_compile_definitions (juce_modules
    PUBLIC
        JUCE_USE_CURL=1
        JUCE_WEB_BROWSER=0
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_REPORT_APP_USAGE=0
        JUCE_STANDALONE_APPLICATION=1
        JUCE_USE_XRANDR=1
        JUCE_MODAL_LOOPS_PERMITTED=1
    INTERFACE
        $<TARGET_PROPERTY:juce_modules,COMPILE_DEFINITIONS>)

# SYSTEM, so that our own -Werror build is not stopped by warnings inside JUCE's headers.
target_include_directories (juce_modules SYSTEM INTERFACE
    $<TARGET_PROPERTY:juce_modules,INCLUDE_DIRECTORIES>)

set_target_properties (juce_modules PROPERTIES
    POSITION_INDEPENDENT_CODE TRUE
    VISIBILITY_INLINES_HIDDEN TRUE
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden)

# The curl and image libraries are needed by whoever links the static archive.
target_link_libraries (juce_modules INTERFACE
    juce::pkgconfig_JUCE_CURL_LINUX_DEPS
    juce::pkgconfig_JUCE_IMG_LINUX_DEPS)
