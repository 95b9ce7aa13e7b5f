#include "device/BootloaderDrive.h"

// Drive letters are not searched yet: no candidate, no bootloader drive, and nothing counts as
// mounted, so no image is ever written on Windows before the drive search exists.
std::vector<std::string> listCandidateDrives()
{
    return {};
}

juce::File findBootloaderDrive()
{
    return {};
}

bool isOnMountedDrive (const juce::File&, const juce::File&)
{
    return false;
}
