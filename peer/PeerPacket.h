#pragma once
// Headers the peer sends, written field by field at their wire offsets, so
// the peer checks the viewer's reading of the layout independently of the
// viewer's own encoder.
#include "net/SANetProtocol.h"

#include <cstdint>

// Direct3D 9 number of 32-bit pixels stored B, G, R, X in memory.
constexpr uint32_t PEER_COLOR_FORMAT_X8R8G8B8 = 22;
constexpr uint32_t PEER_COMPRESSION_RAW = 0;
constexpr uint32_t PEER_COMPRESSION_YUV = 1;
constexpr uint32_t PEER_COMPRESSION_JPEG = 3;
constexpr uint32_t PEER_COMPRESSION_H264 = 4;

// Kinds of malformed headers for the scenario; each is sent as a bare
// 128-byte header even when its ByteCount announces a payload, because a
// viewer drops an invalid header without skipping what it announces.
enum PeerMalformedKind : int32_t
{
    PEER_MALFORMED_TYPE = 1,              // HeaderType 15
    PEER_MALFORMED_HEADER_ONLY_BYTES = 2, // Visibility with ByteCount 256
    PEER_MALFORMED_VISIBILITY_VALUE = 3,  // Visibility with IsVisible 2
    PEER_MALFORMED_RECT = 4,              // FrameBuffer rect wider and taller than the screen
    PEER_MALFORMED_PITCH = 5,             // FrameBuffer with PitchInBytes 0
    PEER_MALFORMED_COMPRESSION = 6,       // FrameBuffer with CompressionType 9
    PEER_MALFORMED_QUALITY = 7,           // JPEG FrameBuffer with quality 0
};
constexpr int32_t PEER_MALFORMED_KIND_COUNT = 7;

struct PeerFrameBufferFields
{
    int32_t ScreenWidth = 0;
    int32_t ScreenHeight = 0;
    int32_t PitchInBytes = 0;
    uint32_t ColorFormat = PEER_COLOR_FORMAT_X8R8G8B8;
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    uint32_t CompressionType = PEER_COMPRESSION_RAW;
    int32_t Quality = 0;
    int16_t CountFragments = 1;
    uint32_t PayloadBytes = 0;
};

class PeerPacket
{
public:
    static SAPacketHeader Visibility(int32_t isVisible);
    static SAPacketHeader StreamReset(uint32_t replyRequest);
    static SAPacketHeader Disconnect(int32_t reason);
    static SAPacketHeader FrameBuffer(const PeerFrameBufferFields& fields);
    // A header of the given malformed kind for a stream of width x height.
    static SAPacketHeader Malformed(int32_t kind, int32_t width, int32_t height);
};
