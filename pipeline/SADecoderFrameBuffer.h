#pragma once
// The decode step of a decoder task: one received FrameBuffer packet (the
// 128-byte header and its payload in one block) becomes B, G, R, X pixels
// handed to an SADecodeTarget.
//
// Everything in the header comes from the network, so every size is checked
// before it touches memory. The rules, each refusal logging one line:
// - the block must hold the header and the ByteCount it announces;
// - the screen size must be 1..SA_DECODE_SIDE_LIMIT on each side and at most
//   SA_DECODE_AREA_LIMIT pixels;
// - the rectangle (all zero = the whole screen) must be non-empty, not
//   inverted and at most SA_DECODE_SIDE_LIMIT on each side;
// - the rectangle is CLIPPED to the screen and to the target's frame; one
//   with nothing left inside is dropped;
// - uncompressed: PitchInBytes must hold a row of the rectangle and the
//   payload rows x PitchInBytes bytes; otherwise dropped;
// - YUV: the payload must hold a 4:2:0 image of the rectangle with 4-byte row
//   padding; otherwise dropped;
// - JPEG: an image larger than the rectangle in either dimension is dropped;
//   a smaller one updates only its own width x height from the rectangle's
//   top-left corner (clipped as above);
// - a picture to decode (the JPEG's size, the YUV rectangle) with more pixels
//   than the screen is dropped before anything is allocated for it, so that
//   decode memory follows the frame and not what a header or a JPEG claims.
//
// The decode buffer is kept between packets while it is at most
// SA_DECODE_BUFFER_KEEP_LIMIT bytes and given back after use otherwise.
//
// JPEG and YUV rectangles that lie wholly inside the frame are decoded
// straight into the target's pixels when the target lends them (one copy
// less per rectangle); the others go through the task's own buffer. A
// straight decode that fails half way leaves what it decoded, so the target
// is told that the rectangle changed either way.
//
// - H.264: the payload is one access unit of a stream of ScreenWidth x
//   ScreenHeight pictures; each picture covers the screen from its top-left
//   corner whatever PartialUpdateRect says, and is clipped to the screen
//   and to the target's frame like any other update. An empty payload (a
//   header whose payload the receiver read past) is refused without
//   touching the stream.
//
// One instance per decoder task; Decode runs on one worker thread at a time.
#include "net/SANetProtocol.h"
#include "pipeline/PSDecoderH264.h"
#include "pipeline/SADecLibJpeg.h"
#include "pipeline/SADecodeTarget.h"
#include "pipeline/SAUtilFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Largest screen or rectangle side accepted, in pixels; it bounds every
// decode buffer to 1 GiB. The same bound as the receiver's header check: the
// decoder checks again so that it stays safe with packets that never passed
// that check.
constexpr int32_t SA_DECODE_SIDE_LIMIT = SA_FRAME_BUFFER_SIDE_LIMIT;
// Largest screen accepted, in pixels (the 8K UHD area); with it every decode
// buffer stays within 132 MB.
constexpr int64_t SA_DECODE_AREA_LIMIT = SA_FRAME_BUFFER_AREA_LIMIT;
// A decode buffer up to this size stays allocated for the next packet: a
// whole 1080p frame, or a quarter of a 4K one. Larger ones are given back
// after each decode, so that four decoder tasks do not keep four large
// frames' worth for the rest of the run.
constexpr size_t SA_DECODE_BUFFER_KEEP_LIMIT = size_t(8) << 20;

enum class SADecodeResult
{
    Decoded,         // the rectangle went to the target
    Failed,          // refused or undecodable; the target keeps its old pixels
    NeedMoreInput,   // H.264: the decoder holds the data and has no picture yet
    H264InitError,   // H.264: no decoder could be set up (the user is told)
    H264DecodeError, // H.264: the stream could not be decoded (the user is told)
    NoTarget,        // nothing to hand the result to (no renderer)
};

class SADecoderFrameBuffer
{
public:
    SADecoderFrameBuffer();

    // The "Save 10 encoded frames to file" option: JPEG payloads are then
    // written to "JpegFrames" (and H.264 ones to "H264Frames"), ten per
    // decoder over its life.
    void DumpEnabledSet(bool enabled) { m_DumpEnabled = enabled; }

    // The task's H.264 decoder (its creations, latency and transform), for
    // tests and statistics; read on the decoding thread.
    const PSDecoderH264& DecoderH264Get() const { return m_DecoderH264; }

    // packet: the header followed by its payload, packetSize bytes in all.
    SADecodeResult Decode(const uint8_t* packet, size_t packetSize, int32_t fragmentIndex,
                          SADecodeTarget& target);
    // target null (the view has no renderer): an H.264 access unit is still
    // decoded, since the pictures after it refer to it, and only the
    // hand-off is skipped (NoTarget); any other packet is dropped at once.
    SADecodeResult Decode(const uint8_t* packet, size_t packetSize, int32_t fragmentIndex,
                          SADecodeTarget* target);

private:
    SADecodeResult PrivateDecode(const uint8_t* packet, size_t packetSize, int32_t fragmentIndex,
                                 SADecodeTarget* pTarget);
    // A picture of width x height with more pixels than its screen is
    // refused (logged as what), before anything is allocated for it.
    static bool PrivatePictureFits(const char* what, int64_t width, int64_t height,
                                   const SAFrameBufferInfo& info);

    struct PrivateRect
    {
        int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
        int32_t Width() const { return Right - Left; }
        int32_t Height() const { return Bottom - Top; }
    };

    bool PrivateRectsGet(const SAFrameBufferInfo& info, SADecodeTarget& target, PrivateRect& rect,
                         PrivateRect& visible);
    SADecodeResult PrivateDecodeRaw(const SAFrameBufferInfo& info, int32_t bytesPerPixel,
                                    const uint8_t* payload, size_t payloadSize, const PrivateRect& rect,
                                    const PrivateRect& visible, SADecodeTarget& target);
    SADecodeResult PrivateDecodeYuv(const SAFrameBufferInfo& info, const uint8_t* payload, size_t payloadSize,
                                    const PrivateRect& rect, const PrivateRect& visible,
                                    SADecodeTarget& target);
    SADecodeResult PrivateDecodeJpeg(const SAFrameBufferInfo& info, const uint8_t* payload,
                                     size_t payloadSize, int32_t fragmentIndex, const PrivateRect& rect,
                                     const PrivateRect& visible, SADecodeTarget& target);
    SADecodeResult PrivateDecodeH264(const SAFrameBufferInfo& info, const uint8_t* payload,
                                     size_t payloadSize, int32_t fragmentIndex, SADecodeTarget* target);
    // Hands `visible` to the target from `pixels`, which hold `rect` at
    // `pitch` with `bytesPerPixel`; visible lies inside rect.
    static void PrivateHandOver(const uint8_t* pixels, int32_t pitch, int32_t bytesPerPixel,
                                const PrivateRect& rect, const PrivateRect& visible, SADecodeTarget& target);
    uint8_t* PrivateBufferReserve(size_t size);
    static bool PrivateRectsEqual(const PrivateRect& a, const PrivateRect& b)
    {
        return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
    }
    // Bytes a lent region of `rows` rows at `pitch` spans: the last row needs
    // only its pixels.
    static size_t PrivateRegionBytes(int32_t pitch, int32_t width, int32_t rows)
    {
        return size_t(pitch) * size_t(rows - 1) + size_t(width) * 4u;
    }

    SADecLibJpeg m_DecLibJpeg;
    SAUtilFile m_FileJpeg;
    SAUtilFile m_FileH264;
    PSDecoderH264 m_DecoderH264;
    // Whether libavcodec has an H.264 decoder, checked once at construction.
    bool m_H264Installed;
    bool m_DumpEnabled = false;
    // Decoded pixels; kept between packets (up to SA_DECODE_BUFFER_KEEP_LIMIT)
    // so that a steady stream of same-sized fragments allocates once.
    std::unique_ptr<uint8_t[]> m_pBuffer;
    size_t m_BufferSize = 0;
};
