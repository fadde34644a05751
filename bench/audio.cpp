// Audio latency benchmark: the viewer's latency control and resampler
// (SAAudioLatencyControl, the code the audio loop runs) against a simulated
// sound card, so that hours of clock drift take seconds. The device takes
// 512-frame periods at exactly 48000 frames per second of simulated time;
// the source sends 10 ms packets of a 440 Hz tone by a clock that runs fast
// or slow. Phases, one after the other on the same control:
//
//   skew+200ppm  an hour with the source 200 ppm fast
//   skew-200ppm  an hour with the source 200 ppm slow
//   stall2s      a minute in time, with a 2 s stall at 20 s after which the
//                source sends its backlog at once
//
// One line per phase:
//
//   audio <phase> latency_ms min=<a> median=<b> max=<c> dropped=<samples> cpu_pct=<p>
//
// latency: the frames queued on the device just before each period it takes
//          (device queue plus what the control holds back), after settling:
//          from the phase's 60th second on, and for the stall phase outside
//          the stall itself and the 5 s after it (the time it has to
//          recover). Goal: 20 to 80 ms in every phase.
// dropped: sample frames dropped in the phase. Goal: 0 but after the stall.
// cpu_pct: thread CPU time inside the control per second of sound. Goal:
//          under 1 % of a core.
// The stall phase's recovery (the time from the backlog's arrival until the
// latency stays within 20 to 80 ms) goes to standard error.
//
// Options: --quick (a simulated ten minutes per skew phase), --log (the
// control's log lines, once a minute of stream, to standard error).
#include "audio/SAAudioLatencyControl.h"
#include "core/SALog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace
{
constexpr uint32_t BENCH_RATE = 48000;
constexpr uint32_t BENCH_PACKET_FRAMES = 480;
constexpr uint32_t BENCH_PERIOD_FRAMES = 512;

double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class BenchAudioSim
{
public:
    BenchAudioSim()
    {
        // One second of a 440 Hz tone repeats without a seam.
        m_Tone.resize(BENCH_RATE * 2);
        for (uint32_t i = 0; i < BENCH_RATE; ++i)
        {
            const auto v = static_cast<int16_t>(
                std::lround(8000.0 * std::sin(6.283185307179586 * 440.0 * i / BENCH_RATE)));
            m_Tone[i * 2] = v;
            m_Tone[i * 2 + 1] = v;
        }
    }

    bool Initialize() { return m_Control.Initialize(); }

    struct Phase
    {
        double seconds = 0.0;  // simulated length
        double ppm = 0.0;      // source clock error
        double settle = 60.0;  // seconds not counted at the start
        double stallAt = -1.0; // seconds into the phase, or none
        double stallSeconds = 0.0;
        double recoverSeconds = 5.0; // not counted after the stall
    };

    // Runs a phase and prints its line.
    void Run(const char* name, const Phase& phase)
    {
        const double start = m_Now;
        const double end = start + phase.seconds;
        const double packetSeconds =
            BENCH_PACKET_FRAMES / static_cast<double>(BENCH_RATE) / (1.0 + phase.ppm * 1e-6);
        const double stallFrom = start + phase.stallAt;
        const double stallTo = stallFrom + phase.stallSeconds;
        const uint64_t droppedBefore = m_Control.DroppedFramesGet();
        std::vector<float> latency;
        latency.reserve(static_cast<size_t>(phase.seconds * BENCH_RATE / BENCH_PERIOD_FRAMES) + 16);
        double cpu = 0.0;
        double lastOutOfBand = -1.0;
        for (;;)
        {
            const double pullAt = static_cast<double>(m_Pulls) * BENCH_PERIOD_FRAMES / BENCH_RATE;
            double arrival = m_SourceAt;
            if (phase.stallAt >= 0.0 && arrival >= stallFrom && arrival < stallTo)
                arrival = stallTo; // held back, then sent together
            if (std::min(pullAt, arrival) >= end)
                break;
            if (pullAt <= arrival)
            {
                const double ms = static_cast<double>(m_Queued) * 1000.0 / BENCH_RATE;
                const bool stalling =
                    phase.stallAt >= 0.0 && pullAt >= stallFrom && pullAt < stallTo + phase.recoverSeconds;
                if (pullAt - start >= phase.settle && !stalling)
                    latency.push_back(static_cast<float>(ms));
                if (phase.stallAt >= 0.0 && pullAt >= stallTo && (ms < 20.0 || ms > 80.0))
                    lastOutOfBand = pullAt;
                m_Queued -= std::min<uint64_t>(m_Queued, BENCH_PERIOD_FRAMES);
                ++m_Pulls;
                continue;
            }
            const size_t at = static_cast<size_t>((m_Packets * BENCH_PACKET_FRAMES) % BENCH_RATE);
            std::memcpy(m_Packet, &m_Tone[at * 2], sizeof(m_Packet));
            const double before = ThreadSeconds();
            m_Control.PacketProcess(reinterpret_cast<const uint8_t*>(m_Packet), sizeof(m_Packet),
                                    static_cast<uint32_t>(m_Queued), m_Out);
            cpu += ThreadSeconds() - before;
            m_Queued += m_Out.size() / 4;
            ++m_Packets;
            m_SourceAt += packetSeconds;
        }
        m_Now = end;
        std::sort(latency.begin(), latency.end());
        const double low = latency.empty() ? 0.0 : latency.front();
        const double median = latency.empty() ? 0.0 : latency[latency.size() / 2];
        const double high = latency.empty() ? 0.0 : latency.back();
        std::printf("audio %s latency_ms min=%.1f median=%.1f max=%.1f dropped=%llu cpu_pct=%.3f\n", name,
                    low, median, high,
                    static_cast<unsigned long long>(m_Control.DroppedFramesGet() - droppedBefore),
                    100.0 * cpu / phase.seconds);
        std::fflush(stdout);
        if (phase.stallAt >= 0.0)
            std::fprintf(stderr, "audio %s recovered_ms=%.0f after the backlog arrived (ratio now %.6f)\n",
                         name, lastOutOfBand < stallTo ? 0.0 : (lastOutOfBand - stallTo) * 1000.0,
                         m_Control.RatioGet());
    }

private:
    SAAudioLatencyControl m_Control;
    std::vector<int16_t> m_Tone;
    int16_t m_Packet[BENCH_PACKET_FRAMES * 2] = {};
    std::vector<uint8_t> m_Out;
    uint64_t m_Queued = 0;
    uint64_t m_Pulls = 0;
    uint64_t m_Packets = 0;
    double m_SourceAt = 0.0;
    double m_Now = 0.0;
};
} // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    bool log = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--quick")
            quick = true;
        else if (arg == "--log")
            log = true;
        else
        {
            std::fprintf(stderr, "usage: bench_audio [--quick] [--log]\n");
            return 2;
        }
    }
    if (!log)
        SALogMaskSet(SA_LOG_FAILURE);
    BenchAudioSim sim;
    if (!sim.Initialize())
        return 1;
    const double hour = quick ? 600.0 : 3600.0;
    BenchAudioSim::Phase fast;
    fast.seconds = hour;
    fast.ppm = 200.0;
    sim.Run("skew+200ppm", fast);
    BenchAudioSim::Phase slow = fast;
    slow.ppm = -200.0;
    sim.Run("skew-200ppm", slow);
    BenchAudioSim::Phase stall;
    stall.seconds = 60.0;
    stall.settle = 0.0;
    stall.stallAt = 20.0;
    stall.stallSeconds = 2.0;
    sim.Run("stall2s", stall);
    return 0;
}
