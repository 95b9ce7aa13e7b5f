#include "device/SerialPortDiscovery.h"

#include "device/windows/WindowsDeviceNames.h"

#include <windows.h>

#include <setupapi.h>

namespace
{
// The Ports device setup class (serial and parallel ports): {4D36E978-E325-11CE-BFC1-08002BE10318}.
const GUID portsClass = { 0x4d36e978, 0xe325, 0x11ce, { 0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18 } };

// Room for a name longer than any taken, so that a long one reads whole and is refused as such.
constexpr DWORD portNameBufferSize = 64;

std::string readPortName (HKEY key)
{
    char buffer[portNameBufferSize] = {};
    DWORD type = 0;
    DWORD size = sizeof (buffer);

    if (RegQueryValueExA (key, "PortName", nullptr, &type, reinterpret_cast<BYTE*> (buffer), &size) != ERROR_SUCCESS)
        return {};

    return windevice::portNameFromValue (type, std::string (buffer, std::min<DWORD> (size, sizeof (buffer))));
}
} // namespace

std::string findSerialPort()
{
    const auto devices = SetupDiGetClassDevsW (&portsClass, nullptr, nullptr, DIGCF_PRESENT);

    if (devices == INVALID_HANDLE_VALUE)
        return {};

    std::string portName;

    for (DWORD index = 0; portName.empty(); ++index)
    {
        SP_DEVINFO_DATA device {};
        device.cbSize = sizeof (device);

        if (! SetupDiEnumDeviceInfo (devices, index, &device))
            break;

        wchar_t instanceId[512] = {};

        if (! SetupDiGetDeviceInstanceIdW (devices, &device, instanceId, 512, nullptr))
            continue;

        static_assert (sizeof (wchar_t) == sizeof (char16_t));

        if (! windevice::isKeyboardInstanceId (reinterpret_cast<const char16_t*> (instanceId)))
            continue;

        // The device's hardware key, where the port class installer keeps PortName.
        const auto key = SetupDiOpenDevRegKey (devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);

        if (key == INVALID_HANDLE_VALUE)
            continue;

        portName = readPortName (key);
        RegCloseKey (key);
    }

    SetupDiDestroyDeviceInfoList (devices);
    return portName;
}
