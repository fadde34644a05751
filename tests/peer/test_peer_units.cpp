// The peer's building blocks in-process: the frame generator that tests and
// benchmarks regenerate, option and scenario parsing, the connect request
// reader, JSON quoting and the PNG files.
#include "core/SAUtilPng.h"
#include "peer/PeerConnectRequest.h"
#include "peer/PeerFrameSynth.h"
#include "peer/PeerJsonLine.h"
#include "peer/PeerOptions.h"
#include "peer/PeerScenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <unistd.h>

namespace
{
std::vector<uint8_t> Synth(int width, int height, uint32_t frameNumber)
{
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 4);
    PeerFrameSynth(width, height, frameNumber, frame.data());
    return frame;
}

bool OptionsParse(std::vector<const char*> args, PeerOptions& options, std::string& error)
{
    args.insert(args.begin(), "quillmere-peer");
    return PeerOptions::Parse(static_cast<int>(args.size()), args.data(), options, error);
}
} // namespace

TEST(PeerFrameSynth, SameNumberSamePictureAndEveryFrameDiffers)
{
    std::vector<uint8_t> a = Synth(320, 240, 17);
    EXPECT_EQ(a, Synth(320, 240, 17));
    std::vector<uint8_t> previous = Synth(320, 240, 0);
    for (uint32_t n = 1; n < 40; ++n)
    {
        std::vector<uint8_t> next = Synth(320, 240, n);
        EXPECT_NE(next, previous) << "frame " << n;
        // Beyond the stamp, the moving window must change the picture too.
        size_t stampBytes = static_cast<size_t>(PeerFrameStampCellSize(320)) * 320 * 4;
        EXPECT_FALSE(std::equal(next.begin() + static_cast<long>(stampBytes), next.end(),
                                previous.begin() + static_cast<long>(stampBytes)))
            << "frame " << n;
        previous = next;
    }
    for (size_t i = 3; i < a.size(); i += 4)
    {
        ASSERT_EQ(a[i], 255) << "X byte at " << i;
    }
}

TEST(PeerFrameSynth, TinyAndOddSizesStayInsideTheBuffer)
{
    // Run under AddressSanitizer: any write outside width x height x 4 aborts.
    for (auto size : {std::pair{1, 1}, {2, 3}, {7, 5}, {63, 17}, {101, 1}, {1, 99}})
    {
        std::vector<uint8_t> frame = Synth(size.first, size.second, 12345);
        EXPECT_EQ(frame.size(), static_cast<size_t>(size.first) * size.second * 4);
    }
}

TEST(PeerFrameSynth, ConnectionsOfDifferentSizesSynthesizeAtOnce)
{
    // Each connection thread calls the generator; the pictures must not
    // depend on which other sizes are being drawn at the same time.
    const std::pair<int, int> sizes[] = {{320, 240}, {64, 48}, {100, 30}, {33, 77}, {320, 240}, {48, 64}};
    std::vector<std::vector<uint8_t>> expected;
    for (auto size : sizes)
    {
        expected.push_back(Synth(size.first, size.second, 99));
    }
    std::vector<int> mismatches(std::size(sizes), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < std::size(sizes); ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                for (int round = 0; round < 20; ++round)
                {
                    mismatches[t] += Synth(sizes[t].first, sizes[t].second, 99) != expected[t];
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    for (size_t t = 0; t < std::size(sizes); ++t)
    {
        EXPECT_EQ(mismatches[t], 0) << sizes[t].first << "x" << sizes[t].second;
    }
}

TEST(PeerFrameSynth, StampReadsBackTheFrameNumber)
{
    for (uint32_t n : {0u, 1u, 5u, 0x12345678u, 0xFFFFFFFFu})
    {
        std::vector<uint8_t> frame = Synth(640, 360, n);
        uint32_t read = 0;
        ASSERT_TRUE(PeerFrameStampRead(frame.data(), 640, 360, 640 * 4, 4, read));
        EXPECT_EQ(read, n);
    }
    std::vector<uint8_t> narrow = Synth(40, 40, 3);
    uint32_t read = 0;
    EXPECT_FALSE(PeerFrameStampRead(narrow.data(), 40, 40, 160, 4, read));
}

TEST(PeerOptions, DefaultsAndEveryOption)
{
    PeerOptions options;
    std::string error;
    ASSERT_TRUE(OptionsParse({}, options, error));
    EXPECT_EQ(options.BindAddress, "0.0.0.0");
    EXPECT_EQ(options.Width, 1280);
    EXPECT_EQ(options.Height, 720);
    EXPECT_EQ(options.Fps, 30);
    EXPECT_EQ(options.Window, 4u);
    EXPECT_EQ(options.MaxClients, 8u);
    EXPECT_EQ(options.RequestTimeoutMs, 10000u);

    ASSERT_TRUE(OptionsParse({"--bind",
                              "127.0.0.9",
                              "--size",
                              "640x480",
                              "--fps",
                              "60",
                              "--fragments",
                              "4",
                              "--codec",
                              "yuv",
                              "--quality",
                              "33",
                              "--frames",
                              "9",
                              "--window",
                              "0",
                              "--record",
                              "r.jsonl",
                              "--scenario",
                              "reset@1",
                              "--save-last",
                              "l.png",
                              "--name",
                              "N",
                              "--exit-after-clients",
                              "2",
                              "--audio",
                              "off",
                              "--audio-skew",
                              "-200",
                              "--audio-stall",
                              "2000@1.5",
                              "--max-clients",
                              "3",
                              "--request-timeout",
                              "0.25",
                              "--quiet"},
                             options, error))
        << error;
    EXPECT_EQ(options.BindAddress, "127.0.0.9");
    EXPECT_EQ(options.Width, 640);
    EXPECT_EQ(options.Height, 480);
    EXPECT_EQ(options.Fps, 60);
    EXPECT_EQ(options.Fragments, 4);
    EXPECT_EQ(options.Codec, PeerCodec::Yuv);
    EXPECT_EQ(options.Quality, 33);
    EXPECT_EQ(options.Frames, 9u);
    EXPECT_EQ(options.Window, 0u);
    EXPECT_EQ(options.RecordPath, "r.jsonl");
    EXPECT_EQ(options.Scenario, "reset@1");
    EXPECT_EQ(options.SaveLastPath, "l.png");
    EXPECT_EQ(options.Name, "N");
    EXPECT_EQ(options.ExitAfterClients, 2u);
    EXPECT_EQ(options.Audio, PeerAudio::Off);
    EXPECT_EQ(options.AudioSkewPpm, -200);
    EXPECT_EQ(options.AudioStallMs, 2000u);
    EXPECT_EQ(options.AudioStallAtMs, 1500u);
    EXPECT_EQ(options.MaxClients, 3u);
    EXPECT_EQ(options.RequestTimeoutMs, 250u);
    EXPECT_TRUE(options.Quiet);
}

TEST(PeerOptions, OutOfRangeAndUnknownAreRefused)
{
    const std::vector<std::vector<const char*>> bad = {
        {"--fragments", "0"},
        {"--fragments", "5"},
        {"--quality", "0"},
        {"--quality", "101"},
        {"--size", "0x10"},
        {"--size", "640"},
        {"--size", "64x"},
        {"--codec", "h265"},
        {"--fps", "-1"},
        {"--frames", "abc"},
        {"--unknown", "1"},
        {"--bind"},
        {"--audio", "/nonexistent.wav"},
        {"--audio", "/proc/self/status"},
        {"--audio-skew", "50001"},
        {"--audio-stall", "100"},
        {"--audio-stall", "0@1"},
        {"--audio-stall", "100@x"},
        {"--max-clients", "0"},
        {"--request-timeout", "0"},
        {"--request-timeout", "ten"},
    };
    for (const auto& args : bad)
    {
        PeerOptions options;
        std::string error;
        EXPECT_FALSE(OptionsParse(args, options, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
    // Given last, an option says what is wrong with it.
    for (const auto& [args, message] : std::vector<std::pair<std::vector<const char*>, std::string>>{
             {{"--bogus"}, "unknown option --bogus"},
             {{"--bind"}, "missing value for --bind"},
             {{"--quiet", "--version"}, "--version goes alone"}})
    {
        PeerOptions options;
        std::string error;
        EXPECT_FALSE(OptionsParse(args, options, error));
        EXPECT_EQ(error, message);
    }
}

// A 4:2:0 H.264 picture has even sides: the synthetic desktop cannot be one
// at an odd size, so the combination is refused at the start rather than
// every connection failing.
TEST(PeerOptions, H264NeedsAnEvenSize)
{
    for (const auto& args : std::vector<std::vector<const char*>>{{"--codec", "h264", "--size", "801x600"},
                                                                  {"--size", "800x601", "--codec", "h264"},
                                                                  {"--chaos", "1", "--size", "321x240"}})
    {
        PeerOptions options;
        std::string error;
        EXPECT_FALSE(OptionsParse(args, options, error))
            << args[0] << " " << args[1] << " " << args[2] << " " << args[3];
        EXPECT_NE(error.find("even"), std::string::npos) << error;
    }
    for (const auto& args : std::vector<std::vector<const char*>>{{"--codec", "h264", "--size", "800x600"},
                                                                  {"--codec", "jpeg", "--size", "801x601"},
                                                                  {"--chaos", "1", "--size", "320x240"}})
    {
        PeerOptions options;
        std::string error;
        EXPECT_TRUE(OptionsParse(args, options, error)) << error;
    }
}

TEST(PeerScenario, ParsesKindsFramesValuesAndDefaults)
{
    PeerScenario scenario;
    std::string error;
    ASSERT_TRUE(scenario.Parse(
        "reset@30:1,visibility@60:0,visibility@90,disconnect@120:3,malformed@40,reset@30:0", error))
        << error;
    ASSERT_EQ(scenario.Events().size(), 6u);
    std::vector<PeerScenarioEvent> at30 = scenario.EventsAt(30);
    ASSERT_EQ(at30.size(), 2u);
    EXPECT_EQ(at30[0].Kind, PeerScenarioKind::Reset);
    EXPECT_EQ(at30[0].Value, 1);
    EXPECT_EQ(at30[1].Value, 0);
    EXPECT_EQ(scenario.EventsAt(90)[0].Kind, PeerScenarioKind::Visibility);
    EXPECT_EQ(scenario.EventsAt(90)[0].Value, 1);
    EXPECT_EQ(scenario.EventsAt(120)[0].Kind, PeerScenarioKind::Disconnect);
    EXPECT_EQ(scenario.EventsAt(120)[0].Value, 3);
    EXPECT_EQ(scenario.EventsAt(40)[0].Kind, PeerScenarioKind::Malformed);
    EXPECT_EQ(scenario.EventsAt(40)[0].Value, 0);
    EXPECT_TRUE(scenario.EventsAt(31).empty());
    ASSERT_TRUE(scenario.Parse("overhang@5,overhang@6:100", error)) << error;
    EXPECT_EQ(scenario.EventsAt(5)[0].Kind, PeerScenarioKind::Overhang);
    EXPECT_EQ(scenario.EventsAt(5)[0].Value, 32);
    EXPECT_EQ(scenario.EventsAt(6)[0].Value, 100);
    EXPECT_TRUE(scenario.Parse("", error));
    EXPECT_TRUE(scenario.Events().empty());
}

TEST(PeerScenario, RefusesMalformedText)
{
    for (const char* spec :
         {"jump@3", "reset", "reset@", "reset@x", "reset@3:y", "malformed@1:8", "reset@-1", "overhang@1:0"})
    {
        PeerScenario scenario;
        std::string error;
        EXPECT_FALSE(scenario.Parse(spec, error)) << spec;
        EXPECT_FALSE(error.empty()) << spec;
    }
}

TEST(PeerConnectRequest, Utf16TextBecomesUtf8AndStopsAtTheFieldEnd)
{
    auto field = [](std::u16string text, size_t units)
    {
        std::vector<uint8_t> bytes(units * 2, 0);
        for (size_t i = 0; i < text.size() && i < units; ++i)
        {
            bytes[2 * i] = static_cast<uint8_t>(text[i]);
            bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
        }
        return bytes;
    };
    EXPECT_EQ(PeerConnectRequest::Utf16Read(field(u"B\u00fcro \U0001F600", 16).data(), 16),
              "B\xc3\xbcro \xf0\x9f\x98\x80");
    // No terminator: the field's length bounds the text.
    EXPECT_EQ(PeerConnectRequest::Utf16Read(field(u"ABCDEFGH", 4).data(), 4), "ABCD");
    // A lone high surrogate at the end of the field.
    std::u16string lone = u"A";
    lone.push_back(static_cast<char16_t>(0xD83D));
    EXPECT_EQ(PeerConnectRequest::Utf16Read(field(lone, 2).data(), 2), "A\xef\xbf\xbd");
}

TEST(PeerConnectRequest, DecodeRefusesOtherPackets)
{
    std::vector<uint8_t> packet(462, 0);
    packet[4] = 334 & 0xFF;
    packet[5] = 334 >> 8;
    PeerConnectRequest request;
    EXPECT_TRUE(PeerConnectRequest::Decode(packet.data(), packet.size(), request));
    packet[0] = 2;
    EXPECT_FALSE(PeerConnectRequest::Decode(packet.data(), packet.size(), request));
    packet[0] = 0;
    packet[4] = 0;
    EXPECT_FALSE(PeerConnectRequest::Decode(packet.data(), packet.size(), request));
    EXPECT_FALSE(PeerConnectRequest::Decode(packet.data(), 461, request));
}

TEST(PeerJsonLine, QuotesAndControlCharactersAreEscaped)
{
    PeerJsonLine line;
    line.Add("a", int64_t{-3}).Add("b", "x\"y\\z\n\x01").AddRaw("c", "[1,2]");
    EXPECT_EQ(line.Text(), "{\"a\":-3,\"b\":\"x\\\"y\\\\z\\n\\u0001\",\"c\":[1,2]}");
}

TEST(SAUtilPng, WrittenFileReadsBackAsTheSameRgb)
{
    std::string path =
        (std::filesystem::temp_directory_path() / ("qm-peer-png-" + std::to_string(getpid()) + ".png"))
            .string();
    std::vector<uint8_t> frame = Synth(77, 33, 9);
    ASSERT_TRUE(SAUtilPng::Write(path, frame.data(), 77, 33, 77 * 4));
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    std::vector<uint8_t> rgb;
    int width = 0, height = 0;
    ASSERT_TRUE(SAUtilPng::Read(path, rgb, width, height));
    ASSERT_EQ(width, 77);
    ASSERT_EQ(height, 33);
    for (size_t i = 0; i < 77u * 33u; ++i)
    {
        ASSERT_EQ(rgb[i * 3 + 0], frame[i * 4 + 2]);
        ASSERT_EQ(rgb[i * 3 + 1], frame[i * 4 + 1]);
        ASSERT_EQ(rgb[i * 3 + 2], frame[i * 4 + 0]);
    }
    std::filesystem::remove(path);
    EXPECT_FALSE(SAUtilPng::Write("/nonexistent-dir/x.png", frame.data(), 77, 33, 77 * 4));
}
