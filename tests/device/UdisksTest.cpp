#include "device/linux/Udisks.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace udisks;

namespace
{
const std::string blockPrefix = "/org/freedesktop/UDisks2/block_devices/";
const std::string drivePrefix = "/org/freedesktop/UDisks2/drives/";

BlockDevice rp2Filesystem (const std::string& name, const std::string& identity, const std::string& drive)
{
    BlockDevice block;
    block.objectPath = blockPrefix + name;
    block.identity = identity;
    block.label = "RPI-RP2";
    block.type = "vfat";
    block.usage = "filesystem";
    block.hasFilesystem = true;
    block.drivePath = drivePrefix + drive;
    return block;
}

Drive rp2Drive (const std::string& name, std::uint64_t timeDetected = 1)
{
    Drive drive;
    drive.objectPath = drivePrefix + name;
    drive.vendor = "RPI";
    drive.model = "RP2";
    drive.connectionBus = "usb";
    drive.timeDetected = timeDetected;
    return drive;
}

// The machine's own disk and a USB stick, which must never be chosen.
ManagedObjects otherDisks()
{
    ManagedObjects objects;
    BlockDevice root;
    root.objectPath = blockPrefix + "nvme0n1p2";
    root.identity = "259:2";
    root.type = "ext4";
    root.usage = "filesystem";
    root.hasFilesystem = true;
    root.hintSystem = true;
    root.mountPoints = { "/" };
    root.drivePath = drivePrefix + "Samsung_SSD";
    objects.blocks.push_back (root);

    Drive ssd;
    ssd.objectPath = drivePrefix + "Samsung_SSD";
    ssd.vendor = "";
    ssd.model = "Samsung SSD 980";
    objects.drives.push_back (ssd);

    BlockDevice stick = rp2Filesystem ("sdc1", "8:33", "SanDisk");
    stick.label = "BACKUP";
    objects.blocks.push_back (stick);

    Drive sanDisk = rp2Drive ("SanDisk");
    sanDisk.vendor = "SanDisk";
    sanDisk.model = "Cruzer";
    objects.drives.push_back (sanDisk);
    return objects;
}

ManagedObjects withKeyboard (ManagedObjects objects, const std::string& name = "sdb1", const std::string& identity = "8:17", std::uint64_t timeDetected = 1)
{
    objects.blocks.push_back (rp2Filesystem (name, identity, "RPI_RP2_" + name));
    objects.drives.push_back (rp2Drive ("RPI_RP2_" + name, timeDetected));
    return objects;
}
} // namespace

TEST (Udisks, TellsTheBootRomFilesystemFromLookAlikes)
{
    struct Case
    {
        const char* description;
        std::function<void (BlockDevice&, Drive&)> change;
        bool drivePresent;
        bool expected;
    };

    const Case cases[] = {
        { "the boot ROM's drive", [] (BlockDevice&, Drive&) {}, true, true },
        { "inquiry data padded and in other case", [] (BlockDevice&, Drive& d)
          { d.vendor = "rpi     "; d.model = "Rp2 "; },
          true,
          true },
        { "label in lower case", [] (BlockDevice& b, Drive&)
          { b.label = "rpi-rp2"; },
          true,
          false },
        { "another filesystem type with the label", [] (BlockDevice& b, Drive&)
          { b.type = "exfat"; },
          true,
          false },
        { "an encrypted container with the label", [] (BlockDevice& b, Drive&)
          { b.usage = "crypto"; },
          true,
          false },
        { "no Filesystem interface", [] (BlockDevice& b, Drive&)
          { b.hasFilesystem = false; },
          true,
          false },
        { "a stick that borrowed the label", [] (BlockDevice&, Drive& d)
          { d.vendor = "SanDisk"; d.model = "Cruzer"; },
          true,
          false },
        { "an RP2350's boot ROM", [] (BlockDevice&, Drive& d)
          { d.model = "RP2350"; },
          true,
          false },
        { "not on USB", [] (BlockDevice&, Drive& d)
          { d.connectionBus = ""; },
          true,
          false },
        { "no drive (a loop device with the label)", [] (BlockDevice&, Drive&) {}, false, false },
        { "hidden by the system's rules", [] (BlockDevice& b, Drive&)
          { b.hintIgnore = true; },
          true,
          false },
        { "a system disk", [] (BlockDevice& b, Drive&)
          { b.hintSystem = true; },
          true,
          false },
        { "no device number", [] (BlockDevice& b, Drive&)
          { b.identity.clear(); },
          true,
          false },
    };

    for (const auto& c : cases)
    {
        auto block = rp2Filesystem ("sdb1", "8:17", "RPI_RP2");
        auto drive = rp2Drive ("RPI_RP2");
        c.change (block, drive);
        EXPECT_EQ (isBootloaderFilesystem (block, c.drivePresent ? &drive : nullptr), c.expected) << c.description;
    }
}

TEST (Udisks, ChoosesUnmountedBootRomFilesystemsNotLeftAlone)
{
    struct Case
    {
        const char* description;
        ManagedObjects objects;
        std::vector<std::string> leaveAlone;
        std::vector<std::string> expected;
    };

    auto mounted = withKeyboard (otherDisks());
    mounted.blocks.back().mountPoints = { "/media/user/RPI-RP2" };

    auto twoLeaveOne = withKeyboard (withKeyboard (otherDisks()), "sdd1", "8:49");

    auto wrongType = withKeyboard (otherDisks());
    wrongType.blocks.back().type = "ext4";

    const Case cases[] = {
        { "an RPI-RP2 FAT volume among other disks", withKeyboard (otherDisks()), {}, { blockPrefix + "sdb1" } },
        { "only other disks", otherDisks(), {}, {} },
        { "already mounted", mounted, {}, {} },
        { "the label on another filesystem type", wrongType, {}, {} },
        { "two of them", withKeyboard (withKeyboard (otherDisks()), "sdd1", "8:49"), {}, { blockPrefix + "sdb1", blockPrefix + "sdd1" } },
        { "one of two present before the request", twoLeaveOne, { "8:17", "8:33" }, { blockPrefix + "sdd1" } },
        { "the only one present before the request", withKeyboard (otherDisks()), { "8:17" }, {} },
    };

    for (const auto& c : cases)
    {
        std::set<std::string> asked;
        EXPECT_EQ (chooseFilesystemsToMount (c.objects, c.leaveAlone, asked), c.expected) << c.description;
    }
}

TEST (Udisks, AsksOncePerAppearance)
{
    std::set<std::string> asked;
    const auto keyboard = blockPrefix + "sdb1";
    using Paths = std::vector<std::string>;

    EXPECT_EQ (chooseFilesystemsToMount (withKeyboard (otherDisks()), {}, asked), Paths { keyboard });
    EXPECT_EQ (chooseFilesystemsToMount (withKeyboard (otherDisks()), {}, asked), Paths {}) << "asked before";

    // The drive goes (the keyboard restarted) and comes back under the same object path.
    EXPECT_EQ (chooseFilesystemsToMount (otherDisks(), {}, asked), Paths {});
    EXPECT_TRUE (asked.empty()) << "nothing remembered about a drive that has gone";
    EXPECT_EQ (chooseFilesystemsToMount (withKeyboard (otherDisks()), {}, asked), Paths { keyboard }) << "a new appearance";

    // It went and came back between two looks: the service saw a new drive all the same.
    EXPECT_EQ (chooseFilesystemsToMount (withKeyboard (otherDisks(), "sdb1", "8:17", 2), {}, asked), Paths { keyboard });
    EXPECT_EQ (asked.size(), 1u);

    // Mounted by someone, then unmounted: left as its user made it.
    std::set<std::string> seen;
    auto mounted = withKeyboard (otherDisks(), "sdb1", "8:17", 3);
    mounted.blocks.back().mountPoints = { "/media/user/RPI-RP2" };
    EXPECT_EQ (chooseFilesystemsToMount (mounted, {}, seen), Paths {});
    EXPECT_EQ (chooseFilesystemsToMount (withKeyboard (otherDisks(), "sdb1", "8:17", 3), {}, seen), Paths {});
}

TEST (Udisks, ListsEveryBootRomFilesystemMountedOrNot)
{
    auto objects = withKeyboard (withKeyboard (otherDisks()), "sdd1", "8:49");
    objects.blocks.back().mountPoints = { "/media/user/RPI-RP2" };
    EXPECT_EQ (listBootloaderIdentities (objects), (std::vector<std::string> { "8:17", "8:49" }));
}

TEST (Udisks, IdentityIsMajorColonMinor)
{
    EXPECT_EQ (deviceIdentity (makedev (8, 17)), "8:17");
    EXPECT_EQ (deviceIdentity (makedev (259, 1048575)), "259:1048575");
}

namespace
{
/** A connection to nowhere (one end of a socket pair): enough to build messages, no bus. */
class DetachedBus
{
public:
    DetachedBus()
    {
        ::socketpair (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
        sd_bus_new (&bus);
        sd_bus_set_fd (bus, ends[0], ends[0]);
        sd_bus_start (bus);
    }

    ~DetachedBus()
    {
        sd_bus_close_unref (bus);
        ::close (ends[1]);
    }

    /** A message with a body, sealed and rewound as a received one would be. */
    sd_bus_message* message (const std::function<void (sd_bus_message*)>& fill)
    {
        sd_bus_message* m = nullptr;
        sd_bus_message_new_method_call (bus, &m, "org.example", "/", "org.example", "Reply");
        fill (m);
        sd_bus_message_seal (m, 1, 0);
        sd_bus_message_rewind (m, 1);
        return m;
    }

private:
    int ends[2] = { -1, -1 };
    sd_bus* bus = nullptr;
};

void openProperties (sd_bus_message* m, const char* path, const char* interface)
{
    sd_bus_message_open_container (m, 'e', "oa{sa{sv}}");
    sd_bus_message_append (m, "o", path);
    sd_bus_message_open_container (m, 'a', "{sa{sv}}");
    sd_bus_message_open_container (m, 'e', "sa{sv}");
    sd_bus_message_append (m, "s", interface);
    sd_bus_message_open_container (m, 'a', "{sv}");
}

void closeContainers (sd_bus_message* m, int count)
{
    for (int i = 0; i < count; ++i)
        sd_bus_message_close_container (m);
}
} // namespace

TEST (Udisks, ParsesManagedObjects)
{
    DetachedBus bus;
    const auto reply = bus.message ([] (sd_bus_message* m)
                                    {
        sd_bus_message_open_container (m, 'a', "{oa{sa{sv}}}");

        openProperties (m, "/org/freedesktop/UDisks2/block_devices/sdb1", "org.freedesktop.UDisks2.Block");
        sd_bus_message_append (m, "{sv}{sv}{sv}{sv}{sv}{sv}{sv}{sv}",
                               "Size", "t", static_cast<uint64_t> (134217728), // not needed: passed over
                               "DeviceNumber", "t", static_cast<uint64_t> (makedev (8, 17)),
                               "IdLabel", "s", "RPI-RP2",
                               "IdType", "s", "vfat",
                               "IdUsage", "i", 7, // of an unexpected type: passed over
                               "HintIgnore", "b", 0,
                               "HintSystem", "b", 1,
                               "Drive", "o", "/org/freedesktop/UDisks2/drives/RPI_RP2");
        closeContainers (m, 2);
        sd_bus_message_open_container (m, 'e', "sa{sv}");
        sd_bus_message_append (m, "s", "org.freedesktop.UDisks2.Filesystem");
        sd_bus_message_open_container (m, 'a', "{sv}");
        sd_bus_message_open_container (m, 'e', "sv");
        sd_bus_message_append (m, "s", "MountPoints");
        sd_bus_message_open_container (m, 'v', "aay");
        sd_bus_message_open_container (m, 'a', "ay");
        sd_bus_message_append_array (m, 'y', "/media/a\0", 9);
        sd_bus_message_append_array (m, 'y', "/mnt/b c", 8); // without the usual NUL
        closeContainers (m, 7);

        openProperties (m, "/org/freedesktop/UDisks2/drives/RPI_RP2", "org.freedesktop.UDisks2.Drive");
        sd_bus_message_append (m, "{sv}{sv}{sv}{sv}{sv}",
                               "Vendor", "s", "RPI",
                               "Model", "s", "RP2",
                               "ConnectionBus", "s", "usb",
                               "Removable", "b", 0,
                               "TimeDetected", "t", static_cast<uint64_t> (1765400000000000));
        closeContainers (m, 4);

        openProperties (m, "/org/freedesktop/UDisks2/Manager", "org.freedesktop.UDisks2.Manager");
        sd_bus_message_append (m, "{sv}", "Version", "s", "2.9.4");
        closeContainers (m, 4);

        sd_bus_message_close_container (m); });

    ManagedObjects objects;
    ASSERT_TRUE (parseManagedObjects (reply, objects));
    sd_bus_message_unref (reply);

    ASSERT_EQ (objects.blocks.size(), 1u);
    const auto& block = objects.blocks[0];
    EXPECT_EQ (block.objectPath, "/org/freedesktop/UDisks2/block_devices/sdb1");
    EXPECT_EQ (block.identity, "8:17");
    EXPECT_EQ (block.label, "RPI-RP2");
    EXPECT_EQ (block.type, "vfat");
    EXPECT_EQ (block.usage, "");
    EXPECT_FALSE (block.hintIgnore);
    EXPECT_TRUE (block.hintSystem);
    EXPECT_TRUE (block.hasFilesystem);
    EXPECT_EQ (block.drivePath, "/org/freedesktop/UDisks2/drives/RPI_RP2");
    EXPECT_EQ (block.mountPoints, (std::vector<std::string> { "/media/a", "/mnt/b c" }));

    ASSERT_EQ (objects.drives.size(), 1u);
    const auto& drive = objects.drives[0];
    EXPECT_EQ (drive.objectPath, "/org/freedesktop/UDisks2/drives/RPI_RP2");
    EXPECT_EQ (drive.vendor, "RPI");
    EXPECT_EQ (drive.model, "RP2");
    EXPECT_EQ (drive.connectionBus, "usb");
    EXPECT_FALSE (drive.removable);
    EXPECT_EQ (drive.timeDetected, 1765400000000000u);
}

TEST (Udisks, RefusesAReplyOfAnotherShape)
{
    DetachedBus bus;
    const auto reply = bus.message ([] (sd_bus_message* m)
                                    { sd_bus_message_append (m, "as", 1, "not objects"); });
    ManagedObjects objects;
    EXPECT_FALSE (parseManagedObjects (reply, objects));
    sd_bus_message_unref (reply);
}
