#pragma once

#include "BootRom.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct fuse;

/** The RP2040 boot ROM's drive, served through FUSE: a root folder with the ROM's INFO_UF2.TXT
    and INDEX.HTM, into which files can be written. Every 512-byte sector of a written file goes
    to the boot ROM as the drive's block device would hand it over.
*/
class BootDrive
{
public:
    /** How the drive is mounted. */
    struct Options
    {
        /** Where it is mounted; the folder is made before and removed after, as udisks does. */
        std::string mountPoint;

        /** Mounted read-only: files can be read but not written. */
        bool readOnly = false;

        /** Bytes per second that a write proceeds at; 0 for no limit. */
        std::size_t bytesPerSecond = 0;

        /** The cable is pulled once the drive has taken this many bytes of files: the write
            that would go beyond fails with EIO, and so does every later use of the drive.
        */
        std::optional<std::size_t> cablePulledAfterBytes;
    };

    /** Reports something worth a line in the keyboard's event log. Called on the drive's thread. */
    using EventCallback = std::function<void (const std::string&)>;

    /** A drive that hands its sectors to `romToFeed`; not mounted yet. */
    BootDrive (BootRom& romToFeed, Options optionsToUse, EventCallback onEvent);

    /** Goes away like a drive that is unplugged, if it is still there. */
    ~BootDrive();

    /** Mounts the drive and starts serving it. False, with `error` set, when that fails. */
    bool mount (std::string& error);

    /** The drive vanishes: it leaves the mount table at once, and any file still open on it fails
        from then on, as on a device that has restarted.
    */
    void unmount();

    /** When the boot ROM had every block of its transfer; empty until then. */
    std::optional<std::chrono::steady_clock::time_point> getCompletionTime() const;

    /** True once the cable has been pulled (Options::cablePulledAfterBytes). */
    bool isCablePulled() const;

    /** The files written onto the drive, by name, with their content. */
    std::map<std::string, std::vector<uint8_t>> getWrittenFiles() const;

    /** Entry points of the FUSE operations; not for other use. */
    struct Operations;

private:
    struct File
    {
        std::string name;
        std::vector<uint8_t> data;
        bool fromRom = false;
    };

    void serve();
    void feedSector (const uint8_t* sector);

    BootRom& rom;
    Options options;
    EventCallback onEvent;

    mutable std::mutex lock;
    std::map<std::string, File> files;
    std::optional<std::chrono::steady_clock::time_point> completionTime;
    std::size_t bytesTaken = 0;
    bool cablePulled = false;

    struct fuse* fuse = nullptr;
    int wakeFd = -1;
    std::thread thread;
    bool mounted = false;
};
