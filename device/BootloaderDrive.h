#pragma once

#include <juce_core/juce_core.h>

#include <optional>
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

/** Asks the system's disk service (UDisks2 on Linux) to mount every unmounted RP2040 boot ROM
    filesystem whose identity is not in `leaveAlone`, once for each appearance of the device and
    without asking the user anything (where a password would be needed, nothing is mounted).
    Nothing else is ever mounted or unmounted. The mounted drive is then found by
    findBootloaderDrive on a later poll, not by this call.

    Identities are the block device numbers as "major:minor" in decimal, as /proc/self/mountinfo
    shows them. Pass every boot ROM device that was present before the restart request, so that
    only the keyboard's new drive is mounted; pass none only when the keyboard has no serial port
    at the start of a run (it is stuck in its bootloader).

    Meant to be called on each poll: it waits at most 20 ms for the service, and takes a slower
    answer on a later call. Without a system bus or the service, or when the request is refused,
    it does nothing, silently, and tries the bus again only after a few seconds. Returns how many
    filesystems it asked to mount in this call.
*/
int mountNewBootloaderDrives (const std::vector<std::string>& leaveAlone);

/** The identities of every RP2040 boot ROM filesystem the system's disk service knows now,
    mounted or not, for the list of devices present before the restart request. Waits at most
    250 ms. Empty (no value) when the service could not be asked: then nothing should be mounted
    during the run, since an unmounted device that was already there could not be told apart.
*/
std::optional<std::vector<std::string>> listKnownBootloaderDrives();
