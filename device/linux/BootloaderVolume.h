#pragma once

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

namespace mounts
{

/** True when the text of an INFO_UF2.TXT names the RP2040's bootloader: it contains
    "Raspberry Pi" or "RP2" in any letter case.
*/
bool namesRp2Bootloader (const std::string& infoText);

/** True when the folder holds a regular file INFO_UF2.TXT whose text names the RP2040's
    bootloader. Folders, devices and pipes of that name do not count.
*/
bool holdsRp2BootloaderInfo (const std::string& root);

/** The mount points of the local volumes listed in a mountinfo table file. */
std::vector<std::string> listCandidateDrivesIn (const std::string& mountInfoPath);

/** The first local volume of a mountinfo table file that holds the RP2040 bootloader's
    INFO_UF2.TXT; the default juce::File when there is none.
*/
juce::File findBootloaderDriveIn (const std::string& mountInfoPath);

/** True when `item` is driveRoot or lies below it, driveRoot is where a local volume is mounted
    according to the mountinfo table file, and item is on that volume's device. An item that
    does not exist yet counts by the folder it would be created in.
*/
bool isOnMountedDriveIn (const std::string& mountInfoPath, const juce::File& driveRoot, const juce::File& item);

} // namespace mounts
