#include "device/linux/MountTable.h"

#include "device/linux/NaturalOrder.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace mounts
{

namespace
{
bool isOctalDigit (char c) { return c >= '0' && c <= '7'; }

std::vector<std::string> splitOnSpaces (const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in (line);

    for (std::string field; in >> field;)
        fields.push_back (field);

    return fields;
}

std::optional<std::pair<unsigned int, unsigned int>> parseDeviceNumbers (const std::string& text)
{
    const auto colon = text.find (':');

    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        return std::nullopt;

    const auto parse = [] (const std::string& digits) -> std::optional<unsigned int>
    {
        if (digits.empty() || digits.size() > 9
            || ! std::all_of (digits.begin(), digits.end(), [] (char c)
                              { return c >= '0' && c <= '9'; }))
            return std::nullopt;

        return static_cast<unsigned int> (std::stoul (digits));
    };

    const auto major = parse (text.substr (0, colon));
    const auto minor = parse (text.substr (colon + 1));

    if (! major || ! minor)
        return std::nullopt;

    return std::make_pair (*major, *minor);
}

bool startsWith (const std::string& text, const char* prefix)
{
    return text.rfind (prefix, 0) == 0;
}
} // namespace

std::string decodeOctalEscapes (const std::string& field)
{
    std::string decoded;
    decoded.reserve (field.size());

    for (std::size_t i = 0; i < field.size(); ++i)
    {
        if (field[i] == '\\' && i + 3 < field.size() && isOctalDigit (field[i + 1]) && isOctalDigit (field[i + 2]) && isOctalDigit (field[i + 3]))
        {
            decoded += static_cast<char> (((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
            i += 3;
        }
        else
        {
            decoded += field[i];
        }
    }

    return decoded;
}

std::vector<MountEntry> parseMountInfo (const std::string& text)
{
    // mount-id parent-id major:minor root mount-point options [optional fields...] - type source super-options
    std::vector<MountEntry> entries;
    std::istringstream lines (text);

    for (std::string line; std::getline (lines, line);)
    {
        const auto fields = splitOnSpaces (line);

        if (fields.size() < 7)
            continue;

        const auto separator = std::find (fields.begin() + 6, fields.end(), "-");

        if (separator == fields.end() || std::next (separator) == fields.end())
            continue;

        const auto device = parseDeviceNumbers (fields[2]);

        if (! device || fields[4].empty() || fields[4][0] != '/')
            continue;

        MountEntry entry;
        entry.deviceMajor = device->first;
        entry.deviceMinor = device->second;
        entry.mountPoint = decodeOctalEscapes (fields[4]);
        entry.fsType = decodeOctalEscapes (*std::next (separator));
        entries.push_back (std::move (entry));
    }

    return entries;
}

bool isLocalVolume (const std::string& fsType)
{
    static constexpr std::array refused {
        // network
        "afs",
        "ceph",
        "cifs",
        "coda",
        "davfs",
        "fuse.davfs",
        "fuse.glusterfs",
        "fuse.gvfsd-fuse",
        "fuse.rclone",
        "fuse.s3fs",
        "fuse.sshfs",
        "glusterfs",
        "lustre",
        "ncp",
        "ncpfs",
        "smb3",
        "smbfs",
        "sshfs",
        // optical
        "iso9660",
        "udf",
        // pseudo filesystems and the automounter
        "autofs",
        "binfmt_misc",
        "bpf",
        "cgroup",
        "cgroup2",
        "configfs",
        "debugfs",
        "devpts",
        "devtmpfs",
        "efivarfs",
        "fusectl",
        "hugetlbfs",
        "mqueue",
        "nsfs",
        "proc",
        "pstore",
        "rpc_pipefs",
        "securityfs",
        "selinuxfs",
        "sysfs",
        "tracefs",
    };

    // nfs, nfs4 and 9p come in several spellings.
    if (startsWith (fsType, "nfs") || startsWith (fsType, "9p"))
        return false;

    return std::none_of (refused.begin(), refused.end(), [&] (const char* name)
                         { return fsType == name; });
}

std::optional<MountEntry> findVisibleMount (const std::vector<MountEntry>& entries, const std::string& mountPoint)
{
    const auto found = std::find_if (entries.rbegin(), entries.rend(), [&] (const MountEntry& entry)
                                     { return entry.mountPoint == mountPoint; });

    if (found == entries.rend())
        return std::nullopt;

    return *found;
}

std::vector<MountEntry> listLocalVolumeMounts (const std::vector<MountEntry>& entries)
{
    // A later mount on the same point hides the earlier ones, so the last entry decides: an
    // autofs trigger or a network share mounted over a folder keeps it out.
    std::map<std::string, const MountEntry*, decltype (&naturalLess)> visible (&naturalLess);

    for (const auto& entry : entries)
        visible[entry.mountPoint] = &entry;

    std::vector<MountEntry> mounts;

    for (const auto& [mountPoint, entry] : visible)
        if (isLocalVolume (entry->fsType))
            mounts.push_back (*entry);

    return mounts;
}

std::vector<std::string> listLocalVolumes (const std::vector<MountEntry>& entries)
{
    std::vector<std::string> mountPoints;

    for (const auto& entry : listLocalVolumeMounts (entries))
        mountPoints.push_back (entry.mountPoint);

    return mountPoints;
}

std::string deviceNumberOf (const MountEntry& entry)
{
    return std::to_string (entry.deviceMajor) + ":" + std::to_string (entry.deviceMinor);
}

std::string readMountTable (const std::string& path)
{
    // /proc files report a size of 0, so read to the end rather than by size.
    std::ifstream in (path);
    return std::string (std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>());
}

} // namespace mounts
