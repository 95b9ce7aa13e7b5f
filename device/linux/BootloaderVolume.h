#pragma once

#include "device/BootloaderDrive.h"
#include "device/Rp2BootloaderInfo.h"

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

namespace mounts
{

/** True when the folder holds a regular file INFO_UF2.TXT whose text names the RP2040's
    bootloader. Folders, devices and pipes of that name do not count.
*/
bool holdsRp2BootloaderInfo (const std::string& root);

/** The mount points of the local volumes listed in a mountinfo table file. */
std::vector<std::string> listCandidateDrivesIn (const std::string& mountInfoPath);

/** The local volumes of a mountinfo table file that hold the RP2040 bootloader's INFO_UF2.TXT, in
    the order of listCandidateDrivesIn, each device number once (at its first mount point). A
    volume whose block device `sysDir`/dev/block no longer lists is left out: a device that has
    gone can stay mounted, with its files still readable from the cache, until someone unmounts it.
*/
std::vector<BootloaderDrive> listMountedBootloaderDrivesIn (const std::string& mountInfoPath, const std::string& sysDir);

/** listMountedBootloaderDrivesIn, then the RP2 boot ROM block devices of `sysDir`/block that are
    not mounted, without a root.
*/
std::vector<BootloaderDrive> listBootloaderDrivesIn (const std::string& mountInfoPath, const std::string& sysDir);

/** True when `item` is the drive's root or lies below it, the volume visible at that root
    according to the mountinfo table file is a local one with the drive's identity, and the item
    is on that volume's device. An item that does not exist yet counts by the folder it would be
    created in.
*/
bool isOnDriveIn (const std::string& mountInfoPath, const BootloaderDrive& drive, const juce::File& item);

} // namespace mounts
