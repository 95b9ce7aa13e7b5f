#include "device/windows/WindowsDeviceNames.h"

#include "device/SerialPortDiscovery.h"

#include <algorithm>
#include <cstdio>

namespace windevice
{

namespace
{
// Upper case for ASCII letters only: the pattern is ASCII, and neither a locale nor a
// character that some mapping turns into an ASCII letter may make another device match.
char16_t toUpperAscii (char16_t c)
{
    return c >= u'a' && c <= u'z' ? static_cast<char16_t> (c - u'a' + u'A') : c;
}
} // namespace

std::string keyboardIdentityPattern()
{
    char pattern[32] = {};
    std::snprintf (pattern, sizeof (pattern), "VID_%04X&PID_%04X", keyboardVendorId, keyboardProductId);
    return pattern;
}

bool isKeyboardInstanceId (const std::u16string& instanceId)
{
    const auto pattern = keyboardIdentityPattern();
    const std::u16string widePattern (pattern.begin(), pattern.end());

    std::u16string upper (instanceId);
    std::transform (upper.begin(), upper.end(), upper.begin(), toUpperAscii);

    return upper.find (widePattern) != std::u16string::npos;
}

std::string portNameFromValue (std::uint32_t type, const std::string& stored)
{
    if (type != registryText && type != registryExpandableText && type != registryTextList)
        return {};

    // A value may be stored with or without its terminator; the name ends at the first zero.
    const auto name = stored.substr (0, stored.find ('\0'));

    if (name.empty() || name.size() > maxPortNameLength)
        return {};

    const auto isPlain = std::all_of (name.begin(), name.end(), [] (char c)
                                      {
                                          const auto u = static_cast<unsigned char> (c);
                                          return u > 0x20 && u < 0x7f && c != '\\' && c != '/' && c != ':'; });

    return isPlain ? name : std::string();
}

std::string devicePathForPort (const std::string& portName)
{
    return "\\\\.\\" + portName;
}

bool isExaminedDriveType (unsigned int driveType)
{
    return driveType != driveNoRootDir && driveType != driveRemote && driveType != driveCdRom;
}

std::vector<std::string> candidateDriveRoots (std::uint32_t logicalDrives,
                                              const std::function<unsigned int (const std::string& root)>& driveTypeOf)
{
    std::vector<std::string> roots;

    for (int letter = 0; letter < 26; ++letter)
    {
        if ((logicalDrives & (std::uint32_t { 1 } << letter)) == 0)
            continue;

        const std::string root { static_cast<char> ('A' + letter), ':', '\\' };

        if (isExaminedDriveType (driveTypeOf (root)))
            roots.push_back (root);
    }

    return roots;
}

char driveLetterOfRoot (const std::string& root)
{
    if ((root.size() != 2 && ! (root.size() == 3 && root[2] == '\\')) || root[1] != ':')
        return 0;

    const auto letter = root[0];

    if (letter >= 'a' && letter <= 'z')
        return static_cast<char> (letter - 'a' + 'A');

    return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

std::string volumeIdentity (const std::string& volumeGuidPath, std::optional<std::uint32_t> serialNumber, char letter)
{
    if (! volumeGuidPath.empty())
        return volumeGuidPath;

    if (! serialNumber || letter == 0)
        return {};

    char identity[32] = {};
    std::snprintf (identity, sizeof (identity), "%c: serial %04X-%04X", letter, static_cast<unsigned int> (*serialNumber >> 16), static_cast<unsigned int> (*serialNumber & 0xffff));
    return identity;
}

} // namespace windevice
