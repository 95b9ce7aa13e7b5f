#include "device/linux/Udisks.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <sys/sysmacros.h>

namespace udisks
{

namespace
{
const char* const blockInterface = "org.freedesktop.UDisks2.Block";
const char* const filesystemInterface = "org.freedesktop.UDisks2.Filesystem";
const char* const driveInterface = "org.freedesktop.UDisks2.Drive";

// The RP2040 boot ROM's drive: FAT volume label, and its SCSI inquiry vendor and product.
const char* const bootRomLabel = "RPI-RP2";
const char* const bootRomVendor = "RPI";
const char* const bootRomModel = "RP2";

// A variant property of the expected D-Bus type, read into `value`; any other type is passed
// over. False only when the message is malformed.
template <typename Value>
bool readVariant (sd_bus_message* message, const char* signature, Value& value)
{
    const char* contents = nullptr;

    if (sd_bus_message_peek_type (message, nullptr, &contents) < 0 || contents == nullptr)
        return false;

    if (std::strcmp (contents, signature) != 0)
        return sd_bus_message_skip (message, "v") >= 0;

    if (sd_bus_message_enter_container (message, 'v', signature) < 0)
        return false;

    if constexpr (std::is_same_v<Value, std::string>)
    {
        const char* text = nullptr;

        if (sd_bus_message_read_basic (message, signature[0], &text) < 0)
            return false;

        value = text != nullptr ? text : "";
    }
    else if constexpr (std::is_same_v<Value, bool>)
    {
        int flag = 0;

        if (sd_bus_message_read_basic (message, 'b', &flag) < 0)
            return false;

        value = flag != 0;
    }
    else if constexpr (std::is_same_v<Value, std::uint64_t>)
    {
        if (sd_bus_message_read_basic (message, 't', &value) < 0)
            return false;
    }
    else
    {
        // aay: byte strings, each ending in a NUL that is not part of the text.
        static_assert (std::is_same_v<Value, std::vector<std::string>>);

        if (sd_bus_message_enter_container (message, 'a', "ay") < 0)
            return false;

        for (;;)
        {
            const void* bytes = nullptr;
            std::size_t size = 0;
            const int result = sd_bus_message_read_array (message, 'y', &bytes, &size);

            if (result < 0)
                return false;

            if (result == 0)
                break;

            std::string text (static_cast<const char*> (bytes), size);
            text.erase (std::find (text.begin(), text.end(), '\0'), text.end());
            value.push_back (std::move (text));
        }

        if (sd_bus_message_exit_container (message) < 0)
            return false;
    }

    return sd_bus_message_exit_container (message) >= 0;
}

struct ObjectProperties
{
    BlockDevice block;
    Drive drive;
    bool isBlock = false, isDrive = false;
};

bool readProperty (sd_bus_message* message, const std::string& interface, const std::string& name, ObjectProperties& object)
{
    auto& block = object.block;
    auto& drive = object.drive;

    if (interface == blockInterface)
    {
        if (name == "DeviceNumber")
        {
            std::uint64_t number = 0;

            if (! readVariant (message, "t", number))
                return false;

            block.identity = deviceIdentity (number);
            return true;
        }

        if (name == "IdLabel")
            return readVariant (message, "s", block.label);
        if (name == "IdType")
            return readVariant (message, "s", block.type);
        if (name == "IdUsage")
            return readVariant (message, "s", block.usage);
        if (name == "HintIgnore")
            return readVariant (message, "b", block.hintIgnore);
        if (name == "HintSystem")
            return readVariant (message, "b", block.hintSystem);
        if (name == "Drive")
            return readVariant (message, "o", block.drivePath);
    }
    else if (interface == filesystemInterface)
    {
        if (name == "MountPoints")
            return readVariant (message, "aay", block.mountPoints);
    }
    else if (interface == driveInterface)
    {
        if (name == "Vendor")
            return readVariant (message, "s", drive.vendor);
        if (name == "Model")
            return readVariant (message, "s", drive.model);
        if (name == "ConnectionBus")
            return readVariant (message, "s", drive.connectionBus);
        if (name == "Removable")
            return readVariant (message, "b", drive.removable);
        if (name == "TimeDetected")
            return readVariant (message, "t", drive.timeDetected);
    }

    return sd_bus_message_skip (message, "v") >= 0;
}

// One object: its path and a{sa{sv}}, interfaces with their properties.
bool readObject (sd_bus_message* message, ObjectProperties& object)
{
    const char* path = nullptr;

    if (sd_bus_message_read_basic (message, 'o', &path) < 0 || sd_bus_message_enter_container (message, 'a', "{sa{sv}}") < 0)
        return false;

    object.block.objectPath = object.drive.objectPath = path;

    for (;;)
    {
        const int entered = sd_bus_message_enter_container (message, 'e', "sa{sv}");

        if (entered < 0)
            return false;

        if (entered == 0)
            break;

        const char* interfaceName = nullptr;

        if (sd_bus_message_read_basic (message, 's', &interfaceName) < 0 || sd_bus_message_enter_container (message, 'a', "{sv}") < 0)
            return false;

        const std::string interface (interfaceName);
        object.isBlock = object.isBlock || interface == blockInterface;
        object.isDrive = object.isDrive || interface == driveInterface;
        object.block.hasFilesystem = object.block.hasFilesystem || interface == filesystemInterface;

        for (;;)
        {
            const int property = sd_bus_message_enter_container (message, 'e', "sv");

            if (property < 0)
                return false;

            if (property == 0)
                break;

            const char* name = nullptr;

            if (sd_bus_message_read_basic (message, 's', &name) < 0 || ! readProperty (message, interface, name, object)
                || sd_bus_message_exit_container (message) < 0)
                return false;
        }

        if (sd_bus_message_exit_container (message) < 0 || sd_bus_message_exit_container (message) < 0)
            return false;
    }

    return sd_bus_message_exit_container (message) >= 0;
}

std::string trimmed (const std::string& text)
{
    const auto first = text.find_first_not_of (" \t");

    if (first == std::string::npos)
        return {};

    return text.substr (first, text.find_last_not_of (" \t") - first + 1);
}

bool sameWord (const std::string& reported, const char* expected)
{
    const auto word = trimmed (reported);
    return word.size() == std::strlen (expected)
           && std::equal (word.begin(), word.end(), expected, [] (char a, char b)
                          { return std::toupper (static_cast<unsigned char> (a)) == std::toupper (static_cast<unsigned char> (b)); });
}
} // namespace

std::string deviceIdentity (std::uint64_t deviceNumber)
{
    const auto device = static_cast<dev_t> (deviceNumber);
    return std::to_string (major (device)) + ":" + std::to_string (minor (device));
}

bool parseManagedObjects (sd_bus_message* reply, ManagedObjects& objects)
{
    if (sd_bus_message_enter_container (reply, 'a', "{oa{sa{sv}}}") < 0)
        return false;

    for (;;)
    {
        const int entered = sd_bus_message_enter_container (reply, 'e', "oa{sa{sv}}");

        if (entered < 0)
            return false;

        if (entered == 0)
            break;

        ObjectProperties object;

        if (! readObject (reply, object) || sd_bus_message_exit_container (reply) < 0)
            return false;

        if (object.isBlock)
            objects.blocks.push_back (std::move (object.block));
        else if (object.isDrive)
            objects.drives.push_back (std::move (object.drive));
    }

    return sd_bus_message_exit_container (reply) >= 0;
}

bool isBootloaderFilesystem (const BlockDevice& block, const Drive* drive)
{
    return block.hasFilesystem
           && block.label == bootRomLabel
           && block.type == "vfat"
           && block.usage == "filesystem"
           && ! block.hintIgnore
           && ! block.hintSystem
           && ! block.identity.empty()
           && drive != nullptr
           && sameWord (drive->vendor, bootRomVendor)
           && sameWord (drive->model, bootRomModel)
           && drive->connectionBus == "usb";
}

const Drive* findDrive (const ManagedObjects& objects, const BlockDevice& block)
{
    for (const auto& drive : objects.drives)
        if (drive.objectPath == block.drivePath)
            return &drive;

    return nullptr;
}

std::string appearanceOf (const BlockDevice& block, const Drive* drive)
{
    return block.objectPath + " " + block.identity + " " + std::to_string (drive != nullptr ? drive->timeDetected : 0);
}

std::vector<std::string> chooseFilesystemsToMount (const ManagedObjects& objects,
                                                   const std::vector<std::string>& leaveAlone,
                                                   std::set<std::string>& asked)
{
    std::vector<std::string> chosen;
    std::set<std::string> present;

    for (const auto& block : objects.blocks)
    {
        const auto* drive = findDrive (objects, block);

        if (! isBootloaderFilesystem (block, drive))
            continue;

        const auto appearance = appearanceOf (block, drive);
        present.insert (appearance);

        // Seen mounted counts as asked: whoever unmounts it later meant to.
        if (! block.mountPoints.empty())
            asked.insert (appearance);

        if (asked.count (appearance) != 0 || std::find (leaveAlone.begin(), leaveAlone.end(), block.identity) != leaveAlone.end())
            continue;

        chosen.push_back (block.objectPath);
        asked.insert (appearance);
    }

    for (auto it = asked.begin(); it != asked.end();)
        it = present.count (*it) != 0 ? std::next (it) : asked.erase (it);

    return chosen;
}

std::vector<std::string> listBootloaderIdentities (const ManagedObjects& objects)
{
    std::vector<std::string> identities;

    for (const auto& block : objects.blocks)
        if (isBootloaderFilesystem (block, findDrive (objects, block)))
            identities.push_back (block.identity);

    return identities;
}

} // namespace udisks
