#pragma once
// The H.264 decoder of one decoder task: each FrameBuffer payload (one
// access unit, Annex B byte stream) goes into a libavcodec decoder
// (PSCodecTransform) and the picture it gives back becomes B, G, R, X pixels.
//
// - Initialize(width, height) before every packet: the decoder is created at
//   the first packet and again whenever the announced size changes; the same
//   size keeps it (and its reference pictures).
// - Decode: one packet in, a picture out, or "needs more input" (noOutput
//   set, not an error: the decoder holds the data, the latency count grows
//   and is logged). Input the decoder refuses flushes it and is a decoding
//   error. A picture whose size or format differs from the previous one is
//   followed at once (the conversion is set up anew) and still returned.
// - A fault inside the codec (caught by the job's guard) abandons the
//   decoder; the next Initialize makes a new one.
// - A VA-API decoder is tried first where a render node exists. One that
//   does not open, or that fails before its first picture, gives way to the
//   software decoder once, with a log line saying why (the access units it
//   was fed are decoded again in software); this object then stays with
//   software, also when a size change re-creates the decoder.
// - The sample clock (100-ns units) starts at the monotonic time of
//   construction and runs on across re-creations.
// - 4:2:0 8-bit pictures in full range (the peer's yuvj420p) or with no range
//   given are converted by TurboJPEG straight from the picture's own planes
//   and strides, with JPEG (full-range BT.601) coefficients; everything else
//   (limited range, 4:2:2, 4:4:4, RGB, 10-bit, NV12 from a hardware decoder)
//   goes through libswscale with the picture's own range and matrix.
//
// One instance per decoder task, used on one worker thread at a time. Also
// usable on its own (benchmarks): Initialize, then PictureDecode or Decode
// per packet.
#include "pipeline/SADecLibJpeg.h"
#include "pipeline/SAPlanarPicture.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class PSCodecTransform;
struct AVFrame;
struct SwsContext;

class PSDecoderH264
{
public:
    PSDecoderH264();
    ~PSDecoderH264();
    PSDecoderH264(const PSDecoderH264&) = delete;
    PSDecoderH264& operator=(const PSDecoderH264&) = delete;

    bool Initialize(int32_t width, int32_t height);

    // Decodes one access unit and converts its picture into `output`
    // (outputSize bytes, rows outputPitch apart, room for the initialised
    // width x height). The picture normally has exactly that size; when the
    // stream's own size differs, only the common top-left part is written,
    // and `pictureWidth` x `pictureHeight` tell how much that is.
    // With `shared`, a picture of the announced size that TurboJPEG could
    // convert (8-bit 4:2:0, full range) is not converted: it is handed out in
    // *shared as a reference to the decoder's own planes, and `output` stays
    // untouched. The caller converts it, or passes it on to be shown as it is.
    bool Decode(const uint8_t* data, size_t size, uint8_t* output, size_t outputSize, int32_t outputPitch,
                int32_t& pictureWidth, int32_t& pictureHeight, bool& noOutput,
                SAPlanarPicture* shared = nullptr);

    // Decode without the conversion: the limit a whole pipeline is measured
    // against. True when a picture came out.
    bool PictureDecode(const uint8_t* data, size_t size, bool& noOutput);

    // Diagnostic listing of the NAL units of an Annex B payload, at the codec
    // log category (0x100).
    static void NalUnitsTrace(const uint8_t* data, size_t size);

    bool IsInitializedGet() const { return m_Initialized; }
    int32_t WidthGet() const { return m_Width; }
    int32_t HeightGet() const { return m_Height; }
    int32_t LatencyCountGet() const { return m_LatencyCount; }
    int64_t SampleTimeGet() const { return m_SampleTime; }
    // Decoders created over this object's life (1 after the first packet).
    uint32_t CreationsGet() const { return m_Creations; }
    // The transform, for its name, hardware flag and stream changes; valid
    // while initialised.
    const PSCodecTransform& TransformGet() const { return *m_pTransform; }

private:
    // The guard's cleanup when a fault abandons a decode: the next
    // Initialize renews the decoder.
    static void PrivateAbandon(void* decoder);
    bool PrivateDecode(const uint8_t* data, size_t size, const AVFrame*& frame, bool& noOutput);
    bool PrivateSoftwareFallback(const char* why, const AVFrame*& frame, bool& noOutput);
    bool PrivateConvert(const AVFrame* frame, uint8_t* output, size_t outputSize, int32_t outputPitch,
                        int32_t width, int32_t height);
    bool PrivateScale(const AVFrame* frame, uint8_t* output, int32_t outputPitch, int32_t width,
                      int32_t height);

    std::unique_ptr<PSCodecTransform> m_pTransform;
    SADecLibJpeg m_LibJpeg;
    bool m_Initialized = false;
    int32_t m_Width = 0;
    int32_t m_Height = 0;
    int32_t m_FrameRate = 0;
    int64_t m_SampleDuration = 0;
    int64_t m_SampleTime = 0;
    int32_t m_LatencyCount = 0;
    uint32_t m_Creations = 0;
    bool m_Abandoned = false;
    // A hardware decoder failed this object once: software from then on.
    bool m_HardwareRefused = false;
    // The access units a hardware decoder was fed before its first picture,
    // for the software decoder should it fail.
    std::vector<std::vector<uint8_t>> m_HardwareTrialUnits;
    bool m_HardwareProven = false; // the hardware decoder gave a picture
    SwsContext* m_pSws = nullptr;  // owned; for pictures TurboJPEG cannot take
    // Last picture size that differed from the announced one (logged once).
    int32_t m_MismatchWidth = 0, m_MismatchHeight = 0;
};
