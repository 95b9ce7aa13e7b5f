#define FUSE_USE_VERSION FUSE_MAKE_VERSION (3, 12)

#include "BootDrive.h"

#include "Uf2.h"

#include <fuse.h>
#include <fuse_lowlevel.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <unistd.h>

namespace
{
// The text of the RP2040 boot ROM's two files, as its drive shows them.
const char* const infoUf2Text = "UF2 Bootloader v3.0\nModel: Raspberry Pi RP2\nBoard-ID: RPI-RP2\n";
const char* const indexHtmText = "<html><head><meta http-equiv=\"refresh\" content=\"0;URL='https://raspberrypi.com/device/RP2?version=E0C9125B0D9B'\"/></head>"
                                 "<body>Redirecting to <a href='https://raspberrypi.com/device/RP2?version=E0C9125B0D9B'>raspberrypi.com</a></body></html>";

// The boot ROM's volume: 128 MiB of FAT16 in 4 KiB clusters.
constexpr std::size_t clusterSize = 4096;
constexpr std::size_t clusterCount = 32768;

std::vector<uint8_t> bytesOf (const char* text)
{
    return std::vector<uint8_t> (text, text + std::strlen (text));
}

// Only the root folder exists. FAT keeps the case of a long name but matches names without
// regard to it, so files are kept under the upper-case name.
std::string nameOf (const char* path)
{
    return std::string (path[0] == '/' ? path + 1 : path);
}

std::string keyOf (const char* path)
{
    std::string name (path[0] == '/' ? path + 1 : path);
    std::transform (name.begin(), name.end(), name.begin(), [] (unsigned char c)
                    { return static_cast<char> (std::toupper (c)); });
    return name;
}

bool isRootFileName (const std::string& name)
{
    return ! name.empty() && name.find ('/') == std::string::npos;
}
} // namespace

struct BootDrive::Operations
{
    static BootDrive& self() { return *static_cast<BootDrive*> (fuse_get_context()->private_data); }

    static void* init (fuse_conn_info*, fuse_config* config)
    {
        // Every look goes to the drive, so that nothing stale survives the drive's departure.
        config->entry_timeout = 0;
        config->attr_timeout = 0;
        config->negative_timeout = 0;
        config->direct_io = 1;
        return fuse_get_context()->private_data;
    }

    static int getattr (const char* path, struct stat* info, fuse_file_info*)
    {
        auto& drive = self();
        std::memset (info, 0, sizeof (*info));
        info->st_uid = ::getuid();
        info->st_gid = ::getgid();

        if (std::strcmp (path, "/") == 0)
        {
            info->st_mode = S_IFDIR | 0755;
            info->st_nlink = 2;
            return 0;
        }

        const std::lock_guard<std::mutex> guard (drive.lock);
        const auto found = drive.files.find (keyOf (path));

        if (found == drive.files.end())
            return -ENOENT;

        info->st_mode = S_IFREG | (found->second.fromRom ? 0444 : 0644);
        info->st_nlink = 1;
        info->st_size = static_cast<off_t> (found->second.data.size());
        info->st_blksize = clusterSize;
        info->st_blocks = static_cast<blkcnt_t> ((found->second.data.size() + 511) / 512);
        return 0;
    }

    static int readdir (const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
    {
        if (std::strcmp (path, "/") != 0)
            return -ENOENT;

        fill (buffer, ".", nullptr, 0, fuse_fill_dir_flags {});
        fill (buffer, "..", nullptr, 0, fuse_fill_dir_flags {});

        auto& drive = self();
        const std::lock_guard<std::mutex> guard (drive.lock);

        for (const auto& entry : drive.files)
            fill (buffer, entry.second.name.c_str(), nullptr, 0, fuse_fill_dir_flags {});

        return 0;
    }

    static int open (const char* path, fuse_file_info* info)
    {
        auto& drive = self();
        const std::lock_guard<std::mutex> guard (drive.lock);
        const auto found = drive.files.find (keyOf (path));

        if (found == drive.files.end())
            return -ENOENT;

        if (found->second.fromRom && (info->flags & O_ACCMODE) != O_RDONLY)
            return -EACCES;

        if ((info->flags & O_TRUNC) != 0)
            found->second.data.clear();

        return 0;
    }

    static int create (const char* path, mode_t, fuse_file_info*)
    {
        const auto name = keyOf (path);

        if (! isRootFileName (name))
            return -EACCES;

        auto& drive = self();
        const std::lock_guard<std::mutex> guard (drive.lock);
        auto& file = drive.files[name];

        if (file.fromRom)
            return -EACCES;

        if (file.name.empty())
            file.name = nameOf (path);

        file.data.clear();
        return 0;
    }

    static int read (const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*)
    {
        auto& drive = self();
        const std::lock_guard<std::mutex> guard (drive.lock);
        const auto found = drive.files.find (keyOf (path));

        if (found == drive.files.end())
            return -ENOENT;

        const auto& data = found->second.data;
        const auto start = std::min (data.size(), static_cast<std::size_t> (offset));
        const auto count = std::min (size, data.size() - start);
        std::memcpy (buffer, data.data() + start, count);
        return static_cast<int> (count);
    }

    static int write (const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info*)
    {
        auto& drive = self();

        // A slow drive holds the writer up, as the boot ROM does while it programs flash.
        if (drive.options.bytesPerSecond > 0)
            std::this_thread::sleep_for (std::chrono::microseconds (size * 1000000 / drive.options.bytesPerSecond));

        const std::lock_guard<std::mutex> guard (drive.lock);
        const auto found = drive.files.find (keyOf (path));

        if (drive.cablePulled)
            return -EIO;

        if (found == drive.files.end())
            return -ENOENT;

        if (found->second.fromRom)
            return -EACCES;

        if (const auto limit = drive.options.cablePulledAfterBytes; limit && drive.bytesTaken + size > *limit)
        {
            drive.cablePulled = true;
            drive.onEvent ("cable-pulled after " + std::to_string (drive.bytesTaken) + " bytes");
            return -EIO;
        }

        drive.bytesTaken += size;
        auto& data = found->second.data;
        const auto start = static_cast<std::size_t> (offset);

        if (data.size() < start + size)
            data.resize (start + size, 0);

        std::memcpy (data.data() + start, buffer, size);

        // File data sits cluster-aligned on the volume, so each whole 512 bytes of the file is one
        // sector of the device; the ROM sees a sector once all of it has been written.
        const auto first = start / uf2::blockSize;
        const auto last = (start + size - 1) / uf2::blockSize;

        for (auto sector = first; sector <= last && size > 0; ++sector)
            if ((sector + 1) * uf2::blockSize <= data.size())
                drive.feedSector (data.data() + sector * uf2::blockSize);

        return static_cast<int> (size);
    }

    static int truncate (const char* path, off_t size, fuse_file_info*)
    {
        auto& drive = self();
        const std::lock_guard<std::mutex> guard (drive.lock);
        const auto found = drive.files.find (keyOf (path));

        if (found == drive.files.end())
            return -ENOENT;

        if (found->second.fromRom)
            return -EACCES;

        found->second.data.resize (static_cast<std::size_t> (size), 0);
        return 0;
    }

    static int unlink (const char* path)
    {
        auto& drive = self();
        const std::lock_guard<std::mutex> guard (drive.lock);
        const auto found = drive.files.find (keyOf (path));

        if (found == drive.files.end())
            return -ENOENT;

        if (found->second.fromRom)
            return -EACCES;

        drive.files.erase (found);
        return 0;
    }

    static int rename (const char* from, const char* to, unsigned int)
    {
        auto& drive = self();
        const std::lock_guard<std::mutex> guard (drive.lock);
        const auto source = drive.files.find (keyOf (from));
        const auto target = keyOf (to);

        if (source == drive.files.end())
            return -ENOENT;

        if (source->second.fromRom || ! isRootFileName (target) || (drive.files.count (target) != 0 && drive.files[target].fromRom))
            return -EACCES;

        auto file = std::move (source->second);
        file.name = nameOf (to);
        drive.files.erase (source);
        drive.files[target] = std::move (file);
        return 0;
    }

    static int release (const char* path, fuse_file_info* info)
    {
        if ((info->flags & O_ACCMODE) == O_RDONLY)
            return 0;

        auto& drive = self();
        std::size_t size = 0;
        {
            const std::lock_guard<std::mutex> guard (drive.lock);
            const auto found = drive.files.find (keyOf (path));
            size = found == drive.files.end() ? 0 : found->second.data.size();
        }
        drive.onEvent ("file-closed " + nameOf (path) + " " + std::to_string (size) + " bytes");
        return 0;
    }

    static int fsync (const char*, int, fuse_file_info*) { return isGone() ? -EIO : 0; }
    static int flush (const char*, fuse_file_info*) { return isGone() ? -EIO : 0; }

    static bool isGone()
    {
        auto& drive = self();
        const std::lock_guard<std::mutex> guard (drive.lock);
        return drive.cablePulled;
    }
    static int chmod (const char*, mode_t, fuse_file_info*) { return 0; }
    static int chown (const char*, uid_t, gid_t, fuse_file_info*) { return 0; }
    static int utimens (const char*, const struct timespec*, fuse_file_info*) { return 0; }

    static int statfs (const char*, struct statvfs* info)
    {
        auto& drive = self();
        const std::lock_guard<std::mutex> guard (drive.lock);
        std::size_t used = 0;

        for (const auto& entry : drive.files)
            used += (entry.second.data.size() + clusterSize - 1) / clusterSize;

        std::memset (info, 0, sizeof (*info));
        info->f_bsize = clusterSize;
        info->f_frsize = clusterSize;
        info->f_blocks = clusterCount;
        info->f_bfree = clusterCount - std::min (used, clusterCount);
        info->f_bavail = info->f_bfree;
        info->f_namemax = 255;
        return 0;
    }
};

BootDrive::BootDrive (BootRom& romToFeed, Options optionsToUse, EventCallback onEventToUse)
    : rom (romToFeed)
    , options (std::move (optionsToUse))
    , onEvent (std::move (onEventToUse))
{
    files["INFO_UF2.TXT"] = File { "INFO_UF2.TXT", bytesOf (infoUf2Text), true };
    files["INDEX.HTM"] = File { "INDEX.HTM", bytesOf (indexHtmText), true };
}

BootDrive::~BootDrive()
{
    unmount();
}

void BootDrive::feedSector (const uint8_t* sector)
{
    // Called with the lock held.
    const auto outcome = rom.writeSector (sector);

    if (outcome == BootRom::Outcome::restarted)
        onEvent ("transfer-restarted");

    if (outcome == BootRom::Outcome::programmed && rom.isComplete() && ! completionTime)
    {
        completionTime = std::chrono::steady_clock::now();
        onEvent ("image-complete " + std::to_string (rom.getBlocksExpected()) + " blocks");
    }
}

bool BootDrive::mount (std::string& error)
{
    static const fuse_operations operations = []
    {
        fuse_operations ops {};
        ops.init = Operations::init;
        ops.getattr = Operations::getattr;
        ops.readdir = Operations::readdir;
        ops.open = Operations::open;
        ops.create = Operations::create;
        ops.read = Operations::read;
        ops.write = Operations::write;
        ops.truncate = Operations::truncate;
        ops.unlink = Operations::unlink;
        ops.rename = Operations::rename;
        ops.release = Operations::release;
        ops.fsync = Operations::fsync;
        ops.flush = Operations::flush;
        ops.chmod = Operations::chmod;
        ops.chown = Operations::chown;
        ops.utimens = Operations::utimens;
        ops.statfs = Operations::statfs;
        return ops;
    }();

    std::error_code ignored;
    std::filesystem::create_directories (options.mountPoint, ignored);

    std::string mountOptions = "fsname=RPI-RP2,subtype=virtual-hl73";

    if (options.readOnly)
        mountOptions += ",ro";

    std::vector<std::string> arguments { "virtual-hl73", "-o", mountOptions };
    std::vector<char*> argv;

    for (auto& argument : arguments)
        argv.push_back (argument.data());

    fuse_args args = FUSE_ARGS_INIT (static_cast<int> (argv.size()), argv.data());
    fuse = fuse_new (&args, &operations, sizeof (operations), this);

    if (fuse == nullptr)
    {
        error = "cannot set up FUSE";
        return false;
    }

    if (fuse_mount (fuse, options.mountPoint.c_str()) != 0)
    {
        fuse_destroy (fuse);
        fuse = nullptr;
        error = "cannot mount the drive at " + options.mountPoint + " (is /dev/fuse there?)";
        return false;
    }

    wakeFd = ::eventfd (0, EFD_CLOEXEC);
    mounted = true;
    thread = std::thread ([this]
                          { serve(); });
    return true;
}

void BootDrive::serve()
{
    auto* session = fuse_get_session (fuse);
    fuse_buf buffer {};

    for (;;)
    {
        pollfd fds[2] = { { fuse_session_fd (session), POLLIN, 0 }, { wakeFd, POLLIN, 0 } };

        if (::poll (fds, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;

            break;
        }

        if (fds[1].revents != 0)
            break;

        const auto received = fuse_session_receive_buf (session, &buffer);

        if (received == -EINTR || received == -EAGAIN)
            continue;

        if (received <= 0)
            break;

        fuse_session_process_buf (session, &buffer);
    }

    std::free (buffer.mem);
}

void BootDrive::unmount()
{
    if (! mounted)
        return;

    mounted = false;

    // Detached at once, whatever is still open; closing the session's descriptor (in
    // fuse_destroy) then aborts the connection, so open files fail like those on a vanished disk.
    ::umount2 (options.mountPoint.c_str(), MNT_DETACH);

    const uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write (wakeFd, &one, sizeof (one));
    thread.join();
    ::close (wakeFd);
    wakeFd = -1;

    fuse_destroy (fuse);
    fuse = nullptr;

    std::error_code ignored;
    std::filesystem::remove (options.mountPoint, ignored);
}

std::optional<std::chrono::steady_clock::time_point> BootDrive::getCompletionTime() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return completionTime;
}

bool BootDrive::isCablePulled() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return cablePulled;
}

std::map<std::string, std::vector<uint8_t>> BootDrive::getWrittenFiles() const
{
    const std::lock_guard<std::mutex> guard (lock);
    std::map<std::string, std::vector<uint8_t>> written;

    for (const auto& entry : files)
        if (! entry.second.fromRom)
            written[entry.second.name] = entry.second.data;

    return written;
}
