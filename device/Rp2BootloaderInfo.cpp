#include "device/Rp2BootloaderInfo.h"

#include <algorithm>

bool namesRp2Bootloader (const std::string& infoText)
{
    // ASCII only: the file is ASCII, and a locale must not change what matches.
    auto text = infoText;
    std::transform (text.begin(), text.end(), text.begin(), [] (char c)
                    { return c >= 'A' && c <= 'Z' ? static_cast<char> (c - 'A' + 'a') : c; });

    return text.find ("raspberry pi") != std::string::npos || text.find ("rp2") != std::string::npos;
}
