#pragma once
// The peer's H.264 encoder: libx264 through libavcodec, one access unit per
// frame in Annex B byte stream form, ready to be a FrameBuffer payload.
//
// - tune zerolatency, no B-frames, no lookahead: each frame comes out as soon
//   as it goes in, so a viewer's decoder can show it at once;
// - full-range BT.601 (yuvj420p, signalled in the stream): the BGRX frame is
//   turned into YUV by TurboJPEG with JPEG coefficients, the exact inverse of
//   the viewer's TurboJPEG conversion;
// - SPS and PPS before every IDR, so a viewer can join at any keyframe;
// - a fixed preset and thread count (4 sliced threads: up to 4 slices per
//   picture, fewer for small pictures): the same frames give the same bytes
//   on every machine and run, and the viewer's slice threads have slices to
//   share out.
// Rate control: CRF from the 1..100 quality (100 best), or average bit rate
// when one is given. A change of frame size starts a new stream (new
// encoder, IDR with new parameter sets).
//
// One encoder per connection thread; not thread-safe.
#include <cstddef>
#include <cstdint>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

class PeerEncoderH264
{
public:
    // quality 1..100; gop = frames from one IDR to the next; bitRate in bits
    // per second, 0 = constant quality; fps for the stream's timing, 0 = 60.
    PeerEncoderH264(int quality, int gop, int64_t bitRate, int fps);
    ~PeerEncoderH264();
    PeerEncoderH264(const PeerEncoderH264&) = delete;
    PeerEncoderH264& operator=(const PeerEncoderH264&) = delete;

    // Encodes one frame of `width` x `height` BGRX pixels at `pitch`. The
    // access unit stays valid until the next call. False (logged) on failure.
    bool FrameEncode(const uint8_t* bgrx, int width, size_t pitch, int height, const uint8_t*& payload,
                     size_t& payloadBytes);

    // x264 CRF for a 1..100 quality: 51 - round(0.4 x quality), 11 at 100.
    static int CrfFromQuality(int quality);
    // Encoders opened so far (one per frame size).
    int OpenCountGet() const { return m_OpenCount; }

private:
    bool PrivateOpen(int width, int height);
    void PrivateClose();

    int m_Quality;
    int m_Gop;
    int64_t m_BitRate;
    int m_Fps;
    AVCodecContext* m_pContext = nullptr; // owned
    AVFrame* m_pFrame = nullptr;          // owned
    AVPacket* m_pPacket = nullptr;        // owned
    void* m_hTurboJpeg = nullptr;         // tjhandle for compression, owned
    int m_Width = 0;
    int m_Height = 0;
    int64_t m_Pts = 0;
    int m_OpenCount = 0;
};
