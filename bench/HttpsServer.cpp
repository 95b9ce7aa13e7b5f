// hl73-bench-https: a local HTTPS server that sends one file, held in memory, as fast as the
// connection takes it, to every GET of one path. It listens on 127.0.0.1 at a free port, writes
// that port to a file once it accepts connections, and stops on SIGTERM or SIGINT.
//
//   hl73-bench-https CERT KEY FILE PORT_FILE

#include "StopOnSignals.h"

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main (int argc, char** argv)
{
    if (argc != 5)
    {
        std::fprintf (stderr, "usage: hl73-bench-https CERT KEY FILE PORT_FILE\n");
        return 2;
    }

    std::ifstream in (argv[3], std::ios::binary);

    if (! in)
    {
        std::fprintf (stderr, "hl73-bench-https: cannot read %s\n", argv[3]);
        return 1;
    }

    const std::string body ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());

    httplib::SSLServer server (argv[1], argv[2]);

    if (! server.is_valid())
    {
        std::fprintf (stderr, "hl73-bench-https: cannot load %s and %s\n", argv[1], argv[2]);
        return 1;
    }

    server.Get ("/firmware.uf2", [&body] (const httplib::Request&, httplib::Response& response)
                {
                    // Straight from the one copy in memory, with its length declared.
                    response.set_content_provider (body.size(),
                                                   "application/octet-stream",
                                                   [&body] (size_t offset, size_t length, httplib::DataSink& sink)
                                                   { return sink.write (body.data() + offset, length); }); });

    const int port = server.bind_to_any_port ("127.0.0.1");

    if (port <= 0)
    {
        std::fprintf (stderr, "hl73-bench-https: cannot listen on 127.0.0.1\n");
        return 1;
    }

    stopOnSignals (server);
    std::signal (SIGPIPE, SIG_IGN);

    std::ofstream (argv[4]) << port << "\n";
    server.listen_after_bind();
    return 0;
}
