#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/** The decisions of the Windows device layer, kept apart from the Windows calls around them so
    that they can be tested on any system.
*/
namespace windowsDevice
{
/** The text that a USB device's instance identifier carries for the given identity, in upper
    case: "VID_16D0&PID_13A1" for 0x16D0 and 0x13A1.
*/
std::wstring usbIdentityPattern (int vendorId, int productId);

/** True when the instance identifier, upper-cased, holds the identity's pattern anywhere: the
    device itself (USB\VID_16D0&PID_13A1\...) or one interface of it (...&MI_00\...).
*/
bool instanceIdNamesDevice (const std::wstring& instanceId, int vendorId, int productId);

/** The room the port name has when read from the registry, its terminator included. */
inline constexpr std::size_t portNameCapacity = 32;

/** The port name from the bytes of the "PortName" value as stored: the text up to the first zero
    byte. Empty (the device is passed over) when the value does not fit in 31 bytes, so that a
    name is never cut short into the name of another port.
*/
std::string portNameFromRegistryValue (const std::string& storedBytes);

/** The path that opens a serial port of any number: "\\.\" and the name. COM10 and up cannot be
    opened by their bare name; COM1 to COM9 open alike through the prefix.
*/
std::string devicePathForPort (const std::string& portName);

/** Drive types as GetDriveTypeA reports them. */
enum class DriveType : unsigned
{
    unknown = 0,
    noRootDir = 1,
    removable = 2,
    fixed = 3,
    remote = 4,
    cdrom = 5,
    ramdisk = 6
};

/** The roots ("E:\") of the drives in the logical drive mask (bit 0 for A) that may be a
    bootloader drive, in letter order: network and optical drives, and letters without a root,
    are left out. `typeOf` is asked once per present letter.
*/
std::vector<std::string> candidateDriveRoots (std::uint32_t logicalDrives,
                                              const std::function<DriveType (const std::string& root)>& typeOf);
} // namespace windowsDevice
