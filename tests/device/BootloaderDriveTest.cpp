#include "device/BootloaderDrive.h"
#include "device/linux/BootloaderVolume.h"
#include "device/linux/SysfsBlock.h"

#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace
{
const char* const romInfoText = "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n";

/** Real folders standing in for mounted volumes, and a mountinfo table that lists them. */
class FakeMounts
{
public:
    FakeMounts() { tree.makeFolder ("volumes"); }

    ~FakeMounts()
    {
        if (held >= 0)
            ::close (held);
    }

    /** Keeps a descriptor open until the end of the test. */
    void holdOpen (int fd) { held = fd; }
    int heldDescriptor() const { return held; }

    /** Creates a volume folder, with an INFO_UF2.TXT when `infoText` is given, and lists it. */
    std::string addVolume (const std::string& name, const std::string& fsType, const char* infoText = nullptr)
    {
        const auto relative = "volumes/" + name;
        tree.makeFolder (relative);

        if (infoText != nullptr)
            tree.write (relative + "/INFO_UF2.TXT", infoText);

        list (tree.path (relative), fsType);
        return tree.path (relative);
    }

    /** Adds a line for a mount point, with the device that its folder really is on unless
            another is given.
        */
    void list (const std::string& mountPoint, const std::string& fsType, std::string device = {})
    {
        if (device.empty())
            device = realDeviceOf (mountPoint);

        lines.push_back (std::to_string (lines.size() + 100) + " 1 " + device + " / " + escaped (mountPoint)
                         + " rw,nosuid shared:7 - " + fsType + " /dev/fake rw");
        commit();
    }

    /** Drops a mount point's lines from the table, as an unmount does. */
    void unlist (const std::string& mountPoint)
    {
        const auto field = " " + escaped (mountPoint) + " ";
        lines.erase (std::remove_if (lines.begin(), lines.end(), [&] (const std::string& line)
                                     { return line.find (field) != std::string::npos; }),
                     lines.end());
        commit();
    }

    /** The device number of the folder's real volume, as the table prints it. */
    static std::string realDeviceOf (const std::string& path)
    {
        struct stat info = {};
        ::stat (path.c_str(), &info);
        return std::to_string (major (info.st_dev)) + ":" + std::to_string (minor (info.st_dev));
    }

    std::vector<BootloaderDrive> drives() const { return mounts::listBootloaderDrivesIn (tablePath(), sysDir()); }

    /** The root of the first mounted drive; the default juce::File when there is none. */
    juce::File find() const
    {
        const auto drives = mounts::listMountedBootloaderDrivesIn (tablePath(), sysDir());
        return drives.empty() ? juce::File() : drives.front().root;
    }

    bool isOnDrive (const BootloaderDrive& drive, const juce::File& item) const { return mounts::isOnDriveIn (tablePath(), drive, item); }

    std::string tablePath() const { return tree.path ("mountinfo"); }
    std::string sysDir() const { return tree.path ("sys"); }

    TempTree tree;

private:
    static std::string escaped (const std::string& path)
    {
        std::string text;

        for (auto c : path)
            text += c == ' ' ? std::string ("\\040") : c == '\\' ? std::string ("\\134")
                                                                 : std::string (1, c);

        return text;
    }

    void commit() const
    {
        std::string text = "28 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n";

        for (const auto& line : lines)
            text += line + "\n";

        tree.write ("mountinfo", text);
    }

    std::vector<std::string> lines;
    int held = -1;
};

struct DriveCase
{
    const char* description;
    std::function<void (FakeMounts&)> build;
    const char* expectedVolume; // empty: none found
};

/** GoogleTest shows a case by its description, not as the bytes of the struct. */
void PrintTo (const DriveCase& c, std::ostream* os)
{
    *os << c.description;
}

const DriveCase driveCases[] = {
    { "no volume holds a bootloader file",
      [] (FakeMounts& m)
      {
          m.addVolume ("DATA", "ext4");
          m.addVolume ("FEATHERBOOT", "vfat", "UF2 Bootloader v3.6.0\nModel: Adafruit Feather M0\nBoard-ID: SAMD21G18A-Feather-v0\n");
          m.addVolume ("EMPTY", "vfat", "");
      },
      "" },
    { "rp2 in lower case inside a word",
      [] (FakeMounts& m)
      { m.addVolume ("BOOT", "vfat", "UF2 Bootloader\nBoard-ID: myrp2040board\n"); },
      "BOOT" },
    { "raspberry pi in another case",
      [] (FakeMounts& m)
      { m.addVolume ("BOOT", "vfat", "Model: RASPBERRY PI Pico\n"); },
      "BOOT" },
    { "the boot ROM text on a fixed disk", [] (FakeMounts& m)
      { m.addVolume ("RPI-RP2", "ext4", romInfoText); },
      "RPI-RP2" },
    { "the boot ROM text on a FUSE volume", [] (FakeMounts& m)
      { m.addVolume ("RPI-RP2", "fuse.hl73", romInfoText); },
      "RPI-RP2" },
    { "two bootloader drives: the first in natural order",
      [] (FakeMounts& m)
      {
          m.addVolume ("RPI-RP21", "vfat", romInfoText);
          m.addVolume ("RPI-RP10", "vfat", romInfoText);
          m.addVolume ("RPI-RP2", "vfat", romInfoText);
      },
      "RPI-RP2" },
    { "network and optical volumes are passed over",
      [] (FakeMounts& m)
      {
          m.addVolume ("A-NFS", "nfs4", romInfoText);
          m.addVolume ("B-SMB", "cifs", romInfoText);
          m.addVolume ("C-SSH", "fuse.sshfs", romInfoText);
          m.addVolume ("D-CD", "iso9660", romInfoText);
          m.addVolume ("E-DVD", "udf", romInfoText);
          m.addVolume ("F-AUTO", "autofs", romInfoText);
      },
      "" },
    { "a local volume after passed-over ones",
      [] (FakeMounts& m)
      {
          m.addVolume ("A-NFS", "nfs", romInfoText);
          m.addVolume ("B-CD", "iso9660", romInfoText);
          m.addVolume ("Z-RP2", "vfat", romInfoText);
      },
      "Z-RP2" },
    { "a shared scratch folder like /dev/shm (anyone may write, sticky) is passed over",
      [] (FakeMounts& m)
      {
          ::chmod (m.addVolume ("A-SHM", "tmpfs", romInfoText).c_str(), 01777);
          m.addVolume ("RPI-RP2", "vfat", romInfoText);
      },
      "RPI-RP2" },
    { "a drive mounted writable by anyone (FAT with umask=000) still counts",
      [] (FakeMounts& m)
      { ::chmod (m.addVolume ("RPI-RP2", "vfat", romInfoText).c_str(), 0777); },
      "RPI-RP2" },
    { "a mount point with a space in its name", [] (FakeMounts& m)
      { m.addVolume ("RPI RP2", "vfat", romInfoText); },
      "RPI RP2" },
    { "a folder named INFO_UF2.TXT",
      [] (FakeMounts& m)
      {
          m.addVolume ("RPI-RP2", "vfat");
          m.tree.makeFolder ("volumes/RPI-RP2/INFO_UF2.TXT");
      },
      "" },
    { "a pipe named INFO_UF2.TXT without a writer does not stall the search",
      [] (FakeMounts& m)
      {
          m.addVolume ("RPI-RP2", "vfat");
          ::mkfifo (m.tree.path ("volumes/RPI-RP2/INFO_UF2.TXT").c_str(), 0600);
      },
      "" },
    { "a pipe named INFO_UF2.TXT is not read",
      [] (FakeMounts& m)
      {
          m.addVolume ("RPI-RP2", "vfat");
          const auto pipe = m.tree.path ("volumes/RPI-RP2/INFO_UF2.TXT");
          ::mkfifo (pipe.c_str(), 0600);
          m.holdOpen (::open (pipe.c_str(), O_RDWR | O_NONBLOCK)); // a writer that stays, with the text waiting
          EXPECT_GT (::write (m.heldDescriptor(), romInfoText, std::strlen (romInfoText)), 0);
      },
      "" },
    { "a volume hidden by a later mount on its point",
      [] (FakeMounts& m)
      {
          const auto root = m.addVolume ("RPI-RP2", "vfat", romInfoText);
          m.list (root, "nfs4", "0:99");
      },
      "" },
};

class DriveSearchTest : public ::testing::TestWithParam<DriveCase>
{
};
} // namespace

TEST_P (DriveSearchTest, FindsTheFirstLocalVolumeWithTheBootloaderFile)
{
    FakeMounts mounts;
    GetParam().build (mounts);

    const std::string expected (GetParam().expectedVolume);
    const auto found = mounts.find();

    if (expected.empty())
        EXPECT_EQ (found, juce::File()) << found.getFullPathName();
    else
        EXPECT_EQ (found.getFullPathName().toStdString(), mounts.tree.path ("volumes/" + expected));
}

INSTANTIATE_TEST_SUITE_P (BootloaderDrive,
                          DriveSearchTest,
                          ::testing::ValuesIn (driveCases),
                          [] (const auto& testInfo)
                          { return caseName (testInfo.param.description); });

TEST (BootloaderDrive, RootServesTheCopyAndNoticesTheDriveGoing)
{
    FakeMounts mounts;
    const auto rootPath = mounts.addVolume ("RPI-RP2", "vfat", romInfoText);

    const auto root = mounts.find();
    ASSERT_NE (root, juce::File());
    EXPECT_EQ (root.getFullPathName().toStdString(), rootPath); // no trailing separator
    EXPECT_EQ (root.getChildFile ("VelmorHL73.uf2").getFullPathName().toStdString(), rootPath + "/VelmorHL73.uf2");
    EXPECT_TRUE (root.exists());
    EXPECT_EQ (mounts.drives(), (std::vector<BootloaderDrive> { { FakeMounts::realDeviceOf (rootPath), root } }));

    // Unmounted, but the mount point folder is left behind: no longer a drive.
    mounts.unlist (rootPath);
    EXPECT_EQ (mounts.find(), juce::File());
    EXPECT_TRUE (mounts.drives().empty());

    // Unmounted and its folder removed, as udisks does.
    mounts.tree.write ("volumes/RPI-RP2/INFO_UF2.TXT", romInfoText);
    mounts.list (rootPath, "vfat");
    ASSERT_EQ (mounts.find(), root);
    mounts.unlist (rootPath);
    juce::File (rootPath).deleteRecursively();

    EXPECT_EQ (mounts.find(), juce::File());
    EXPECT_TRUE (mounts.drives().empty());
    EXPECT_FALSE (root.exists());
}

TEST (BootloaderDrive, WritesGoOnlyToTheVolumeMountedAtTheRoot)
{
    FakeMounts mounts;
    const juce::File root (mounts.addVolume ("RPI-RP2", "vfat", romInfoText));
    const BootloaderDrive drive { FakeMounts::realDeviceOf (root.getFullPathName().toStdString()), root };
    const auto info = root.getChildFile ("INFO_UF2.TXT");
    const auto image = root.getChildFile ("VelmorHL73.uf2");

    EXPECT_TRUE (mounts.isOnDrive (drive, root));
    EXPECT_TRUE (mounts.isOnDrive (drive, info));
    EXPECT_TRUE (mounts.isOnDrive (drive, image)); // not written yet: its folder decides
    EXPECT_FALSE (mounts.isOnDrive (drive, root.getChildFile ("missing/VelmorHL73.uf2")));
    EXPECT_FALSE (mounts.isOnDrive (drive, juce::File (mounts.tree.path ("mountinfo")))); // not below the root
    EXPECT_FALSE (mounts.isOnDrive ({ drive.identity, {} }, image));
    EXPECT_FALSE (mounts.isOnDrive ({ {}, root }, image));

    // Another device than the one chosen is mounted there now (the chosen one went, another
    // board's drive took its place): not the drive, although its files are where they were.
    const BootloaderDrive chosenEarlier { "8:33", root };

    for (const auto& item : { root, info, image })
        EXPECT_FALSE (mounts.isOnDrive (chosenEarlier, item)) << item.getFullPathName();

    // The mount point lists another device now: the folder is not that volume.
    mounts.unlist (root.getFullPathName().toStdString());
    mounts.list (root.getFullPathName().toStdString(), "vfat", "8:99");

    for (const auto& item : { root, info, image })
    {
        EXPECT_FALSE (mounts.isOnDrive (drive, item)) << item.getFullPathName();
        EXPECT_FALSE (mounts.isOnDrive ({ "8:99", root }, item)) << item.getFullPathName();
    }

    // Unmounted: a leftover folder.
    mounts.unlist (root.getFullPathName().toStdString());

    for (const auto& item : { root, info, image })
        EXPECT_FALSE (mounts.isOnDrive (drive, item)) << item.getFullPathName();
}

TEST (BootloaderDrive, RealMountTableListsLocalVolumesOnly)
{
    const auto drives = listCandidateDrives();

    EXPECT_NE (std::find (drives.begin(), drives.end(), "/"), drives.end());
    EXPECT_EQ (std::find (drives.begin(), drives.end(), "/proc"), drives.end());
    EXPECT_EQ (std::find (drives.begin(), drives.end(), "/sys"), drives.end());
}

namespace
{
/** Block devices in a sysfs-like tree below `sys`: the USB and SCSI device folders, the disks and
    their partitions, with block/ and dev/block/ links to them as the kernel makes them.
*/
class FakeBlockDevices
{
public:
    FakeBlockDevices (const TempTree& treeToUse, std::string sysToUse)
        : tree (treeToUse)
        , sys (std::move (sysToUse))
    {
        tree.makeFolder (sys + "/block");
        tree.makeFolder (sys + "/dev/block");
    }

    /** A USB mass storage disk on USB port `port` (e.g. "1-3"), with the USB device's identity,
        the SCSI device's vendor and model, the disk's name and device number, and partitions
        (name, device number).
    */
    void addUsbDisk (const std::string& port,
                     const std::string& usbVendor,
                     const std::string& usbProduct,
                     const std::string& scsiVendor,
                     const std::string& scsiModel,
                     const std::string& name,
                     const std::string& number,
                     const std::vector<std::pair<std::string, std::string>>& partitions = {})
    {
        const auto host = std::to_string (hosts++);
        const auto usbDevice = sys + "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
        const auto scsi = usbDevice + "/" + port + ":1.0/host" + host + "/target" + host + ":0:0/" + host + ":0:0:0";
        tree.write (usbDevice + "/idVendor", usbVendor + "\n");
        tree.write (usbDevice + "/idProduct", usbProduct + "\n");
        tree.write (scsi + "/vendor", scsiVendor + "\n");
        tree.write (scsi + "/model", scsiModel + "\n");
        addDisk (scsi + "/block/" + name, name, number, partitions);
        tree.link (scsi + "/block/" + name + "/device", "../..");
    }

    /** A disk with no device behind it, like a loop device. */
    void addVirtualDisk (const std::string& name, const std::string& number)
    {
        addDisk (sys + "/devices/virtual/block/" + name, name, number, {});
    }

    std::vector<std::string> list() const { return sysfs::listRp2BootRomBlockDevices (tree.path (sys + "/block")); }

private:
    void addDisk (const std::string& disk, const std::string& name, const std::string& number, const std::vector<std::pair<std::string, std::string>>& partitions)
    {
        tree.write (disk + "/dev", number + "\n");
        tree.link (sys + "/block/" + name, tree.path (disk));
        tree.link (sys + "/dev/block/" + number, tree.path (disk));

        for (const auto& [partition, partitionNumber] : partitions)
        {
            tree.write (disk + "/" + partition + "/dev", partitionNumber + "\n");
            tree.write (disk + "/" + partition + "/partition", "1\n");
            tree.link (sys + "/dev/block/" + partitionNumber, tree.path (disk + "/" + partition));
        }

        tree.makeFolder (disk + "/queue"); // a folder that is no partition
    }

    const TempTree& tree;
    std::string sys;
    int hosts = 0;
};

struct BlockCase
{
    const char* description;
    std::function<void (FakeBlockDevices&)> build;
    std::vector<std::string> expected;
};

const BlockCase blockCases[] = {
    { "no boot ROM: a loop device and another maker's stick",
      [] (FakeBlockDevices& b)
      {
          b.addVirtualDisk ("loop0", "7:0");
          b.addUsbDisk ("1-1", "0781", "5583", "SanDisk", "Ultra Fit", "sda", "8:0", { { "sda1", "8:1" } });
      },
      {} },
    { "the RP2040 boot ROM with its partition",
      [] (FakeBlockDevices& b)
      { b.addUsbDisk ("1-3", "2e8a", "0003", "RPI", "RP2", "sdb", "8:16", { { "sdb1", "8:17" } }); },
      { "8:16", "8:17" } },
    { "padded SCSI identity of an RP2350, found by it alone",
      [] (FakeBlockDevices& b)
      { b.addUsbDisk ("1-3", "1234", "5678", "RPI     ", "RP2350          ", "sdb", "8:16", { { "sdb1", "8:17" } }); },
      { "8:16", "8:17" } },
    { "a boot ROM's USB identity alone, RP2040 and RP2350",
      [] (FakeBlockDevices& b)
      {
          b.addUsbDisk ("1-3", "2e8a", "0003", "", "", "sdb", "8:16");
          b.addUsbDisk ("1-4", "2E8A", "000F", "Other", "Disk", "sdc", "8:32");
      },
      { "8:16", "8:32" } },
    { "an RP2040 board's firmware with a mass storage of its own",
      [] (FakeBlockDevices& b)
      { b.addUsbDisk ("1-3", "2e8a", "000a", "Generic", "Flash Disk", "sdb", "8:16", { { "sdb1", "8:17" } }); },
      {} },
    { "two boot ROMs in natural order of their names",
      [] (FakeBlockDevices& b)
      {
          b.addUsbDisk ("1-4", "2e8a", "0003", "RPI", "RP2", "sdc", "8:32", { { "sdc1", "8:33" } });
          b.addUsbDisk ("1-3", "2e8a", "0003", "RPI", "RP2", "sdb", "8:16", { { "sdb1", "8:17" } });
      },
      { "8:16", "8:17", "8:32", "8:33" } },
    { "device numbers that do not parse are left out",
      [] (FakeBlockDevices& b)
      { b.addUsbDisk ("1-3", "2e8a", "0003", "RPI", "RP2", "sdb", "8-16", { { "sdb1", "008:017" } }); },
      { "8:17" } },
};

class BlockDeviceTest : public ::testing::TestWithParam<BlockCase>
{
};
} // namespace

TEST_P (BlockDeviceTest, ListsTheBootRomDisksAndTheirPartitions)
{
    TempTree tree;
    FakeBlockDevices devices (tree, "sys");
    GetParam().build (devices);

    EXPECT_EQ (devices.list(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P (BootloaderDrive,
                          BlockDeviceTest,
                          ::testing::ValuesIn (blockCases),
                          [] (const auto& testInfo)
                          { return caseName (testInfo.param.description); });

TEST (BootloaderDrive, ParsesDeviceNumbers)
{
    EXPECT_EQ (sysfs::parseDeviceNumber ("8:17\n"), "8:17");
    EXPECT_EQ (sysfs::parseDeviceNumber ("259:0"), "259:0");
    EXPECT_EQ (sysfs::parseDeviceNumber ("08:017"), "8:17");

    for (const auto* text : { "", "8", "8:", ":17", "8:17:1", "a:1", "-8:17", "8 :17", "1234567890:1" })
        EXPECT_EQ (sysfs::parseDeviceNumber (text), "") << text;
}

// Every bootloader device the system knows: the mounted volumes with their roots, then the boot
// ROM devices that have no volume mounted.
TEST (BootloaderDrive, ListsMountedDrivesThenUnmountedDevicesEachOnce)
{
    FakeMounts mounts;
    FakeBlockDevices devices (mounts.tree, "sys");
    devices.addUsbDisk ("1-3", "2e8a", "0003", "RPI", "RP2", "sdb", "8:16", { { "sdb1", "8:17" } });
    devices.addUsbDisk ("1-4", "2e8a", "0003", "RPI", "RP2", "sdc", "8:32", { { "sdc1", "8:33" } });

    const auto second = mounts.addVolume ("RPI-RP21", "vfat", romInfoText);
    mounts.unlist (second);
    mounts.list (second, "vfat", "8:17");
    const auto again = mounts.addVolume ("SAME-AGAIN", "vfat", romInfoText); // mounted a second time
    mounts.unlist (again);
    mounts.list (again, "vfat", "8:17");
    const auto fuse = mounts.addVolume ("VIRTUAL", "fuse.hl73", romInfoText);
    mounts.unlist (fuse);
    mounts.list (fuse, "fuse.hl73", "0:57");
    const auto bindMount = mounts.addVolume ("ELSEWHERE", "vfat");
    mounts.unlist (bindMount);
    mounts.list (bindMount, "vfat", "8:33"); // a folder of the second device, without the file

    EXPECT_EQ (mounts.drives(), (std::vector<BootloaderDrive> { { "8:17", juce::File (second) }, { "0:57", juce::File (fuse) }, { "8:16", {} }, { "8:32", {} }, { "8:33", {} } }));
}

// A device that has gone can stay mounted until someone unmounts it, its files still readable
// from the cache: it no longer counts.
TEST (BootloaderDrive, LeavesOutAMountedVolumeWhoseDeviceHasGone)
{
    FakeMounts mounts;
    const auto gone = mounts.addVolume ("RPI-RP2", "vfat", romInfoText);
    mounts.unlist (gone);
    mounts.list (gone, "vfat", "8:17");
    const auto fuse = mounts.addVolume ("VIRTUAL", "fuse.hl73", romInfoText);
    mounts.unlist (fuse);
    mounts.list (fuse, "fuse.hl73", "0:57");

    // Without a block device tree to ask, nothing is left out.
    EXPECT_EQ (mounts.drives().size(), 2u);

    FakeBlockDevices devices (mounts.tree, "sys");
    devices.addVirtualDisk ("loop0", "7:0");

    EXPECT_EQ (mounts.drives(), (std::vector<BootloaderDrive> { { "0:57", juce::File (fuse) } }));
}
