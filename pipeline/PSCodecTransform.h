#pragma once
// One open libavcodec H.264 decoder: packets in (InputSubmit), pictures out
// (OutputGet), Flush after bad input. It plays the role of a decoder
// transform: avcodec_send_packet is the input, avcodec_receive_frame the
// output, AVERROR(EAGAIN) "needs more input", and a change of the decoded
// size or pixel format a stream change that is renegotiated on the spot.
//
// Settings, fixed for the life of the decoder:
// - AV_CODEC_FLAG_LOW_DELAY: a picture leaves with the packet that completes
//   it (it also rules out frame threading, which holds one picture back per
//   thread);
// - slice threading, 8 threads requested: slices of one picture decode in
//   parallel without adding latency;
// - AV_CODEC_FLAG2_FAST;
// - no parser: each packet is one whole access unit and goes to the decoder
//   as it is (a parser would hold each unit back until the next arrives).
// Hardware (VA-API) pictures are downloaded to memory (usually NV12) before
// OutputGet hands them out.
//
// Used by one PSDecoderH264 on one thread at a time.
#include <cstddef>
#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

// The screen size the packets' headers announce; pictures are held to it.
struct PSCodecAnnouncedSize
{
    int32_t Width = 0;
    int32_t Height = 0;
};

class PSCodecTransform
{
public:
    PSCodecTransform();
    ~PSCodecTransform();
    PSCodecTransform(const PSCodecTransform&) = delete;
    PSCodecTransform& operator=(const PSCodecTransform&) = delete;

    // Finds and opens a decoder for a stream announced as width x height
    // (a hint only: the stream's own parameter sets decide). Logs which
    // decoder runs. False when none opens. hardwareAllowed false: software
    // only.
    bool Initialize(int32_t width, int32_t height, bool hardwareAllowed = true);
    bool IsInitialized() const { return m_pContext != nullptr; }
    void Release();

    // Feeds one access unit stamped with `sampleTime` (100-ns units). False
    // (logged) when the decoder refuses it.
    bool InputSubmit(const uint8_t* data, size_t size, int64_t sampleTime);

    // The newest decoded picture, if any: true with `frame` valid until the
    // next call. False with `needMoreInput` set when the decoder has no
    // picture yet; false with it clear on a decoder failure. A failure after
    // a picture in the same drain is logged and the picture still returned.
    // A stream change (size or format differs from the last picture) is
    // logged, counted and the picture still returned.
    bool OutputGet(const AVFrame*& frame, bool& needMoreInput);

    // Drops whatever the decoder holds (after bad input).
    void Flush();

    const std::string& InstanceNameGet() const { return m_InstanceName; }
    bool IsHardwareGet() const { return m_Hardware; }
    // A hardware decoder was tried at Initialize and did not open.
    bool HardwareFailedGet() const { return m_HardwareFailed; }
    // Stream changes followed since Initialize.
    uint32_t StreamChangesGet() const { return m_StreamChanges; }

private:
    bool PrivateAttributesSet(AVCodecContext* context);
    bool PrivateMediaTypesSet(AVCodecContext* context, int32_t width, int32_t height);
    bool PrivateDownload(AVFrame* frame);

    AVCodecContext* m_pContext = nullptr; // owned
    AVPacket* m_pPacket = nullptr;        // owned, reused for every input
    AVFrame* m_pFrame = nullptr;          // owned, the picture being received
    AVFrame* m_pFrameNewest = nullptr;    // owned, the picture handed out
    AVFrame* m_pFrameSoftware = nullptr;  // owned, a hardware picture in memory
    PSCodecAnnouncedSize m_Announced;     // what the context's opaque points at
    std::string m_InstanceName;
    bool m_Hardware = false;
    bool m_HardwareFailed = false;
    // The last picture's decoded shape, for noticing stream changes.
    int m_LastWidth = 0, m_LastHeight = 0, m_LastFormat = -1;
    uint32_t m_StreamChanges = 0;
};
