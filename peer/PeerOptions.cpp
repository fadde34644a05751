#include "peer/PeerOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace
{
bool PrivateIntegerParse(const std::string& text, long minimum, long maximum, long& value)
{
    if (text.empty())
    {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || parsed < minimum || parsed > maximum)
    {
        return false;
    }
    value = parsed;
    return true;
}

bool PrivateSizeParse(const std::string& text, int& width, int& height)
{
    size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
    {
        return false;
    }
    long w = 0;
    long h = 0;
    // A 16384-pixel edge keeps every size product of the wire fields in 32 bits.
    if (!PrivateIntegerParse(text.substr(0, x), 1, 16384, w) ||
        !PrivateIntegerParse(text.substr(x + 1), 1, 16384, h))
    {
        return false;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}
} // namespace

bool PeerOptions::WavRead(const std::string& path, std::vector<uint8_t>& frames, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        error = "cannot read " + path;
        return false;
    }
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u16 = [&](size_t at) { return static_cast<uint32_t>(file[at] | file[at + 1] << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (file.size() < 12 || file[0] != 'R' || file[1] != 'I' || file[2] != 'F' || file[3] != 'F' ||
        file[8] != 'W' || file[9] != 'A' || file[10] != 'V' || file[11] != 'E')
    {
        error = path + " is not a WAV file";
        return false;
    }
    bool format = false;
    for (size_t at = 12; at + 8 <= file.size();)
    {
        const std::string id(file.begin() + static_cast<std::ptrdiff_t>(at),
                             file.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const size_t size = u32(at + 4);
        const size_t body = at + 8;
        if (size > file.size() - body)
        {
            error = path + ": chunk " + id + " runs past the end";
            return false;
        }
        if (id == "fmt ")
        {
            // Tag 1 is PCM; 0xFFFE (extensible) carries the real tag at the
            // start of its sub-format GUID.
            const bool pcm =
                size >= 16 && (u16(body) == 1 || (u16(body) == 0xFFFE && size >= 26 && u16(body + 24) == 1));
            if (!pcm || u16(body + 2) != 2 || u32(body + 4) != 48000 || u16(body + 14) != 16)
            {
                error = path + " is not 16-bit PCM, 2 channels, 48000 Hz";
                return false;
            }
            format = true;
        }
        else if (id == "data")
        {
            if (!format)
            {
                error = path + ": data before its format";
                return false;
            }
            frames.assign(file.begin() + static_cast<std::ptrdiff_t>(body),
                          file.begin() + static_cast<std::ptrdiff_t>(body + size / 4 * 4));
            if (frames.empty())
            {
                error = path + " holds no sound";
                return false;
            }
            return true;
        }
        at = body + size + (size & 1);
    }
    error = path + " has no " + (format ? "data" : "format") + " chunk";
    return false;
}

const char* PeerOptions::CodecName(PeerCodec codec)
{
    switch (codec)
    {
    case PeerCodec::Raw:
        return "raw";
    case PeerCodec::Yuv:
        return "yuv";
    case PeerCodec::Jpeg:
        return "jpeg";
    case PeerCodec::H264:
        return "h264";
    }
    return "?";
}

std::string PeerOptions::UsageText()
{
    return "usage: quillmere-peer [options]\n"
           "  --bind ADDR              listen address (default 0.0.0.0; the port is always 28252)\n"
           "  --size WxH               stream size (default 1280x720)\n"
           "  --fps N                  frames per second, 0 = as fast as flow control allows (default 30)\n"
           "  --fragments 1..4         horizontal bands per frame (default 1)\n"
           "  --codec raw|yuv|jpeg|h264  payload format (default jpeg; h264 needs an even --size)\n"
           "  --quality 1..100         JPEG quality, or H.264 quality as CRF 51-0.4*Q (default 80)\n"
           "  --gop N                  H.264 frames from one IDR to the next, 1..10000 (default 60)\n"
           "  --bitrate BPS            H.264 average bit rate instead of constant quality\n"
           "  --frames N               frames per connection, then Disconnect 0 (default 0 = unlimited)\n"
           "  --window N               frames in flight beyond acknowledgements, 0 = unlimited (default 4)\n"
           "  --record FILE            one JSON line per packet received from a viewer\n"
           "  --scenario SPEC          e.g. reset@30:1,visibility@60:0,malformed@40,disconnect@120:3\n"
           "  --save-last FILE         PNG of the last frame sent, written when a connection ends\n"
           "  --name NAME              server name (in discovery replies)\n"
           "  --features BITS          discovery reply feature bitmap, e.g. 8 audio, 16 encryption (default "
           "0)\n"
           "  --discovery-reply-size N bytes per discovery reply, 1..2048 (default 308; others are for "
           "tests)\n"
           "  --audio-packets N        10 ms audio packets per audio connection, then Disconnect 0 (default "
           "0 = "
           "unlimited)\n"
           "  --audio sine|FILE.wav|off|monitor  audio connection's sound: the test tone, a 16-bit stereo 48 "
           "kHz "
           "WAV (looped), nothing, or what this machine plays (the tone where no sound server is) (default "
           "sine)\n"
           "  --audio-skew PPM         run the audio clock PPM parts per million fast (negative: slow), "
           "-50000..50000 (default 0)\n"
           "  --audio-stall MS@SECONDS  at SECONDS of audio send nothing for MS ms, then the backlog at "
           "once\n"
           "  --source synth|x11[:DISPLAY]  the picture: the synthetic desktop (default) or a real X display "
           "(default $DISPLAY), sent as it changes in the codec, quality and frame rate the viewer asks for\n"
           "  --inject                 apply the viewer's mouse, keyboard and touch input to the X display\n"
           "  --exit-after-clients N   exit once N connections have ended\n"
           "  --max-clients N          display connections served at once, 1..1024; one more gets\n"
           "                           Disconnect 0 (default 8; audio connections do not count)\n"
           "  --request-timeout SECONDS  close a connection that has not sent its connect request\n"
           "                           by then, 0.05..3600 (default 10)\n"
           "  --chaos SEED             random drops, resets, visibility flips and malformed packets;\n"
           "                           JPEG and H.264 alternate per connection (for soak runs)\n"
           "  --motion window|full     synthetic desktop: only a window moves (default), or the whole\n"
           "                           desktop pans every frame\n"
           "  --loop N                 encode frames 0..N-1 once at start and send them over and over\n"
           "  --still                  send the first frame, then nothing but keep the connection\n"
           "  --stats                  print at the end of each display connection:\n"
           "                           stats connection=<id> frames=<n> seconds=<s> fps=<f> ack_p50=<ms>\n"
           "                           ack_p95=<ms> ack_p99=<ms> (from each frame's last fragment sent to\n"
           "                           its acknowledgement; frames and fps after the warm-up)\n"
           "  --stats-warmup SECONDS   time after the first frame that --stats leaves out (default 2)\n"
           "  --stats-seconds SECONDS  time after the warm-up that --stats counts (default 0 = the rest of\n"
           "                           the connection)\n"
           "  --quiet                  no progress lines (the listening line is always printed)\n"
           "  --version                print the version and exit (alone)\n";
}

bool PeerOptions::Parse(int argc, const char* const* argv, PeerOptions& options, std::string& error)
{
    error.clear();
    for (int i = 1; i < argc; ++i)
    {
        std::string name = argv[i];
        if (name == "--help" || name == "-h")
        {
            return false;
        }
        if (name == "--quiet")
        {
            options.Quiet = true;
            continue;
        }
        if (name == "--inject")
        {
            options.Inject = true;
            continue;
        }
        if (name == "--still")
        {
            options.Still = true;
            continue;
        }
        if (name == "--stats")
        {
            options.Stats = true;
            continue;
        }
        if (i + 1 >= argc)
        {
            // Only an option the usage lists with a value can miss one.
            const bool valued =
                name != "--version" && UsageText().find("  " + name + " ") != std::string::npos;
            error = valued                ? "missing value for " + name
                    : name == "--version" ? std::string("--version goes alone")
                                          : "unknown option " + name;
            return false;
        }
        std::string value = argv[++i];
        long number = 0;
        if (name == "--bind")
        {
            options.BindAddress = value;
        }
        else if (name == "--size")
        {
            if (!PrivateSizeParse(value, options.Width, options.Height))
            {
                error = "invalid --size " + value + " (expected WxH, 1..16384 each)";
                return false;
            }
        }
        else if (name == "--fps")
        {
            if (!PrivateIntegerParse(value, 0, 10000, number))
            {
                error = "invalid --fps " + value;
                return false;
            }
            options.Fps = static_cast<int>(number);
        }
        else if (name == "--fragments")
        {
            if (!PrivateIntegerParse(value, 1, 4, number))
            {
                error = "invalid --fragments " + value + " (1..4)";
                return false;
            }
            options.Fragments = static_cast<int>(number);
        }
        else if (name == "--codec")
        {
            if (value == "raw")
            {
                options.Codec = PeerCodec::Raw;
            }
            else if (value == "yuv")
            {
                options.Codec = PeerCodec::Yuv;
            }
            else if (value == "jpeg")
            {
                options.Codec = PeerCodec::Jpeg;
            }
            else if (value == "h264")
            {
                options.Codec = PeerCodec::H264;
            }
            else
            {
                error = "invalid --codec " + value + " (raw, yuv, jpeg or h264)";
                return false;
            }
        }
        else if (name == "--quality")
        {
            if (!PrivateIntegerParse(value, 1, 100, number))
            {
                error = "invalid --quality " + value + " (1..100)";
                return false;
            }
            options.Quality = static_cast<int>(number);
        }
        else if (name == "--gop")
        {
            if (!PrivateIntegerParse(value, 1, 10000, number))
            {
                error = "invalid --gop " + value + " (1..10000)";
                return false;
            }
            options.Gop = static_cast<int>(number);
        }
        else if (name == "--bitrate")
        {
            // Up to 1 Gbit/s; below 10 kbit/s x264 cannot keep a picture.
            if (!PrivateIntegerParse(value, 10000, 1000000000, number))
            {
                error = "invalid --bitrate " + value + " (10000..1000000000)";
                return false;
            }
            options.Bitrate = number;
        }
        else if (name == "--frames")
        {
            if (!PrivateIntegerParse(value, 0, 0x7FFFFFFF, number))
            {
                error = "invalid --frames " + value;
                return false;
            }
            options.Frames = static_cast<uint32_t>(number);
        }
        else if (name == "--window")
        {
            if (!PrivateIntegerParse(value, 0, 0x7FFFFFFF, number))
            {
                error = "invalid --window " + value;
                return false;
            }
            options.Window = static_cast<uint32_t>(number);
        }
        else if (name == "--record")
        {
            options.RecordPath = value;
        }
        else if (name == "--scenario")
        {
            options.Scenario = value;
        }
        else if (name == "--save-last")
        {
            options.SaveLastPath = value;
        }
        else if (name == "--name")
        {
            options.Name = value;
        }
        else if (name == "--features")
        {
            if (!PrivateIntegerParse(value, 0, 0x7FFFFFFF, number))
            {
                error = "invalid --features " + value;
                return false;
            }
            options.Features = static_cast<uint32_t>(number);
        }
        else if (name == "--audio-packets")
        {
            if (!PrivateIntegerParse(value, 0, 0x7FFFFFFF, number))
            {
                error = "invalid --audio-packets " + value;
                return false;
            }
            options.AudioPackets = static_cast<uint32_t>(number);
        }
        else if (name == "--audio")
        {
            if (value == "sine")
            {
                options.Audio = PeerAudio::Sine;
            }
            else if (value == "off")
            {
                options.Audio = PeerAudio::Off;
            }
            else if (value == "monitor")
            {
                options.Audio = PeerAudio::Monitor;
            }
            else
            {
                std::string reason;
                if (!WavRead(value, options.AudioWav, reason))
                {
                    error = "invalid --audio " + value + " (sine, off, monitor or a WAV file): " + reason;
                    return false;
                }
                options.Audio = PeerAudio::Wav;
            }
        }
        else if (name == "--audio-skew")
        {
            if (!PrivateIntegerParse(value, -50000, 50000, number))
            {
                error = "invalid --audio-skew " + value + " (-50000..50000)";
                return false;
            }
            options.AudioSkewPpm = static_cast<int32_t>(number);
        }
        else if (name == "--audio-stall")
        {
            const size_t at = value.find('@');
            long ms = 0;
            char* end = nullptr;
            const double seconds = at == std::string::npos ? -1.0 : std::strtod(value.c_str() + at + 1, &end);
            if (at == std::string::npos || !PrivateIntegerParse(value.substr(0, at), 1, 600000, ms) ||
                end == value.c_str() + at + 1 || *end != '\0' || !(seconds >= 0.0 && seconds <= 86400.0))
            {
                error = "invalid --audio-stall " + value + " (MS@SECONDS, MS 1..600000)";
                return false;
            }
            options.AudioStallMs = static_cast<uint32_t>(ms);
            options.AudioStallAtMs = static_cast<uint64_t>(std::llround(seconds * 1000.0));
        }
        else if (name == "--discovery-reply-size")
        {
            if (!PrivateIntegerParse(value, 1, 2048, number))
            {
                error = "invalid --discovery-reply-size " + value + " (1..2048)";
                return false;
            }
            options.DiscoveryReplySize = static_cast<size_t>(number);
        }
        else if (name == "--source")
        {
            if (value == "synth")
            {
                options.Source = PeerSource::Synth;
            }
            else if (value == "x11" || value.rfind("x11:", 0) == 0)
            {
#ifdef QM_PEER_X11
                options.Source = PeerSource::X11;
                // x11:1 is display :1; a full name (x11::1, x11:host:0) is kept.
                options.X11Display = value.size() > 4 ? value.substr(4) : std::string();
                if (!options.X11Display.empty() && options.X11Display.find(':') == std::string::npos)
                {
                    options.X11Display.insert(0, ":");
                }
#else
                error = "invalid --source " + value + " (built without the X libraries)";
                return false;
#endif
            }
            else
            {
                error = "invalid --source " + value + " (synth or x11[:DISPLAY])";
                return false;
            }
        }
        else if (name == "--exit-after-clients")
        {
            if (!PrivateIntegerParse(value, 0, 0x7FFFFFFF, number))
            {
                error = "invalid --exit-after-clients " + value;
                return false;
            }
            options.ExitAfterClients = static_cast<uint32_t>(number);
        }
        else if (name == "--max-clients")
        {
            if (!PrivateIntegerParse(value, 1, 1024, number))
            {
                error = "invalid --max-clients " + value + " (1..1024)";
                return false;
            }
            options.MaxClients = static_cast<uint32_t>(number);
        }
        else if (name == "--request-timeout")
        {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(seconds >= 0.05 && seconds <= 3600.0))
            {
                error = "invalid --request-timeout " + value + " (0.05..3600 seconds)";
                return false;
            }
            options.RequestTimeoutMs = static_cast<uint32_t>(std::llround(seconds * 1000.0));
        }
        else if (name == "--motion")
        {
            if (value != "window" && value != "full")
            {
                error = "invalid --motion " + value + " (window or full)";
                return false;
            }
            options.Motion = value == "full" ? PeerMotion::Full : PeerMotion::Window;
        }
        else if (name == "--loop")
        {
            if (!PrivateIntegerParse(value, 0, 10000, number))
            {
                error = "invalid --loop " + value + " (0..10000)";
                return false;
            }
            options.Loop = static_cast<uint32_t>(number);
        }
        else if (name == "--stats-warmup" || name == "--stats-seconds")
        {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(seconds >= 0.0 && seconds <= 86400.0))
            {
                error = "invalid " + name + " " + value + " (0..86400 seconds)";
                return false;
            }
            (name == "--stats-warmup" ? options.StatsWarmupMs : options.StatsSpanMs) =
                static_cast<uint32_t>(std::llround(seconds * 1000.0));
        }
        else if (name == "--chaos")
        {
            if (!PrivateIntegerParse(value, 0, 0x7FFFFFFF, number))
            {
                error = "invalid --chaos " + value;
                return false;
            }
            options.Chaos = true;
            options.ChaosSeed = static_cast<uint32_t>(number);
        }
        else
        {
            error = "unknown option " + name;
            return false;
        }
    }
    if (options.Inject && options.Source != PeerSource::X11)
    {
        error = "--inject needs --source x11";
        return false;
    }
    // A 4:2:0 H.264 picture has even sides. The synthetic desktop has the
    // one size for every connection, so at an odd size no connection could
    // ever get its H.264 stream; refused here instead. (A real display's
    // size is known only while streaming; there an odd one goes as JPEG.)
    if (options.Source == PeerSource::Synth && (options.Codec == PeerCodec::H264 || options.Chaos) &&
        (options.Width % 2 != 0 || options.Height % 2 != 0))
    {
        error = std::string(options.Chaos ? "--chaos (half its connections are H.264)" : "--codec h264") +
                " needs an even --size: an H.264 picture has even sides, " + std::to_string(options.Width) +
                "x" + std::to_string(options.Height) + " has an odd one";
        return false;
    }
    // A looped frame is sent as it was encoded: nothing may change it on
    // the way, and an H.264 stream may only restart at its first frame.
    if (options.Loop > 0 &&
        (options.Chaos || !options.Scenario.empty() || options.Source != PeerSource::Synth))
    {
        error = "--loop needs the synthetic source without --chaos or --scenario";
        return false;
    }
    return true;
}
