#include "device/linux/SysfsTty.h"
#include "DeviceTestSupport.h"
#include "device/SerialPortDiscovery.h"
#include "device/linux/NaturalOrder.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
/** A sysfs-like tree: devices/ with USB devices and their ttys, class/tty/ with links to
        them as the kernel makes them, dev/ with the nodes.
    */
class FakeSysfs
{
public:
    /** A USB device folder (e.g. "usb1/1-2") with its identity, written as sysfs does. */
    void addUsbDevice (const std::string& device, const std::string& vendor, const std::string& product)
    {
        tree.write ("devices/" + device + "/idVendor", vendor + "\n");
        tree.write ("devices/" + device + "/idProduct", product + "\n");
    }

    /** A tty whose `device` is the given folder (a USB interface, or a usb-serial port below
            one), with its class entry and, unless told otherwise, its device node.
        */
    void addTty (const std::string& name, const std::string& parent, bool withNode = true)
    {
        const auto ttyDir = "devices/" + parent + "/tty/" + name;
        tree.makeFolder (ttyDir);
        tree.link (ttyDir + "/device", "../..");
        tree.link ("class/tty/" + name, relativeUp ("class/tty/") + ttyDir);

        if (withNode)
            tree.link ("dev/" + name, "/dev/null");
    }

    std::string find() const
    {
        return sysfs::findUsbSerialPort (classDir(), tree.path ("dev"), keyboardVendorId, keyboardProductId);
    }

    std::string classDir() const { return tree.path ("class/tty"); }
    std::string node (const std::string& name) const { return tree.path ("dev/" + name); }

    TempTree tree;

private:
    static std::string relativeUp (const std::string& from)
    {
        std::string up;

        for (auto c : from)
            if (c == '/')
                up += "../";

        return up;
    }
};

const std::string acmInterface = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
const std::string keyboard = "pci0000:00/0000:00:14.0/usb1/1-2";

struct DiscoveryCase
{
    const char* description;
    std::function<void (FakeSysfs&)> build;
    const char* expectedName; // empty: nothing found
};

/** GoogleTest shows a case by its description, not as the bytes of the struct. */
void PrintTo (const DiscoveryCase& c, std::ostream* os)
{
    *os << c.description;
}

const DiscoveryCase discoveryCases[] = {
    { "nothing present", [] (FakeSysfs& s)
      { s.tree.makeFolder ("class/tty"); },
      "" },
    { "only ttys that are not USB devices",
      [] (FakeSysfs& s)
      {
          s.tree.makeFolder ("class/tty/tty0"); // virtual console: no device link
          s.tree.makeFolder ("devices/platform/serial8250");
          s.addTty ("ttyS0", "platform/serial8250");
      },
      "" },
    { "one keyboard port",
      [] (FakeSysfs& s)
      {
          s.addUsbDevice (keyboard, "16d0", "13a1");
          s.addTty ("ttyACM0", acmInterface);
      },
      "ttyACM0" },
    { "identity in upper case",
      [] (FakeSysfs& s)
      {
          s.addUsbDevice (keyboard, "16D0", "13A1");
          s.addTty ("ttyACM0", acmInterface);
      },
      "ttyACM0" },
    { "another product of the same vendor",
      [] (FakeSysfs& s)
      {
          s.addUsbDevice (keyboard, "16d0", "13a2");
          s.addTty ("ttyACM0", acmInterface);
      },
      "" },
    { "second port of a composite device",
      [] (FakeSysfs& s)
      {
          s.addUsbDevice (keyboard, "16d0", "13a1");
          s.tree.write ("devices/" + keyboard + "/1-2:1.0/bInterfaceClass", "03\n");
          s.addTty ("ttyACM0", keyboard + "/1-2:1.2");
      },
      "ttyACM0" },
    { "behind a hub",
      [] (FakeSysfs& s)
      {
          s.addUsbDevice ("usb1/1-2", "05e3", "0608");
          s.addUsbDevice ("usb1/1-2/1-2.4", "05e3", "0608");
          s.addUsbDevice ("usb1/1-2/1-2.4/1-2.4.2", "16d0", "13a1");
          s.addTty ("ttyACM3", "usb1/1-2/1-2.4/1-2.4.2/1-2.4.2:1.0");
      },
      "ttyACM3" },
    { "usb-serial port one level below its interface",
      [] (FakeSysfs& s)
      {
          s.addUsbDevice (keyboard, "16d0", "13a1");
          s.tree.makeFolder ("devices/" + acmInterface + "/ttyUSB0");
          s.addTty ("ttyUSB0", acmInterface + "/ttyUSB0");
      },
      "ttyUSB0" },
    { "two keyboards: natural order of names",
      [] (FakeSysfs& s)
      {
          s.addUsbDevice ("usb1/1-1", "16d0", "13a1");
          s.addTty ("ttyACM10", "usb1/1-1/1-1:1.0");
          s.addUsbDevice ("usb1/1-3", "2e8a", "000a");
          s.addTty ("ttyACM1", "usb1/1-3/1-3:1.0");
          s.addUsbDevice ("usb1/1-4", "16d0", "13a1");
          s.addTty ("ttyACM2", "usb1/1-4/1-4:1.0");
      },
      "ttyACM2" },
    { "entries that cannot be read are passed over",
      [] (FakeSysfs& s)
      {
          s.tree.link ("class/tty/ttyACM0", "../../devices/gone/tty/ttyACM0");
          s.addUsbDevice ("usb1/1-1", "16d0", "13a1");
          s.tree.write ("devices/usb1/1-1/idVendor", ""); // empty identity
          s.addTty ("ttyACM1", "usb1/1-1/1-1:1.0");
          s.addUsbDevice ("usb1/1-4", "16d0", "13a1");
          s.tree.makeFolder ("devices/usb1/1-4/1-4:1.0/tty/ttyACM2");
          s.tree.link ("class/tty/ttyACM2", "../../devices/usb1/1-4/1-4:1.0/tty/ttyACM2"); // no device link
          s.addTty ("ttyACM3", "usb1/1-4/1-4:1.2");
      },
      "ttyACM3" },
    { "a class entry whose node is missing or not a device",
      [] (FakeSysfs& s)
      {
          s.addUsbDevice ("usb1/1-1", "16d0", "13a1");
          s.addTty ("ttyACM0", "usb1/1-1/1-1:1.0", false);
          s.addTty ("ttyACM1", "usb1/1-1/1-1:1.2", false);
          s.tree.write ("dev/ttyACM1", "a leftover regular file");
          s.addTty ("ttyACM2", "usb1/1-1/1-1:1.4");
      },
      "ttyACM2" },
};

class DiscoveryTest : public ::testing::TestWithParam<DiscoveryCase>
{
};
} // namespace

TEST_P (DiscoveryTest, FindsTheFirstPresentKeyboardPort)
{
    FakeSysfs sysfs;
    GetParam().build (sysfs);

    const std::string expectedName (GetParam().expectedName);
    EXPECT_EQ (sysfs.find(), expectedName.empty() ? std::string() : sysfs.node (expectedName));
}

INSTANTIATE_TEST_SUITE_P (SysfsTty,
                          DiscoveryTest,
                          ::testing::ValuesIn (discoveryCases),
                          [] (const auto& testInfo)
                          { return caseName (testInfo.param.description); });

TEST (SysfsTty, FollowsAbsoluteLinksAndReportsTheIdentity)
{
    // A tree bind-mounted elsewhere may hold absolute links; the walk must not depend on
    // relative ones.
    FakeSysfs sysfs;
    sysfs.addUsbDevice (keyboard, "16d0", "13a1");
    const auto ttyDir = sysfs.tree.path ("devices/" + acmInterface + "/tty/ttyACM0");
    sysfs.tree.makeFolder ("devices/" + acmInterface + "/tty/ttyACM0");
    sysfs.tree.link ("devices/" + acmInterface + "/tty/ttyACM0/device", sysfs.tree.path ("devices/" + acmInterface));
    sysfs.tree.link ("class/tty/ttyACM0", ttyDir);

    const auto ttys = sysfs::listUsbTtys (sysfs.classDir());
    ASSERT_EQ (ttys.size(), 1u);
    EXPECT_EQ (ttys[0].name, "ttyACM0");
    EXPECT_EQ (ttys[0].vendorId, 0x16D0);
    EXPECT_EQ (ttys[0].productId, 0x13A1);
}

TEST (SysfsTty, ParsesUsbIdentifiersAsSysfsWritesThem)
{
    EXPECT_EQ (sysfs::parseUsbId ("16d0\n"), 0x16D0);
    EXPECT_EQ (sysfs::parseUsbId ("13A1"), 0x13A1);
    EXPECT_EQ (sysfs::parseUsbId ("a"), 0xA);

    for (const auto* bad : { "", "\n", "0x16d0", "16d0a", "16g0", " 16d0", "-1" })
        EXPECT_FALSE (sysfs::parseUsbId (bad).has_value()) << '"' << bad << '"';
}

TEST (SysfsTty, NaturalOrderComparesNumbersByValue)
{
    const std::pair<const char*, const char*> ordered[] = {
        { "ttyACM2", "ttyACM10" },
        { "ttyACM", "ttyACM0" },
        { "ttyACM99", "ttyUSB0" },
        { "RPI-RP2", "RPI-RP21" },
        { "/media/a", "/media/b" },
        { "disk1", "disk01" },
    };

    for (const auto& [first, second] : ordered)
    {
        EXPECT_TRUE (naturalLess (first, second)) << first << " < " << second;
        EXPECT_FALSE (naturalLess (second, first)) << second << " < " << first;
    }

    EXPECT_FALSE (naturalLess ("ttyACM1", "ttyACM1"));
}
