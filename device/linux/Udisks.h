#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace udisks
{

/** What the disk service (UDisks2) says about one block device. */
struct BlockDevice
{
    /** The device's object, e.g. /org/freedesktop/UDisks2/block_devices/sdb1. */
    std::string objectPath;

    /** The device number as "major:minor" in decimal, as /proc/self/mountinfo shows it. */
    std::string identity;

    /** The filesystem's label, type (vfat, ext4...) and usage (filesystem, crypto...). */
    std::string label, type, usage;

    /** The service's hints: a device to hide from the user, or one of the system's own disks. */
    bool hintIgnore = false, hintSystem = false;

    /** The drive the device belongs to; "/" when it has none (loop devices, for example). */
    std::string drivePath = "/";

    /** True when the device carries a filesystem the service can mount. */
    bool hasFilesystem = false;

    /** Where the filesystem is mounted now; empty when it is not. */
    std::vector<std::string> mountPoints;
};

/** What the disk service says about one drive: the hardware behind block devices. */
struct Drive
{
    /** The drive's object, e.g. /org/freedesktop/UDisks2/drives/RPI_RP2_E0C9125B0D9B. */
    std::string objectPath;

    /** The vendor and model the device reports (for USB disks: its SCSI inquiry data). */
    std::string vendor, model;

    /** How it is attached: "usb", "sdio", "ieee1394" or empty. */
    std::string connectionBus;

    /** True for removable media. The RP2040's boot ROM reports a fixed disk, so it is not used. */
    bool removable = false;

    /** When the service first saw this drive, in microseconds since the epoch: it changes each
        time the device appears, also when its object path stays the same.
    */
    std::uint64_t timeDetected = 0;
};

/** The service's objects, as GetManagedObjects on /org/freedesktop/UDisks2 lists them. */
struct ManagedObjects
{
    std::vector<BlockDevice> blocks;
    std::vector<Drive> drives;
};

/** The device number (a dev_t) as "major:minor". */
std::string deviceIdentity (std::uint64_t deviceNumber);

/** Reads a GetManagedObjects reply (a{oa{sa{sv}}}) positioned at its start. Properties of
    unexpected types are passed over; false when the message itself does not have that shape.
*/
bool parseManagedObjects (sd_bus_message* reply, ManagedObjects& objects);

/** True when the block device is an RP2040 boot ROM's filesystem: label RPI-RP2, FAT, not
    hidden or a system disk, on a drive that reports vendor RPI and model RP2 over USB. The label
    alone could be put on any stick, so a device without a known drive never counts.
*/
bool isBootloaderFilesystem (const BlockDevice& block, const Drive* drive);

/** The drive of a block device; null when the service lists none. */
const Drive* findDrive (const ManagedObjects& objects, const BlockDevice& block);

/** One appearance of a device: the same object path comes back with a new detection time. */
std::string appearanceOf (const BlockDevice& block, const Drive* drive);

/** The object paths of the boot ROM filesystems to ask the service to mount now: unmounted,
    not in `leaveAlone` (identities), and neither asked for nor seen mounted before during this
    appearance (whoever unmounted it meant to).

    `asked` holds the appearances asked for so far. It is updated: the chosen ones are added and
    those that are no longer listed are forgotten, so it never holds more than the boot ROM
    drives present, and a device that comes back is asked for again.
*/
std::vector<std::string> chooseFilesystemsToMount (const ManagedObjects& objects,
                                                   const std::vector<std::string>& leaveAlone,
                                                   std::set<std::string>& asked);

/** The identities of every boot ROM filesystem listed, mounted or not. */
std::vector<std::string> listBootloaderIdentities (const ManagedObjects& objects);

} // namespace udisks
