#include "device/windows/DeviceRules.h"

#include <cwctype>

namespace windowsDevice
{
namespace
{
std::wstring hex4 (int value)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text (4, L'0');

    for (int i = 3; i >= 0; --i, value >>= 4)
        text[(size_t) i] = digits[value & 0xF];

    return text;
}
} // namespace

std::wstring usbIdentityPattern (int vendorId, int productId)
{
    return L"VID_" + hex4 (vendorId) + L"&PID_" + hex4 (productId);
}

bool instanceIdNamesDevice (const std::wstring& instanceId, int vendorId, int productId)
{
    std::wstring upper (instanceId);

    for (auto& c : upper)
        c = (wchar_t) std::towupper ((std::wint_t) c);

    return upper.find (usbIdentityPattern (vendorId, productId)) != std::wstring::npos;
}

std::string portNameFromRegistryValue (const std::string& storedBytes)
{
    if (storedBytes.size() > portNameCapacity - 1)
        return {};

    return storedBytes.substr (0, storedBytes.find ('\0'));
}

std::string devicePathForPort (const std::string& portName)
{
    return "\\\\.\\" + portName;
}

std::vector<std::string> candidateDriveRoots (std::uint32_t logicalDrives,
                                              const std::function<DriveType (const std::string& root)>& typeOf)
{
    std::vector<std::string> roots;

    for (int letter = 0; letter < 26; ++letter)
    {
        if ((logicalDrives & (1u << letter)) == 0)
            continue;

        const std::string root { (char) ('A' + letter), ':', '\\' };
        const auto type = typeOf (root);

        if (type != DriveType::noRootDir && type != DriveType::remote && type != DriveType::cdrom)
            roots.push_back (root);
    }

    return roots;
}
} // namespace windowsDevice
