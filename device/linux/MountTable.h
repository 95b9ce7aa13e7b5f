#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mounts
{

/** One line of a mountinfo table (/proc/self/mountinfo), text fields decoded. */
struct MountEntry
{
    /** Major and minor number of the mounted filesystem's device, as stat reports in st_dev. */
    unsigned int deviceMajor = 0, deviceMinor = 0;

    /** Where the filesystem is mounted. */
    std::string mountPoint;

    /** The filesystem type, e.g. vfat, nfs4, fuse.sshfs. */
    std::string fsType;
};

/** Turns the table's octal escapes (\040 for a space, \011, \012, \134) back into characters. */
std::string decodeOctalEscapes (const std::string& field);

/** Parses the text of a mountinfo table, in table order. Lines that do not parse are skipped. */
std::vector<MountEntry> parseMountInfo (const std::string& text);

/** False for filesystems that are not local volumes: network filesystems (slow, and never the
    keyboard), optical ones, kernel pseudo filesystems and autofs (touching an autofs mount
    point can start a network mount).
*/
bool isLocalVolume (const std::string& fsType);

/** The mount that is visible at a path: the last entry mounted there, since a later mount on
    the same point hides the earlier ones.
*/
std::optional<MountEntry> findVisibleMount (const std::vector<MountEntry>& entries, const std::string& mountPoint);

/** The visible mounts of local volumes (the last entry on each mount point), each mount point
    once, in natural order of their paths.
*/
std::vector<MountEntry> listLocalVolumeMounts (const std::vector<MountEntry>& entries);

/** The mount points of the visible local volumes, each once, in natural order of their paths. */
std::vector<std::string> listLocalVolumes (const std::vector<MountEntry>& entries);

/** The entry's device number as "major:minor" in decimal, as the table prints it. */
std::string deviceNumberOf (const MountEntry& entry);

/** Reads a mount table file whole; empty when it cannot be read. */
std::string readMountTable (const std::string& path);

} // namespace mounts
