#pragma once
// Plays the server's sound: an SDL audio device opened on the default output
// in queue mode at the stream's own format (48000 frames per second, signed
// 16-bit, interleaved stereo), so SDL converts and resamples to whatever the
// device really is. A mono device is the one exception: it is opened mono
// and each stereo frame is folded into one sample before it is queued.
//
// "Padding" is the audio SDL holds queued and not yet played; the buffer is
// the device buffer SDL reports on open, one period of about 10 ms asked for
// (the period the device granted is logged). Render never lets the queue grow
// beyond its limit, one device buffer unless QueueLimitSet raised it, and it
// never drops data: it waits for room instead. (The audio loop raises the
// limit so that the queue holds the latency that SAAudioLatencyControl
// keeps in check, and a backlog shows there instead of waiting unseen in the
// socket.)
//
// A device that SDL reports lost (the sound server went away or restarted,
// the headset was pulled) never plays again, so Render notices it, logs it
// once, drops the sound without waiting and opens the default device again,
// at most once a second, until it plays.
//
// Threads: EnumerateSpeakers on any thread (the window thread in practice).
// Initialize, Start, Render, Stop and Release on one thread, the audio loop
// thread. RenderCancel from any thread. The getters are for tests and
// diagnostics, from the playing thread.
//
// Lifetime: Release (or the destructor) gives back the device and the
// process-wide audio subsystem reference that Initialize took.
//
// A sound server that hangs: enumerating, opening and closing wait for it
// at most SA_AUDIO_SOUND_SERVER_WAIT_MS and then fail (Release closes
// nothing more itself); whatever such a call took later is given back when
// it returns (see SAAudioSubsystem::Call).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int SA_AUDIO_STREAM_RATE = 48000;
constexpr int SA_AUDIO_STREAM_CHANNELS = 2;
// Bytes of one interleaved stereo frame of the stream.
constexpr size_t SA_AUDIO_STREAM_FRAME_BYTES = 4;
// The device period asked for: about 10 ms at the stream rate, the shortest
// that devices play without gaps as a rule.
constexpr unsigned SA_AUDIO_PERIOD_FRAMES = 512;
// How long after an attempt to open a lost device again the next one may
// come: a sound server that is down must not be asked a hundred times a
// second, nor fill the log.
constexpr uint64_t SA_AUDIO_REOPEN_INTERVAL_MS = 1000;
// The longest a caller waits for the sound server to enumerate, open or
// close a device. Answers take milliseconds, a server started on demand
// about a second.
constexpr uint32_t SA_AUDIO_SOUND_SERVER_WAIT_MS = 3000;

class SAAudioRenderer
{
public:
    SAAudioRenderer();
    ~SAAudioRenderer();
    SAAudioRenderer(const SAAudioRenderer&) = delete;
    SAAudioRenderer& operator=(const SAAudioRenderer&) = delete;

    // Appends the name of every output device SDL lists; true when there is
    // at least one. No audio driver at all means no speakers, never an error
    // beyond the log line.
    static bool EnumerateSpeakers(std::vector<std::string>& list);

    // Opens the default output device (paused). False, logged, when it cannot
    // be had; what was acquired stays for Release.
    bool Initialize();
    bool Start();
    // Plays n bytes of interleaved stereo S16 from data (folded in place for
    // a mono device). Only whole frames are played; a trailing partial frame
    // is ignored. Returns once every whole frame is queued, or on a failure
    // (the rest of the packet is dropped), or after RenderCancel. While the
    // device is lost the packet is dropped at once.
    void Render(uint8_t* data, size_t n);
    void Stop();
    // Closes the device and gives back the subsystem reference, each only if
    // held.
    void Release();
    // Makes a Render that waits for room return soon; cleared by Initialize.
    void RenderCancel() { m_RenderCancel.store(true); }

    // The most Render queues before it waits for room, in stream frames; at
    // least one device buffer. Kept until Release.
    void QueueLimitSet(uint32_t frames) { m_QueueLimitFrames = frames; }

    bool StartedGet() const { return m_Started; }
    // True from the moment Render found the device lost until it is open
    // again.
    bool DeviceLostGet() const { return m_DeviceLost; }
    // Channels the device was opened with (1 or 2), 0 before Initialize.
    int ChannelsGet() const { return m_Channels; }
    // The device buffer in bytes of the opened format.
    uint32_t BufferBytesGet() const { return m_BufferBytes; }
    // Bytes queued and not yet played.
    uint32_t PaddingGet() const;
    // Frames queued and not yet played (one per stream frame, mono or not).
    uint32_t QueuedFramesGet() const;

private:
    // What an open took, filled on the sound-server thread: the renderer's
    // once the open answered in time, given back there otherwise.
    struct Held
    {
        bool m_Subsystem = false;
        uint32_t m_DeviceId = 0; // SDL_AudioDeviceID, 0 = none
        int m_Channels = 0;
        uint32_t m_BufferBytes = 0; // as SDL granted it
        unsigned m_Samples = 0;
    };

    static bool PrivateEnumerateSpeakers(std::vector<std::string>& list);
    // Takes the subsystem and opens the default device (paused).
    bool PrivateOpen();
    // Closes the device and gives back the subsystem reference.
    void PrivateClose();
    // Whether the device can take the packet now; notices a lost device and
    // opens it again when an attempt is due.
    bool PrivateDeviceReady();
    // On the sound-server thread.
    static bool PrivateOpenHeld(Held& held);
    static void PrivateCloseHeld(Held& held);
    static bool PrivateDeviceDefaultGet(int& deviceChannels);
    static bool PrivateFormatGetAndConvert(int deviceChannels, Held& held);
    static bool PrivateAudioClientInitialize(Held& held);

    bool m_Started = false;
    bool m_SubsystemHeld = false;
    uint32_t m_DeviceId = 0; // SDL_AudioDeviceID, 0 = none
    int m_Channels = 0;
    size_t m_BlockAlign = 0;
    uint32_t m_BufferBytes = 0;
    uint32_t m_QueueLimitFrames = 0; // 0: one device buffer
    uint32_t m_PollWaitMs = 1;
    std::atomic<bool> m_RenderCancel{false};
    bool m_DeviceLost = false;
    uint64_t m_DeviceLostMs = 0; // when Render found it lost
    uint64_t m_ReopenNextMs = 0; // the next attempt to open it is due
};
