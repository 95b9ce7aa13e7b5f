#include "LocalHttpServer.h"
#include "TestUpdater.h"

#include "CaseName.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>

namespace
{
constexpr size_t sixteenMiB = 16 * 1024 * 1024;

std::string bodyOfSize (size_t size)
{
    std::string body (size, '\0');

    for (size_t i = 0; i < size; ++i)
        body[i] = (char) ((i * 7 + i / 251) & 0xff);

    return body;
}

bool sameBytes (const juce::MemoryBlock& image, const std::string& body)
{
    return image.getSize() == body.size() && (body.empty() || std::memcmp (image.getData(), body.data(), body.size()) == 0);
}

/** -1.0, then one report per 8192-byte step up to `lastReported` bytes: received / declared. */
std::vector<double> declaredLengthReports (size_t lastReported, size_t declared)
{
    std::vector<double> values { -1.0 };

    for (size_t received = 8192; received < lastReported + 8192; received += 8192)
        values.push_back ((double) std::min (received, lastReported) / (double) declared);

    return values;
}

/** Serves /body/<n> with a declared length, /chunked/<n> without one, /status/<code>, and
    /redirect/<k>, which takes k redirects to reach a 200. Records the request headers.
*/
class FirmwareServer
{
public:
    FirmwareServer()
        : server ([this] (httplib::Server& routes)
                  { addRoutes (routes); })
    {
    }

    juce::URL url (const std::string& path) const { return server.url (path); }
    int requestCount() const { return server.requestCount(); }

    std::string lastHeader (const std::string& name) const
    {
        const std::scoped_lock guard (lock);
        return lastRequest.get_header_value (name);
    }

    std::string lastMethod() const
    {
        const std::scoped_lock guard (lock);
        return lastRequest.method;
    }

private:
    using Handler = void (FirmwareServer::*) (size_t, httplib::Response&);

    void addRoutes (httplib::Server& routes)
    {
        const auto route = [this, &routes] (const std::string& pattern, Handler handler)
        {
            const auto handle = [this, handler] (const httplib::Request& request, httplib::Response& response)
            {
                remember (request);
                (this->*handler) (std::stoul (request.matches[1]), response);
            };

            routes.Get (pattern, handle);
        };

        route (R"(/body/(\d+))", &FirmwareServer::declaredLength);
        route (R"(/chunked/(\d+))", &FirmwareServer::chunked);
        route (R"(/status/(\d+))", &FirmwareServer::status);
        route (R"(/redirect/(\d+))", &FirmwareServer::redirect);
    }

    void declaredLength (size_t size, httplib::Response& response)
    {
        response.set_content (bodyOfSize (size), "application/octet-stream");
    }

    void chunked (size_t size, httplib::Response& response)
    {
        const auto body = std::make_shared<std::string> (bodyOfSize (size));

        const auto provider = [body] (size_t offset, httplib::DataSink& sink)
        {
            const auto n = std::min<size_t> (3000, body->size() - offset);

            if (n > 0)
                sink.write (body->data() + offset, n);

            if (offset + n == body->size())
                sink.done();

            return true;
        };

        response.set_chunked_content_provider ("application/octet-stream", provider);
    }

    void status (size_t code, httplib::Response& response)
    {
        response.status = (int) code;

        if (code != 304)
            response.set_content (bodyOfSize (1024), "application/octet-stream");
    }

    void redirect (size_t remaining, httplib::Response& response)
    {
        if (remaining > 0)
            response.set_redirect ("/redirect/" + std::to_string (remaining - 1));
        else
            response.set_content (bodyOfSize (1000), "application/octet-stream");
    }

    void remember (const httplib::Request& request)
    {
        const std::scoped_lock guard (lock);
        lastRequest = request;
    }

    mutable std::mutex lock;
    httplib::Request lastRequest;
    LocalHttpServer server;
};

struct DownloadCase
{
    const char* name;
    std::string path;
    bool expectedResult;
    size_t expectedSize; // checked against the served body on success
    std::vector<double> expectedReports;
};

/** GoogleTest shows a case by its name, not as the bytes of the struct. */
void PrintTo (const DownloadCase& c, std::ostream* os)
{
    *os << c.name;
}

class DownloadCases : public ::testing::TestWithParam<DownloadCase>
{
};

TEST_P (DownloadCases, ResultImageAndReports)
{
    const auto& c = GetParam();
    FirmwareServer server;
    TestUpdater updater;
    juce::MemoryBlock image;

    EXPECT_EQ (updater.downloadFirmwareFrom (server.url (c.path), image), c.expectedResult);
    EXPECT_EQ (updater.progressValues(), c.expectedReports);

    for (const auto& event : updater.events())
        EXPECT_EQ (event.text, "Downloading the firmware...");

    if (c.expectedResult)
    {
        EXPECT_TRUE (sameBytes (image, bodyOfSize (c.expectedSize)));
    }

    EXPECT_EQ (server.lastMethod(), "GET");
    EXPECT_EQ (server.lastHeader ("Cache-Control"), "no-cache");
}

INSTANTIATE_TEST_SUITE_P (
    Http,
    DownloadCases,
    ::testing::Values (
        DownloadCase { "DeclaredLength", "/body/20000", true, 20000, { -1.0, 8192.0 / 20000, 16384.0 / 20000, 1.0 } },
        DownloadCase { "DeclaredLengthWholeSteps", "/body/16384", true, 16384, { -1.0, 0.5, 1.0 } },
        DownloadCase { "NoDeclaredLength", "/chunked/20000", true, 20000, { -1.0 } },
        DownloadCase { "EmptyWithLengthZero", "/body/0", true, 0, { -1.0 } },
        DownloadCase { "EmptyWithoutLength", "/chunked/0", true, 0, { -1.0 } },
        DownloadCase { "FiveRedirects", "/redirect/5", true, 1000, { -1.0, 1.0 } },
        DownloadCase { "SixRedirects", "/redirect/6", false, 0, { -1.0 } },
        DownloadCase { "NotFound", "/status/404", false, 0, { -1.0 } },
        DownloadCase { "ServerError", "/status/500", false, 0, { -1.0 } },
        DownloadCase { "PartialContent", "/status/206", false, 0, { -1.0 } },
        DownloadCase { "NotModified", "/status/304", false, 0, { -1.0 } },
        DownloadCase { "ExactlySixteenMiB", "/body/16777216", true, sixteenMiB, declaredLengthReports (sixteenMiB, sixteenMiB) },
        // The step that crosses the limit makes no report.
        DownloadCase { "OneByteOverSixteenMiB", "/body/16777217", false, 0, declaredLengthReports (sixteenMiB, sixteenMiB + 1) }),
    CaseName());

TEST (Download, StopRequestEndsTheTransferAtTheNextStep)
{
    FirmwareServer server;
    TestUpdater updater;
    juce::MemoryBlock image;

    updater.onEvent = [&] (const UpdaterEvent& event)
    {
        if (event.value > 0)
            updater.signalThreadShouldExit();
    };

    EXPECT_FALSE (updater.downloadFirmwareFrom (server.url ("/body/100000"), image));
    EXPECT_EQ (updater.progressValues(), (std::vector<double> { -1.0, 8192.0 / 100000 }));
}

TEST (Download, NoServerFailsAfterTheFirstReportOnly)
{
    juce::URL url;

    {
        const RawHttpServer closedAgain ([] (socket_t, const std::atomic<bool>&) {});
        url = closedAgain.url ("/firmware");
    }

    TestUpdater updater;
    juce::MemoryBlock image;

    EXPECT_FALSE (updater.downloadFirmwareFrom (url, image));
    EXPECT_EQ (updater.progressValues(), std::vector<double> { -1.0 });
}

struct BrokenResponseCase
{
    const char* name;
    std::string response; // sent as it stands
    std::string afterPause; // sent a moment later, when the reading has begun; then the connection closes
    bool reset = false; // closed with a reset instead of an orderly end
};

/** GoogleTest shows a case by its name, not as the bytes of the struct. */
void PrintTo (const BrokenResponseCase& c, std::ostream* os)
{
    *os << c.name;
}

class BrokenResponses : public ::testing::TestWithParam<BrokenResponseCase>
{
};

TEST_P (BrokenResponses, Fail)
{
    const auto respond = [c = GetParam()] (socket_t socket, const std::atomic<bool>&)
    {
        RawHttpServer::send (socket, c.response);
        juce::Thread::sleep (300);
        RawHttpServer::send (socket, c.afterPause);

        if (c.reset)
            RawHttpServer::resetOnClose (socket);
    };

    const RawHttpServer server (respond);
    TestUpdater updater;
    juce::MemoryBlock image;

    EXPECT_FALSE (updater.downloadFirmwareFrom (server.url ("/firmware"), image));
}

const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

INSTANTIATE_TEST_SUITE_P (
    Http,
    BrokenResponses,
    ::testing::Values (
        BrokenResponseCase { "ShorterThanDeclared", "HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n" + bodyOfSize (9000), bodyOfSize (1000) },
        // Without a declared length only the transfer's own error shows that the body is cut.
        BrokenResponseCase { "ChunkedBodyCutOff", chunkedHead + "2000\r\n" + bodyOfSize (0x2000) + "\r\n", "2000\r\n" + bodyOfSize (100) },
        BrokenResponseCase { "ResetWithoutDeclaredLength", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + bodyOfSize (9000), bodyOfSize (1000), true },
        BrokenResponseCase { "NotHttp", "SSH-2.0-OpenSSH_9.2\r\n", {} }),
    CaseName());

TEST (Download, CompiledInAddressIsTheMakersFirmwareFile)
{
    const TestUpdater updater;

    EXPECT_EQ (updater.getCompiledInFirmwareUrl().toString (true),
               juce::String ("https://") + HL73_MAKER_HOST + "/products/46/files/VelmorHL73.uf2.bin");
}
} // namespace
