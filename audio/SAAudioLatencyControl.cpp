#include "audio/SAAudioLatencyControl.h"

#include "core/SALog.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{
constexpr uint32_t LC_RATE = 48000;
constexpr uint32_t LC_FRAMES_PER_MS = LC_RATE / 1000;
constexpr uint32_t LC_TARGET_FRAMES = SA_AUDIO_LATENCY_TARGET_MS * LC_FRAMES_PER_MS;
constexpr uint32_t LC_CATCHUP_FRAMES = SA_AUDIO_LATENCY_CATCHUP_MS * LC_FRAMES_PER_MS;
// The control looks at one second of stream at a time: the queue's level
// jumps by a packet and a device period all the time, and only its mean
// over many of them says where it is heading.
constexpr uint64_t LC_INTERVAL_FRAMES = LC_RATE;
constexpr uint64_t LC_LOG_FRAMES = 60ull * LC_RATE;
// While nothing has been corrected yet, a mean this close to the target is
// left alone: the queue's own jitter must not start the resampler on a
// stream that is in time.
constexpr double LC_ENGAGE_MS = 10.0;
// Correction per millisecond off the target. With one update a second this
// closes a fifth of the error each second: no overshoot, and a drift of
// 200 ppm is held about a millisecond off the target.
constexpr double LC_GAIN_PPM_PER_MS = 200.0;
// The rate moves towards each new setting by at most this much per 10 ms of
// stream, so no correction is a step in pitch.
constexpr double LC_SLEW_PPM_PER_PACKET = 50.0;
constexpr uint32_t LC_PACKET_FRAMES = 10 * LC_FRAMES_PER_MS;
// Frames of the bypassed stream the resampler starts from (more than its
// filter reaches back).
constexpr size_t LC_HISTORY_FRAMES = 64;
constexpr int LC_CHANNELS = 2;

uint32_t FramesToMs(uint64_t frames)
{
    return static_cast<uint32_t>(frames / LC_FRAMES_PER_MS);
}
} // namespace

SAAudioLatencyControl::SAAudioLatencyControl() = default;

SAAudioLatencyControl::~SAAudioLatencyControl()
{
    Release();
}

bool SAAudioLatencyControl::Initialize()
{
    if (m_pResampler == nullptr)
    {
        int error = 0;
        // The fastest of the band-limited converters: about 97 dB of
        // signal to noise, and a fraction of a percent of a core at 48 kHz
        // stereo, where linear interpolation would dull and alias the sound.
        m_pResampler = src_new(SRC_SINC_FASTEST, LC_CHANNELS, &error);
        if (m_pResampler == nullptr)
        {
            SALog(SA_LOG_FAILURE, "SAAudioLatencyControl::Initialize failed! src_new %s\n",
                  src_strerror(error));
            return false;
        }
    }
    src_reset(m_pResampler);
    m_Resampling = false;
    m_Ratio = 1.0;
    m_RatioTarget = 1.0;
    m_CatchingUp = false;
    m_FadeFrom.clear();
    m_RunFrames = 0;
    m_RunPackets = 0;
    m_DroppedFrames = 0;
    m_DroppedPackets = 0;
    m_LatencyFrames = 0;
    m_IntervalLatencySum = 0.0;
    m_IntervalFrames = 0;
    m_LastMeanMs = 0.0;
    m_LogFrames = 0;
    m_CatchUpLogFrames = LC_LOG_FRAMES;
    m_CatchUpLogged = false;
    m_History.clear();
    m_PrimeDiscardFrames = 0;
    return true;
}

void SAAudioLatencyControl::Release()
{
    if (m_pResampler != nullptr)
    {
        src_delete(m_pResampler);
        m_pResampler = nullptr;
    }
    m_Resampling = false;
    m_Ratio = 1.0;
    m_RatioTarget = 1.0;
}

bool SAAudioLatencyControl::PacketProcess(const uint8_t* data, size_t n, uint32_t queuedFrames,
                                          std::vector<uint8_t>& out)
{
    out.clear();
    const size_t frames = n / 4;
    if (frames == 0)
        return true;
    m_Work.resize(frames * LC_CHANNELS);
    std::memcpy(m_Work.data(), data, frames * 4);

    // A backlog (a stall's worth of sound arriving at once) is caught up by
    // dropping whole packets until the queue is back at the target.
    if (!m_CatchingUp && queuedFrames > LC_CATCHUP_FRAMES)
    {
        m_CatchingUp = true;
        m_RunFrames = 0;
        m_RunPackets = 0;
        m_CatchUpLogged = m_CatchUpLogFrames >= LC_LOG_FRAMES;
        if (m_CatchUpLogged)
        {
            m_CatchUpLogFrames = 0;
            SALog(SA_LOG_FSTM,
                  "SAAudioLatencyControl::PacketProcess latency %u ms over %u ms: dropping whole packets\n",
                  FramesToMs(queuedFrames), SA_AUDIO_LATENCY_CATCHUP_MS);
        }
    }
    if (m_CatchingUp)
    {
        if (queuedFrames > LC_TARGET_FRAMES)
        {
            if (m_RunPackets == 0)
                m_FadeFrom.assign(m_Work.begin(),
                                  m_Work.begin() +
                                      static_cast<std::ptrdiff_t>(
                                          std::min(frames, SA_AUDIO_CROSSFADE_FRAMES) * LC_CHANNELS));
            m_RunFrames += frames;
            ++m_RunPackets;
            m_DroppedFrames += frames;
            ++m_DroppedPackets;
            m_LatencyFrames = queuedFrames;
            return true;
        }
        m_CatchingUp = false;
        if (m_RunPackets != 0)
            PrivateCrossfade(m_Work.data(), frames);
        if (m_CatchUpLogged)
            SALog(SA_LOG_FSTM,
                  "SAAudioLatencyControl::PacketProcess caught up: dropped %u packets (%llu frames, %u ms), "
                  "latency "
                  "%u ms, %llu frames dropped since the start\n",
                  m_RunPackets, static_cast<unsigned long long>(m_RunFrames), FramesToMs(m_RunFrames),
                  FramesToMs(queuedFrames), static_cast<unsigned long long>(m_DroppedFrames));
        // The mean so far describes the backlog, not the clocks.
        m_IntervalLatencySum = 0.0;
        m_IntervalFrames = 0;
    }

    bool resampled = true;
    uint64_t produced = 0;
    if (queuedFrames == 0)
    {
        // The device ran dry (the start, or a stall that emptied it): give
        // it its cushion again as silence ahead of the packet. Whatever the
        // resampler still holds is played first; the correction starts over
        // from an exact rate.
        if (m_Resampling)
        {
            resampled = PrivateResample(nullptr, 0, true, out);
            m_Resampling = false;
        }
        m_Ratio = 1.0;
        m_RatioTarget = 1.0;
        m_History.clear();
        const uint64_t have = out.size() / 4 + frames;
        if (have < LC_TARGET_FRAMES)
            out.resize(out.size() + (LC_TARGET_FRAMES - have) * 4, 0);
        m_IntervalLatencySum = 0.0;
        m_IntervalFrames = 0;
    }

    if (m_Resampling || m_RatioTarget != 1.0)
    {
        const double step = (LC_SLEW_PPM_PER_PACKET * 1e-6) * static_cast<double>(frames) / LC_PACKET_FRAMES;
        m_Ratio = m_Ratio < m_RatioTarget ? std::min(m_RatioTarget, m_Ratio + step)
                                          : std::max(m_RatioTarget, m_Ratio - step);
        if (!m_Resampling)
            PrivateResamplingStart();
    }
    const size_t before = out.size();
    if (m_Resampling)
    {
        if (!PrivateResample(m_Work.data(), frames, false, out))
        {
            // The packet is played as it came, and from now on the stream
            // passes unchanged: a broken resampler must not silence it.
            out.resize(before);
            out.insert(out.end(), data, data + frames * 4);
            m_Resampling = false;
            m_Ratio = 1.0;
            m_RatioTarget = 1.0;
            resampled = false;
        }
    }
    else
    {
        const auto* bytes = reinterpret_cast<const uint8_t*>(m_Work.data());
        out.insert(out.end(), bytes, bytes + frames * 4);
        m_History.insert(m_History.end(), m_Work.begin(), m_Work.end());
        if (m_History.size() > LC_HISTORY_FRAMES * LC_CHANNELS)
            m_History.erase(m_History.begin(),
                            m_History.end() - static_cast<std::ptrdiff_t>(LC_HISTORY_FRAMES * LC_CHANNELS));
    }
    produced = out.size() / 4;

    m_LatencyFrames = queuedFrames + static_cast<uint32_t>(produced);
    m_IntervalLatencySum += static_cast<double>(m_LatencyFrames) * static_cast<double>(frames);
    m_IntervalFrames += frames;
    if (m_IntervalFrames >= LC_INTERVAL_FRAMES)
        PrivateControlUpdate();
    m_LogFrames += frames;
    m_CatchUpLogFrames += frames;
    if (m_LogFrames >= LC_LOG_FRAMES)
    {
        m_LogFrames -= LC_LOG_FRAMES;
        SALog(SA_LOG_FSTM,
              "SAAudioLatencyControl::PacketProcess latency %.1f ms ratio %.6f%s, %llu frames dropped\n",
              m_LastMeanMs, m_Ratio, m_Resampling ? "" : " (passed unchanged)",
              static_cast<unsigned long long>(m_DroppedFrames));
    }
    return resampled;
}

void SAAudioLatencyControl::PrivateControlUpdate()
{
    const double meanFrames = m_IntervalLatencySum / static_cast<double>(m_IntervalFrames);
    m_LastMeanMs = meanFrames / LC_FRAMES_PER_MS;
    m_IntervalLatencySum = 0.0;
    m_IntervalFrames = 0;
    const double errorMs = m_LastMeanMs - SA_AUDIO_LATENCY_TARGET_MS;
    if (!m_Resampling && std::fabs(errorMs) <= LC_ENGAGE_MS)
        return;
    // Too much queued: play fewer frames than arrive (a ratio below 1).
    const double range = static_cast<double>(SA_AUDIO_RATIO_RANGE_PPM);
    const double ppm = std::clamp(-LC_GAIN_PPM_PER_MS * errorMs, -range, range);
    m_RatioTarget = 1.0 + ppm * 1e-6;
}

void SAAudioLatencyControl::PrivateResamplingStart()
{
    src_reset(m_pResampler);
    m_Resampling = true;
    // The resampler begins with silence behind it; fed the frames that were
    // just played, at a ratio of exactly 1, its first output frames are
    // those frames again, and dropping them joins it to the stream without
    // a step.
    m_PrimeDiscardFrames = 0;
    if (!m_History.empty())
    {
        const double ratio = m_Ratio;
        m_Ratio = 1.0;
        std::vector<uint8_t> none;
        const std::vector<int16_t> history = m_History;
        m_PrimeDiscardFrames = history.size() / LC_CHANNELS;
        PrivateResample(history.data(), history.size() / LC_CHANNELS, false, none);
        m_Ratio = ratio;
    }
    m_History.clear();
}

bool SAAudioLatencyControl::PrivateResample(const int16_t* in, size_t frames, bool flush,
                                            std::vector<uint8_t>& out)
{
    m_InFloat.resize(std::max<size_t>(frames, 1) * LC_CHANNELS);
    if (frames != 0)
        src_short_to_float_array(in, m_InFloat.data(), static_cast<int>(frames * LC_CHANNELS));
    // Room for the packet at the highest ratio plus what the filter held.
    const size_t room = frames + frames / 100 + 256;
    m_OutFloat.resize(room * LC_CHANNELS);
    size_t used = 0;
    for (;;)
    {
        SRC_DATA job{};
        job.data_in = m_InFloat.data() + used * LC_CHANNELS;
        job.input_frames = static_cast<long>(frames - used);
        job.data_out = m_OutFloat.data();
        job.output_frames = static_cast<long>(room);
        job.end_of_input = flush ? 1 : 0;
        job.src_ratio = m_Ratio;
        const int error = src_process(m_pResampler, &job);
        if (error != 0)
        {
            SALog(SA_LOG_FAILURE, "SAAudioLatencyControl::PacketProcess failed! src_process %s\n",
                  src_strerror(error));
            src_reset(m_pResampler);
            return false;
        }
        used += static_cast<size_t>(job.input_frames_used);
        size_t generated = static_cast<size_t>(job.output_frames_gen);
        const size_t skip = std::min(generated, m_PrimeDiscardFrames);
        m_PrimeDiscardFrames -= skip;
        generated -= skip;
        if (generated != 0)
        {
            const size_t at = out.size();
            out.resize(at + generated * 4);
            src_float_to_short_array(m_OutFloat.data() + skip * LC_CHANNELS,
                                     reinterpret_cast<short*>(out.data() + at),
                                     static_cast<int>(generated * LC_CHANNELS));
        }
        if (used >= frames && (!flush || job.output_frames_gen == 0))
            break;
        if (job.input_frames_used == 0 && job.output_frames_gen == 0)
            break;
    }
    if (flush)
        src_reset(m_pResampler);
    return true;
}

void SAAudioLatencyControl::PrivateCrossfade(int16_t* frames, size_t count)
{
    const size_t fade = std::min(count, m_FadeFrom.size() / LC_CHANNELS);
    for (size_t i = 0; i < fade; ++i)
    {
        const double w = static_cast<double>(i + 1) / static_cast<double>(fade + 1);
        for (int c = 0; c < LC_CHANNELS; ++c)
        {
            const size_t at = i * LC_CHANNELS + static_cast<size_t>(c);
            const double mixed = (1.0 - w) * m_FadeFrom[at] + w * frames[at];
            frames[at] = static_cast<int16_t>(std::lround(mixed));
        }
    }
    m_FadeFrom.clear();
}
