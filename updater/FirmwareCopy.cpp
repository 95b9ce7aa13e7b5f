#include "device/BootloaderDrive.h"
#include "updater/FirmwareUpdater.h"

#include <memory>

namespace
{
constexpr size_t chunkSize = 32768;

// No buffer in the stream: each chunk goes to the system in one write whose result is checked.
// A buffered FileOutputStream writes its buffer out inside flush() and drops the result of that
// write, so a short write of the last chunk would go unnoticed.
constexpr size_t streamBufferSize = 0;
} // namespace

FirmwareUpdater::CopyResult FirmwareUpdater::copyFirmwareToDrive (const juce::MemoryBlock& image, const BootloaderDrive& drive)
{
    const juce::String statusText ("Updating the firmware. Do not disconnect the device...");
    const auto target = drive.root.getChildFile ("VelmorHL73.uf2");
    std::unique_ptr<juce::FileOutputStream> stream;

    // A mount point directory can outlive its volume, and another volume can be mounted there
    // later; writing then would fill another disk or reach another device. So the volume is
    // checked before each attempt, and the opened file again afterwards in case the volume went
    // in between.
    const auto openOnDrive = [&]
    {
        if (! isOnDrive (drive, drive.root))
        {
            stream.reset();
            return false;
        }

        const auto existedBefore = target.exists();
        stream = std::make_unique<juce::FileOutputStream> (target, streamBufferSize);

        if (! stream->openedOk())
            return false;

        if (isOnDrive (drive, target))
            return true;

        stream.reset();

        if (! existedBefore)
            target.deleteFile();

        return false;
    };

    waitUntil (openOnDrive, 3000);

    if (stream == nullptr || ! stream->openedOk())
        return CopyResult::incomplete;

    // A newly opened stream stands at the end of an existing file.
    if (! stream->setPosition (0))
        return CopyResult::incomplete;

    const auto size = image.getSize();
    const auto* data = static_cast<const char*> (image.getData());

    // Complete means: every byte was taken by a write, and every sync succeeded, except perhaps
    // the last one. The boot ROM programs blocks as they arrive and restarts once it has the
    // last one, so the sync (or close) after the last chunk may fail on a drive that has already
    // gone; the caller decides that case by whether the drive goes. A failure before that leaves
    // part of the image on the keyboard. The close reports nothing through the stream, and
    // follows a sync of every byte.
    for (size_t offset = 0; offset < size; offset += chunkSize)
    {
        const auto count = juce::jmin (chunkSize, size - offset);
        const auto isLastChunk = offset + count == size;

        if (! stream->write (data + offset, count) || stream->getPosition() != (juce::int64) (offset + count))
            return CopyResult::incomplete;

        // Makes the system write the file's data through to the drive (fsync on Linux).
        stream->flush();

        if (stream->getStatus().failed())
            return isLastChunk ? CopyResult::lastSyncFailed : CopyResult::incomplete;

        onProgress (statusText, (double) (offset + count) / (double) size);
    }

    return CopyResult::complete;
}
