#include "updater/FirmwareUpdater.h"
#include "updater/MakerSite.h"

namespace
{
constexpr size_t maxImageSize = 16 * 1024 * 1024;
constexpr size_t readStepSize = 8192;
} // namespace

juce::URL FirmwareUpdater::getFirmwareUrl() const
{
    return juce::URL (juce::String (MakerSite::scheme) + MakerSite::host + MakerSite::firmwarePath);
}

bool FirmwareUpdater::downloadFirmware (juce::MemoryBlock& image)
{
    return downloadFirmwareFrom (getFirmwareUrl(), image);
}

bool FirmwareUpdater::downloadFirmwareFrom (const juce::URL& url, juce::MemoryBlock& image)
{
    const juce::String statusText ("Downloading the firmware...");
    onProgress (statusText, -1.0);

    int statusCode = 0;
    const auto options = juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inAddress)
                             .withConnectionTimeoutMs (15000)
                             .withNumRedirectsToFollow (5)
                             .withExtraHeaders ("Cache-Control: no-cache\r\n")
                             .withStatusCode (&statusCode);

    const auto stream = url.createInputStream (options);

    if (stream == nullptr || statusCode != 200)
        return false;

    const juce::int64 total = stream->getTotalLength();
    char buffer[readStepSize];

    while (! stream->isExhausted())
    {
        if (threadShouldExit())
            return false;

        const auto count = stream->read (buffer, sizeof (buffer));

        if (count < 0)
            return false;

        if (count == 0)
            break;

        image.append (buffer, (size_t) count);

        if (image.getSize() > maxImageSize)
            return false;

        if (total > 0)
            onProgress (statusText, (double) image.getSize() / (double) total);
    }

    // The curl backend never returns a negative count: a transfer that breaks off (reset, stall,
    // cut chunked body) just ends early and leaves its error on the stream. Without a declared
    // length that would otherwise pass as a complete body.
    if (auto* webStream = dynamic_cast<juce::WebInputStream*> (stream.get()))
        if (webStream->isError())
            return false;

    return total <= 0 || (juce::int64) image.getSize() == total;
}
