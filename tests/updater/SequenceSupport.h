#pragma once

#include "LocalHttpServer.h"
#include "TestUpdater.h"
#include "Uf2TestImage.h"

#include <iomanip>
#include <sstream>

namespace SequenceSupport
{
/** 130 blocks: several download steps and three copy chunks. */
inline const juce::MemoryBlock& firmwareImage()
{
    static const auto image = makeUf2Image (130);
    return image;
}

/** A well-formed download that fails the image check. */
inline const juce::MemoryBlock& invalidImage()
{
    static const juce::MemoryBlock image (20000, true);
    return image;
}

/** The maker's server as the tests play it: /firmware, /invalid, and 404 for anything else. */
class MakerServer
{
public:
    MakerServer()
        : server (addRoutes)
    {
    }

    juce::URL url (const std::string& path) const { return server.url (path); }
    int requestCount() const { return server.requestCount(); }

private:
    static void addRoutes (httplib::Server& routes)
    {
        const auto serve = [] (const juce::MemoryBlock& block)
        {
            return [&block] (const httplib::Request&, httplib::Response& response)
            { response.set_content (static_cast<const char*> (block.getData()), block.getSize(), "application/octet-stream"); };
        };

        routes.Get ("/firmware", serve (firmwareImage()));
        routes.Get ("/invalid", serve (invalidImage()));
    }

    LocalHttpServer server;
};

enum class Stage
{
    looking,
    downloading, // the first report and the fractions of a firmware image download
    downloadingInvalid, // the same for the invalid image
    downloadStarted, // the first report only
    preparing,
    copying,
    copyingFirstChunk, // the report of the first chunk only
    copyingAllButTheLastChunk, // the reports of every chunk but the last
    restarting
};

inline std::string describe (bool finished, const juce::String& text, double value, bool busy)
{
    std::ostringstream out;
    out << (finished ? "finished " : "progress ") << std::setprecision (17) << value << (busy ? " busy " : " idle ")
        << text.replace ("\n", "\\n").toStdString();
    return out.str();
}

inline std::vector<std::string> describe (const std::vector<UpdaterEvent>& events)
{
    std::vector<std::string> lines;

    for (const auto& event : events)
        lines.push_back (describe (event.kind == UpdaterEvent::Kind::finished, event.text, event.value, event.busyAtTheTime));

    return lines;
}

inline void addFractions (std::vector<std::string>& lines, const juce::String& text, size_t size, size_t step, bool busy)
{
    for (size_t done = step; done < size + step; done += step)
        lines.push_back (describe (false, text, (double) std::min (done, size) / (double) size, busy));
}

/** The events a run should make: its stages' reports, then the finish (if `message` is set). */
inline std::vector<std::string> expectedEvents (std::initializer_list<Stage> stages, bool success, const juce::String& message)
{
    const juce::String downloading ("Downloading the firmware...");
    const juce::String updating ("Updating the firmware. Do not disconnect the device...");
    std::vector<std::string> lines;

    for (auto stage : stages)
    {
        switch (stage)
        {
            case Stage::looking:
                lines.push_back (describe (false, "Looking for the device...", -1.0, false));
                break;

            case Stage::downloading:
            case Stage::downloadingInvalid:
            case Stage::downloadStarted:
                lines.push_back (describe (false, downloading, -1.0, false));

                if (stage != Stage::downloadStarted)
                    addFractions (lines, downloading, (stage == Stage::downloading ? firmwareImage() : invalidImage()).getSize(), 8192, false);

                break;

            case Stage::preparing:
                lines.push_back (describe (false, "Preparing the device...", -1.0, true));
                break;

            case Stage::copying:
                addFractions (lines, updating, firmwareImage().getSize(), 32768, true);
                break;

            case Stage::copyingFirstChunk:
                lines.push_back (describe (false, updating, 32768.0 / (double) firmwareImage().getSize(), true));
                break;

            case Stage::copyingAllButTheLastChunk:
            {
                const auto before = lines.size();
                addFractions (lines, updating, firmwareImage().getSize(), 32768, true);
                lines.resize (juce::jmax (before, lines.size() - 1));
                break;
            }

            case Stage::restarting:
                lines.push_back (describe (false, "Restarting the device...", -1.0, true));
                break;
        }
    }

    if (message.isNotEmpty())
        lines.push_back (describe (true, message, success ? 1.0 : 0.0, false));

    return lines;
}

namespace Messages
{
inline const juce::String error1 = "Error 1: device not found.\nMake sure your VELMOR HL73 is connected to this computer.";
inline const juce::String error2 = "Error 2: unable to download the firmware.\nCheck your internet connection and retry.";
inline const juce::String error3 = "Error 3: the downloaded firmware is not valid.\nYour device has not been changed.";
inline const juce::String error4 = "Error 4: unable to talk to the device.\nClose any other application that may be using it, disconnect and reconnect it, then retry.";
inline const juce::String error5 = "Error 5: the device did not respond.\nDisconnect and reconnect it, then retry.";
inline const juce::String error6 = "Error 6: the update did not complete.\nDo not disconnect the device, and retry.";
inline const juce::String notRestarted = "The firmware has been copied, but the device did not restart as expected.\nTurn it off and on again. If it does not work, contact support.";
inline const juce::String success = "Your VELMOR HL73 has been updated.";
} // namespace Messages
} // namespace SequenceSupport
