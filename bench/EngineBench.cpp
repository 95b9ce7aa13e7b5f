// hl73-bench-engine: times one operation of the product's engine or device layer and prints the
// result as key=value pairs on one line. The operations run on the updater's own thread, as in a
// real run, while the main thread sleeps on an event. Each one checks its own result first, so
// a broken download or copy is an error, never a fast time.
//
//   hl73-bench-engine download URL FILE     downloadFirmwareFrom; FILE is what the server sends
//   hl73-bench-engine copy FILE DRIVE_ROOT  copyFirmwareToDrive of FILE's content
//   hl73-bench-engine poll FOLDER STEPS     one polling step on synthetic roots built in FOLDER
//   hl73-bench-engine wait FOLDER SECONDS drive|port
//                                           a wait of SECONDS whose condition looks for the
//                                           bootloader drive (mounts) or the serial port (ttys) in
//                                           the synthetic roots, as the sequence's waits do

#include "SyntheticRoots.h"

#include "device/SerialPortDiscovery.h"
#include "device/linux/BootloaderVolume.h"
#include "device/linux/SysfsTty.h"
#include "updater/FirmwareUpdater.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace
{
using Clock = std::chrono::steady_clock;

double secondsSince (Clock::time_point start)
{
    return std::chrono::duration<double> (Clock::now() - start).count();
}

double processCpuSeconds()
{
    rusage usage {};
    getrusage (RUSAGE_SELF, &usage);
    const auto toSeconds = [] (const timeval& t)
    { return (double) t.tv_sec + (double) t.tv_usec / 1.0e6; };
    return toSeconds (usage.ru_utime) + toSeconds (usage.ru_stime);
}

int fail (const std::string& message)
{
    std::fprintf (stderr, "hl73-bench-engine: %s\n", message.c_str());
    return 1;
}

/** The product's updater, with its download seam reachable and its thread running a given job. */
class BenchUpdater : public FirmwareUpdater
{
public:
    BenchUpdater()
        : FirmwareUpdater ([this] (const juce::String&, double)
                           { ++progressReports; },
                           [] (bool, const juce::String&) {})
    {
    }

    ~BenchUpdater() override { stopThread (30000); }

    using FirmwareUpdater::downloadFirmwareFrom;

    /** Runs the job on the updater's thread and returns once it has finished. */
    void runOnThread (std::function<void()> jobToRun)
    {
        job = std::move (jobToRun);
        finished.reset();
        startThread();
        finished.wait (-1);
        stopThread (1000);
    }

    /** The progress reports made so far. */
    int getProgressReports() const noexcept { return progressReports.load(); }

    void run() override
    {
        job();
        finished.signal();
    }

private:
    std::function<void()> job;
    juce::WaitableEvent finished;
    std::atomic<int> progressReports { 0 };
};

/** One polling step of a wait: the keyboard's serial port, then its bootloader drive. */
bool pollOnce (const SyntheticRoots& roots)
{
    const auto port = sysfs::findUsbSerialPort (roots.ttyClassDir(), roots.devDir(), keyboardVendorId, keyboardProductId);
    const auto drives = mounts::listBootloaderDrivesIn (roots.mountInfoPath(), roots.sysDir());
    return ! port.empty() || ! drives.empty();
}

int download (const juce::String& url, const juce::File& expected)
{
    juce::MemoryBlock sent;

    if (! expected.loadFileAsData (sent))
        return fail ("cannot read " + expected.getFullPathName().toStdString());

    BenchUpdater updater;
    juce::MemoryBlock image;
    bool succeeded = false;
    double seconds = 0.0;

    updater.runOnThread ([&]
                         {
                             const auto start = Clock::now();
                             succeeded = updater.downloadFirmwareFrom (juce::URL (url), image);
                             seconds = secondsSince (start); });

    if (! succeeded)
        return fail ("the download failed");

    if (image != sent)
        return fail ("the downloaded image differs from what the server sent");

    std::printf ("seconds=%.6f bytes=%zu reports=%d\n", seconds, image.getSize(), updater.getProgressReports());
    return 0;
}

int copy (const juce::File& source, const juce::File& driveRoot)
{
    juce::MemoryBlock image;

    if (! source.loadFileAsData (image))
        return fail ("cannot read " + source.getFullPathName().toStdString());

    // The volume mounted at the root, known by its device number as the device layer lists it.
    struct stat info = {};

    if (::stat (driveRoot.getFullPathName().toRawUTF8(), &info) != 0)
        return fail ("cannot look at " + driveRoot.getFullPathName().toStdString());

    const BootloaderDrive drive { std::to_string (major (info.st_dev)) + ":" + std::to_string (minor (info.st_dev)), driveRoot };
    BenchUpdater updater;
    double seconds = 0.0;
    auto result = FirmwareUpdater::CopyResult::incomplete;

    updater.runOnThread ([&]
                         {
                             const auto start = Clock::now();
                             result = updater.copyFirmwareToDrive (image, drive);
                             seconds = secondsSince (start); });

    const auto chunks = (int) ((image.getSize() + 32767) / 32768);
    juce::MemoryBlock written;

    if (result != FirmwareUpdater::CopyResult::complete)
        return fail ("the copy did not complete");

    if (updater.getProgressReports() != chunks)
        return fail ("the copy stopped after " + std::to_string (updater.getProgressReports()) + " of " + std::to_string (chunks) + " chunks");

    if (! driveRoot.getChildFile ("VelmorHL73.uf2").loadFileAsData (written) || written != image)
        return fail ("the file on the drive differs from the image");

    std::printf ("seconds=%.6f bytes=%zu reports=%d\n", seconds, image.getSize(), updater.getProgressReports());
    return 0;
}

int poll (const std::string& folder, int steps)
{
    const SyntheticRoots roots (folder);
    std::vector<double> times;

    for (int i = 0; i < 50; ++i)
        if (pollOnce (roots))
            return fail ("the synthetic roots hold a keyboard");

    for (int i = 0; i < steps; ++i)
    {
        const auto start = Clock::now();
        pollOnce (roots);
        times.push_back (secondsSince (start));
    }

    std::sort (times.begin(), times.end());
    const auto entries = roots.getTtyCount() + roots.getMountCount();
    const auto median = times[times.size() / 2];

    std::printf ("seconds=%.9f p90=%.9f per_entry=%.9f ttys=%d mounts=%d steps=%d\n",
                 median,
                 times[times.size() * 9 / 10],
                 median / entries,
                 roots.getTtyCount(),
                 roots.getMountCount(),
                 steps);
    return 0;
}

int wait (const std::string& folder, int seconds, const std::string& target)
{
    const SyntheticRoots roots (folder);
    const auto found = [&roots, forDrive = target == "drive"]
    {
        if (forDrive)
            return ! mounts::listBootloaderDrivesIn (roots.mountInfoPath(), roots.sysDir()).empty();

        return ! sysfs::findUsbSerialPort (roots.ttyClassDir(), roots.devDir(), keyboardVendorId, keyboardProductId).empty();
    };

    BenchUpdater updater;
    std::atomic<int> tests { 0 };
    double cpu = 0.0, wall = 0.0;
    bool met = true;

    updater.runOnThread ([&]
                         {
                             const auto cpuBefore = processCpuSeconds();
                             const auto start = Clock::now();
                             met = updater.waitUntil ([&]
                                                      {
                                                          ++tests;
                                                          return found(); },
                                                      seconds * 1000);
                             wall = secondsSince (start);
                             cpu = processCpuSeconds() - cpuBefore; });

    if (met)
        return fail ("the wait's condition was met");

    std::printf ("cpu=%.6f wall=%.6f share=%.6f tests=%d\n", cpu, wall, cpu / wall, tests.load());
    return 0;
}
} // namespace

int main (int argc, char** argv)
{
    const std::vector<std::string> args (argv + 1, argv + argc);
    const auto number = [] (const std::string& text)
    { return std::max (1, std::atoi (text.c_str())); };
    const auto file = [] (const std::string& path)
    { return juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (path)); };

    if (args.size() == 3 && args[0] == "download")
        return download (args[1], file (args[2]));

    if (args.size() == 3 && args[0] == "copy")
        return copy (file (args[1]), file (args[2]));

    if (args.size() == 3 && args[0] == "poll")
        return poll (args[1], number (args[2]));

    if (args.size() == 4 && args[0] == "wait" && (args[3] == "drive" || args[3] == "port"))
        return wait (args[1], number (args[2]), args[3]);

    std::fprintf (stderr,
                  "usage: hl73-bench-engine download URL FILE | copy FILE DRIVE_ROOT | poll FOLDER STEPS | wait FOLDER SECONDS drive|port\n");
    return 2;
}
