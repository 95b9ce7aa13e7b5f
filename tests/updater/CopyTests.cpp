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
const juce::String copyStatus ("Updating the firmware. Do not disconnect the device...");

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

/** The drive is mounted at its root for as long as the test says. */
FakeDevice::Hooks mountedAt (const juce::File& root)
{
    FakeDevice::Hooks hooks;
    hooks.isOnMountedDrive = [root] (const juce::File& driveRoot, const juce::File& item)
    { return driveRoot == root && (item == root || item.isAChildOf (root)); };
    return hooks;
}

/** An image size and the progress reports its copy must make. */
struct CopyCase
{
    const char* name;
    size_t imageSize;
    std::vector<double> expectedReports;
};

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

    updater.copyFirmwareToDrive (image, drive.root);

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
    updater.copyFirmwareToDrive (image, drive.root);

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
    updater.copyFirmwareToDrive (image, drive.root);

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
    updater.copyFirmwareToDrive (patternImage (40000), drive.root);
    const auto elapsed = juce::Time::getMillisecondCounter() - start;

    EXPECT_TRUE (updater.events().empty());
    EXPECT_TRUE (drive.image().isDirectory());
    EXPECT_GE (elapsed, 3000u); // kept trying for the whole limit
    EXPECT_GE (FakeDevice::calls().isOnMountedDrive, 2); // it tried again
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
    hooks.isOnMountedDrive = [mounted = hooks.isOnMountedDrive, blocker, &attempts] (const juce::File& root, const juce::File& item)
    {
        if (item == root && ++attempts == 3)
            blocker.deleteRecursively();

        return mounted (root, item);
    };
    const FakeDevice::ScopedScript device (hooks);

    TestUpdater updater;
    const auto image = patternImage (40000);
    updater.copyFirmwareToDrive (image, drive.root);

    EXPECT_EQ (attempts, 3);
    EXPECT_EQ (updater.progressValues(), (std::vector<double> { 32768.0 / 40000, 1.0 }));
    EXPECT_EQ (contentOf (drive.image()), image);
}

// A file size limit is how these tests make the drive full; Windows has no such limit.
#ifndef _WIN32
class CopyWriteFailures : public ::testing::TestWithParam<CopyCase>
{
};

// The drive takes 32768 bytes and no more (a file size limit makes every later write fail).
TEST_P (CopyWriteFailures, StopAfterTheLastGoodChunk)
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
    limited.rlim_cur = 32768;
    ASSERT_EQ (setrlimit (RLIMIT_FSIZE, &limited), 0);

    updater.copyFirmwareToDrive (image, drive.root);

    setrlimit (RLIMIT_FSIZE, &saved);
    signal (SIGXFSZ, savedHandler);

    EXPECT_EQ (updater.progressValues(), c.expectedReports);
    EXPECT_EQ (drive.image().getSize(), 32768);
}

INSTANTIATE_TEST_SUITE_P (
    Drive,
    CopyWriteFailures,
    ::testing::Values (
        // The second of three full chunks fails in write; the third is not tried.
        CopyCase { "WriteFails", 3 * 32768, { 1.0 / 3 } },
        // A short chunk waits in the stream's buffer and fails only when flushed.
        CopyCase { "FlushFails", 40000, { 32768.0 / 40000 } }),
    CaseName());
#endif

struct GoneVolumeCase
{
    const char* name;
    bool mountedAtTheCheckBeforeOpening;
    bool fileThereBefore;
};

class CopyToGoneVolume : public ::testing::TestWithParam<GoneVolumeCase>
{
};

// The drive root is a leftover mount point directory on another disk: nothing may land there.
TEST_P (CopyToGoneVolume, WritesNothingAndLeavesNoStrayFile)
{
    const auto& c = GetParam();
    TempDrive drive;
    FakeDevice::Hooks hooks;
    hooks.isOnMountedDrive = [&] (const juce::File& root, const juce::File& item)
    { return c.mountedAtTheCheckBeforeOpening && item == root; };
    const FakeDevice::ScopedScript device (hooks);

    const juce::String oldContent ("left by someone else");

    if (c.fileThereBefore)
    {
        ASSERT_TRUE (drive.image().replaceWithText (oldContent));
    }

    TestUpdater updater;
    updater.copyFirmwareToDrive (patternImage (40000), drive.root);

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
