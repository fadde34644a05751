// SAAudioLatencyControl against a simulated sound card: a device that takes
// 512-frame periods at exactly 48000 frames per second of simulated time,
// fed by a source whose clock runs fast or slow, or stalls and then sends
// its backlog at once. The real control and the real resampler run; only
// the clock is simulated, so an hour's drift takes no hour.
#include "audio/SAAudioLatencyControl.h"
#include "core/SALog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace
{
constexpr uint32_t LC_PACKET_FRAMES = 480;
constexpr uint32_t LC_PERIOD_FRAMES = 512;

struct LatencySim
{
    SAAudioLatencyControl control;
    uint64_t queued = 0; // frames in the simulated device queue
    uint64_t pulls = 0;
    uint64_t packets = 0;
    double sourceAt = 0.0; // device time the next packet is sent
    bool record = false;   // keep what was sent and played
    std::vector<uint8_t> sent;
    std::vector<uint8_t> played; // what the control queued, in order
    std::vector<uint8_t> out;
    // Latency in ms seen by the device before each pull, from `from` seconds on.
    std::vector<double> latency;

    // Runs until device time `until` with the source `ppm` fast; a stall
    // holds the packets due in [stallAt, stallAt + stallSeconds) and sends
    // them together at its end.
    void Run(double until, double ppm, double from, double stallAt = -1.0, double stallSeconds = 0.0)
    {
        const double packetSeconds = LC_PACKET_FRAMES / 48000.0 / (1.0 + ppm * 1e-6);
        for (;;)
        {
            const double pullAt = static_cast<double>(pulls) * LC_PERIOD_FRAMES / 48000.0;
            double arrival = sourceAt;
            if (stallAt >= 0.0 && arrival >= stallAt && arrival < stallAt + stallSeconds)
                arrival = stallAt + stallSeconds;
            if (std::min(pullAt, arrival) >= until)
                return;
            if (pullAt <= arrival)
            {
                if (pullAt >= from)
                    latency.push_back(static_cast<double>(queued) * 1000.0 / 48000.0);
                queued -= std::min<uint64_t>(queued, LC_PERIOD_FRAMES);
                ++pulls;
                continue;
            }
            std::vector<uint8_t> packet(LC_PACKET_FRAMES * 4);
            for (uint32_t i = 0; i < LC_PACKET_FRAMES; ++i)
            {
                // Never a zero sample, so leading silence is told apart.
                const uint64_t n = packets * LC_PACKET_FRAMES + i;
                const auto left = static_cast<int16_t>(1000 + n % 2000);
                const auto right = static_cast<int16_t>(-1000 - static_cast<int>(n % 1500));
                std::memcpy(&packet[i * 4], &left, 2);
                std::memcpy(&packet[i * 4 + 2], &right, 2);
            }
            EXPECT_TRUE(
                control.PacketProcess(packet.data(), packet.size(), static_cast<uint32_t>(queued), out));
            if (record)
            {
                sent.insert(sent.end(), packet.begin(), packet.end());
                played.insert(played.end(), out.begin(), out.end());
            }
            queued += out.size() / 4;
            ++packets;
            sourceAt += packetSeconds;
        }
    }
};

void LatencyExpectInBand(const std::vector<double>& latency, const char* what)
{
    ASSERT_FALSE(latency.empty()) << what;
    const auto [low, high] = std::minmax_element(latency.begin(), latency.end());
    EXPECT_GE(*low, 20.0) << what;
    EXPECT_LE(*high, 80.0) << what;
}
} // namespace

// In time, the stream passes byte for byte after the first cushion of
// silence; a drifting source is steered into the band by resampling alone,
// either way; a stall's backlog is dropped in whole packets, counted and
// logged, and the queue is back in the band within 5 s.
TEST(AudioLatencyControl, DriftIsResampledAwayAndOnlyAStallDropsWholePackets)
{
    {
        LatencySim sim;
        sim.record = true;
        ASSERT_TRUE(sim.control.Initialize());
        sim.Run(10.0, 0.0, 0.5);
        LatencyExpectInBand(sim.latency, "in time");
        EXPECT_FALSE(sim.control.ResamplingGet());
        EXPECT_EQ(sim.control.RatioGet(), 1.0);
        const auto firstSound =
            std::find_if(sim.played.begin(), sim.played.end(), [](uint8_t b) { return b != 0; });
        const size_t silence = static_cast<size_t>(firstSound - sim.played.begin());
        EXPECT_EQ(silence / 4, (SA_AUDIO_LATENCY_TARGET_MS * 48 - LC_PACKET_FRAMES));
        EXPECT_TRUE(std::equal(firstSound, sim.played.end(), sim.sent.begin(), sim.sent.end()))
            << "a stream in time must pass unchanged";
    }

    LatencySim sim;
    ASSERT_TRUE(sim.control.Initialize());
    sim.Run(120.0, 2000.0, 60.0);
    LatencyExpectInBand(sim.latency, "source 2000 ppm fast");
    EXPECT_LT(sim.control.RatioGet(), 1.0);
    sim.latency.clear();
    sim.Run(240.0, -2000.0, 180.0);
    LatencyExpectInBand(sim.latency, "source 2000 ppm slow");
    EXPECT_GT(sim.control.RatioGet(), 1.0);
    EXPECT_GE(sim.control.RatioGet(), 1.0 - SA_AUDIO_RATIO_RANGE_PPM * 1e-6);
    EXPECT_LE(sim.control.RatioGet(), 1.0 + SA_AUDIO_RATIO_RANGE_PPM * 1e-6);
    EXPECT_EQ(sim.control.DroppedFramesGet(), 0u) << "drift alone must never drop";

    std::vector<std::string> lines;
    const int logSink = SALogSinkAdd(
        [&](uint32_t category, std::string_view line)
        {
            if (category == SA_LOG_FSTM)
                lines.emplace_back(line);
        });
    sim.latency.clear();
    sim.Run(260.0, 0.0, 247.0, 240.0, 2.0);
    LatencyExpectInBand(sim.latency, "5 s after a 2 s stall");
    const uint64_t dropped = sim.control.DroppedPacketsGet();
    EXPECT_GT(dropped, 100u);
    EXPECT_EQ(sim.control.DroppedFramesGet(), sim.control.DroppedPacketsGet() * LC_PACKET_FRAMES);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("caught up: dropped"), std::string::npos) << lines[1];
    // A server that keeps stalling (or flooding) is caught up each time but
    // logged at most once a minute.
    for (double at = 262.0; at < 292.0; at += 3.0)
        sim.Run(at + 3.0, 0.0, at + 3.0, at, 1.0);
    SALogSinkRemove(logSink);
    EXPECT_GT(sim.control.DroppedPacketsGet(), dropped + 500u);
    EXPECT_EQ(lines.size(), 2u);
}
