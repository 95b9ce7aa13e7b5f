#include "device/BootloaderDrive.h"
#include "updater/FirmwareUpdater.h"

#include <memory>

namespace
{
constexpr size_t chunkSize = 32768;
constexpr size_t streamBufferSize = 16384;
} // namespace

void FirmwareUpdater::copyFirmwareToDrive (const juce::MemoryBlock& image, const juce::File& driveRoot)
{
    const juce::String statusText ("Updating the firmware. Do not disconnect the device...");
    const auto target = driveRoot.getChildFile ("VelmorHL73.uf2");
    std::unique_ptr<juce::FileOutputStream> stream;

    // A mount point directory can outlive its volume; writing there would fill another disk and
    // look like success. So the volume is checked before each attempt, and the opened file again
    // afterwards in case the volume went in between.
    const auto openOnDrive = [&]
    {
        if (! isOnMountedDrive (driveRoot, driveRoot))
        {
            stream.reset();
            return false;
        }

        const auto existedBefore = target.exists();
        stream = std::make_unique<juce::FileOutputStream> (target, streamBufferSize);

        if (! stream->openedOk())
            return false;

        if (isOnMountedDrive (driveRoot, target))
            return true;

        stream.reset();

        if (! existedBefore)
            target.deleteFile();

        return false;
    };

    waitUntil (openOnDrive, 3000);

    if (stream == nullptr || ! stream->openedOk())
        return;

    // A newly opened stream stands at the end of an existing file.
    stream->setPosition (0);

    const auto size = image.getSize();
    const auto* data = static_cast<const char*> (image.getData());

    for (size_t offset = 0; offset < size; offset += chunkSize)
    {
        const auto count = juce::jmin (chunkSize, size - offset);

        if (! stream->write (data + offset, count))
            return;

        // On Linux this also fsyncs, so the report below follows data the drive has received.
        stream->flush();

        if (stream->getStatus().failed())
            return;

        onProgress (statusText, (double) (offset + count) / (double) size);
    }
}
