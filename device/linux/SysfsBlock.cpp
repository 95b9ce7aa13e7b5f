#include "device/linux/SysfsBlock.h"

#include "device/linux/NaturalOrder.h"
#include "device/linux/SysfsTty.h"

#include <algorithm>
#include <fstream>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sysfs
{

namespace
{
// The disk's `device` is its SCSI device; above it come the target, the host, the USB interface
// and then the USB device. A few levels more reach only hubs and controllers.
constexpr int maxLevelsAboveDevice = 5;

std::string readFirstLine (const std::string& path)
{
    std::ifstream in (path);
    std::string text;
    std::getline (in, text);
    return text;
}

bool exists (const std::string& path)
{
    return ::access (path.c_str(), F_OK) == 0;
}

std::string trimmed (const std::string& text)
{
    const auto first = text.find_first_not_of (" \t\r\n");

    if (first == std::string::npos)
        return {};

    return text.substr (first, text.find_last_not_of (" \t\r\n") - first + 1);
}

std::vector<std::string> listNames (const std::string& folder)
{
    std::vector<std::string> names;

    if (auto* dir = ::opendir (folder.c_str()))
    {
        while (const auto* entry = ::readdir (dir))
        {
            const std::string name (entry->d_name);

            if (name != "." && name != "..")
                names.push_back (name);
        }

        ::closedir (dir);
    }

    std::sort (names.begin(), names.end(), naturalLess);
    return names;
}

bool belongsToBootRom (const std::string& diskDir)
{
    const auto device = diskDir + "/device/";

    if (! exists (device))
        return false;

    if (isRp2BootRomDisk (readFirstLine (device + "vendor"), readFirstLine (device + "model")))
        return true;

    std::string up;

    for (int level = 0; level <= maxLevelsAboveDevice; ++level, up += "../")
    {
        const auto vendorPath = device + up + "idVendor";
        const auto productPath = device + up + "idProduct";

        if (! exists (vendorPath) || ! exists (productPath))
            continue;

        // The first folder with an identity is the USB device; a hub further up never stands in.
        const auto vendor = parseUsbId (readFirstLine (vendorPath));
        const auto product = parseUsbId (readFirstLine (productPath));
        return vendor && product && isRp2BootRomUsbId (*vendor, *product);
    }

    return false;
}
} // namespace

std::string parseDeviceNumber (const std::string& text)
{
    const auto number = trimmed (text);
    const auto colon = number.find (':');

    const auto isDecimal = [] (const std::string& digits)
    {
        return ! digits.empty() && digits.size() <= 9
               && std::all_of (digits.begin(), digits.end(), [] (char c)
                               { return c >= '0' && c <= '9'; });
    };

    if (colon == std::string::npos || ! isDecimal (number.substr (0, colon)) || ! isDecimal (number.substr (colon + 1)))
        return {};

    // Leading zeros would make the same device look like another one.
    return std::to_string (std::stoul (number.substr (0, colon))) + ":" + std::to_string (std::stoul (number.substr (colon + 1)));
}

bool isRp2BootRomDisk (const std::string& vendor, const std::string& model)
{
    return trimmed (vendor) == "RPI" && trimmed (model).rfind ("RP2", 0) == 0;
}

bool isRp2BootRomUsbId (int vendorId, int productId)
{
    return vendorId == 0x2e8a && (productId == 0x0003 || productId == 0x000f);
}

std::vector<std::string> listRp2BootRomBlockDevices (const std::string& blockClassDir)
{
    std::vector<std::string> numbers;

    for (const auto& disk : listNames (blockClassDir))
    {
        const auto diskDir = blockClassDir + "/" + disk;

        if (! belongsToBootRom (diskDir))
            continue;

        if (const auto number = parseDeviceNumber (readFirstLine (diskDir + "/dev")); ! number.empty())
            numbers.push_back (number);

        // The partitions are folders of the disk that have a `partition` file.
        for (const auto& name : listNames (diskDir))
        {
            const auto partitionDir = diskDir + "/" + name;

            if (! exists (partitionDir + "/partition"))
                continue;

            if (const auto number = parseDeviceNumber (readFirstLine (partitionDir + "/dev")); ! number.empty())
                numbers.push_back (number);
        }
    }

    return numbers;
}

bool mayBlockDeviceExist (const std::string& devBlockDir, const std::string& deviceNumber)
{
    if (deviceNumber.rfind ("0:", 0) == 0)
        return true;

    struct stat info = {};

    if (::stat (devBlockDir.c_str(), &info) != 0 || ! S_ISDIR (info.st_mode))
        return true;

    return exists (devBlockDir + "/" + deviceNumber);
}

} // namespace sysfs
