# JUCE's recommended warnings, as errors, for the project's own code only.

add_library (hl73_warnings INTERFACE)
target_link_libraries (hl73_warnings INTERFACE juce::juce_recommended_warning_flags)
target_compile_options (hl73_warnings INTERFACE -Werror)
