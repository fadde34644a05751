#pragma once
// Turns one band of a BGRX frame into the payload of a FrameBuffer packet.
// One encoder per connection thread; not thread-safe (it owns a TurboJPEG
// compression handle or an H.264 encoder and reuses its output buffer).
// H.264 is a stream: each call is the next picture, and the band must be the
// whole screen.
#include "net/SANetProtocol.h"
#include "peer/PeerEncoderH264.h"
#include "peer/PeerOptions.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class PeerEncoder
{
public:
    // gop, bitRate and fps apply to H.264 only (see PeerEncoderH264).
    PeerEncoder(PeerCodec codec, int quality, int gop = 60, int64_t bitRate = 0, int fps = 60);
    ~PeerEncoder();
    PeerEncoder(const PeerEncoder&) = delete;
    PeerEncoder& operator=(const PeerEncoder&) = delete;

    // The codec that can carry a width x height screen: `codec`, or JPEG in
    // place of H.264 when a side is odd. libx264's 4:2:0 pictures have even
    // sides, and there is no sound way round that on the wire: the screen
    // size of a FrameBuffer is the size the viewer sets its H.264 decoder up
    // for, so a padded picture would not match it, and a cropped one would
    // leave the last row or column unpainted. Every FrameBuffer names its
    // own compression type, so the viewer takes JPEG in the middle of a
    // connection as well; that keeps the stream going where ending it
    // (Disconnect 3, "encoder start failed") would leave the user nothing.
    static PeerCodec CodecFit(PeerCodec codec, int width, int height);
    // Wire compression type of this codec (0, 1, 3 or 4).
    uint32_t CompressionTypeGet() const;
    // Quality field of the header: the JPEG or H.264 quality, 0 for raw and yuv.
    int32_t QualityFieldGet() const;

    // Encodes `rows` rows of `width` BGRX pixels at `pitch`. For raw the
    // payload is the source itself (no copy): `payload` points at `band`.
    // Otherwise it points into this encoder's buffer, valid until the next
    // call. False (logged) on an encoder failure.
    bool BandEncode(const uint8_t* band, int width, size_t pitch, int rows, const uint8_t*& payload,
                    size_t& payloadBytes);

    // The FrameBuffer header of a band just encoded: `rows` rows from `top`
    // and columns 0..width of a screenWidth x screenHeight screen, the rows
    // `pitch` bytes apart, one of `fragments` bands of its frame.
    SAPacketHeader BandHeaderGet(int screenWidth, int screenHeight, int width, size_t pitch, int top,
                                 int rows, int fragments, size_t payloadBytes) const;

private:
    PeerCodec m_Codec;
    int m_Quality;
    void* m_Handle = nullptr; // tjhandle for compression, null for raw
    std::vector<uint8_t> m_Buffer;
    std::unique_ptr<PeerEncoderH264> m_pH264; // H.264 only
};
