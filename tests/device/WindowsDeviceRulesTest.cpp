#include "device/SerialPortDiscovery.h"
#include "device/windows/DeviceRules.h"

#include <gtest/gtest.h>

#include <map>

using namespace windowsDevice;

TEST (WindowsDeviceRules, PatternOfTheKeyboardsIdentity)
{
    EXPECT_EQ (usbIdentityPattern (keyboardVendorId, keyboardProductId), L"VID_16D0&PID_13A1");
    EXPECT_EQ (usbIdentityPattern (0x0A, 0xBEEF), L"VID_000A&PID_BEEF");
}

TEST (WindowsDeviceRules, InstanceIdentifiersThatNameTheKeyboard)
{
    const std::pair<const wchar_t*, bool> cases[] = {
        { L"USB\\VID_16D0&PID_13A1\\E6614103E7452D2F", true },
        { L"usb\\vid_16d0&pid_13a1\\e6614103e7452d2f", true }, // upper-cased before the search
        { L"USB\\VID_16D0&PID_13A1&MI_00\\7&1A2B3C4D&0&0000", true }, // one interface of a composite device
        { L"FTDIBUS\\VID_16D0+PID_13A1+A50285BIA\\0000", false }, // another driver's spelling
        { L"USB\\VID_16D0&PID_13A2\\1", false }, // same maker, another product
        { L"USB\\VID_16D1&PID_13A1\\1", false },
        { L"ACPI\\PNP0501\\1", false },
        { L"", false },
    };

    for (const auto& [id, expected] : cases)
        EXPECT_EQ (instanceIdNamesDevice (id, keyboardVendorId, keyboardProductId), expected) << "case of length " << std::wstring (id).size();
}

TEST (WindowsDeviceRules, PortNamesAsStoredInTheRegistry)
{
    const std::string thirtyChars (30, 'P');
    const std::pair<std::string, std::string> cases[] = {
        { std::string ("COM5\0", 5), "COM5" },
        { "COM5", "COM5" }, // stored without its terminator
        { std::string ("COM12\0junk", 10), "COM12" },
        { std::string ("\0", 1), "" }, // empty: the device is passed over
        { "", "" },
        { thirtyChars + '\0', thirtyChars }, // 31 bytes: fits whole
        { thirtyChars + "Q" + '\0', "" }, // 32 bytes: not read, never cut short
        { std::string (40, 'C'), "" },
    };

    for (const auto& [stored, expected] : cases)
        EXPECT_EQ (portNameFromRegistryValue (stored), expected) << stored.size() << " bytes";
}

TEST (WindowsDeviceRules, EveryPortIsOpenedThroughTheDevicePrefix)
{
    EXPECT_EQ (devicePathForPort ("COM5"), "\\\\.\\COM5");
    EXPECT_EQ (devicePathForPort ("COM10"), "\\\\.\\COM10");
    EXPECT_EQ (devicePathForPort ("COM256"), "\\\\.\\COM256");
}

TEST (WindowsDeviceRules, CandidateDrivesInLetterOrder)
{
    const std::map<std::string, DriveType> types {
        { "A:\\", DriveType::removable },
        { "C:\\", DriveType::fixed },
        { "D:\\", DriveType::cdrom },
        { "E:\\", DriveType::removable },
        { "F:\\", DriveType::remote },
        { "G:\\", DriveType::noRootDir },
        { "H:\\", DriveType::unknown },
        { "R:\\", DriveType::ramdisk },
        { "Z:\\", DriveType::fixed },
    };
    std::vector<std::string> asked;
    const auto typeOf = [&] (const std::string& root)
    {
        asked.push_back (root);
        return types.at (root);
    };

    std::uint32_t mask = 0;
    for (const auto& [root, type] : types)
        mask |= 1u << (root[0] - 'A');

    EXPECT_EQ (candidateDriveRoots (mask, typeOf),
               (std::vector<std::string> { "A:\\", "C:\\", "E:\\", "H:\\", "R:\\", "Z:\\" }));
    EXPECT_EQ (asked.size(), types.size());

    asked.clear();
    EXPECT_TRUE (candidateDriveRoots (0, typeOf).empty());
    EXPECT_TRUE (asked.empty());

    // Bits above Z are not drive letters.
    EXPECT_EQ (candidateDriveRoots (0xFC000000u | (1u << 4), typeOf), (std::vector<std::string> { "E:\\" }));
}
