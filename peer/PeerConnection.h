#pragma once
// One viewer connection of the peer: a display connection (request kind 0)
// or an audio connection (request kind 3), which streams a steady test tone
// as AudioData packets in real time.
//
// Threads: the connection thread (PrivateRun) reads the connect request and
// then is the only sender: Visibility, frames, scenario packets or audio
// packets, the final Disconnect. The receiver thread (PrivateReceiveLoop, started after the
// connect request) is the only reader: it records every packet, counts
// acknowledgements for flow control and notices the viewer leaving.
// StopRequest may be called from any thread; Join and the destructor from the
// owner's thread only.
//
// m_Lock guards m_Acks, m_FramesSent, m_Stop, m_ViewerGone, m_ReceiverDone
// and the --stats times; m_Wake is signalled whenever one of the first five
// changes.
#include "peer/PeerConnectRequest.h"
#include "peer/PeerConnectionObserver.h"
#include "peer/PeerEncoder.h"
#include "peer/PeerOptions.h"
#include "peer/PeerScenario.h"
#include "peer/PeerSocket.h"

#include "net/SANetProtocol.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

class PeerFrameLoop;
class PeerInjectX11;
class PeerJsonLine;
class PeerRecorder;

// The audio stream: interleaved signed 16-bit stereo at 48000 frames per
// second, sent as 10 ms packets.
constexpr uint32_t PEER_AUDIO_RATE = 48000;
constexpr uint32_t PEER_AUDIO_PACKET_FRAMES = 480;
constexpr size_t PEER_AUDIO_PACKET_BYTES = PEER_AUDIO_PACKET_FRAMES * 4;

// A viewer never sends more than the 334-byte connect request as a payload;
// a larger announcement means a broken or hostile stream.
constexpr uint32_t PEER_VIEWER_BYTE_COUNT_LIMIT = 65536;

class PeerConnection
{
public:
    // Takes ownership of the connected socket `fd`. `options`, `scenario`,
    // `recorder` (may be null), `observer` and `loop` (the --loop frames,
    // null without) are borrowed and must outlive this object (the server
    // owns them all).
    PeerConnection(int fd, uint32_t id, const PeerOptions& options, const PeerScenario& scenario,
                   PeerRecorder* recorder, PeerConnectionObserver* observer,
                   const PeerFrameLoop* loop = nullptr);
    ~PeerConnection();
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    bool Start();
    // Ends the connection without a Disconnect packet; any thread.
    void StopRequest();
    void Join();
    // True once the connection thread has finished its work.
    bool IsFinished() const { return m_Finished.load(); }
    uint32_t IdGet() const { return m_Id; }

    // The test tone from stream frame `firstFrame` on, `frames` stereo frames
    // little-endian into out: 1 kHz on the left, 500 Hz on the right, sampled
    // half a sample off the zero crossings so that no sample is ever 0 (a
    // test can tell played tone from a device's silence).
    static void AudioToneFill(uint64_t firstFrame, uint8_t* out, size_t frames);

private:
    void PrivateRun();
    void PrivateStream();
    // The picture of an X display (--source x11): sent as it changes, in
    // the codec, quality and frame rate of the connect request.
#ifdef QM_PEER_X11
    void PrivateStreamX11();
    // Encodes and sends rows [top, bottom) of a screen as one of
    // `fragments` FrameBuffer packets; counts the bytes.
    bool PrivateBandSend(PeerEncoder& encoder, const uint8_t* band, size_t pitch, int width, int height,
                         int top, int bottom, int fragments);
    // Applies an input packet to the X display (--inject).
    void PrivateInputApply(const SAPacketHeader& header);
#endif
    // Audio connection: AudioData in real time until the viewer leaves, the
    // peer shuts down or --audio-packets are sent (then Disconnect 0).
    void PrivateAudioStream();
    // One packet of the chosen sound from stream frame firstFrame on.
    void PrivateAudioFill(uint64_t firstFrame, uint8_t* out) const;
    void PrivateReceiveLoop();
    bool PrivateConnectRequestRead(uint32_t& requestKind);
    // How a chaos frame is spoilt: bytes of its payloads changed (sizes
    // still right), or its first payload cut short (the caller then closes).
    enum class Damage
    {
        None,
        Corrupt,
        Truncate,
    };
    // `overhang`: pixels the last band reaches past the right screen edge.
    bool PrivateFrameSend(uint32_t frameNumber, int overhang, Damage damage = Damage::None);
    // --stats: a frame's last fragment has gone out.
    void PrivateFrameSentNote();
    // --stats: the line of a display connection that ended at `end`.
    void PrivateStatsPrint(std::chrono::steady_clock::time_point end);
    // Chaos mode: at random frames one disruptive or hostile act; `ended`
    // when it dropped the connection (closed without a Disconnect).
    bool PrivateChaosRun(uint32_t frameNumber, bool& ended, int& overhang, Damage& damage);
    uint32_t PrivateChaosNumber(uint32_t low, uint32_t high);
    // Sends the events due before `frameNumber`; `ended` when one closed the stream.
    bool PrivateScenarioRun(uint32_t frameNumber, bool& ended, int& overhang);
    bool PrivateHeaderSend(const SAPacketHeader& header);
    // Waits until the stream may send frame number `sent` (flow control),
    // then counts it as sent.
    bool PrivateWindowWait(uint64_t sent);
    // Waits until `deadline`; false when the connection should end.
    bool PrivateSleepUntil(std::chrono::steady_clock::time_point deadline);
    bool PrivateEnding();
    // After a final Disconnect: let the viewer read everything and close.
    void PrivateGracefulClose();
    void PrivateReceiverStop();
    void PrivateRecord(PeerJsonLine& line);

    PeerSocket m_Socket;
    uint32_t m_Id;
    const PeerOptions& m_Options;
    const PeerScenario& m_Scenario;
    PeerRecorder* m_Recorder;           // borrowed, may be null
    PeerConnectionObserver* m_Observer; // borrowed
    const PeerFrameLoop* m_pLoop;       // borrowed, may be null
    PeerCodec m_Codec;                  // --codec, or the one chaos mode chose
    PeerEncoder m_Encoder;              // connection thread only
    std::vector<uint8_t> m_Frame;       // connection thread only
    std::vector<uint8_t> m_Overhang;    // connection thread only
    std::vector<uint8_t> m_Damaged;     // connection thread only
    std::mt19937 m_Chaos;               // connection thread only
    uint32_t m_ChaosNext = 0;           // connection thread only
    PeerConnectRequest m_Request;       // written before the receiver starts
#ifdef QM_PEER_X11
    std::unique_ptr<PeerInjectX11> m_pInject; // receiver thread only (--inject)
#endif
    uint64_t m_BytesSent = 0; // FrameBuffer bytes, connection thread only

    std::thread m_Thread;
    std::thread m_ReceiverThread; // started and joined by m_Thread
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    uint64_t m_Acks = 0;         // guarded by m_Lock
    bool m_Stop = false;         // guarded by m_Lock
    bool m_ViewerGone = false;   // guarded by m_Lock
    bool m_ReceiverDone = false; // guarded by m_Lock
    // Frames that flow control has let go (sent or being sent); guarded by m_Lock.
    uint64_t m_FramesSent = 0;
    uint64_t m_AudioPacketsSent = 0; // connection thread only
    // --stats: when each frame's last fragment went out and when each
    // acknowledgement came; the n-th acknowledgement is the n-th frame's,
    // as flow control counts them. Guarded by m_Lock.
    std::vector<std::chrono::steady_clock::time_point> m_SentTimes;
    std::vector<std::chrono::steady_clock::time_point> m_AckTimes;
    std::atomic<bool> m_Finished{false};
};
