#pragma once
// Command-line options of the peer server. Parsed once on the main thread and
// then read (never written) by every connection thread.
#include "peer/PeerFrameSynth.h"

#include <cstdint>
#include <string>
#include <vector>

enum class PeerCodec
{
    Raw,  // 32-bit BGRX rows, compression type 0
    Yuv,  // planar 4:2:0, rows padded to 4 bytes, compression type 1
    Jpeg, // baseline JPEG 4:2:0, compression type 3
    H264, // libx264 Annex B access units of the whole screen, compression type 4
};

enum class PeerAudio
{
    Sine, // the test tone of PeerConnection::AudioToneFill
    Wav,  // a 16-bit stereo 48 kHz WAV file, played in a loop
    Off,  // the audio connection is accepted and stays silent
    // What the machine plays (the sound server's monitor source); the tone
    // where there is none.
    Monitor,
};

enum class PeerSource
{
    Synth, // the synthetic desktop of PeerFrameSynth
    X11,   // a real X display, read as it changes
};

struct PeerOptions
{
    std::string BindAddress = "0.0.0.0";
    int Width = 1280;
    int Height = 720;
    // Frames per second; 0 streams as fast as flow control allows.
    int Fps = 30;
    // Horizontal bands per frame, one FrameBuffer packet each (1..4).
    int Fragments = 1;
    PeerCodec Codec = PeerCodec::Jpeg;
    int Quality = 80;
    // H.264: frames from one IDR to the next, and an average bit rate in bits
    // per second (0 = constant quality from Quality).
    int Gop = 60;
    int64_t Bitrate = 0;
    // Frames per connection before a graceful Disconnect; 0 = unlimited.
    uint32_t Frames = 0;
    // Frames in flight beyond the acknowledgements received; 0 = no limit.
    uint32_t Window = 4;
    std::string RecordPath;
    std::string Scenario;
    std::string SaveLastPath;
    std::string Name = "quillmere-peer";
    // Feature bitmap of the discovery reply (8: audio offered, 16: encryption
    // or password required).
    uint32_t Features = 0;
    // Bytes per discovery reply: 308 is the record; tests ask for shorter or
    // longer replies to exercise the viewer.
    size_t DiscoveryReplySize = 308;
    // AudioData packets (10 ms each) per audio connection before a graceful
    // Disconnect; 0 = unlimited.
    uint32_t AudioPackets = 0;
    PeerAudio Audio = PeerAudio::Sine;
    // --audio FILE.wav: the file's sample frames (interleaved S16 stereo),
    // read by Parse.
    std::vector<uint8_t> AudioWav;
    // The audio clock's error: the stream runs this many parts per million
    // fast (negative: slow) against the peer's real-time clock.
    int32_t AudioSkewPpm = 0;
    // --audio-stall MS@SECONDS: at SECONDS of stream time nothing is sent
    // for MS milliseconds, then what was missed goes out at once. 0 = none.
    uint32_t AudioStallMs = 0;
    uint64_t AudioStallAtMs = 0;
    PeerSource Source = PeerSource::Synth;
    // --source x11:DISPLAY: the display name (empty: $DISPLAY).
    std::string X11Display;
    // Apply the viewer's input to the X display (--source x11 only);
    // otherwise input is recorded and ignored.
    bool Inject = false;
    // Exit once this many connections have ended; 0 = run until a signal.
    uint32_t ExitAfterClients = 0;
    // Display connections served at once; one more gets Disconnect 0.
    uint32_t MaxClients = 8;
    // A new connection that has not sent its whole connect request by then
    // is closed, so that idle sockets do not hold a thread each for good.
    uint32_t RequestTimeoutMs = 10000;
    bool Quiet = false;
    // Chaos mode (--chaos SEED): every connection suffers random drops,
    // resets, visibility flips and hostile packets, and the codec alternates
    // between JPEG and H.264 from one connection to the next.
    bool Chaos = false;
    uint32_t ChaosSeed = 0;
    // What of the synthetic desktop changes from frame to frame (--motion).
    PeerMotion Motion = PeerMotion::Window;
    // --loop N: frames 0..N-1 are encoded once at start and then sent over
    // and over, so that a benchmark's peer costs little more than its
    // sends; 0 = every frame encoded as it is sent.
    uint32_t Loop = 0;
    // --still: the first frame, then nothing but the open connection.
    bool Still = false;
    // --stats: at the end of each display connection one line with the
    // frames acknowledged per second and the time from each frame's last
    // fragment sent to its acknowledgement, counted from StatsWarmupMs
    // after the first frame for StatsSpanMs (0: to the connection's end).
    bool Stats = false;
    uint32_t StatsWarmupMs = 2000;
    uint32_t StatsSpanMs = 0;

    // False with a one-line reason in `error` when an option is unknown or
    // out of range. `--help` yields false with an empty error.
    static bool Parse(int argc, const char* const* argv, PeerOptions& options, std::string& error);
    static std::string UsageText();
    static const char* CodecName(PeerCodec codec);
    // Reads the sample frames of a WAV file of 16-bit PCM, 2 channels, 48000
    // frames per second (plain or extensible format). False with a reason.
    static bool WavRead(const std::string& path, std::vector<uint8_t>& frames, std::string& error);
};
