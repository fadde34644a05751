#pragma once
// The packet format of both TCP connections: a fixed 128-byte header, then
// ByteCount bytes of payload. Every integer is little-endian; fields are read
// and written byte by byte at their offsets, never by casting network bytes
// to a struct.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

constexpr uint16_t SA_NET_SERVER_PORT = 28252;
constexpr size_t SA_PACKET_HEADER_SIZE = 128;
constexpr uint32_t SA_CONNECT_REQUEST_PAYLOAD_SIZE = 334;
constexpr size_t SA_CONNECT_REQUEST_SIZE = SA_PACKET_HEADER_SIZE + SA_CONNECT_REQUEST_PAYLOAD_SIZE; // 462
// Header plus payload must fit 32 bits; larger announcements are refused.
constexpr uint32_t SA_PACKET_BYTE_COUNT_LIMIT = 0xFFFFFF80u;

// Sanity bounds for FrameBuffer headers. Screen and rectangle sizes drive
// buffer sizes and divisions in the pipeline, so they are checked here once
// instead of in every consumer. 16384 pixels per side is twice the largest
// resolution any current display offers (7680 x 4320 is the settings'
// default maximum); a row is at most 4 bytes per pixel of that; a payload is
// at most one such row per line of the screen (1 GiB).
constexpr int32_t SA_FRAME_BUFFER_SIDE_LIMIT = 16384;
// The largest screen in pixels: the 8K UHD area (7680 x 4320), in any shape
// within the side limit. It bounds the frame every renderer and decode
// buffer is sized by (132 MB at 4 bytes per pixel), where the side limit
// alone would allow 1 GiB.
constexpr int64_t SA_FRAME_BUFFER_AREA_LIMIT = int64_t(7680) * 4320;
constexpr int32_t SA_FRAME_BUFFER_PITCH_LIMIT = 4 * SA_FRAME_BUFFER_SIDE_LIMIT;
// Rectangle corners may lie outside the screen (consumers clip), but only
// within one side limit of it, so that corner + extent never overflows.
constexpr int32_t SA_FRAME_BUFFER_COORD_MIN = -SA_FRAME_BUFFER_SIDE_LIMIT;
constexpr int32_t SA_FRAME_BUFFER_COORD_MAX = 2 * SA_FRAME_BUFFER_SIDE_LIMIT;
constexpr uint32_t SA_FRAME_BUFFER_BYTE_COUNT_LIMIT =
    uint32_t(SA_FRAME_BUFFER_PITCH_LIMIT) * uint32_t(SA_FRAME_BUFFER_SIDE_LIMIT);
// What a payload may hold beyond its own screen's needs (headers and tables
// of a compressed image of a tiny screen).
constexpr int64_t SA_FRAME_BUFFER_BYTE_COUNT_SLACK = int64_t(1) << 20;

enum class SAPacketVerdict
{
    Valid,
    Invalid,      // fails a rule of the protocol itself
    PayloadSkip,  // well framed, but describes a screen or rectangle out of bounds
    StreamBroken, // announces a payload no buffer may hold
};

enum SAHeaderType : uint32_t
{
    SA_HEADER_CONNECT_REQUEST = 0,
    SA_HEADER_STREAM_RESET = 1,
    SA_HEADER_FRAME_BUFFER = 2,
    SA_HEADER_VISIBILITY = 3,
    SA_HEADER_TYPE_4 = 4,
    SA_HEADER_FRAME_ACKNOWLEDGE = 7,
    SA_HEADER_DISCONNECT = 8,
    SA_HEADER_INPUT_MOUSE = 10,
    SA_HEADER_INPUT_KEYBOARD = 11,
    SA_HEADER_INPUT_TOUCH = 12,
    SA_HEADER_AUDIO_DATA = 14,
    SA_HEADER_TYPE_MAX = 14,
};

// Little-endian field access on a byte buffer.
inline uint32_t SAWireU32Get(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t SAWireU16Get(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void SAWireU32Set(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void SAWireU16Set(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// A 128-byte header as it travels on the wire.
struct SAPacketHeader
{
    uint8_t m_Bytes[SA_PACKET_HEADER_SIZE] = {};

    uint32_t U32Get(size_t offset) const { return SAWireU32Get(m_Bytes + offset); }
    int32_t S32Get(size_t offset) const { return static_cast<int32_t>(U32Get(offset)); }
    uint16_t U16Get(size_t offset) const { return SAWireU16Get(m_Bytes + offset); }
    int16_t S16Get(size_t offset) const { return static_cast<int16_t>(U16Get(offset)); }
    void U32Set(size_t offset, uint32_t v) { SAWireU32Set(m_Bytes + offset, v); }
    void S32Set(size_t offset, int32_t v) { U32Set(offset, static_cast<uint32_t>(v)); }
    void U16Set(size_t offset, uint16_t v) { SAWireU16Set(m_Bytes + offset, v); }
    void S16Set(size_t offset, int16_t v) { U16Set(offset, static_cast<uint16_t>(v)); }

    uint32_t HeaderTypeGet() const { return U32Get(0); }
    void HeaderTypeSet(uint32_t type) { U32Set(0, type); }
    uint32_t ByteCountGet() const { return U32Get(4); }
    void ByteCountSet(uint32_t count) { U32Set(4, count); }

    static SAPacketHeader FromBytes(const uint8_t* bytes)
    {
        SAPacketHeader h;
        std::memcpy(h.m_Bytes, bytes, SA_PACKET_HEADER_SIZE);
        return h;
    }
};

// Field offsets of the type-specific part.
namespace SAWire
{
// StreamReset (1)
constexpr size_t STREAM_RESET_REPLY_REQUEST = 12;
// FrameBuffer (2)
constexpr size_t FB_SCREEN_WIDTH = 8;
constexpr size_t FB_SCREEN_HEIGHT = 12;
constexpr size_t FB_PITCH_IN_BYTES = 16;
constexpr size_t FB_COLOR_FORMAT = 20;
constexpr size_t FB_RECT_LEFT = 24;
constexpr size_t FB_RECT_TOP = 28;
constexpr size_t FB_RECT_RIGHT = 32;
constexpr size_t FB_RECT_BOTTOM = 36;
constexpr size_t FB_COMPRESSION_TYPE = 40;
constexpr size_t FB_COMPRESSION_QUALITY = 48;
constexpr size_t FB_COUNT_FRAGMENTS = 60; // s16
constexpr size_t FB_FOUR_FRAGMENTS = 64;
// Visibility (3)
constexpr size_t VISIBILITY_IS_VISIBLE = 8;
// Disconnect (8)
constexpr size_t DISCONNECT_REASON = 8;
// InputMouse (10)
constexpr size_t MOUSE_X = 8;
constexpr size_t MOUSE_Y = 12;
constexpr size_t MOUSE_BUTTON_DATA = 16;
constexpr size_t MOUSE_BUTTON_FLAGS = 20;
constexpr size_t MOUSE_FLAGS = 24;
// InputKeyboard (11)
constexpr size_t KEY_VKEY_CODE = 8;
constexpr size_t KEY_SCAN_CODE = 12;
constexpr size_t KEY_FLAGS = 16;
// InputTouch (12)
constexpr size_t TOUCH_X = 8;
constexpr size_t TOUCH_Y = 12;
constexpr size_t TOUCH_RESOLUTION_WIDTH = 16;
constexpr size_t TOUCH_RESOLUTION_HEIGHT = 20;
constexpr size_t TOUCH_FLAGS = 24;
constexpr size_t TOUCH_TIME_MS = 28;
// ConnectRequest (0), offsets from the start of the packet
constexpr size_t CR_REQUEST_KIND = 16;
constexpr size_t CR_COMPRESSION_FLAG = 24;
constexpr size_t CR_QUALITY = 32;
constexpr size_t CR_COMPRESSION_TYPE = 36; // u16
constexpr size_t CR_FRAMERATE = 44;        // u16
constexpr size_t CR_RESOLUTION_COUNT = 48;
constexpr size_t CR_WIDTHS = 52;         // 9 x u32
constexpr size_t CR_HEIGHTS = 88;        // 9 x u32
constexpr size_t CR_INSTANCE_ID = 128;   // 39 x UTF-16
constexpr size_t CR_COMPUTER_NAME = 206; // 128 x UTF-16
constexpr size_t CR_INSTANCE_ID_UNITS = 39;
constexpr size_t CR_COMPUTER_NAME_UNITS = 128;
constexpr size_t CR_MAX_RESOLUTIONS = 9;
} // namespace SAWire

// Decoded FrameBuffer fields.
struct SAFrameBufferInfo
{
    int32_t ScreenWidth = 0;
    int32_t ScreenHeight = 0;
    int32_t PitchInBytes = 0;
    uint32_t ColorFormat = 0;
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    uint32_t CompressionType = 0;
    int32_t CompressionInfoQuality = 0;
    int16_t CountFragments = 0;
    uint32_t FourFragments = 0;

    // Packets that make up one frame: CountFragments when non-zero, else 4
    // when FourFragments is set, else 1. May be negative or above 4 when the
    // sender says so; callers decide what to do with that.
    int32_t FragmentCount() const { return CountFragments != 0 ? CountFragments : (FourFragments ? 4 : 1); }
};

SAFrameBufferInfo SAPacketFrameBufferDecode(const SAPacketHeader& header);
void SAPacketFrameBufferEncode(SAPacketHeader& header, const SAFrameBufferInfo& info);

// Decoded ConnectRequest (used by servers and tests).
struct SAConnectRequestInfo
{
    uint32_t RequestKind = 0;
    uint32_t Quality = 0;
    uint16_t CompressionType = 0;
    uint16_t Framerate = 0;
    uint32_t ResolutionCount = 0;
    uint32_t Widths[SAWire::CR_MAX_RESOLUTIONS] = {};
    uint32_t Heights[SAWire::CR_MAX_RESOLUTIONS] = {};
    std::string InstanceId;   // UTF-8
    std::string ComputerName; // UTF-8
};
// packet: the whole 462-byte request. False when it is not one.
bool SAPacketConnectRequestDecode(const uint8_t* packet, size_t size, SAConnectRequestInfo& info);

// UTF-16LE fields: writes at most `units` code units (the last one always a
// terminator when the text is shorter), zero-padding the rest of the field.
void SAWireUtf16Write(uint8_t* field, size_t units, const std::string& utf8);
std::string SAWireUtf16Read(const uint8_t* field, size_t units);

// Header-only packets as the viewer sends them.
SAPacketHeader SAPacketStreamResetReply();         // type 1, ReplyRequest 2
SAPacketHeader SAPacketFrameAcknowledge();         // type 7
SAPacketHeader SAPacketDisconnect(int32_t reason); // type 8

class SANetProtocol
{
public:
    // 462-byte connect request from the settings and the offered resolutions;
    // null when it cannot be allocated. The caller owns the packet. The
    // count is sent as given; at most the first nine sizes are copied
    // (widths and heights may be null when count is 0). Reads the settings
    // store on the calling thread. The computer name is gethostname's, at
    // most 127 UTF-16 units.
    static std::unique_ptr<uint8_t[]> PacketCreateConnectRequest(std::string instanceId,
                                                                 const uint32_t* widths,
                                                                 const uint32_t* heights, uint32_t count);
    // First packet of the audio connection (request kind 3).
    static std::unique_ptr<uint8_t[]> PacketRequestAudio(std::string instanceId);
    // Applied to every received header before its payload is read. Logs one
    // line for the first check that fails. After the fixed checks of the
    // protocol (Invalid: the header is dropped, an announced payload is not
    // skipped) come the bounds above: a ByteCount of SA_PACKET_BYTE_COUNT_LIMIT
    // or more, or a FrameBuffer payload above SA_FRAME_BUFFER_BYTE_COUNT_LIMIT
    // (StreamBroken: the connection ends), and for FrameBuffer a screen
    // ScreenSizeValid refuses, a pitch above SA_FRAME_BUFFER_PITCH_LIMIT, an inverted
    // rectangle or one whose corners or extents leave the bounds above
    // (PayloadSkip: the payload is read past; the display connection's
    // receiver passes the header on alone, so that its frame is still
    // counted and acknowledged).
    static SAPacketVerdict PacketCheck(const SAPacketHeader& header);
    // PacketCheck gives Valid.
    static bool PacketValidate(const SAPacketHeader& header);
    // A screen the viewer accepts: each side 1..SA_FRAME_BUFFER_SIDE_LIMIT
    // and at most SA_FRAME_BUFFER_AREA_LIMIT pixels.
    static bool ScreenSizeValid(int32_t width, int32_t height)
    {
        return width >= 1 && height >= 1 && width <= SA_FRAME_BUFFER_SIDE_LIMIT &&
               height <= SA_FRAME_BUFFER_SIDE_LIMIT && int64_t(width) * height <= SA_FRAME_BUFFER_AREA_LIMIT;
    }
};
