#pragma once

#include <juce_core/juce_core.h>

#include <optional>
#include <string>
#include <vector>

/** An RP2 bootloader drive (a boot ROM's mass storage, or any volume whose INFO_UF2.TXT names an
    RP2) as the system knows it at one moment.
*/
struct BootloaderDrive
{
    /** Tells this volume apart from every other one present, and stays the same for as long as
        the device stays plugged in; a device that goes and comes back may get another one, or an
        old one again. Empty only in a default BootloaderDrive, which means "no drive".

        Linux: the block device number as "major:minor" in decimal, exactly as
        /proc/self/mountinfo prints it (the partition's number for a partitioned disk; a FUSE
        volume's anonymous 0:NN).

        Windows: the volume GUID path (\\?\Volume{...}\); for a volume that has none, its drive
        letter with its volume serial number. A volume of which Windows gives neither is not listed.
    */
    std::string identity;

    /** Where the volume is mounted now; the default juce::File while it is not mounted. */
    juce::File root;

    /** True when the drive is mounted, so that files can be written onto it. */
    bool isMounted() const { return root != juce::File(); }

    /** Same identity and same root. */
    bool operator== (const BootloaderDrive& other) const { return identity == other.identity && root == other.root; }
    bool operator!= (const BootloaderDrive& other) const { return ! operator== (other); }
};

/** Every RP2 bootloader device the system knows now, mounted or not, each identity once: first
    the mounted ones in the order of listCandidateDrives, then those that are not mounted (known
    from the device list alone) in a fixed order. Empty when there is none.

    A device counts from the moment the system lists it, before any volume of it is mounted, so
    that a caller can tell the devices that were there before some moment from those that came
    later.
*/
std::vector<BootloaderDrive> listBootloaderDrives();

/** The roots of the mounted local volumes that may be a bootloader drive, in a fixed order
    (network, optical and pseudo filesystems left out).
*/
std::vector<std::string> listCandidateDrives();

/** True when `item` (the drive's root itself, or a file in it) lies on the volume `drive.identity`
    and that volume is mounted at `drive.root` right now. False for a mount point directory whose
    volume has gone or that another volume now occupies, so that nothing is ever written into a
    leftover directory or onto another device.
*/
bool isOnDrive (const BootloaderDrive& drive, const juce::File& item);

/** Asks the system's disk service (UDisks2 on Linux) to mount every unmounted RP2040 boot ROM
    filesystem whose identity is not in `leaveAlone`, once for each appearance of the device and
    without asking the user anything (where a password would be needed, nothing is mounted).
    Nothing else is ever mounted or unmounted. The mounted drive is then listed by
    listBootloaderDrives on a later poll, not by this call.

    Identities are those of BootloaderDrive. Pass every boot ROM device that was present before
    the restart request, so that only the keyboard's new drive is mounted; pass none only when the
    keyboard has no serial port at the start of a run (it is stuck in its bootloader).

    Meant to be called on each poll: it waits at most 20 ms for the service, and takes a slower
    answer on a later call. Without a system bus or the service, or when the request is refused,
    it does nothing, silently, and tries the bus again only after a few seconds. Returns how many
    filesystems it asked to mount in this call.
*/
int mountNewBootloaderDrives (const std::vector<std::string>& leaveAlone);

/** The identities of every RP2040 boot ROM filesystem the system's disk service knows now,
    mounted or not. Waits at most 250 ms. No value when the service could not be asked.
*/
std::optional<std::vector<std::string>> listKnownBootloaderDrives();
