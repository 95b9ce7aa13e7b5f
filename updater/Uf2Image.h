#pragma once

#include <juce_core/juce_core.h>

/** True when the image is a complete, well-formed UF2 file for the RP2040: every 512-byte block
    carries both start magics, the end magic, the RP2040 family, a 256-byte payload aimed inside
    the flash window, and the right block number and count. Payloads are not examined.
*/
bool isValidUf2Image (const juce::MemoryBlock& image);
