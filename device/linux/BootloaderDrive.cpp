#include "device/BootloaderDrive.h"

#include "device/linux/BootloaderVolume.h"
#include "device/linux/MountTable.h"
#include "device/linux/SysfsBlock.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace mounts
{

namespace
{
const char* const mountInfoPath = "/proc/self/mountinfo";
const char* const sysDir = "/sys";

// Shared scratch folders (/dev/shm, /run/lock, /tmp: writable by anyone, sticky) let any user
// plant an INFO_UF2.TXT and have the firmware written there; a boot ROM's drive is never one. A
// FAT drive mounted with umask=000 is writable by anyone too, but FAT has no sticky bit.
bool isSharedScratchFolder (const std::string& root)
{
    struct stat info = {};
    return ::stat (root.c_str(), &info) != 0 || ((info.st_mode & S_IWOTH) != 0 && (info.st_mode & S_ISVTX) != 0);
}

bool sameDevice (const struct stat& info, const MountEntry& mount)
{
    return major (info.st_dev) == mount.deviceMajor && minor (info.st_dev) == mount.deviceMinor;
}
} // namespace

bool holdsRp2BootloaderInfo (const std::string& root)
{
    const auto path = root + (! root.empty() && root.back() == '/' ? "" : "/") + "INFO_UF2.TXT";

    // Non-blocking, so that a pipe of that name cannot stall the search; only a regular file
    // is read.
    const int fd = ::open (path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);

    if (fd < 0)
        return false;

    std::string text;
    struct stat info = {};

    if (::fstat (fd, &info) == 0 && S_ISREG (info.st_mode))
    {
        text.resize (maxUf2InfoFileSize);
        std::size_t filled = 0;

        while (filled < text.size())
        {
            const auto count = ::read (fd, text.data() + filled, text.size() - filled);

            if (count < 0 && errno == EINTR)
                continue;

            if (count <= 0)
                break;

            filled += static_cast<std::size_t> (count);
        }

        text.resize (filled);
    }

    ::close (fd);
    return namesRp2Bootloader (text);
}

std::vector<std::string> listCandidateDrivesIn (const std::string& path)
{
    return listLocalVolumes (parseMountInfo (readMountTable (path)));
}

std::vector<BootloaderDrive> listMountedBootloaderDrivesIn (const std::string& path, const std::string& sys)
{
    std::vector<BootloaderDrive> drives;

    for (const auto& mount : listLocalVolumeMounts (parseMountInfo (readMountTable (path))))
    {
        auto identity = deviceNumberOf (mount);

        const auto listed = std::any_of (drives.begin(), drives.end(), [&] (const BootloaderDrive& drive)
                                         { return drive.identity == identity; });

        if (listed || ! sysfs::mayBlockDeviceExist (sys + "/dev/block", identity))
            continue;

        if (! isSharedScratchFolder (mount.mountPoint) && holdsRp2BootloaderInfo (mount.mountPoint))
            drives.push_back ({ std::move (identity), juce::File (juce::String::fromUTF8 (mount.mountPoint.data(), static_cast<int> (mount.mountPoint.size()))) });
    }

    return drives;
}

std::vector<BootloaderDrive> listBootloaderDrivesIn (const std::string& path, const std::string& sys)
{
    auto drives = listMountedBootloaderDrivesIn (path, sys);

    for (auto& identity : sysfs::listRp2BootRomBlockDevices (sys + "/block"))
    {
        const auto listed = std::any_of (drives.begin(), drives.end(), [&] (const BootloaderDrive& drive)
                                         { return drive.identity == identity; });

        if (! listed)
            drives.push_back ({ std::move (identity), {} });
    }

    return drives;
}

bool isOnDriveIn (const std::string& path, const BootloaderDrive& drive, const juce::File& item)
{
    const auto& root = drive.root;

    if (drive.identity.empty() || root == juce::File() || ! (item == root || item.isAChildOf (root)))
        return false;

    const auto mount = findVisibleMount (parseMountInfo (readMountTable (path)), root.getFullPathName().toStdString());

    if (! mount || ! isLocalVolume (mount->fsType) || deviceNumberOf (*mount) != drive.identity)
        return false;

    struct stat info = {};

    if (::stat (item.getFullPathName().toRawUTF8(), &info) == 0)
        return sameDevice (info, *mount);

    // A file about to be created lands in its folder.
    return errno == ENOENT
           && item != root
           && ::stat (item.getParentDirectory().getFullPathName().toRawUTF8(), &info) == 0
           && S_ISDIR (info.st_mode)
           && sameDevice (info, *mount);
}

} // namespace mounts

std::vector<std::string> listCandidateDrives()
{
    return mounts::listCandidateDrivesIn (mounts::mountInfoPath);
}

std::vector<BootloaderDrive> listBootloaderDrives()
{
    return mounts::listBootloaderDrivesIn (mounts::mountInfoPath, mounts::sysDir);
}

bool isOnDrive (const BootloaderDrive& drive, const juce::File& item)
{
    return mounts::isOnDriveIn (mounts::mountInfoPath, drive, item);
}
