#pragma once

#include <string>

/** A made-up machine for timing the device polls: a tty class folder with its /dev folder, and a
    mount table with the volumes it names, all below one folder.

    The tty class holds 100 entries as a desktop has them: 64 virtual consoles and a few other
    virtual ttys, 30 platform serial ports, and three USB serial adapters of other makers (one of
    them a usb-serial ttyUSB port, one level deeper). The mount table lists 60 mounts: kernel
    pseudo filesystems, network and optical volumes that the search leaves out, and local volumes
    (root, tmpfs, EFI, squashfs snaps), one of which is the UF2 drive of another maker's board.
    The keyboard is nowhere, so a poll looks at everything, as it does while it waits.
*/
class SyntheticRoots
{
public:
    /** Builds the tree in `folder`, which must be empty or missing. */
    explicit SyntheticRoots (const std::string& folder);

    /** The stand-in for /sys. */
    std::string sysDir() const { return root + "/sys"; }

    /** The tty class folder (the stand-in for /sys/class/tty). */
    std::string ttyClassDir() const { return root + "/sys/class/tty"; }

    /** The device node folder (the stand-in for /dev). */
    std::string devDir() const { return root + "/dev"; }

    /** The mount table file (the stand-in for /proc/self/mountinfo). */
    std::string mountInfoPath() const { return root + "/mountinfo"; }

    /** Number of tty class entries written. */
    int getTtyCount() const noexcept { return ttyCount; }

    /** Number of mount table lines written. */
    int getMountCount() const noexcept { return mountCount; }

private:
    void addVirtualTty (const std::string& name);
    void addPlatformTty (const std::string& name);
    void addUsbTty (const std::string& name, const std::string& usbPath, const std::string& vendor, const std::string& product, bool usbSerial);
    void addMount (const std::string& fsType, const std::string& mountPoint, const std::string& source);

    std::string root;
    std::string mountTable;
    int ttyCount = 0, mountCount = 0;
};
