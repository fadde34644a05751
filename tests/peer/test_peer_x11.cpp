// The peer showing a real X display: ctest starts this under Xvfb (640x480),
// the test draws its own full-screen window there, and the real peer
// (--source x11) reads it on loopback addresses 127.0.0.161 .. 127.0.0.167,
// seen by the real quillmere-cli or by the test's own minimal viewer.
#include "core/SAInputKeyTable.h"
#include "core/SAUtilPng.h"
#include "peer/PeerEncoder.h"
#include "peer/PeerFrameSynth.h"
#include "pipeline/PSDecoderH264.h"
#include "tests/peer/PeerTestClient.h"
#include "tests/peer/PeerTestProcess.h"

#include <gtest/gtest.h>

#include <linux/input-event-codes.h>
#include <turbojpeg.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

// Last: Xlib defines macros (None, Bool, Status) other headers use as names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

namespace
{
// A window over the whole screen showing a known picture; a second
// connection collects the characters typed and the clicks made into it.
class TestWindow
{
public:
    TestWindow()
    {
        m_Dpy = Open();
        m_Events = Open();
        if (m_Dpy == nullptr || m_Events == nullptr)
            return;
        Width = DisplayWidth(m_Dpy, 0);
        Height = DisplayHeight(m_Dpy, 0);
        XSetWindowAttributes attributes = {};
        attributes.override_redirect = True;
        m_Window = XCreateWindow(m_Dpy, DefaultRootWindow(m_Dpy), 0, 0, Width, Height, 0, CopyFromParent,
                                 InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
        XSync(m_Dpy, False);
        XSelectInput(m_Events, m_Window, KeyPressMask | ButtonPressMask);
        XSync(m_Events, False);
        XMapRaised(m_Dpy, m_Window);
        m_Gc = XCreateGC(m_Dpy, m_Window, 0, nullptr);
        Picture.resize(static_cast<size_t>(Width) * Height * 4);
        PeerFrameSynth(Width, Height, 7, Picture.data());
        XImage* image = XCreateImage(m_Dpy, DefaultVisual(m_Dpy, 0), 24, ZPixmap, 0,
                                     reinterpret_cast<char*>(Picture.data()), Width, Height, 32, Width * 4);
        XPutImage(m_Dpy, m_Window, m_Gc, image, 0, 0, 0, 0, Width, Height);
        image->data = nullptr;
        XDestroyImage(image);
        XSetInputFocus(m_Dpy, m_Window, RevertToParent, CurrentTime);
        XSync(m_Dpy, False);
    }
    static Display* Open()
    {
        Display* dpy = nullptr;
        for (int i = 0; i < 100 && (dpy = XOpenDisplay(nullptr)) == nullptr; ++i)
        {
            std::fprintf(stderr, "XOpenDisplay failed: %s\n", std::strerror(errno));
            usleep(20000);
        }
        return dpy;
    }
    ~TestWindow()
    {
        if (m_Events != nullptr)
            XCloseDisplay(m_Events);
        if (m_Gc != nullptr)
            XFreeGC(m_Dpy, m_Gc);
        if (m_Dpy != nullptr)
            XCloseDisplay(m_Dpy);
    }
    // The known picture as packed RGB.
    std::vector<uint8_t> PictureRgb() const { return Rgb(Picture.data(), Width * 4); }
    std::vector<uint8_t> Rgb(const uint8_t* bgrx, size_t pitch) const
    {
        std::vector<uint8_t> rgb(static_cast<size_t>(Width) * Height * 3);
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x)
                for (int c = 0; c < 3; ++c)
                    rgb[(static_cast<size_t>(y) * Width + x) * 3 + c] = bgrx[y * pitch + x * 4 + 2 - c];
        return rgb;
    }
    void RectFill(int x, int y, int w, int h, unsigned long rgb)
    {
        XSetForeground(m_Dpy, m_Gc, rgb);
        XFillRectangle(m_Dpy, m_Window, m_Gc, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
        XSync(m_Dpy, False);
    }
    void PointerPlace(int x, int y)
    {
        XWarpPointer(m_Dpy, 0, DefaultRootWindow(m_Dpy), 0, 0, 0, 0, x, y);
        XSync(m_Dpy, False);
    }
    // Collects input until `chars` characters and `clicks` button presses
    // arrived (guard: 15 s against a hang).
    void InputAwait(size_t chars, size_t clicks, int guardMs = 15000)
    {
        for (int i = 0; i < guardMs / 10 && (Typed.size() < chars || Clicks.size() < clicks); ++i)
        {
            pollfd fd = {ConnectionNumber(m_Events), POLLIN, 0};
            poll(&fd, 1, 10);
            while (XPending(m_Events) > 0)
            {
                XEvent event;
                XNextEvent(m_Events, &event);
                char text[8] = {};
                if (event.type == KeyPress &&
                    XLookupString(&event.xkey, text, sizeof(text), nullptr, nullptr) > 0)
                    Typed += text;
                if (event.type == ButtonPress)
                    Clicks.emplace_back(event.xbutton.x, event.xbutton.y);
            }
        }
    }

    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Picture; // BGRX
    std::string Typed;
    std::vector<std::pair<int, int>> Clicks;

private:
    Display* m_Dpy = nullptr;
    Display* m_Events = nullptr;
    Window m_Window = 0;
    GC m_Gc = nullptr;
};

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
}

// The picture through the peer's encoder alone (one band, the whole
// screen, as a first frame is sent) and back: the codec's own loss.
std::vector<uint8_t> CodecAlone(const TestWindow& window, PeerCodec codec, int quality)
{
    PeerEncoder encoder(codec, quality, 60, 0, 60);
    const uint8_t* payload = nullptr;
    size_t bytes = 0;
    EXPECT_TRUE(encoder.BandEncode(window.Picture.data(), window.Width, window.Width * 4, window.Height,
                                   payload, bytes));
    std::vector<uint8_t> decoded(window.Picture.size());
    if (codec == PeerCodec::Jpeg)
    {
        tjhandle handle = tjInitDecompress();
        tjDecompress2(handle, payload, bytes, decoded.data(), window.Width, window.Width * 4, window.Height,
                      TJPF_BGRX, 0);
        tjDestroy(handle);
    }
    else
    {
        PSDecoderH264 decoder;
        int32_t w = 0, h = 0;
        bool noOutput = false;
        EXPECT_TRUE(decoder.Initialize(window.Width, window.Height));
        EXPECT_TRUE(
            decoder.Decode(payload, bytes, decoded.data(), decoded.size(), window.Width * 4, w, h, noOutput));
    }
    return window.Rgb(decoded.data(), window.Width * 4);
}

std::string TempDir()
{
    char pattern[] = "/tmp/qm-peer-x11.XXXXXX";
    const std::string dir = mkdtemp(pattern);
    mkdir((dir + "/runtime").c_str(), 0700);
    return dir;
}

// quillmere-cli with a settings store of its own: one frame, then its snapshot.
int CliSnapshot(const std::string& dir, const std::string& address, const std::string& png)
{
    const std::string command = "env -u DISPLAY XDG_CONFIG_HOME='" + dir + "/config' XDG_DATA_HOME='" + dir +
                                "/data' XDG_RUNTIME_DIR='" + dir + "/runtime' " + QM_CLI_EXE +
                                " --frames 1 --snapshot '" + png + "' " + address + " > /dev/null 2>&1";
    return std::system(command.c_str());
}

// Reads one whole frame (as many packets as the first one's CountFragments
// says), skipping other packets.
std::vector<PeerTestPacket> FrameRead(PeerTestClient& client)
{
    std::vector<PeerTestPacket> frame;
    PeerTestPacket packet;
    while (client.PacketRead(packet))
    {
        if (packet.Type() != 2)
            continue;
        frame.push_back(packet);
        if (static_cast<int>(frame.size()) >= packet.CountFragments())
            break;
    }
    return frame;
}

std::pair<int, int> Rows(const PeerTestPacket& packet)
{
    return {packet.Top(), packet.Bottom()};
}

// An X server of the test's own, on the first display number no server
// holds: its pid and its name.
std::pair<pid_t, std::string> XvfbStart(const char* size)
{
    int number = 150 + getpid() % 50;
    while (access(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), F_OK) == 0)
        ++number;
    const std::string display = ":" + std::to_string(number);
    const pid_t xvfb = fork();
    if (xvfb == 0)
    {
        execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", size, "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    for (int i = 0; i < 1000 && access(socket.c_str(), F_OK) != 0; ++i)
        usleep(10000);
    return {xvfb, display};
}

// What the test's X connection sees held: the keys down and the pointer's
// position and button mask.
struct HeldInput
{
    int Keys = 0;
    int X = -1, Y = -1;
    unsigned Buttons = 0;
};
HeldInput HeldInputGet(Display* dpy)
{
    HeldInput held;
    char keys[32] = {};
    XQueryKeymap(dpy, keys);
    for (char byte : keys)
        held.Keys += __builtin_popcount(static_cast<unsigned char>(byte));
    Window root = 0, child = 0;
    int winX = 0, winY = 0;
    XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &held.X, &held.Y, &winX, &winY, &held.Buttons);
    held.Buttons &= Button1Mask | Button2Mask | Button3Mask;
    return held;
}

// Xvfb has one output with one mode, the size it started at; a screen
// smaller than the mode is refused, so the output is off while it is.
bool ScreenSizeSet(Display* dpy, int width, int height)
{
    XRRScreenResources* resources = XRRGetScreenResources(dpy, DefaultRootWindow(dpy));
    if (resources == nullptr || resources->ncrtc < 1 || resources->nmode < 1 || resources->noutput < 1)
        return false;
    const XRRModeInfo& mode = resources->modes[0];
    const bool full = static_cast<int>(mode.width) == width && static_cast<int>(mode.height) == height;
    if (!full)
        XRRSetCrtcConfig(dpy, resources, resources->crtcs[0], CurrentTime, 0, 0, 0, RR_Rotate_0, nullptr, 0);
    XRRSetScreenSize(dpy, DefaultRootWindow(dpy), width, height, width / 4, height / 4);
    if (full)
        XRRSetCrtcConfig(dpy, resources, resources->crtcs[0], CurrentTime, 0, 0, mode.id, RR_Rotate_0,
                         resources->outputs, 1);
    XRRFreeScreenResources(resources);
    Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    XGetGeometry(dpy, DefaultRootWindow(dpy), &root, &x, &y, &w, &h, &border, &depth);
    return static_cast<int>(w) == width && static_cast<int>(h) == height;
}
} // namespace

TEST(PeerX11, CapturedDisplayMatchesThePictureInEachCodec)
{
    TestWindow window;
    ASSERT_EQ(window.Width, 640);
    const std::vector<uint8_t> picture = window.PictureRgb();
    const std::string dir = TempDir();
    const struct
    {
        const char* Name;
        PeerCodec Codec;
    } cases[] = {{"raw", PeerCodec::Raw}, {"jpeg", PeerCodec::Jpeg}, {"h264", PeerCodec::H264}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.Name);
        PeerTestProcess peer;
        ASSERT_TRUE(peer.Start(
            {"--bind", "127.0.0.161", "--source", "x11", "--codec", c.Name, "--quality", "85", "--quiet"}));
        const std::string png = dir + "/" + c.Name + ".png";
        ASSERT_EQ(CliSnapshot(dir, "127.0.0.161", png), 0);
        std::vector<uint8_t> shown;
        int w = 0, h = 0;
        ASSERT_TRUE(SAUtilPng::Read(png, shown, w, h));
        ASSERT_EQ(w, window.Width);
        ASSERT_EQ(h, window.Height);
        const double pipeline = Psnr(picture, shown);
        if (c.Codec == PeerCodec::Raw)
        {
            EXPECT_EQ(pipeline, 99);
            continue;
        }
        const double alone = Psnr(picture, CodecAlone(window, c.Codec, 85));
        std::printf("%s q85: %.2f dB captured and shown, %.2f dB the codec alone\n", c.Name, pipeline, alone);
        EXPECT_GE(alone, 28.0);
        EXPECT_GE(pipeline, alone - 0.25);
    }
    std::error_code removeError;
    std::filesystem::remove_all(dir, removeError);
}

TEST(PeerX11, StillScreenSendsNothingAndAChangeOnlyItsBands)
{
    TestWindow window;
    ASSERT_EQ(window.Width, 640);
    PeerTestProcess peer;
    // One frame in flight: the changes made before an acknowledgement are
    // all in the frame that follows it.
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.162", "--source", "x11", "--window", "1"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.162"));
    PeerTestConnectFields fields;
    fields.CompressionType = 0; // raw: the bytes show exactly what was read
    ASSERT_TRUE(client.ConnectRequestSend(fields));
    uint64_t bytes = 0;
    // The viewer takes the n-th packet of a stream as fragment n modulo its
    // count, n back to 0 at a StreamReset: each frame must start at 0.
    uint64_t packets = 0;
    auto read = [&]
    {
        std::vector<PeerTestPacket> frame;
        PeerTestPacket p;
        while (client.PacketRead(p))
        {
            if (p.Type() == 1)
                packets = 0;
            if (p.Type() != 2)
                continue;
            EXPECT_EQ(packets++ % static_cast<uint64_t>(p.CountFragments()), frame.size())
                << "the viewer would take this band as another fragment";
            bytes += 128 + p.ByteCount();
            frame.push_back(p);
            if (static_cast<int>(frame.size()) >= p.CountFragments())
                break;
        }
        return frame;
    };
    std::vector<PeerTestPacket> frame = read();
    ASSERT_EQ(frame.size(), 1u);
    EXPECT_EQ(Rows(frame[0]), std::make_pair(0, 480));
    EXPECT_EQ(frame[0].Compression(), 0u);
    ASSERT_TRUE(client.AckSend());
    // A still screen: nothing more comes, however long it stays still.
    usleep(500000);
    EXPECT_EQ(client.PendingBytes(), 0u);

    // One small square in band 6 (rows 180..210 of 16 bands of 30 rows).
    window.RectFill(10, 200, 8, 8, 0x00FF00);
    frame = read();
    ASSERT_EQ(frame.size(), 1u);
    EXPECT_EQ(Rows(frame[0]), std::make_pair(180, 210));
    EXPECT_EQ(frame[0].CountFragments(), 1);
    const size_t pitch = static_cast<size_t>(frame[0].Pitch());
    EXPECT_EQ(frame[0].Payload[(204 - 180) * pitch + 12 * 4 + 1], 255); // green inside the square
    EXPECT_EQ(0, std::memcmp(frame[0].Payload.data() + 4 * pitch + 100 * 4,
                             window.Picture.data() + 184 * 640 * 4 + 100 * 4, 400)); // the picture beside it

    // Another band: the stream has sent an odd number of packets.
    window.RectFill(10, 300, 8, 8, 0x00FF00);
    ASSERT_TRUE(client.AckSend());
    frame = read();
    ASSERT_EQ(frame.size(), 1u);
    EXPECT_EQ(Rows(frame[0]), std::make_pair(300, 330));

    // Two changes far apart: two fragments of one frame, counted as such.
    window.RectFill(300, 5, 4, 4, 0xFF0000);
    window.RectFill(300, 470, 4, 4, 0x0000FF);
    ASSERT_TRUE(client.AckSend());
    frame = read();
    ASSERT_EQ(frame.size(), 2u);
    EXPECT_EQ(frame[0].CountFragments(), 2);
    EXPECT_EQ(Rows(frame[0]), std::make_pair(0, 30));
    EXPECT_EQ(Rows(frame[1]), std::make_pair(450, 480));
    ASSERT_TRUE(client.AckSend());
    usleep(200000);
    EXPECT_EQ(client.PendingBytes(), 0u);
    client.HeaderSend(8);
    client.Close();
    // The peer's own count of what it sent agrees.
    const std::string line = "connection 1 ended after 4 frames, " + std::to_string(bytes) + " bytes";
    for (int i = 0; i < 500 && peer.OutputGet().find("ended after") == std::string::npos; ++i)
        usleep(10000);
    EXPECT_NE(peer.OutputGet().find(line), std::string::npos) << peer.OutputGet() << "expected: " << line;
}

// A 4:2:0 H.264 picture has even sides, so an odd-sized screen cannot be
// one: a viewer asking for H.264 gets the screen as JPEG, whole and at its
// own size, and the stream goes on.
TEST(PeerX11, OddSizedScreenAskedForH264ComesAsJpeg)
{
    // A display of its own with odd sides.
    const auto [xvfb, display] = XvfbStart("641x481x24");
    struct Reaper
    {
        pid_t Pid;
        ~Reaper()
        {
            kill(Pid, SIGTERM);
            waitpid(Pid, nullptr, 0);
        }
    } reaper{xvfb};
    const std::string shared = getenv("DISPLAY") != nullptr ? getenv("DISPLAY") : "";
    setenv("DISPLAY", display.c_str(), 1);
    TestWindow window;
    setenv("DISPLAY", shared.c_str(), 1);
    ASSERT_EQ(window.Width, 641);
    ASSERT_EQ(window.Height, 481);
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.167", "--source", "x11:" + display, "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.167"));
    PeerTestConnectFields fields;
    fields.CompressionType = 4;
    fields.Quality = 85;
    ASSERT_TRUE(client.ConnectRequestSend(fields));
    std::vector<PeerTestPacket> frame = FrameRead(client);
    ASSERT_EQ(frame.size(), 1u) << "no frame: the connection ended";
    EXPECT_EQ(frame[0].Compression(), 3u);
    EXPECT_EQ(frame[0].Quality(), 85);
    EXPECT_EQ(frame[0].ScreenWidth(), 641);
    EXPECT_EQ(frame[0].ScreenHeight(), 481);
    EXPECT_EQ(Rows(frame[0]), std::make_pair(0, 481));
    EXPECT_EQ(frame[0].Right(), 641);
    std::vector<uint8_t> decoded(window.Picture.size());
    tjhandle handle = tjInitDecompress();
    EXPECT_EQ(tjDecompress2(handle, frame[0].Payload.data(), frame[0].Payload.size(), decoded.data(), 641,
                            641 * 4, 481, TJPF_BGRX, 0),
              0);
    tjDestroy(handle);
    EXPECT_GE(Psnr(window.PictureRgb(), window.Rgb(decoded.data(), 641 * 4)), 28.0);
    // A change is the next frame, still JPEG.
    ASSERT_TRUE(client.AckSend());
    window.RectFill(300, 200, 8, 8, 0x00FF00);
    frame = FrameRead(client);
    ASSERT_EQ(frame.size(), 1u);
    EXPECT_EQ(frame[0].Compression(), 3u);
    client.HeaderSend(8);
}

TEST(PeerX11, InjectedKeysClicksAndTouchesReachAWindow)
{
    TestWindow window;
    ASSERT_EQ(window.Width, 640);
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.163", "--source", "x11", "--inject", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.163"));
    ASSERT_TRUE(client.ConnectRequestSend());
    PeerTestPacket packet;
    ASSERT_TRUE(client.PacketRead(packet)); // Visibility: the connection is up
    window.PointerPlace(100, 100);
    // "Hi!" as the viewer sends it: the keys of a US keyboard, shifted.
    auto key = [&](uint32_t evdev, bool up)
    {
        SAInputKeyCode code;
        ASSERT_TRUE(SAInputKeyTranslate(evdev, true, code));
        ASSERT_TRUE(client.HeaderSend(
            11, {{8, code.VKeyCode}, {12, code.ScanCode}, {16, (code.Extended ? 1u : 0u) | (up ? 2u : 0u)}}));
    };
    for (auto [evdev, shifted] : {std::pair{KEY_H, true}, std::pair{KEY_I, false}, std::pair{KEY_1, true}})
    {
        if (shifted)
            key(KEY_RIGHTSHIFT, false);
        key(evdev, false);
        key(evdev, true);
        if (shifted)
            key(KEY_RIGHTSHIFT, true);
    }
    // The mouse moved by (50, 30) and the left button clicked.
    ASSERT_TRUE(client.HeaderSend(10, {{8, 50}, {12, 30}, {20, 0x1}}));
    ASSERT_TRUE(client.HeaderSend(10, {{20, 0x2}}));
    ASSERT_TRUE(client.HeaderSend(10, {{20, 0x4}}));
    // A tap on a screen the viewer thought twice as large.
    ASSERT_TRUE(client.HeaderSend(12, {{8, 600}, {12, 400}, {16, 1280}, {20, 960}, {24, 0x3}}));
    ASSERT_TRUE(client.HeaderSend(12, {{8, 600}, {12, 400}, {16, 1280}, {20, 960}, {24, 0x5}}));
    window.InputAwait(3, 2);
    EXPECT_EQ(window.Typed, "Hi!");
    ASSERT_EQ(window.Clicks.size(), 2u);
    EXPECT_EQ(window.Clicks[0], std::make_pair(150, 130));
    EXPECT_EQ(window.Clicks[1], std::make_pair(300, 200));

    // Parts of a wheel notch turn it once they add up to one (8 x 15), and
    // what is left counts towards the next.
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(client.HeaderSend(10, {{16, 15}, {20, 0x0800}}));
    ASSERT_TRUE(client.HeaderSend(10, {{16, 200}, {20, 0x0800}}));
    ASSERT_TRUE(client.HeaderSend(10, {{16, 40}, {20, 0x0800}}));
    window.InputAwait(100, 100, 1500); // all that comes
    EXPECT_EQ(window.Clicks.size(), 5u);
}

// Input follows the screen's size as RandR changes it, and whatever the
// viewer held down is let go when it vanishes without its releases: XTEST's
// presses outlive the client that made them.
TEST(PeerX11, InjectedInputFollowsTheScreensSizeAndIsReleasedWhenTheViewerVanishes)
{
    Display* dpy = TestWindow::Open();
    ASSERT_NE(dpy, nullptr);
    ASSERT_TRUE(ScreenSizeSet(dpy, 320, 240));
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.165", "--source", "x11", "--inject", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.165"));
    ASSERT_TRUE(client.ConnectRequestSend());
    PeerTestPacket packet;
    ASSERT_TRUE(client.PacketRead(packet)); // Visibility: the injector is open at 320x240
    ASSERT_TRUE(ScreenSizeSet(dpy, 640, 480));
    ASSERT_TRUE(client.HeaderSend(10, {{8, 5000}, {12, 5000}, {20, 0x1}}));
    auto heldWhen = [&](auto done)
    {
        HeldInput held;
        for (int i = 0; i < 500 && !done(held = HeldInputGet(dpy)); ++i)
            usleep(10000);
        return held;
    };
    HeldInput held = heldWhen([](const HeldInput& h) { return h.X != 319 || h.Y != 239; });
    EXPECT_EQ(std::make_pair(held.X, held.Y), std::make_pair(639, 479));
    // A touch held down on the grown screen, and Ctrl.
    ASSERT_TRUE(client.HeaderSend(12, {{8, 600}, {12, 400}, {16, 640}, {20, 480}, {24, 0x3}}));
    SAInputKeyCode ctrl;
    ASSERT_TRUE(SAInputKeyTranslate(KEY_LEFTCTRL, true, ctrl));
    ASSERT_TRUE(client.HeaderSend(11, {{8, ctrl.VKeyCode}, {12, ctrl.ScanCode}}));
    held = heldWhen([](const HeldInput& h) { return h.Keys > 0 && h.Buttons != 0; });
    EXPECT_EQ(std::make_pair(held.X, held.Y), std::make_pair(600, 400));
    ASSERT_EQ(held.Keys, 1);
    ASSERT_EQ(held.Buttons, static_cast<unsigned>(Button1Mask));
    client.Close();
    held = heldWhen([](const HeldInput& h) { return h.Keys == 0 && h.Buttons == 0; });
    EXPECT_EQ(held.Keys, 0) << "a key is still held after the viewer went";
    EXPECT_EQ(held.Buttons, 0u) << "a button is still held after the viewer went";

    // The terminal the peer was started from closing ends it in order too,
    // and what a viewer held is let go.
    PeerTestClient again;
    ASSERT_TRUE(again.Connect("127.0.0.165"));
    ASSERT_TRUE(again.ConnectRequestSend());
    ASSERT_TRUE(again.PacketRead(packet));
    ASSERT_TRUE(again.HeaderSend(11, {{8, ctrl.VKeyCode}, {12, ctrl.ScanCode}}));
    held = heldWhen([](const HeldInput& h) { return h.Keys > 0; });
    ASSERT_EQ(held.Keys, 1);
    peer.Signal(SIGHUP);
    EXPECT_EQ(peer.Wait(), 0);
    EXPECT_EQ(HeldInputGet(dpy).Keys, 0) << "a key is still held after the peer ended";
    XCloseDisplay(dpy);
}

// The shared display going away (a log out, the X server ending) ends its
// streams with a Disconnect, not the whole server: the listener, and the
// audio connection beside it, stay for the next session.
TEST(PeerX11, TheDisplayGoingAwayEndsItsStreamWithADisconnectAndThePeerStaysUp)
{
    const auto [xvfb, display] = XvfbStart("320x240x24");
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.166", "--source", "x11" + display, "--inject", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.166"));
    ASSERT_TRUE(client.ConnectRequestSend());
    ASSERT_FALSE(FrameRead(client).empty());
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    // Input applied to the lost display changes nothing either.
    client.HeaderSend(10, {{8, 5}, {12, 5}, {20, 0x3}});
    PeerTestPacket packet;
    bool disconnected = false;
    while (!disconnected && client.PacketRead(packet))
        disconnected = packet.Type() == 8;
    EXPECT_TRUE(disconnected) << "the stream ended without a Disconnect";
    EXPECT_TRUE(client.EndOfStreamRead());
    // Still listening: a new viewer is told the display is missing.
    PeerTestClient next;
    ASSERT_TRUE(next.Connect("127.0.0.166"));
    ASSERT_TRUE(next.ConnectRequestSend());
    ASSERT_TRUE(next.PacketRead(packet));
    EXPECT_EQ(packet.Type(), 8u);
    // The injector that met the loss is closed without waiting for a lock
    // the lost display keeps.
    peer.Signal(SIGTERM);
    EXPECT_EQ(peer.Wait(), 0);
}

// Viewers that come and go at once, several at a time: each connection
// opens and closes its own X connections while others do. Then the peer
// still serves, once the slots of those that went are free again.
TEST(PeerX11, ViewersComingAndGoingAtOnceLeaveThePeerServing)
{
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.168", "--source", "x11", "--inject", "--quiet"}));
    std::vector<std::thread> viewers;
    for (int v = 0; v < 4; ++v)
        viewers.emplace_back(
            []
            {
                for (int i = 0; i < 50; ++i)
                {
                    PeerTestClient client;
                    if (client.Connect("127.0.0.168"))
                        client.ConnectRequestSend();
                }
            });
    for (std::thread& viewer : viewers)
        viewer.join();
    bool served = false;
    for (int i = 0; i < 100 && !served; ++i)
    {
        PeerTestClient client;
        served = client.Connect("127.0.0.168") && client.ConnectRequestSend() && !FrameRead(client).empty();
        if (!served)
            usleep(100000);
    }
    EXPECT_TRUE(served);
    peer.Signal(SIGTERM);
    EXPECT_EQ(peer.Wait(), 0);
}

#ifdef QM_VIEWER_EXE
// The whole way: keys typed into the viewer (its own Xvfb, xdotool as the
// user) reach the window on the captured display as the same characters.
TEST(PeerX11, KeysTypedIntoTheViewerArriveAsTheSameCharacters)
{
    TestWindow window;
    ASSERT_EQ(window.Width, 640);
    // The viewer's own display.
    const auto [xvfb, display] = XvfbStart("1024x768x24");
    const std::string dir = TempDir();
    const std::string env = "XDG_CONFIG_HOME='" + dir + "/config' ";
    const std::string key = " set 'Software\\harrowfenlab\\quillmere' ";
    ASSERT_EQ(
        std::system((env + QM_REG_EXE + key + "LocalHostConnectionEnable REG_DWORD 1 >/dev/null").c_str()),
        0);
    ASSERT_EQ(std::system((env + QM_REG_EXE + key + "KeyboardEnable REG_DWORD 1 >/dev/null").c_str()), 0);
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.164", "--source", "x11", "--inject"}));
    const pid_t viewer = fork();
    if (viewer == 0)
    {
        setenv("DISPLAY", display.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("QUILLMERE_CONNECT", "127.0.0.164", 1);
        if (std::freopen("/dev/null", "w", stderr) == nullptr)
            _exit(126);
        execl(QM_VIEWER_EXE, QM_VIEWER_EXE, static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 2000 && peer.OutputGet().find("shows the X display") == std::string::npos; ++i)
        usleep(10000);
    const std::string xdotool = "DISPLAY=" + display + " xdotool ";
    ASSERT_EQ(std::system(
                  (xdotool + "search --sync --onlyvisible --classname quillmere-viewer windowfocus --sync %1")
                      .c_str()),
              0);
    // Keys go to the server once the viewer holds the keyboard: a probe key
    // until one arrives, then the text.
    for (int i = 0; i < 50 && window.Typed.empty(); ++i)
    {
        ASSERT_EQ(std::system((xdotool + "type z").c_str()), 0);
        window.InputAwait(1, 0, 200);
    }
    ASSERT_FALSE(window.Typed.empty());
    window.InputAwait(1000, 0, 300); // the probes still under way
    window.Typed.clear();
    ASSERT_EQ(std::system((xdotool + "type --delay 30 'Hi!'").c_str()), 0);
    window.InputAwait(3, 0);
    EXPECT_EQ(window.Typed, "Hi!");
    kill(viewer, SIGTERM);
    waitpid(viewer, nullptr, 0);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    std::error_code removeError;
    std::filesystem::remove_all(dir, removeError);
}
#endif
