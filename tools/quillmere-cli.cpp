// quillmere-cli: the viewer without a window. Connects to a server the way
// the viewer does, prints the status lines, message boxes and once a second
// the status-bar figures on standard output (log lines go to standard
// error), and ends after --frames N presented frames, after --seconds S, or
// on Ctrl+C with a clean disconnect.
#include "core/PSMemory.h"
#include "core/SAUtilAddress.h"
#include "tools/SACliViewer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
void CliUsage(FILE* out)
{
    std::fputs(
        "usage: quillmere-cli [--frames N] [--seconds S] [--snapshot FILE.png] [--renderer auto|gl|cpu]\n"
        "                     [--display WxH] ADDRESS\n"
        "  ADDRESS     the server's IPv4 address (port 28252)\n"
        "  --frames    end after N presented frames\n"
        "  --seconds   end after S seconds\n"
        "  --snapshot  write the last presented frame, at the server's size, as PNG\n"
        "  --renderer  off-screen OpenGL (gl), memory only (cpu), or GL when a GPU draws it (auto)\n"
        "  --display   the native resolution offered to the server (default 1920x1080)\n"
        "  --version   print the version and exit\n"
        "Settings come from the viewer's settings store (see quillmere-reg).\n",
        out);
}

void CliSignal(int)
{
    SACliViewer::InterruptRequest();
}

bool CliNumber(const char* text, uint64_t& value)
{
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return end != text && *end == '\0';
}
} // namespace

int main(int argc, char** argv)
{
    PSMemoryLargeBlocksKeep();
    SACliOptions options;
    std::string address;
    for (int i = 1; i < argc; ++i)
    {
        std::string arg = argv[i];
        auto next = [&](const char* name) -> const char*
        {
            if (i + 1 >= argc)
            {
                std::fprintf(stderr, "quillmere-cli: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        uint64_t n = 0;
        if (arg == "--help" || arg == "-h")
        {
            CliUsage(stdout);
            return 0;
        }
        else if (arg == "--version")
        {
            std::printf("quillmere-cli %s\n", QM_VERSION);
            return 0;
        }
        else if (arg == "--frames")
        {
            if (!CliNumber(next("--frames"), n))
                return CliUsage(stderr), 2;
            options.m_Frames = n;
        }
        else if (arg == "--seconds")
        {
            if (!CliNumber(next("--seconds"), n) || n > 86400)
                return CliUsage(stderr), 2;
            options.m_Seconds = static_cast<uint32_t>(n);
        }
        else if (arg == "--snapshot")
            options.m_Snapshot = next("--snapshot");
        else if (arg == "--renderer")
        {
            options.m_Renderer = next("--renderer");
            if (options.m_Renderer != "auto" && options.m_Renderer != "gl" && options.m_Renderer != "cpu")
                return CliUsage(stderr), 2;
        }
        else if (arg == "--display")
        {
            int w = 0, h = 0;
            if (std::sscanf(next("--display"), "%dx%d", &w, &h) != 2 || w < 1 || h < 1)
                return CliUsage(stderr), 2;
            options.m_DisplayWidth = w;
            options.m_DisplayHeight = h;
        }
        else if (!arg.empty() && arg[0] == '-')
        {
            std::fprintf(stderr, "quillmere-cli: unknown option %s\n", arg.c_str());
            CliUsage(stderr);
            return 2;
        }
        else
            address = arg;
    }
    if (address.empty() || !SAUtilAddressParse(address, options.m_Address) || options.m_Address == 0)
    {
        std::fprintf(stderr, "quillmere-cli: give the server's IPv4 address\n");
        CliUsage(stderr);
        return 2;
    }
    std::signal(SIGINT, CliSignal);
    std::signal(SIGTERM, CliSignal);
    return SACliViewer::Run(options);
}
