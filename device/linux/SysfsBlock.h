#pragma once

#include <string>
#include <vector>

namespace sysfs
{

/** Reads a device number as sysfs writes it in a `dev` file ("8:17", trailing newline allowed)
    and returns it as "major:minor" in decimal; empty when the text is not one.
*/
std::string parseDeviceNumber (const std::string& text);

/** True when a SCSI disk's vendor and model (as in its sysfs vendor and model files, padded with
    spaces) are those of an RP2 boot ROM's mass storage: vendor RPI, a model that begins with RP2.
*/
bool isRp2BootRomDisk (const std::string& vendor, const std::string& model);

/** True when a USB identity is that of an RP2 boot ROM: 2e8a:0003 (RP2040) or 2e8a:000f (RP2350). */
bool isRp2BootRomUsbId (int vendorId, int productId);

/** The device numbers ("major:minor") of the block devices in a block class folder (normally
    /sys/block) that belong to an RP2 boot ROM: each such disk, then its partitions, the disks in
    natural order of their names.

    A disk counts when the SCSI device behind it says so (isRp2BootRomDisk), or when the first
    folder with idVendor and idProduct above it, a few levels up at most, is an RP2 boot ROM's USB
    device. Entries that cannot be read are left out.
*/
std::vector<std::string> listRp2BootRomBlockDevices (const std::string& blockClassDir);

/** False when a block device tree (normally /sys/dev/block) exists and lists no entry for the
    device number; true otherwise, also for anonymous devices (major 0, e.g. FUSE), which have no
    entry, and when there is no such tree to ask.
*/
bool mayBlockDeviceExist (const std::string& devBlockDir, const std::string& deviceNumber);

} // namespace sysfs
