#include "device/BootloaderEntry.h"

// Without serial port discovery no port name reaches this call; should one arrive, the request
// is refused rather than sent to a port that was not found as the keyboard.
bool enterBootloader (const std::string&)
{
    return false;
}
