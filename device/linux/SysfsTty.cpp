#include "device/linux/SysfsTty.h"

#include "device/linux/NaturalOrder.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sysfs
{

namespace
{
// ttyUSB ports sit one level below their interface, ACM ports at it; the USB device is its
// parent. A few levels more would only reach hubs and controllers, never the right device.
constexpr int maxLevelsAboveDevice = 3;

std::optional<std::string> readSmallFile (const std::string& path)
{
    std::ifstream in (path);
    std::string text;

    if (! in || ! std::getline (in, text))
        return std::nullopt;

    return text;
}

std::optional<UsbTty> readUsbTty (const std::string& ttyClassDir, const std::string& name)
{
    // The kernel resolves the links and the ".." steps, one call per level; virtual ttys have
    // no device link and cost one call.
    const auto device = ttyClassDir + "/" + name + "/device/";

    if (::access (device.c_str(), F_OK) != 0)
        return std::nullopt;

    std::string up;

    for (int level = 0; level <= maxLevelsAboveDevice; ++level, up += "../")
    {
        const auto vendorPath = device + up + "idVendor";
        const auto productPath = device + up + "idProduct";

        if (::access (vendorPath.c_str(), F_OK) != 0 || ::access (productPath.c_str(), F_OK) != 0)
            continue;

        const auto vendorText = readSmallFile (vendorPath);
        const auto productText = readSmallFile (productPath);
        const auto vendor = vendorText ? parseUsbId (*vendorText) : std::nullopt;
        const auto product = productText ? parseUsbId (*productText) : std::nullopt;

        // The first directory with an identity is the USB device; an unreadable one ends
        // the walk rather than letting a hub further up stand in for it.
        if (! vendor || ! product)
            return std::nullopt;

        return UsbTty { name, *vendor, *product };
    }

    return std::nullopt;
}
} // namespace

std::optional<int> parseUsbId (const std::string& text)
{
    auto end = text.find_last_not_of (" \t\r\n");

    if (end == std::string::npos)
        return std::nullopt;

    const auto digits = text.substr (0, end + 1);

    if (digits.size() > 4
        || ! std::all_of (digits.begin(), digits.end(), [] (unsigned char c)
                          { return std::isxdigit (c) != 0; }))
        return std::nullopt;

    return static_cast<int> (std::strtol (digits.c_str(), nullptr, 16));
}

std::vector<UsbTty> listUsbTtys (const std::string& ttyClassDir)
{
    std::vector<std::string> names;

    if (auto* dir = opendir (ttyClassDir.c_str()))
    {
        while (const auto* entry = readdir (dir))
        {
            const std::string name (entry->d_name);

            if (name != "." && name != "..")
                names.push_back (name);
        }

        closedir (dir);
    }

    std::sort (names.begin(), names.end(), naturalLess);

    std::vector<UsbTty> ttys;

    for (const auto& name : names)
        if (auto tty = readUsbTty (ttyClassDir, name))
            ttys.push_back (std::move (*tty));

    return ttys;
}

std::string findUsbSerialPort (const std::string& ttyClassDir,
                               const std::string& devDir,
                               int vendorId,
                               int productId)
{
    for (const auto& tty : listUsbTtys (ttyClassDir))
    {
        if (tty.vendorId != vendorId || tty.productId != productId)
            continue;

        // The class entry and the node come and go at slightly different moments; only a port
        // that can be opened now counts.
        const auto node = devDir + "/" + tty.name;
        struct stat info = {};

        if (stat (node.c_str(), &info) == 0 && S_ISCHR (info.st_mode))
            return node;
    }

    return {};
}

} // namespace sysfs
