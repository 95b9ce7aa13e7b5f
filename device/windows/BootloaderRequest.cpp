#include "device/windows/BootloaderRequest.h"

#include "device/windows/WindowsDeviceNames.h"

namespace windevice
{

bool sendBootloaderRequest (SerialLine& line, const std::string& portName)
{
    if (portName.empty() || portNameFromValue (registryText, portName) != portName || ! line.open (devicePathForPort (portName)))
        return false;

    const auto requested = line.setRequestLine();

    if (requested)
    {
        line.pause (bootloaderRequestPauseMs);

        // Not examined: the keyboard restarts on the change to 1200 baud, and a driver without
        // modem control lines, or a keyboard that has already left for its bootloader, fails it.
        line.dropDtr();

        line.pause (bootloaderRequestPauseMs);
    }

    line.close();
    return requested;
}

} // namespace windevice
