# The two pictures compiled into the program, published as BinaryData::HL73_Header_png and
# BinaryData::HL73_icon_png.

juce_add_binary_data (hl73_binary_data
    HEADER_NAME BinaryData.h
    NAMESPACE BinaryData
    SOURCES
        "${CMAKE_SOURCE_DIR}/resources/HL73_Header.png"
        "${CMAKE_SOURCE_DIR}/resources/HL73_icon.png")

set_target_properties (hl73_binary_data PROPERTIES POSITION_INDEPENDENT_CODE TRUE)
