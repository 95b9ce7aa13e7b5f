#include "device/BootloaderDrive.h"

#include "device/Rp2BootloaderInfo.h"
#include "device/windows/WindowsDeviceNames.h"

#include <algorithm>

#include <windows.h>

namespace
{
/** While it lives, a drive without a medium (a card reader with no card, a drive that has just
    gone) fails the call at once instead of raising a system error dialog that waits for a user.
*/
class QuietDriveErrors
{
public:
    QuietDriveErrors() { SetThreadErrorMode (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous); }
    ~QuietDriveErrors() { SetThreadErrorMode (previous, nullptr); }

private:
    DWORD previous = 0;

    QuietDriveErrors (const QuietDriveErrors&) = delete;
    QuietDriveErrors& operator= (const QuietDriveErrors&) = delete;
};

std::string toUtf8 (const wchar_t* text)
{
    return juce::String (text).toStdString();
}

std::wstring toWide (const std::string& text)
{
    return juce::String (text).toWideCharPointer();
}

/** True when the folder (a drive root or a volume GUID path, with its trailing backslash) holds a
    regular file INFO_UF2.TXT whose text names the RP2040's bootloader.
*/
bool holdsRp2BootloaderInfo (const std::wstring& root)
{
    const auto path = root + toWide (uf2InfoFileName);

    // A folder of that name does not open without FILE_FLAG_BACKUP_SEMANTICS.
    const auto file = CreateFileW (path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);

    if (file == INVALID_HANDLE_VALUE)
        return false;

    std::string text;

    if (GetFileType (file) == FILE_TYPE_DISK)
    {
        text.resize (maxUf2InfoFileSize);
        std::size_t filled = 0;

        while (filled < text.size())
        {
            DWORD count = 0;

            if (! ReadFile (file, text.data() + filled, static_cast<DWORD> (text.size() - filled), &count, nullptr) || count == 0)
                break;

            filled += count;
        }

        text.resize (filled);
    }

    CloseHandle (file);
    return namesRp2Bootloader (text);
}

/** The identity of the volume at a drive root (E:\); empty when Windows can say nothing of it. */
std::string volumeIdentityAt (const std::string& root)
{
    const auto wideRoot = toWide (root);

    wchar_t guidPath[MAX_PATH] = {};
    std::string volumeName;

    if (GetVolumeNameForVolumeMountPointW (wideRoot.c_str(), guidPath, MAX_PATH))
        volumeName = toUtf8 (guidPath);

    DWORD serial = 0;
    std::optional<std::uint32_t> serialNumber;

    if (GetVolumeInformationW (wideRoot.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        serialNumber = serial;

    return windevice::volumeIdentity (volumeName, serialNumber, windevice::driveLetterOfRoot (root));
}

std::vector<std::string> listCandidateRoots()
{
    return windevice::candidateDriveRoots (GetLogicalDrives(), [] (const std::string& root)
                                           { return GetDriveTypeA (root.c_str()); });
}

bool isListed (const std::vector<BootloaderDrive>& drives, const std::string& identity)
{
    return std::any_of (drives.begin(), drives.end(), [&] (const BootloaderDrive& drive)
                        { return drive.identity == identity; });
}
} // namespace

std::vector<std::string> listCandidateDrives()
{
    QuietDriveErrors quiet;
    return listCandidateRoots();
}

std::vector<BootloaderDrive> listBootloaderDrives()
{
    QuietDriveErrors quiet;
    std::vector<BootloaderDrive> drives;

    for (const auto& root : listCandidateRoots())
    {
        if (! holdsRp2BootloaderInfo (toWide (root)))
            continue;

        auto identity = volumeIdentityAt (root);

        if (! identity.empty() && ! isListed (drives, identity))
            drives.push_back ({ std::move (identity), juce::File (juce::String (root)) });
    }

    // Volumes without a drive letter (yet) are known by their volume GUID path, through which
    // their files can be read all the same.
    wchar_t volumeName[MAX_PATH] = {};
    const auto search = FindFirstVolumeW (volumeName, MAX_PATH);

    if (search != INVALID_HANDLE_VALUE)
    {
        do
        {
            auto identity = toUtf8 (volumeName);

            if (! isListed (drives, identity)
                && windevice::isExaminedDriveType (GetDriveTypeW (volumeName))
                && holdsRp2BootloaderInfo (volumeName))
                drives.push_back ({ std::move (identity), {} });
        } while (FindNextVolumeW (search, volumeName, MAX_PATH));

        FindVolumeClose (search);
    }

    return drives;
}

bool isOnDrive (const BootloaderDrive& drive, const juce::File& item)
{
    const auto& root = drive.root;

    if (drive.identity.empty() || root == juce::File() || ! (item == root || item.isAChildOf (root)))
        return false;

    const auto letter = windevice::driveLetterOfRoot (root.getFullPathName().toStdString());

    if (letter == 0)
        return false;

    QuietDriveErrors quiet;
    const std::string rootPath { letter, ':', '\\' };

    if (! windevice::isExaminedDriveType (GetDriveTypeA (rootPath.c_str())) || volumeIdentityAt (rootPath) != drive.identity)
        return false;

    // The item must lie on the volume at the letter itself, not on one mounted in a folder of it.
    wchar_t volumePath[MAX_PATH] = {};

    if (! GetVolumePathNameW (item.getFullPathName().toWideCharPointer(), volumePath, MAX_PATH))
        return false;

    return juce::String (volumePath).equalsIgnoreCase (juce::String (rootPath));
}

// Windows gives a new volume its letter by itself; there is no disk service of its own to ask.
// With no list to tell old drives from new, the sequence then never asks for a mount.
int mountNewBootloaderDrives (const std::vector<std::string>&)
{
    return 0;
}

std::optional<std::vector<std::string>> listKnownBootloaderDrives()
{
    return std::nullopt;
}
