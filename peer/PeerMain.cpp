// quillmere-peer: the bundled display server used by demos, end-to-end tests
// and benchmarks. Prints "quillmere-peer: listening on ADDR:28252" once it
// accepts connections; SIGINT or SIGTERM end it cleanly (exit status 0).
#include "peer/PeerOptions.h"
#include "peer/PeerServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace
{
PeerServer* g_Server = nullptr; // set while the server runs; read by the signal handler

void PeerSignalHandle(int)
{
    if (g_Server != nullptr)
    {
        g_Server->StopRequest();
    }
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--version")
    {
        std::printf("quillmere-peer %s\n", QM_VERSION);
        return 0;
    }
    PeerOptions options;
    std::string error;
    if (!PeerOptions::Parse(argc, argv, options, error))
    {
        std::fputs(PeerOptions::UsageText().c_str(), error.empty() ? stdout : stderr);
        if (!error.empty())
        {
            std::fprintf(stderr, "quillmere-peer: %s\n", error.c_str());
            return 2;
        }
        return 0;
    }

    std::signal(SIGPIPE, SIG_IGN);
    PeerServer server(options);
    g_Server = &server;
    struct sigaction action = {};
    action.sa_handler = PeerSignalHandle;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The terminal it was started from closing: an orderly end as well,
    // which lets go of the keys and buttons a viewer held on the display.
    sigaction(SIGHUP, &action, nullptr);
    if (!server.Start())
    {
        std::fprintf(stderr, "quillmere-peer: %s\n", server.ErrorGet().c_str());
        return 1;
    }

    std::printf("quillmere-peer: listening on %s:28252\n", options.BindAddress.c_str());
    if (!options.Quiet && options.Source == PeerSource::X11)
    {
        std::printf(
            "quillmere-peer: X display %s, %s unless the viewer asks otherwise, input %s, window %u\n",
            !options.X11Display.empty() ? options.X11Display.c_str()
            : std::getenv("DISPLAY") != nullptr && *std::getenv("DISPLAY") != '\0'
                ? std::getenv("DISPLAY")
                : "(none: DISPLAY is not set)",
            PeerOptions::CodecName(options.Codec), options.Inject ? "applied" : "ignored", options.Window);
    }
    else if (!options.Quiet)
    {
        std::printf("quillmere-peer: %dx%d %s, %d fragment(s), %d fps, window %u\n", options.Width,
                    options.Height, PeerOptions::CodecName(options.Codec), options.Fragments, options.Fps,
                    options.Window);
    }
    std::fflush(stdout);

    server.Wait();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    g_Server = nullptr;
    return 0;
}
