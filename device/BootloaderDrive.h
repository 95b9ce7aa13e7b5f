#pragma once

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

/** The roots of the mounted local volumes that may be a bootloader drive, in a fixed order
    (network, optical and pseudo filesystems left out).
*/
std::vector<std::string> listCandidateDrives();

/** The root of the first candidate volume whose INFO_UF2.TXT names an RP2 bootloader; the
    default, empty juce::File when there is none.
*/
juce::File findBootloaderDrive();

/** True when `item` (the drive root itself, or a file in it) lies on the volume that is mounted
    at `driveRoot` right now. False for a mount point directory whose volume has gone, so that
    nothing is ever written into a leftover directory on another disk.
*/
bool isOnMountedDrive (const juce::File& driveRoot, const juce::File& item);
