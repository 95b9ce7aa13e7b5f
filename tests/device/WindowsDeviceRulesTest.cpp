// The Windows device layer's rules, run on every system: what counts as the keyboard's instance
// identifier, which port names are taken, how a port is opened, which drive letters are examined
// and how the request answers each failure of the port.

#include "device/windows/BootloaderRequest.h"
#include "device/windows/WindowsDeviceNames.h"

#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

#include <map>

using namespace windevice;

namespace
{
struct InstanceIdCase
{
    const char* description;
    std::u16string instanceId;
    bool isKeyboard;
};

class InstanceIdTest : public testing::TestWithParam<InstanceIdCase>
{
};

TEST_P (InstanceIdTest, MatchesTheKeyboardOnly)
{
    EXPECT_EQ (isKeyboardInstanceId (GetParam().instanceId), GetParam().isKeyboard);
}

INSTANTIATE_TEST_SUITE_P (
    Cases,
    InstanceIdTest,
    testing::Values (
        InstanceIdCase { "upper case", u"USB\\VID_16D0&PID_13A1\\0123456789AB", true },
        InstanceIdCase { "lower case", u"usb\\vid_16d0&pid_13a1\\0123456789ab", true },
        InstanceIdCase { "mixed case", u"USB\\Vid_16d0&Pid_13A1\\7&1A2B3C4D&0&1", true },
        InstanceIdCase { "one interface of a composite device", u"USB\\VID_16D0&PID_13A1&MI_00\\7&2F5C0E1&0&0000", true },
        InstanceIdCase { "another product of the vendor", u"USB\\VID_16D0&PID_13A2\\0123456789AB", false },
        InstanceIdCase { "another vendor", u"USB\\VID_2E8A&PID_000A\\E660583883724A2F", false },
        InstanceIdCase { "a prefix of the identity", u"USB\\VID_16D0&PID_13A\\1", false },
        InstanceIdCase { "vendor only", u"USB\\VID_16D0\\0123", false },
        InstanceIdCase { "a built-in port", u"ACPI\\PNP0501\\1", false },
        InstanceIdCase { "empty", u"", false },
        // A character outside ASCII whose upper case is an ASCII letter under some mappings
        // (dotless i) must not make another device match.
        InstanceIdCase { "dotless i", u"USB\\V\u0131D_16D0&PID_13A1\\1", false }),
    [] (const testing::TestParamInfo<InstanceIdCase>& testCase)
    { return caseName (testCase.param.description); });

TEST (InstanceIdPattern, IsTheKeyboardsIdentity)
{
    EXPECT_EQ (keyboardIdentityPattern(), "VID_16D0&PID_13A1");
}

struct PortNameCase
{
    const char* description;
    std::uint32_t type;
    std::string stored;
    std::string expected;
};

class PortNameTest : public testing::TestWithParam<PortNameCase>
{
};

TEST_P (PortNameTest, TakesPlainNamesUpToThirtyCharacters)
{
    EXPECT_EQ (portNameFromValue (GetParam().type, GetParam().stored), GetParam().expected);
}

const std::string thirty = "COM" + std::string (27, '7');

INSTANTIATE_TEST_SUITE_P (
    Cases,
    PortNameTest,
    testing::Values (
        PortNameCase { "with its terminator", registryText, std::string ("COM5\0", 5), "COM5" },
        PortNameCase { "without a terminator", registryText, "COM5", "COM5" },
        PortNameCase { "two digits", registryText, std::string ("COM10\0", 6), "COM10" },
        PortNameCase { "three digits", registryText, "COM256", "COM256" },
        PortNameCase { "expandable text", registryExpandableText, "COM7", "COM7" },
        PortNameCase { "first of a list", registryTextList, std::string ("COM8\0COM9\0\0", 11), "COM8" },
        PortNameCase { "thirty characters", registryText, thirty + '\0', thirty },
        PortNameCase { "thirty-one characters", registryText, thirty + "7" + '\0', "" },
        PortNameCase { "empty", registryText, std::string ("\0", 1), "" },
        PortNameCase { "no bytes", registryText, "", "" },
        PortNameCase { "a number", 4, std::string ("\5\0\0\0", 4), "" },
        PortNameCase { "binary", 3, "COM5", "" },
        PortNameCase { "a path", registryText, "..\\C:", "" },
        PortNameCase { "a drive", registryText, "C:", "" },
        PortNameCase { "a slash", registryText, "COM5/x", "" },
        PortNameCase { "a space", registryText, "COM 5", "" },
        PortNameCase { "a control character", registryText, "COM5\n", "" }),
    [] (const testing::TestParamInfo<PortNameCase>& testCase)
    { return caseName (testCase.param.description); });

TEST (DevicePath, EveryPortOpensThroughTheDeviceNamespace)
{
    EXPECT_EQ (devicePathForPort ("COM1"), "\\\\.\\COM1");
    EXPECT_EQ (devicePathForPort ("COM10"), "\\\\.\\COM10");
    EXPECT_EQ (devicePathForPort ("COM255"), "\\\\.\\COM255");
}

TEST (DriveLetters, AreTakenInLetterOrderLeavingOutRemoteOpticalAndRootless)
{
    // A recorded machine: A: floppy, C: system disk, D: DVD, E: a card reader without a card,
    // F: network share, G: USB stick, R: RAM disk, X: a letter whose root has gone, Z: unknown.
    const std::map<std::string, unsigned int> types {
        { "A:\\", driveRemovable }, { "C:\\", driveFixed }, { "D:\\", driveCdRom }, { "E:\\", driveRemovable }, { "F:\\", driveRemote }, { "G:\\", driveRemovable }, { "R:\\", driveRamDisk }, { "X:\\", driveNoRootDir }, { "Z:\\", driveUnknown }
    };

    std::uint32_t mask = 0;

    for (const auto& [root, type] : types)
        mask |= std::uint32_t { 1 } << (root[0] - 'A');

    std::vector<std::string> asked;
    const auto roots = candidateDriveRoots (mask, [&] (const std::string& root)
                                            {
                                                asked.push_back (root);
                                                return types.at (root); });

    EXPECT_EQ (roots, (std::vector<std::string> { "A:\\", "C:\\", "E:\\", "G:\\", "R:\\", "Z:\\" }));
    EXPECT_EQ (asked, (std::vector<std::string> { "A:\\", "C:\\", "D:\\", "E:\\", "F:\\", "G:\\", "R:\\", "X:\\", "Z:\\" }));

    EXPECT_TRUE (candidateDriveRoots (0, [] (const std::string&)
                                      { return driveFixed; })
                     .empty());
    EXPECT_EQ (candidateDriveRoots (0xffffffffu, [] (const std::string&)
                                    { return driveFixed; })
                   .size(),
               26u);
}

TEST (DriveLetters, RootsGiveTheirLetter)
{
    EXPECT_EQ (driveLetterOfRoot ("E:"), 'E');
    EXPECT_EQ (driveLetterOfRoot ("e:\\"), 'E');
    EXPECT_EQ (driveLetterOfRoot ("Z:"), 'Z');
    EXPECT_EQ (driveLetterOfRoot ("E:\\Folder"), 0);
    EXPECT_EQ (driveLetterOfRoot ("\\\\?\\Volume{6d6b1bd2-0000-0000-0000-100000000000}\\"), 0);
    EXPECT_EQ (driveLetterOfRoot ("1:"), 0);
    EXPECT_EQ (driveLetterOfRoot (""), 0);
}

TEST (VolumeIdentity, PrefersTheVolumeGuidPathThenSerialAndLetter)
{
    const std::string guidPath = "\\\\?\\Volume{6d6b1bd2-8e1f-11ef-a3b4-806e6f6e6963}\\";

    EXPECT_EQ (volumeIdentity (guidPath, 0x0ddd0f6u, 'E'), guidPath);
    EXPECT_EQ (volumeIdentity ({}, 0x1234abcdu, 'E'), "E: serial 1234-ABCD");

    // Two drives with the same serial number (two boot ROMs) stay apart by their letters.
    EXPECT_NE (volumeIdentity ({}, 0x1234abcdu, 'E'), volumeIdentity ({}, 0x1234abcdu, 'F'));

    // A volume Windows says nothing of cannot be told apart, so it is never taken.
    EXPECT_EQ (volumeIdentity ({}, std::nullopt, 'E'), "");
}

/** Records the request's steps; the port fails where the case says. */
class RecordingLine : public SerialLine
{
public:
    bool opens = true, takesSettings = true;
    std::vector<std::string> steps;

    bool open (const std::string& devicePath) override
    {
        steps.push_back ("open " + devicePath);
        return opens;
    }

    bool setRequestLine() override
    {
        steps.push_back ("set 1200 8N1 DTR");
        return takesSettings;
    }

    void dropDtr() override { steps.push_back ("drop DTR"); }
    void pause (int milliseconds) override { steps.push_back ("pause " + std::to_string (milliseconds)); }
    void close() override { steps.push_back ("close"); }
};

struct RequestCase
{
    const char* description;
    std::string portName;
    bool opens, takesSettings;
    bool expected;
    std::vector<std::string> steps;
};

class BootloaderRequestTest : public testing::TestWithParam<RequestCase>
{
};

TEST_P (BootloaderRequestTest, FollowsTheOrderAndAnswersEachFailure)
{
    RecordingLine line;
    line.opens = GetParam().opens;
    line.takesSettings = GetParam().takesSettings;

    EXPECT_EQ (sendBootloaderRequest (line, GetParam().portName), GetParam().expected);
    EXPECT_EQ (line.steps, GetParam().steps);
}

INSTANTIATE_TEST_SUITE_P (
    Cases,
    BootloaderRequestTest,
    testing::Values (
        RequestCase { "sent", "COM5", true, true, true, { "open \\\\.\\COM5", "set 1200 8N1 DTR", "pause 50", "drop DTR", "pause 50", "close" } },
        RequestCase { "two-digit port", "COM12", true, true, true, { "open \\\\.\\COM12", "set 1200 8N1 DTR", "pause 50", "drop DTR", "pause 50", "close" } },
        // Another program holds the port (share mode 0 refuses the open): false at once.
        RequestCase { "port held by another program", "COM5", false, true, false, { "open \\\\.\\COM5" } },
        RequestCase { "not a serial port", "COM5", true, false, false, { "open \\\\.\\COM5", "set 1200 8N1 DTR", "close" } },
        RequestCase { "no port name", "", true, true, false, {} },
        RequestCase { "a path for a name", "..\\PhysicalDrive0", true, true, false, {} },
        RequestCase { "an already prefixed name", "\\\\.\\COM5", true, true, false, {} }),
    [] (const testing::TestParamInfo<RequestCase>& testCase)
    { return caseName (testCase.param.description); });
} // namespace
