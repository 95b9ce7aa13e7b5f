#include "device/BootloaderDrive.h"
#include "device/linux/BootloaderVolume.h"

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
        {
            struct stat info = {};
            ::stat (mountPoint.c_str(), &info);
            device = std::to_string (major (info.st_dev)) + ":" + std::to_string (minor (info.st_dev));
        }

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

    juce::File find() const { return mounts::findBootloaderDriveIn (tablePath()); }

    bool isOnDrive (const juce::File& root, const juce::File& item) const { return mounts::isOnMountedDriveIn (tablePath(), root, item); }

    std::string tablePath() const { return tree.path ("mountinfo"); }

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

    // Unmounted, but the mount point folder is left behind: no longer a drive.
    mounts.unlist (rootPath);
    EXPECT_EQ (mounts.find(), juce::File());

    // Unmounted and its folder removed, as udisks does.
    mounts.tree.write ("volumes/RPI-RP2/INFO_UF2.TXT", romInfoText);
    mounts.list (rootPath, "vfat");
    ASSERT_EQ (mounts.find(), root);
    mounts.unlist (rootPath);
    juce::File (rootPath).deleteRecursively();

    const auto afterwards = mounts.find();
    EXPECT_EQ (afterwards, juce::File());
    EXPECT_FALSE (afterwards.exists());
    EXPECT_FALSE (root.exists());
}

TEST (BootloaderDrive, WritesGoOnlyToTheVolumeMountedAtTheRoot)
{
    FakeMounts mounts;
    const juce::File root (mounts.addVolume ("RPI-RP2", "vfat", romInfoText));
    const auto info = root.getChildFile ("INFO_UF2.TXT");
    const auto image = root.getChildFile ("VelmorHL73.uf2");

    EXPECT_TRUE (mounts.isOnDrive (root, root));
    EXPECT_TRUE (mounts.isOnDrive (root, info));
    EXPECT_TRUE (mounts.isOnDrive (root, image)); // not written yet: its folder decides
    EXPECT_FALSE (mounts.isOnDrive (root, root.getChildFile ("missing/VelmorHL73.uf2")));
    EXPECT_FALSE (mounts.isOnDrive (root, juce::File (mounts.tree.path ("mountinfo")))); // not below the root
    EXPECT_FALSE (mounts.isOnDrive (juce::File(), image));

    // The mount point lists another device now: the folder is not that volume.
    mounts.unlist (root.getFullPathName().toStdString());
    mounts.list (root.getFullPathName().toStdString(), "vfat", "8:99");

    for (const auto& item : { root, info, image })
        EXPECT_FALSE (mounts.isOnDrive (root, item)) << item.getFullPathName();

    // Unmounted: a leftover folder.
    mounts.unlist (root.getFullPathName().toStdString());

    for (const auto& item : { root, info, image })
        EXPECT_FALSE (mounts.isOnDrive (root, item)) << item.getFullPathName();
}

TEST (BootloaderDrive, RealMountTableListsLocalVolumesOnly)
{
    const auto drives = listCandidateDrives();

    EXPECT_NE (std::find (drives.begin(), drives.end(), "/"), drives.end());
    EXPECT_EQ (std::find (drives.begin(), drives.end(), "/proc"), drives.end());
    EXPECT_EQ (std::find (drives.begin(), drives.end(), "/sys"), drives.end());
}
