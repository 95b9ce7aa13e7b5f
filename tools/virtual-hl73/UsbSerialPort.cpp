#include "UsbSerialPort.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
// The first root hub; the device's port names its folder below.
const char* const rootHubPath = "devices/pci0000:00/0000:00:14.0/usb1";

void writeText (const fs::path& path, const std::string& text)
{
    std::ofstream (path) << text;
}
} // namespace

UsbSerialPort::UsbSerialPort (std::string sysfsRootToUse, std::string devDirToUse, std::string ttyNameToUse, UsbDevice deviceToShow)
    : sysfsRoot (std::move (sysfsRootToUse))
    , devDir (std::move (devDirToUse))
    , ttyName (std::move (ttyNameToUse))
    , device (std::move (deviceToShow))
{
}

UsbSerialPort::~UsbSerialPort()
{
    unplug();
}

std::string UsbSerialPort::getNodePath() const
{
    return devDir + "/" + ttyName;
}

bool UsbSerialPort::plugIn (std::string& error)
{
    if (isPluggedIn())
        return true;

    master = ::posix_openpt (O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);

    if (master < 0 || ::grantpt (master) != 0 || ::unlockpt (master) != 0)
    {
        error = std::string ("cannot make a pty: ") + std::strerror (errno);
        unplug();
        return false;
    }

    const std::string ptyPath = ::ptsname (master);

    // cdc_acm's initial line settings: 9600 8N1, receiver on, no modem control.
    termios settings {};
    ::tcgetattr (master, &settings);
    ::cfmakeraw (&settings);
    settings.c_cflag = CS8 | CREAD | HUPCL | CLOCAL;
    ::cfsetispeed (&settings, B9600);
    ::cfsetospeed (&settings, B9600);
    ::tcsetattr (master, TCSANOW, &settings);

    const auto usbDevicePath = fs::path (rootHubPath) / device.port;
    const fs::path usbDevice = fs::path (sysfsRoot) / usbDevicePath;
    const fs::path interface = usbDevice / (device.port + ":1.0");
    const fs::path dataInterface = usbDevice / (device.port + ":1.1");
    const fs::path ttyDir = interface / "tty" / ttyName;
    std::error_code failure;
    fs::create_directories (ttyDir, failure);
    fs::create_directories (dataInterface, failure);

    if (failure)
    {
        error = "cannot write the sysfs entry under " + sysfsRoot + ": " + failure.message();
        unplug();
        return false;
    }

    writeText (usbDevice / "idVendor", device.vendorId + "\n");
    writeText (usbDevice / "idProduct", device.productId + "\n");
    writeText (usbDevice / "manufacturer", device.manufacturer + "\n");
    writeText (usbDevice / "product", device.product + "\n");
    writeText (usbDevice / "serial", device.serial + "\n");
    writeText (usbDevice / "busnum", "1\n");
    writeText (usbDevice / "devnum", "7\n");
    writeText (usbDevice / "bDeviceClass", "ef\n");
    writeText (interface / "bInterfaceClass", "02\n");
    writeText (interface / "bInterfaceNumber", "00\n");
    writeText (dataInterface / "bInterfaceClass", "0a\n");
    writeText (dataInterface / "bInterfaceNumber", "01\n");
    writeText (ttyDir / "dev", "166:0\n");
    writeText (ttyDir / "uevent", "MAJOR=166\nMINOR=0\nDEVNAME=" + ttyName + "\n");
    fs::create_directory_symlink (fs::path ("../../..") / (device.port + ":1.0"), ttyDir / "device", failure);

    const auto classDir = fs::path (sysfsRoot) / "class" / "tty";
    fs::create_directories (classDir, failure);
    fs::create_directory_symlink (fs::path ("../..") / usbDevicePath / (device.port + ":1.0") / "tty" / ttyName, classDir / ttyName, failure);

    if (failure)
    {
        error = "cannot link the sysfs entry: " + failure.message();
        unplug();
        return false;
    }

    // A bind mount of the pty's node makes a real character device at the usual name.
    const auto node = getNodePath();
    std::ofstream (node).close();

    if (::mount (ptyPath.c_str(), node.c_str(), nullptr, MS_BIND, nullptr) != 0)
    {
        error = "cannot bind " + ptyPath + " to " + node + ": " + std::strerror (errno);
        unplug();
        return false;
    }

    nodeMounted = true;
    return true;
}

void UsbSerialPort::unplug()
{
    if (holder >= 0)
        ::close (holder);

    holder = -1;

    if (master >= 0)
        ::close (master);

    master = -1;

    std::error_code ignored;
    fs::remove (fs::path (sysfsRoot) / "class" / "tty" / ttyName, ignored);
    fs::remove_all (fs::path (sysfsRoot) / rootHubPath / device.port, ignored);

    if (nodeMounted)
        ::umount2 (getNodePath().c_str(), MNT_DETACH);

    nodeMounted = false;
    fs::remove (getNodePath(), ignored);
}

bool UsbSerialPort::isAt1200Baud()
{
    if (! isPluggedIn())
        return false;

    char discarded[256];

    while (::read (master, discarded, sizeof (discarded)) > 0)
    {
    }

    // The master reports the settings of the port's own end.
    termios settings {};
    return ::tcgetattr (master, &settings) == 0 && ::cfgetospeed (&settings) == B1200;
}

bool UsbSerialPort::holdOpen (std::string& error)
{
    holder = ::open (getNodePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);

    if (holder < 0 || ::flock (holder, LOCK_EX | LOCK_NB) != 0)
    {
        error = "cannot hold " + getNodePath() + ": " + std::strerror (errno);
        return false;
    }

    return true;
}
