#include "SyntheticRoots.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace
{
void writeText (const fs::path& path, const std::string& text)
{
    fs::create_directories (path.parent_path());
    std::ofstream out (path);
    out << text;

    if (! out)
        throw std::runtime_error ("cannot write " + path.string());
}

void makeLink (const fs::path& link, const std::string& target)
{
    fs::create_directories (link.parent_path());
    fs::create_symlink (target, link);
}
} // namespace

SyntheticRoots::SyntheticRoots (const std::string& folder)
    : root (fs::absolute (folder).string())
{
    if (fs::exists (root) && ! fs::is_empty (root))
        throw std::runtime_error (root + " is not empty");

    fs::create_directories (root + "/dev");

    // 100 tty class entries.
    addVirtualTty ("tty");
    addVirtualTty ("console");
    addVirtualTty ("ptmx");

    for (int i = 0; i < 64; ++i)
        addVirtualTty ("tty" + std::to_string (i));

    for (int i = 0; i < 30; ++i)
        addPlatformTty ("ttyS" + std::to_string (i));

    addUsbTty ("ttyACM0", "pci0000:00/0000:00:14.0/usb1/1-1", "16d0", "0f3b", false);
    addUsbTty ("ttyACM1", "pci0000:00/0000:00:14.0/usb1/1-4/1-4.2", "2341", "0043", false);
    addUsbTty ("ttyUSB0", "pci0000:00/0000:00:14.0/usb1/1-3", "0403", "6001", true);

    // 60 mounts, in the order a booted desktop lists them.
    addMount ("ext4", "/", "/dev/nvme0n1p2");
    addMount ("sysfs", "/sys", "sysfs");
    addMount ("proc", "/proc", "proc");
    addMount ("devtmpfs", "/dev", "udev");
    addMount ("devpts", "/dev/pts", "devpts");
    addMount ("tmpfs", "/run", "tmpfs");
    addMount ("securityfs", "/sys/kernel/security", "securityfs");
    addMount ("tmpfs", "/dev/shm", "tmpfs");
    addMount ("tmpfs", "/run/lock", "tmpfs");
    addMount ("cgroup2", "/sys/fs/cgroup", "cgroup2");
    addMount ("pstore", "/sys/fs/pstore", "pstore");
    addMount ("efivarfs", "/sys/firmware/efi/efivars", "efivarfs");
    addMount ("bpf", "/sys/fs/bpf", "bpf");
    addMount ("autofs", "/proc/sys/fs/binfmt_misc", "systemd-1");
    addMount ("hugetlbfs", "/dev/hugepages", "hugetlbfs");
    addMount ("mqueue", "/dev/mqueue", "mqueue");
    addMount ("debugfs", "/sys/kernel/debug", "debugfs");
    addMount ("tracefs", "/sys/kernel/tracing", "tracefs");
    addMount ("fusectl", "/sys/fs/fuse/connections", "fusectl");
    addMount ("configfs", "/sys/kernel/config", "configfs");
    addMount ("vfat", "/boot/efi", "/dev/nvme0n1p1");
    addMount ("ext4", "/home", "/dev/nvme0n1p3");
    addMount ("binfmt_misc", "/proc/sys/fs/binfmt_misc", "binfmt_misc");
    addMount ("tmpfs", "/run/user/1000", "tmpfs");
    addMount ("fuse.gvfsd-fuse", "/run/user/1000/gvfs", "gvfsd-fuse");
    addMount ("fuse.portal", "/run/user/1000/doc", "portal");

    for (int i = 0; i < 24; ++i)
        addMount ("squashfs", "/snap/app" + std::to_string (i) + "/" + std::to_string (100 + i), "/dev/loop" + std::to_string (i));

    addMount ("nfs4", "/mnt/archive", "nas:/archive");
    addMount ("cifs", "/mnt/share", "//nas/share");
    addMount ("fuse.sshfs", "/mnt/build", "me@build:/");
    addMount ("iso9660", "/media/me/DVD", "/dev/sr0");
    addMount ("ext4", "/media/me/Backup", "/dev/sda1");
    addMount ("vfat", "/media/me/USB STICK", "/dev/sdb1");
    addMount ("tmpfs", "/tmp", "tmpfs");
    addMount ("ext4", "/var/lib/docker", "/dev/nvme0n1p3");
    addMount ("nsfs", "/run/snapd/ns/app0.mnt", "nsfs");

    // Another maker's board in its UF2 bootloader: examined, read, and passed over.
    addMount ("vfat", "/media/me/FTHR840BOOT", "/dev/sdc");
    writeText (root + "/media/me/FTHR840BOOT/INFO_UF2.TXT",
               "UF2 Bootloader 0.6.0 lib/nrfx (v2.0.0)\nModel: Adafruit Feather nRF52840 Express\nBoard-ID: nRF52840-Feather-revD\n");

    writeText (mountInfoPath(), mountTable);
}

void SyntheticRoots::addVirtualTty (const std::string& name)
{
    const auto device = "devices/virtual/tty/" + name;
    writeText (root + "/sys/" + device + "/dev", "4:0\n");
    makeLink (ttyClassDir() + "/" + name, "../../" + device);
    ++ttyCount;
}

void SyntheticRoots::addPlatformTty (const std::string& name)
{
    const auto device = "devices/platform/serial8250/tty/" + name;
    writeText (root + "/sys/" + device + "/dev", "4:64\n");
    makeLink (root + "/sys/" + device + "/device", "../../../serial8250");
    makeLink (ttyClassDir() + "/" + name, "../../" + device);
    ++ttyCount;
}

void SyntheticRoots::addUsbTty (const std::string& name, const std::string& usbPath, const std::string& vendor, const std::string& product, bool usbSerial)
{
    const auto usbName = usbPath.substr (usbPath.find_last_of ('/') + 1);
    const auto usbDevice = root + "/sys/devices/" + usbPath;
    const auto interface = usbDevice + "/" + usbName + ":1.0";

    writeText (usbDevice + "/idVendor", vendor + "\n");
    writeText (usbDevice + "/idProduct", product + "\n");
    writeText (usbDevice + "/serial", "0123456789\n");
    writeText (interface + "/bInterfaceClass", usbSerial ? "ff\n" : "02\n");

    // A usb-serial port hangs one level below its interface; an ACM port at it.
    const auto portDevice = usbSerial ? interface + "/" + name : interface;
    const auto classDevice = portDevice + "/tty/" + name;
    writeText (classDevice + "/dev", "166:0\n");
    makeLink (classDevice + "/device", usbSerial ? "../../../" + name : "../../../" + usbName + ":1.0");

    if (usbSerial)
        fs::create_directories (portDevice);

    makeLink (ttyClassDir() + "/" + name, fs::relative (classDevice, ttyClassDir()).string());
    writeText (devDir() + "/" + name, "");
    ++ttyCount;
}

void SyntheticRoots::addMount (const std::string& fsType, const std::string& mountPoint, const std::string& source)
{
    const auto where = root + (mountPoint == "/" ? std::string() : mountPoint);
    fs::create_directories (where);

    // The table escapes blanks in paths as octal.
    std::string escaped;

    for (const auto c : where.empty() ? root : where)
        escaped += c == ' ' ? std::string ("\\040") : std::string (1, c);

    ++mountCount;
    mountTable += std::to_string (20 + mountCount) + " 1 " + std::to_string (mountCount) + ":0 / " + escaped
                  + " rw,relatime shared:" + std::to_string (mountCount) + " - " + fsType + " " + source + " rw\n";
}
