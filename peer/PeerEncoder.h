#pragma once
// Turns one band of a BGRX frame into the payload of a FrameBuffer packet.
// One encoder per connection thread; not thread-safe (it owns a TurboJPEG
// compression handle and reuses its output buffer).
#include "peer/PeerOptions.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class PeerEncoder
{
public:
    PeerEncoder(PeerCodec codec, int quality);
    ~PeerEncoder();
    PeerEncoder(const PeerEncoder&) = delete;
    PeerEncoder& operator=(const PeerEncoder&) = delete;

    // Wire compression type of this codec (0, 1 or 3).
    uint32_t CompressionTypeGet() const;
    // Quality field of the header: the JPEG quality, 0 for the other codecs.
    int32_t QualityFieldGet() const;

    // Encodes `rows` rows of `width` BGRX pixels at `pitch`. For raw the
    // payload is the source itself (no copy): `payload` points at `band`.
    // Otherwise it points into this encoder's buffer, valid until the next
    // call. False (logged) on an encoder failure.
    bool BandEncode(const uint8_t* band, int width, size_t pitch, int rows, const uint8_t*& payload,
                    size_t& payloadBytes);

private:
    PeerCodec m_Codec;
    int m_Quality;
    void* m_Handle = nullptr; // tjhandle for compression, null for raw
    std::vector<uint8_t> m_Buffer;
};
