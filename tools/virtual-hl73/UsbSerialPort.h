#pragma once

#include <string>

/** What a USB device says about itself, and where it is plugged in. */
struct UsbDevice
{
    std::string port = "1-2"; ///< the port of the first root hub, as sysfs names the device
    std::string vendorId = "16d0", productId = "13a1";
    std::string manufacturer = "Kestrelworks", product = "VELMOR HL73", serial = "E6614C311B4E7A2F";
};

/** A board's CDC-ACM serial port as Linux shows it: a pty whose other end stands at
    <dev>/<name>, and a sysfs entry <sysfs>/class/tty/<name> that leads through the USB interface
    to a USB device with the board's identity (the keyboard's, unless told otherwise).
*/
class UsbSerialPort
{
public:
    /** A port named `ttyNameToUse` (e.g. ttyACM0) that will appear under `sysfsRootToUse` and
        `devDirToUse`; not plugged in yet.
    */
    UsbSerialPort (std::string sysfsRootToUse, std::string devDirToUse, std::string ttyNameToUse, UsbDevice deviceToShow = {});

    /** Unplugs the port if it is there. */
    ~UsbSerialPort();

    /** The port appears: the pty is made, then its sysfs entry, then its device node (the order
        of the kernel and udev). False, with `error` set, when that fails.
    */
    bool plugIn (std::string& error);

    /** The port vanishes: its pty hangs up, then its sysfs entry and device node go. */
    void unplug();

    /** True between plugIn and unplug. */
    bool isPluggedIn() const noexcept { return master >= 0; }

    /** True when the port's line speed is 1200 baud now; also throws away whatever a program
        wrote to the port.
    */
    bool isAt1200Baud();

    /** Opens the port and takes its lock, as a terminal program that uses it would. */
    bool holdOpen (std::string& error);

    /** The device node's path, e.g. /dev/ttyACM0. */
    std::string getNodePath() const;

private:
    std::string sysfsRoot, devDir, ttyName;
    UsbDevice device;
    int master = -1, holder = -1;
    bool nodeMounted = false;
};
