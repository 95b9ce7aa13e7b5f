// hl73-firmware-server: the maker's web server for tests and the demo. It answers HTTPS requests
// for the firmware file with a chosen file or a chosen failure status, optionally slowly, and
// logs each request.

#include "StopOnSignals.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

namespace
{
const char* const usage =
    "usage: hl73-firmware-server --cert PEM --key PEM (--file IMAGE | --status CODE) [options]\n"
    "  --address A       address to listen on (default 127.0.0.1)\n"
    "  --port N          port (default 443)\n"
    "  --path P          path of the firmware file (default /products/46/files/VelmorHL73.uf2.bin)\n"
    "  --rate N          bytes per second that the file is sent at (default: no limit)\n"
    "  --log FILE        appends one line per request\n"
    "  --ready FILE      created once the server listens\n";

[[noreturn]] void fail (const std::string& message)
{
    std::cerr << "hl73-firmware-server: " << message << "\n";
    std::exit (2);
}
} // namespace

int main (int argc, char** argv)
{
    std::string cert, key, file, address = "127.0.0.1", path = "/products/46/files/VelmorHL73.uf2.bin", logPath, readyPath;
    int status = 0, port = 443;
    std::size_t rate = 0;

    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i], value = argv[i + 1];

        if (option == "--cert")
            cert = value;
        else if (option == "--key")
            key = value;
        else if (option == "--file")
            file = value;
        else if (option == "--status")
            status = std::atoi (value.c_str());
        else if (option == "--address")
            address = value;
        else if (option == "--port")
            port = std::atoi (value.c_str());
        else if (option == "--path")
            path = value;
        else if (option == "--rate")
            rate = static_cast<std::size_t> (std::atol (value.c_str()));
        else if (option == "--log")
            logPath = value;
        else if (option == "--ready")
            readyPath = value;
        else
            fail ("unknown option " + option + "\n" + usage);
    }

    if (argc % 2 == 0 || cert.empty() || key.empty() || file.empty() == (status == 0))
        fail (usage);

    std::string body;

    if (! file.empty())
    {
        std::ifstream in (file, std::ios::binary);

        if (! in)
            fail ("cannot read " + file);

        body.assign (std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>());
    }

    httplib::SSLServer server (cert.c_str(), key.c_str());

    if (! server.is_valid())
        fail ("cannot load the certificate " + cert + " or key " + key);

    std::mutex logLock;
    std::ofstream log;

    if (! logPath.empty())
        log.open (logPath, std::ios::app);

    server.set_logger ([&] (const httplib::Request& request, const httplib::Response& response)
                       {
                           const std::lock_guard<std::mutex> guard (logLock);
                           log << request.method << " " << request.path << " " << response.status
                               << " cache-control=" << request.get_header_value ("Cache-Control") << std::endl; });

    server.Get (path, [&] (const httplib::Request&, httplib::Response& response)
                {
                    if (status != 0)
                    {
                        response.status = status;
                        response.set_content ("no such file\n", "text/plain");
                        return;
                    }

                    // The declared length comes first; a limited rate then sends the body in
                    // small, spaced pieces, as a slow connection would.
                    response.set_content_provider (body.size(),
                                                   "application/octet-stream",
                                                   [&body, rate] (std::size_t offset, std::size_t length, httplib::DataSink& sink)
                                                   {
                                                       // A tenth of a second's worth at a time (4 KB at most),
                                                       // so that a slow server still stops promptly.
                                                       const std::size_t piece = rate > 0 ? std::clamp<std::size_t> (rate / 10, 1, 4096) : 4096;
                                                       const auto count = std::min ({ length, piece, body.size() - offset });

                                                       if (rate > 0)
                                                           std::this_thread::sleep_for (std::chrono::microseconds (count * 1000000 / rate));

                                                       return sink.write (body.data() + offset, count);
                                                   }); });

    if (! server.bind_to_port (address, port))
        fail ("cannot listen on " + address + ":" + std::to_string (port));

    if (! readyPath.empty())
        std::ofstream (readyPath) << "listening\n";

    stopOnSignals (server);
    std::signal (SIGPIPE, SIG_IGN);

    server.listen_after_bind();
    return 0;
}
