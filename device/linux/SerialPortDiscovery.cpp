#include "device/SerialPortDiscovery.h"

#include "device/linux/SysfsTty.h"

std::string findSerialPort()
{
    return sysfs::findUsbSerialPort ("/sys/class/tty", "/dev", keyboardVendorId, keyboardProductId);
}
