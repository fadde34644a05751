#pragma once
// Keeps the sound in time with the picture. The server's clock and the sound
// card's never run at exactly the same rate, so a stream that is played
// sample for sample drifts: at 100 ppm it falls a further third of a second
// behind every hour, and a network stall adds its whole length for good.
//
// Every AudioData packet passes through PacketProcess together with the
// number of stream frames queued downstream (the device queue) just before
// it. The control keeps that queue near SA_AUDIO_LATENCY_TARGET_MS:
// - Slowly, by resampling the stream by at most SA_AUDIO_RATIO_RANGE_PPM
//   (a pitch change nobody hears), steered once a second by the mean queued
//   latency of that second. Until the first correction is needed the packets
//   pass byte for byte: a stream that is already in time is never touched.
// - Quickly, only after a stall has left more than
//   SA_AUDIO_LATENCY_CATCHUP_MS queued: whole packets are dropped until the
//   queue is back at the target, with a short crossfade over the cut, and
//   each catch-up is logged and counted. Nothing else is ever dropped.
// - When the queue has run dry (the start, or a stall that emptied it),
//   silence up to the target is queued before the packet, so the device has
//   its cushion again; the sound itself is not changed by that.
//
// Once a minute of stream the latency and the ratio are logged (category
// SA_LOG_FSTM), as is the start and the end of each catch-up.
//
// Clock-free: it reads no time and no device, so a benchmark or a test can
// drive it with a simulated device clock; the audio loop drives it with the
// SDL queue.
//
// Threads: one thread at a time (the audio loop thread).
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t SA_AUDIO_LATENCY_TARGET_MS = 40;
// A queue deeper than this is a backlog (a stall), never a clock drift: it is
// caught up by dropping whole packets.
constexpr uint32_t SA_AUDIO_LATENCY_CATCHUP_MS = 200;
// What the device queue must be able to hold: more than a catch-up's
// threshold, or a backlog would wait unseen in the socket instead.
constexpr uint32_t SA_AUDIO_QUEUE_LIMIT_MS = 2 * SA_AUDIO_LATENCY_CATCHUP_MS + 100;
// Largest change of the playing rate, in parts per million.
constexpr uint32_t SA_AUDIO_RATIO_RANGE_PPM = 5000;
// Frames of the crossfade over a dropped run of packets (2 ms).
constexpr size_t SA_AUDIO_CROSSFADE_FRAMES = 96;

struct SRC_STATE_tag;

class SAAudioLatencyControl
{
public:
    SAAudioLatencyControl();
    ~SAAudioLatencyControl();
    SAAudioLatencyControl(const SAAudioLatencyControl&) = delete;
    SAAudioLatencyControl& operator=(const SAAudioLatencyControl&) = delete;

    // Gets ready for a new stream (creates the resampler on first use).
    // False, logged, when the resampler cannot be had.
    bool Initialize();
    // Takes one packet of n bytes of interleaved stereo S16 at 48000 Hz (a
    // trailing partial frame is ignored) and queuedFrames, the stream frames
    // queued downstream and not yet played. Fills `out` (cleared first) with
    // the stereo S16 bytes to queue now: the packet itself while no
    // correction is needed, silence before it when the queue had run dry,
    // the resampled packet, or nothing when the packet is dropped. False,
    // logged, when the resampler fails; `out` then holds the packet as it
    // came.
    bool PacketProcess(const uint8_t* data, size_t n, uint32_t queuedFrames, std::vector<uint8_t>& out);
    // Frees the resampler.
    void Release();

    // Output frames per input frame now; exactly 1 while bypassed.
    double RatioGet() const { return m_Ratio; }
    bool ResamplingGet() const { return m_Resampling; }
    // Frames (and packets) dropped by catch-ups since Initialize.
    uint64_t DroppedFramesGet() const { return m_DroppedFrames; }
    uint64_t DroppedPacketsGet() const { return m_DroppedPackets; }
    // Frames queued right after the last packet (queuedFrames plus what it
    // added).
    uint32_t LatencyFramesGet() const { return m_LatencyFrames; }

private:
    bool PrivateResample(const int16_t* in, size_t frames, bool flush, std::vector<uint8_t>& out);
    void PrivateResamplingStart();
    void PrivateControlUpdate();
    void PrivateCrossfade(int16_t* frames, size_t count);

    SRC_STATE_tag* m_pResampler = nullptr;
    bool m_Resampling = false;
    double m_Ratio = 1.0;
    double m_RatioTarget = 1.0;
    // Catch-up in progress: the packets seen are dropped while the queue is
    // above the target.
    bool m_CatchingUp = false;
    // The first frames of the first packet of a dropped run: the kept packet
    // after the run fades in from them.
    std::vector<int16_t> m_FadeFrom;
    uint64_t m_RunFrames = 0;
    uint32_t m_RunPackets = 0;
    uint64_t m_DroppedFrames = 0;
    uint64_t m_DroppedPackets = 0;
    uint32_t m_LatencyFrames = 0;
    // The mean of the latency over the current control interval.
    double m_IntervalLatencySum = 0.0;
    uint64_t m_IntervalFrames = 0;
    // The mean of the last whole interval, for the log.
    double m_LastMeanMs = 0.0;
    // Stream frames taken in since the last minute's log line.
    uint64_t m_LogFrames = 0;
    // Stream frames passed on since the last catch-up that was logged (as
    // the minute's, they come at the device's pace): a server that
    // floods forces one every second or so, and the log must not grow by
    // lines a second for as long as it does (the minute's line counts
    // every dropped frame).
    uint64_t m_CatchUpLogFrames = 0;
    bool m_CatchUpLogged = false;
    // The last frames passed through unchanged: the resampler starts from
    // them so that it joins the bypassed stream without a click.
    std::vector<int16_t> m_History;
    // Output frames of the resampler still to be thrown away (its priming).
    size_t m_PrimeDiscardFrames = 0;
    std::vector<float> m_InFloat;
    std::vector<float> m_OutFloat;
    std::vector<int16_t> m_Work;
};
