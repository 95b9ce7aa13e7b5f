#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sysfs
{

/** A tty device with the USB identity of the USB device it belongs to. */
struct UsbTty
{
    /** The kernel name of the tty, e.g. ttyACM0. */
    std::string name;

    /** The USB device's idVendor. */
    int vendorId = 0;

    /** The USB device's idProduct. */
    int productId = 0;
};

/** Reads a USB identifier as sysfs writes it (hexadecimal, any letter case, no 0x, trailing
    newline allowed). Empty when the text is not a 16-bit hexadecimal number.
*/
std::optional<int> parseUsbId (const std::string& text);

/** Lists the ttys in a tty class directory (normally /sys/class/tty) that belong to a USB device,
    in natural order of their kernel names.

    Each entry's `device` link is resolved and followed up through its parents to the first
    directory that holds both idVendor and idProduct: the interface's parent for CDC-ACM ports, one
    level further for usb-serial (ttyUSB) ports, whatever the hubs in between. Entries whose links
    or identifiers cannot be read are left out.
*/
std::vector<UsbTty> listUsbTtys (const std::string& ttyClassDir);

/** The device path (devDir/name) of the first tty, in the order of listUsbTtys, whose USB device
    has the given vendor and product and whose device node exists in devDir as a character
    device; empty when there is none.
*/
std::string findUsbSerialPort (const std::string& ttyClassDir,
                               const std::string& devDir,
                               int vendorId,
                               int productId);

} // namespace sysfs
