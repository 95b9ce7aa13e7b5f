#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

/** What the Windows device layer makes of the names, values and masks that Windows hands it.
    Nothing here calls Windows, so the rules are tested on every system.
*/
namespace windevice
{

/** The hardware identity of the keyboard as it stands in a device instance identifier:
    VID_16D0&PID_13A1.
*/
std::string keyboardIdentityPattern();

/** True when a device instance identifier (UTF-16, as the Setup API gives it) carries the
    keyboard's identity anywhere in it, in any letter case: USB\VID_16D0&PID_13A1\... as well as
    one interface of a composite device, USB\VID_16D0&PID_13A1&MI_00\...
*/
bool isKeyboardInstanceId (const std::u16string& instanceId);

/** Registry value types that hold text (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ). */
enum RegistryTextType : std::uint32_t
{
    registryText = 1,
    registryExpandableText = 2,
    registryTextList = 7
};

/** The longest port name taken; a longer value is passed over whole rather than cut. */
inline constexpr std::size_t maxPortNameLength = 30;

/** The port name held by a "PortName" registry value of the given type, `stored` being its bytes
    as read. Empty (the device is passed over) for a value that is not text, is empty, is longer
    than maxPortNameLength, or holds something other than a plain device name (a control
    character, a path separator or a colon), which could lead the device path elsewhere.
*/
std::string portNameFromValue (std::uint32_t type, const std::string& stored);

/** The path that opens a port by name, with the device namespace prefix (\\.\COM10): without it
    only COM1 to COM9 open.
*/
std::string devicePathForPort (const std::string& portName);

/** Drive types as GetDriveType reports them. */
enum DriveType : unsigned int
{
    driveUnknown = 0,
    driveNoRootDir = 1,
    driveRemovable = 2,
    driveFixed = 3,
    driveRemote = 4,
    driveCdRom = 5,
    driveRamDisk = 6
};

/** False for drives that are never examined: no root folder, network, optical. Everything
    else, fixed disks and unknown types included, may hold a bootloader drive.
*/
bool isExaminedDriveType (unsigned int driveType);

/** The roots (E:\) of the drive letters set in a GetLogicalDrives mask, A to Z, leaving out
    the types isExaminedDriveType refuses. `driveTypeOf` is asked once per letter present.
*/
std::vector<std::string> candidateDriveRoots (std::uint32_t logicalDrives,
                                              const std::function<unsigned int (const std::string& root)>& driveTypeOf);

/** The drive letter of a drive root as a juce::File holds it (E:) or as written (E:\), in
    upper case; 0 for anything else.
*/
char driveLetterOfRoot (const std::string& root);

/** What tells a volume apart: its volume GUID path (\\?\Volume{...}\) when Windows gives one,
    else its serial number together with its letter (two boot ROMs may well share a serial);
    empty when there is neither, and then the volume cannot be told apart and is not taken.
*/
std::string volumeIdentity (const std::string& volumeGuidPath, std::optional<std::uint32_t> serialNumber, char letter);

} // namespace windevice
