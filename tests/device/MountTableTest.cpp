#include "device/linux/MountTable.h"

#include <gtest/gtest.h>

using namespace mounts;

TEST (MountTable, DecodesOctalEscapes)
{
    const std::pair<const char*, const char*> cases[] = {
        { "/media/user/RPI-RP2", "/media/user/RPI-RP2" },
        { "/media/user/MY\\040DISK", "/media/user/MY DISK" },
        { "/mnt/a\\011b\\012c\\134d", "/mnt/a\tb\nc\\d" },
        { "/mnt/\\04", "/mnt/\\04" }, // cut short: left as it stands
        { "/mnt/\\0a9", "/mnt/\\0a9" }, // not octal
        { "/mnt/x\\040", "/mnt/x " },
    };

    for (const auto& [field, expected] : cases)
        EXPECT_EQ (decodeOctalEscapes (field), expected) << field;
}

TEST (MountTable, ParsesMountInfoLines)
{
    const auto entries = parseMountInfo (
        "28 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
        "95 28 8:17 / /media/user/RPI\\040RP2 rw,nosuid,nodev shared:52 master:7 - vfat /dev/sdb1 rw,flush\n"
        "96 28 0:55 / /mnt/nooptional rw - fuse.hl73 hl73 rw\n"
        "garbage\n"
        "97 28 x:1 / /mnt/bad rw - ext4 /dev/sdc rw\n"
        "98 28 8:1 / /mnt/noseparator rw ext4 /dev/sdc rw\n"
        "\n");

    ASSERT_EQ (entries.size(), 3u);
    EXPECT_EQ (entries[0].mountPoint, "/");
    EXPECT_EQ (entries[0].deviceMajor, 254u);
    EXPECT_EQ (entries[1].mountPoint, "/media/user/RPI RP2");
    EXPECT_EQ (entries[1].fsType, "vfat");
    EXPECT_EQ (entries[1].deviceMajor, 8u);
    EXPECT_EQ (entries[1].deviceMinor, 17u);
    EXPECT_EQ (entries[2].fsType, "fuse.hl73");
    EXPECT_EQ (entries[2].deviceMinor, 55u);
}

TEST (MountTable, ListsLocalVolumesOnceInNaturalOrderOfTheirPaths)
{
    const auto entries = parseMountInfo (
        "1 0 254:0 / / rw - ext4 /dev/vda rw\n"
        "2 1 0:21 / /proc rw - proc proc rw\n"
        "3 1 0:22 / /sys rw - sysfs sysfs rw\n"
        "4 1 0:6 / /dev rw - devtmpfs devtmpfs rw\n"
        "5 4 0:25 / /dev/pts rw - devpts devpts rw\n"
        "6 4 0:27 / /dev/pts rw - devpts devpts rw\n"
        "7 1 0:40 / /home/shared rw - nfs4 server:/home rw\n"
        "8 1 0:41 / /mnt/win rw - cifs //server/c rw\n"
        "9 1 0:42 / /mnt/ssh rw - fuse.sshfs user@host: rw\n"
        "10 1 0:43 / /mnt/9p rw - 9p hostshare rw\n"
        "11 1 11:0 / /media/user/CDROM rw - iso9660 /dev/sr0 ro\n"
        "12 1 11:0 / /media/user/BLURAY rw - udf /dev/sr0 ro\n"
        "13 1 0:44 / /net rw - autofs auto.net rw\n"
        "14 1 8:1 / /media/user/RPI-RP21 rw - vfat /dev/sdc1 rw\n"
        "15 1 8:17 / /media/user/RPI-RP2 rw - vfat /dev/sdb1 rw\n"
        "16 1 0:50 / /run/user/1000 rw - tmpfs tmpfs rw\n"
        "17 1 0:51 / /tmp/keyboard rw - fuse.hl73 hl73 rw\n"
        "18 1 8:33 / /mnt/data rw - ext4 /dev/sdd1 rw\n"
        "19 1 0:52 / /mnt/data rw - autofs systemd-1 rw\n" // mounted on top: hides the disk
        "20 1 0:53 / /mnt/later rw - autofs systemd-1 rw\n"
        "21 1 8:49 / /mnt/later rw - ext4 /dev/sde1 rw\n"); // the automounted disk on top

    const std::vector<std::string> expected {
        "/",
        "/media/user/RPI-RP2",
        "/media/user/RPI-RP21",
        "/mnt/later",
        "/run/user/1000",
        "/tmp/keyboard",
    };

    EXPECT_EQ (listLocalVolumes (entries), expected);
}

TEST (MountTable, RefusesNetworkOpticalAndPseudoFilesystems)
{
    for (const auto* type : { "nfs", "nfs4", "cifs", "smb3", "smbfs", "afs", "ncpfs", "9p", "ceph", "glusterfs", "fuse.sshfs", "davfs", "iso9660", "udf", "autofs", "proc", "sysfs", "cgroup2" })
        EXPECT_FALSE (isLocalVolume (type)) << type;

    for (const auto* type : { "vfat", "exfat", "ext4", "btrfs", "xfs", "ntfs3", "fuseblk", "fuse.hl73", "tmpfs", "overlay" })
        EXPECT_TRUE (isLocalVolume (type)) << type;
}

TEST (MountTable, VisibleMountIsTheLastOnItsPoint)
{
    const auto entries = parseMountInfo ("1 0 8:1 / /mnt/x rw - ext4 /dev/sda1 rw\n"
                                         "2 0 8:2 / /mnt/x rw - vfat /dev/sda2 rw\n");

    const auto visible = findVisibleMount (entries, "/mnt/x");
    ASSERT_TRUE (visible.has_value());
    EXPECT_EQ (visible->fsType, "vfat");
    EXPECT_EQ (visible->deviceMinor, 2u);
    EXPECT_FALSE (findVisibleMount (entries, "/mnt").has_value());
}
