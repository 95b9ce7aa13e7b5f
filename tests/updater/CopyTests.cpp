#include "FakeDevice.h"
#include "TempDrive.h"
#include "TestUpdater.h"

#include "CaseName.h"

#include <gtest/gtest.h>

#ifndef _WIN32
    #include <signal.h>
    #include <sys/resource.h>
#endif

namespace
{
using CopyResult = FirmwareUpdater::CopyResult;

const juce::String copyStatus ("Updating the firmware. Do not disconnect the device...");

const char* describe (CopyResult result)
{
    switch (result)
    {
        case CopyResult::complete:
            return "complete";
        case CopyResult::lastSyncFailed:
            return "lastSyncFailed";
        case CopyResult::incomplete:
            return "incomplete";
    }

    return "?";
}

juce::MemoryBlock patternImage (size_t size)
{
    juce::MemoryBlock image (size);

    for (size_t i = 0; i < size; ++i)
        image[i] = (char) (i % 253);

    return image;
}

juce::MemoryBlock contentOf (const juce::File& file)
{
    juce::MemoryBlock content;
    file.loadFileAsData (content);
    return content;
}

/** The drive as the sequence hands it over. */
BootloaderDrive driveAt (const juce::File& root)
{
    return { "8:33", root };
}

/** The drive is mounted at its root for as long as the test says. */
FakeDevice::Hooks mountedAt (const juce::File& root)
{
    FakeDevice::Hooks hooks;
    hooks.isOnDrive = [root] (const BootloaderDrive& drive, const juce::File& item)
    { return drive == driveAt (root) && (item == root || item.isAChildOf (root)); };
    return hooks;
}

/** An image size and the progress reports its copy must make. */
struct CopyCase
{
    const char* name;
    size_t imageSize;
    std::vector<double> expectedReports;
};

/** GoogleTest shows a case by its name, not as the bytes of the struct. */
void PrintTo (const CopyCase& c, std::ostream* os)
{
    *os << c.name;
}

class CopyChunks : public ::testing::TestWithParam<CopyCase>
{
};

TEST_P (CopyChunks, WritesTheWholeImageWithOneReportPerChunk)
{
    const auto& c = GetParam();
    TempDrive drive;
    const FakeDevice::ScopedScript device (mountedAt (drive.root));
    TestUpdater updater;
    const auto image = patternImage (c.imageSize);

    EXPECT_STREQ (describe (updater.copyFirmwareToDrive (image, driveAt (drive.root))), "complete");
    EXPECT_EQ (updater.progressValues(), c.expectedReports);

    for (const auto& event : updater.events())
        EXPECT_EQ (event.text, copyStatus);

    ASSERT_TRUE (drive.image().existsAsFile());
    EXPECT_EQ (contentOf (drive.image()), image);
}

INSTANTIATE_TEST_SUITE_P (
    Sizes,
    CopyChunks,
    ::testing::Values (
        CopyCase { "TwoFullChunks", 65536, { 0.5, 1.0 } },
        CopyCase { "FullAndShortChunk", 40000, { 32768.0 / 40000, 1.0 } },
        CopyCase { "OneChunk", 32768, { 1.0 } },
        CopyCase { "EmptyImageCreatesTheFile", 0, {} }),
    CaseName());

TEST (Copy, WritesOverALongerFileFromItsStartWithoutShorteningIt)
{
    TempDrive drive;
    const FakeDevice::ScopedScript device (mountedAt (drive.root));
    const juce::MemoryBlock old (100000, true);
    ASSERT_TRUE (drive.image().replaceWithData (old.getData(), old.getSize()));

    TestUpdater updater;
    const auto image = patternImage (40000);
    EXPECT_STREQ (describe (updater.copyFirmwareToDrive (image, driveAt (drive.root))), "complete");

    auto expected = old;
    expected.copyFrom (image.getData(), 0, image.getSize());
    EXPECT_EQ (contentOf (drive.image()), expected);
}

TEST (Copy, StopRequestDuringTheCopyDoesNotStopIt)
{
    TempDrive drive;
    const FakeDevice::ScopedScript device (mountedAt (drive.root));
    TestUpdater updater;
    updater.onEvent = [&] (const UpdaterEvent&)
    { updater.signalThreadShouldExit(); };

    const auto image = patternImage (100000);
    EXPECT_STREQ (describe (updater.copyFirmwareToDrive (image, driveAt (drive.root))), "complete");

    EXPECT_EQ (updater.progressValues().back(), 1.0);
    EXPECT_EQ (contentOf (drive.image()), image);
}

TEST (Copy, DriveThatRefusesTheFileForTheWholeLimitGetsNothing)
{
    TempDrive drive;
    const FakeDevice::ScopedScript device (mountedAt (drive.root));
    ASSERT_TRUE (drive.image().createDirectory()); // opening it for writing fails

    TestUpdater updater;
    const auto start = juce::Time::getMillisecondCounter();
    const auto result = updater.copyFirmwareToDrive (patternImage (40000), driveAt (drive.root));
    const auto elapsed = juce::Time::getMillisecondCounter() - start;

    EXPECT_STREQ (describe (result), "incomplete");
    EXPECT_TRUE (updater.events().empty());
    EXPECT_TRUE (drive.image().isDirectory());
    EXPECT_GE (elapsed, 3000u); // kept trying for the whole limit
    EXPECT_GE (FakeDevice::calls().isOnDrive, 2); // it tried again
    EXPECT_LT (elapsed, 20000u); // hang detection only
}

TEST (Copy, DriveThatAcceptsTheFileOnALaterAttemptGetsTheWholeImage)
{
    TempDrive drive;
    auto hooks = mountedAt (drive.root);
    const auto blocker = drive.image();
    ASSERT_TRUE (blocker.createDirectory());

    // The drive takes the file from the third attempt on.
    int attempts = 0;
    hooks.isOnDrive = [mounted = hooks.isOnDrive, blocker, &attempts] (const BootloaderDrive& target, const juce::File& item)
    {
        if (item == target.root && ++attempts == 3)
            blocker.deleteRecursively();

        return mounted (target, item);
    };
    const FakeDevice::ScopedScript device (hooks);

    TestUpdater updater;
    const auto image = patternImage (40000);
    EXPECT_STREQ (describe (updater.copyFirmwareToDrive (image, driveAt (drive.root))), "complete");

    EXPECT_EQ (attempts, 3);
    EXPECT_EQ (updater.progressValues(), (std::vector<double> { 32768.0 / 40000, 1.0 }));
    EXPECT_EQ (contentOf (drive.image()), image);
}

// A file size limit is how these tests make the drive full; Windows has no such limit.
#ifndef _WIN32
/** An image, a limit on the size of the files that the test process may write, and what the
    copy must make of it.
*/
struct FileSizeLimitCase
{
    const char* name;
    size_t imageSize;
    rlim_t fileSizeLimit;
    std::vector<double> expectedReports;
};

class CopyWriteFailures : public ::testing::TestWithParam<FileSizeLimitCase>
{
};

// The system takes the file up to the size limit and no further: a write that reaches the limit
// is cut short there, later ones fail (EFBIG). Whatever part is lost, the copy is incomplete.
TEST_P (CopyWriteFailures, StopAfterTheLastGoodChunkAndSayTheCopyIsIncomplete)
{
    const auto& c = GetParam();
    TempDrive drive;
    const FakeDevice::ScopedScript device (mountedAt (drive.root));
    TestUpdater updater;
    const auto image = patternImage (c.imageSize);

    rlimit saved {};
    ASSERT_EQ (getrlimit (RLIMIT_FSIZE, &saved), 0);
    const auto savedHandler = signal (SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = c.fileSizeLimit;
    ASSERT_EQ (setrlimit (RLIMIT_FSIZE, &limited), 0);

    const auto result = updater.copyFirmwareToDrive (image, driveAt (drive.root));

    setrlimit (RLIMIT_FSIZE, &saved);
    signal (SIGXFSZ, savedHandler);

    EXPECT_STREQ (describe (result), "incomplete");
    EXPECT_EQ (updater.progressValues(), c.expectedReports);
    EXPECT_EQ (drive.image().getSize(), (juce::int64) c.fileSizeLimit);
}

INSTANTIATE_TEST_SUITE_P (
    Drive,
    CopyWriteFailures,
    ::testing::Values (
        // The second of three full chunks fails in write; the third is not tried.
        FileSizeLimitCase { "WriteFails", 3 * 32768, 32768, { 1.0 / 3 } },
        // A short last chunk fails too.
        FileSizeLimitCase { "ShortLastChunkFails", 40000, 32768, { 32768.0 / 40000 } },
        // The last chunk is taken in part: a short write, which a buffered stream would not notice.
        FileSizeLimitCase { "ShortLastChunkCutShort", 40000, 33000, { 32768.0 / 40000 } }),
    CaseName());

/** Faults of the drive's files, and what the copy of a three-chunk image must make of them. */
struct DriveFaultCase
{
    const char* name;
    size_t imageSize;
    juce::int64 bytesTaken;
    int failingSyncsFrom;
    std::vector<double> expectedReports;
    CopyResult expectedResult;
};

class CopyDriveFaults : public ::testing::TestWithParam<DriveFaultCase>
{
};

TEST_P (CopyDriveFaults, SayHowFarTheCopyGot)
{
    const auto& c = GetParam();
    TempDrive drive;
    const FakeDevice::ScopedScript device (mountedAt (drive.root));

    FakeDevice::FileFaults faults;
    faults.root = drive.root;
    faults.bytesTaken = c.bytesTaken;
    faults.failingSyncsFrom = c.failingSyncsFrom;
    FakeDevice::scriptFileFaults (faults);

    TestUpdater updater;
    const auto result = updater.copyFirmwareToDrive (patternImage (c.imageSize), driveAt (drive.root));

    EXPECT_STREQ (describe (result), describe (c.expectedResult));
    EXPECT_EQ (updater.progressValues(), c.expectedReports);
}

INSTANTIATE_TEST_SUITE_P (
    Drive,
    CopyDriveFaults,
    ::testing::Values (
        DriveFaultCase { "NoFault", 3 * 32768, -1, 0, { 1.0 / 3, 2.0 / 3, 1.0 }, CopyResult::complete },
        // The cable pulled: writes fail with EIO from the start of the second chunk on...
        DriveFaultCase { "WritesFailFromTheSecondChunk", 3 * 32768, 32768, 0, { 1.0 / 3 }, CopyResult::incomplete },
        // ...or in the middle of it.
        DriveFaultCase { "SecondChunkCutShort", 3 * 32768, 40000, 0, { 1.0 / 3 }, CopyResult::incomplete },
        DriveFaultCase { "LastChunkCutShort", 3 * 32768, 3 * 32768 - 1, 0, { 1.0 / 3, 2.0 / 3 }, CopyResult::incomplete },
        DriveFaultCase { "SyncOfTheSecondChunkFails", 3 * 32768, -1, 2, { 1.0 / 3 }, CopyResult::incomplete },
        // The boot ROM restarting on its last block makes only the last sync fail.
        DriveFaultCase { "OnlyTheLastSyncFails", 3 * 32768, -1, 3, { 1.0 / 3, 2.0 / 3 }, CopyResult::lastSyncFailed },
        DriveFaultCase { "TheSyncOfASingleChunkFails", 32768, -1, 1, {}, CopyResult::lastSyncFailed }),
    CaseName());
#endif

struct GoneVolumeCase
{
    const char* name;
    bool mountedAtTheCheckBeforeOpening;
    bool fileThereBefore;
};

/** GoogleTest shows a case by its name, not as the bytes of the struct. */
void PrintTo (const GoneVolumeCase& c, std::ostream* os)
{
    *os << c.name;
}

class CopyToGoneVolume : public ::testing::TestWithParam<GoneVolumeCase>
{
};

// The drive root is a leftover mount point directory on another disk: nothing may land there.
TEST_P (CopyToGoneVolume, WritesNothingAndLeavesNoStrayFile)
{
    const auto& c = GetParam();
    TempDrive drive;
    FakeDevice::Hooks hooks;
    hooks.isOnDrive = [&] (const BootloaderDrive& target, const juce::File& item)
    { return c.mountedAtTheCheckBeforeOpening && item == target.root; };
    const FakeDevice::ScopedScript device (hooks);

    const juce::String oldContent ("left by someone else");

    if (c.fileThereBefore)
    {
        ASSERT_TRUE (drive.image().replaceWithText (oldContent));
    }

    TestUpdater updater;
    EXPECT_STREQ (describe (updater.copyFirmwareToDrive (patternImage (40000), driveAt (drive.root))), "incomplete");

    EXPECT_TRUE (updater.events().empty());

    if (c.fileThereBefore)
    {
        EXPECT_EQ (drive.image().loadFileAsString(), oldContent);
    }
    else
    {
        EXPECT_FALSE (drive.image().exists());
    }
}

INSTANTIATE_TEST_SUITE_P (
    Volume,
    CopyToGoneVolume,
    ::testing::Values (
        GoneVolumeCase { "GoneBeforeOpening", false, false },
        GoneVolumeCase { "GoneWhileOpening", true, false },
        GoneVolumeCase { "GoneWhileOpeningOverAnOldFile", true, true }),
    CaseName());
} // namespace
