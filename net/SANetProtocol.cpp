#include "net/SANetProtocol.h"

#include "core/SALog.h"
#include "settings/SASettings.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <unistd.h>
#include <vector>

namespace
{
// Decodes one UTF-8 sequence starting at text[i]; advances i. Malformed
// input yields U+FFFD for one byte, so every input converts.
char32_t PrivateUtf8Next(const std::string& text, size_t& i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (c < 0x80)
    {
        ++i;
        return c;
    }
    if ((c & 0xE0) == 0xC0)
    {
        length = 2;
        cp = c & 0x1F;
        minimum = 0x80;
    }
    else if ((c & 0xF0) == 0xE0)
    {
        length = 3;
        cp = c & 0x0F;
        minimum = 0x800;
    }
    else if ((c & 0xF8) == 0xF0)
    {
        length = 4;
        cp = c & 0x07;
        minimum = 0x10000;
    }
    else
    {
        ++i;
        return 0xFFFD;
    }
    if (i + length > text.size())
    {
        ++i;
        return 0xFFFD;
    }
    for (size_t k = 1; k < length; ++k)
    {
        unsigned char cc = byte(i + k);
        if ((cc & 0xC0) != 0x80)
        {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    {
        ++i;
        return 0xFFFD;
    }
    i += length;
    return cp;
}

void PrivateUtf8Append(std::string& out, char32_t cp)
{
    if (cp < 0x80)
    {
        out += static_cast<char>(cp);
    }
    else if (cp < 0x800)
    {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else if (cp < 0x10000)
    {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The fields common to the display and the audio request.
void PrivateConnectRequestCommonFill(uint8_t* packet, uint32_t requestKind, const std::string& instanceId)
{
    SAWireU32Set(packet + 0, SA_HEADER_CONNECT_REQUEST);
    SAWireU32Set(packet + 8, 4);
    SAWireU32Set(packet + 12, 8);
    SAWireU32Set(packet + SAWire::CR_REQUEST_KIND, requestKind);
    SAWireU32Set(packet + 20, 1);
    SAWireUtf16Write(packet + SAWire::CR_INSTANCE_ID, SAWire::CR_INSTANCE_ID_UNITS, instanceId);
}

// The computer name as the original platform reports it into a 128-unit
// buffer: at most 127 units and a terminator.
void PrivateComputerNameWrite(uint8_t* packet, const char* method)
{
    char name[SAWire::CR_COMPUTER_NAME_UNITS + 1] = {};
    if (gethostname(name, SAWire::CR_COMPUTER_NAME_UNITS) != 0)
    {
        SALog(SA_LOG_FAILURE, "%s gethostname failed! %d\n", method, errno);
        return;
    }
    name[SAWire::CR_COMPUTER_NAME_UNITS] = 0;
    SAWireUtf16Write(packet + SAWire::CR_COMPUTER_NAME, SAWire::CR_COMPUTER_NAME_UNITS - 1, name);
}
} // namespace

void SAWireUtf16Write(uint8_t* field, size_t units, const std::string& utf8)
{
    std::memset(field, 0, units * 2);
    size_t written = 0;
    size_t i = 0;
    while (i < utf8.size() && written < units)
    {
        char32_t cp = PrivateUtf8Next(utf8, i);
        if (cp == 0)
            break;
        if (cp < 0x10000)
        {
            SAWireU16Set(field + 2 * written, static_cast<uint16_t>(cp));
            ++written;
        }
        else
        {
            if (written + 2 > units)
                break; // never leave half a surrogate pair in the field
            cp -= 0x10000;
            SAWireU16Set(field + 2 * written, static_cast<uint16_t>(0xD800 + (cp >> 10)));
            SAWireU16Set(field + 2 * written + 2, static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
            written += 2;
        }
    }
}

std::string SAWireUtf16Read(const uint8_t* field, size_t units)
{
    std::string out;
    for (size_t k = 0; k < units; ++k)
    {
        char32_t u = SAWireU16Get(field + 2 * k);
        if (u == 0)
            break;
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units)
        {
            char32_t low = SAWireU16Get(field + 2 * (k + 1));
            if (low >= 0xDC00 && low <= 0xDFFF)
            {
                PrivateUtf8Append(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF)
            u = 0xFFFD; // unpaired surrogate
        PrivateUtf8Append(out, u);
    }
    return out;
}

SAFrameBufferInfo SAPacketFrameBufferDecode(const SAPacketHeader& header)
{
    using namespace SAWire;
    SAFrameBufferInfo info;
    info.ScreenWidth = header.S32Get(FB_SCREEN_WIDTH);
    info.ScreenHeight = header.S32Get(FB_SCREEN_HEIGHT);
    info.PitchInBytes = header.S32Get(FB_PITCH_IN_BYTES);
    info.ColorFormat = header.U32Get(FB_COLOR_FORMAT);
    info.Left = header.S32Get(FB_RECT_LEFT);
    info.Top = header.S32Get(FB_RECT_TOP);
    info.Right = header.S32Get(FB_RECT_RIGHT);
    info.Bottom = header.S32Get(FB_RECT_BOTTOM);
    info.CompressionType = header.U32Get(FB_COMPRESSION_TYPE);
    info.CompressionInfoQuality = header.S32Get(FB_COMPRESSION_QUALITY);
    info.CountFragments = header.S16Get(FB_COUNT_FRAGMENTS);
    info.FourFragments = header.U32Get(FB_FOUR_FRAGMENTS);
    return info;
}

void SAPacketFrameBufferEncode(SAPacketHeader& header, const SAFrameBufferInfo& info)
{
    using namespace SAWire;
    header.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
    header.S32Set(FB_SCREEN_WIDTH, info.ScreenWidth);
    header.S32Set(FB_SCREEN_HEIGHT, info.ScreenHeight);
    header.S32Set(FB_PITCH_IN_BYTES, info.PitchInBytes);
    header.U32Set(FB_COLOR_FORMAT, info.ColorFormat);
    header.S32Set(FB_RECT_LEFT, info.Left);
    header.S32Set(FB_RECT_TOP, info.Top);
    header.S32Set(FB_RECT_RIGHT, info.Right);
    header.S32Set(FB_RECT_BOTTOM, info.Bottom);
    header.U32Set(FB_COMPRESSION_TYPE, info.CompressionType);
    header.S32Set(FB_COMPRESSION_QUALITY, info.CompressionInfoQuality);
    header.S16Set(FB_COUNT_FRAGMENTS, info.CountFragments);
    header.U32Set(FB_FOUR_FRAGMENTS, info.FourFragments);
}

bool SAPacketConnectRequestDecode(const uint8_t* packet, size_t size, SAConnectRequestInfo& info)
{
    using namespace SAWire;
    if (packet == nullptr || size < SA_CONNECT_REQUEST_SIZE)
        return false;
    if (SAWireU32Get(packet) != SA_HEADER_CONNECT_REQUEST ||
        SAWireU32Get(packet + 4) != SA_CONNECT_REQUEST_PAYLOAD_SIZE)
        return false;
    info.RequestKind = SAWireU32Get(packet + CR_REQUEST_KIND);
    info.Quality = SAWireU32Get(packet + CR_QUALITY);
    info.CompressionType = SAWireU16Get(packet + CR_COMPRESSION_TYPE);
    info.Framerate = SAWireU16Get(packet + CR_FRAMERATE);
    // The count is passed on as sent; only the nine slots of the packet are
    // read, whatever it says.
    info.ResolutionCount = SAWireU32Get(packet + CR_RESOLUTION_COUNT);
    for (size_t i = 0; i < CR_MAX_RESOLUTIONS; ++i)
    {
        info.Widths[i] = SAWireU32Get(packet + CR_WIDTHS + 4 * i);
        info.Heights[i] = SAWireU32Get(packet + CR_HEIGHTS + 4 * i);
    }
    info.InstanceId = SAWireUtf16Read(packet + CR_INSTANCE_ID, CR_INSTANCE_ID_UNITS);
    info.ComputerName = SAWireUtf16Read(packet + CR_COMPUTER_NAME, CR_COMPUTER_NAME_UNITS);
    return true;
}

SAPacketHeader SAPacketStreamResetReply()
{
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_STREAM_RESET);
    header.U32Set(SAWire::STREAM_RESET_REPLY_REQUEST, 2);
    return header;
}

SAPacketHeader SAPacketFrameAcknowledge()
{
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_FRAME_ACKNOWLEDGE);
    return header;
}

SAPacketHeader SAPacketDisconnect(int32_t reason)
{
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_DISCONNECT);
    header.S32Set(SAWire::DISCONNECT_REASON, reason);
    return header;
}

std::unique_ptr<uint8_t[]> SANetProtocol::PacketCreateConnectRequest(std::string instanceId,
                                                                     const uint32_t* widths,
                                                                     const uint32_t* heights, uint32_t count)
{
    using namespace SAWire;
    std::unique_ptr<uint8_t[]> packet(new (std::nothrow) uint8_t[SA_CONNECT_REQUEST_SIZE]());
    if (!packet)
    {
        SALog(SA_LOG_FAILURE, "SANetProtocol::PacketCreateConnectRequest failed! NO memory\n");
        return nullptr;
    }
    uint8_t* p = packet.get();
    PrivateConnectRequestCommonFill(p, 0, instanceId);

    // The getters log their own failure lines and return the defaults.
    int32_t compressionType = SASettings::CompressionTypeGet();
    SAWireU32Set(p + CR_QUALITY, static_cast<uint32_t>(SASettings::CompressionQualityGet(compressionType)));
    SAWireU16Set(p + CR_COMPRESSION_TYPE, static_cast<uint16_t>(compressionType));
    SAWireU16Set(p + 38, 1);
    SAWireU32Set(p + 28, 2);
    SAWireU32Set(p + CR_COMPRESSION_FLAG, compressionType != 0 ? 3 : 0);

    SAWireU16Set(p + CR_FRAMERATE, static_cast<uint16_t>(SASettings::FramerateGet()));

    SAWireU32Set(p + CR_RESOLUTION_COUNT, count);
    for (uint32_t i = 0; i < count && i < CR_MAX_RESOLUTIONS; ++i)
    {
        SAWireU32Set(p + CR_WIDTHS + 4 * i, widths[i]);
        SAWireU32Set(p + CR_HEIGHTS + 4 * i, heights[i]);
    }
    SAWireU16Set(p + 46, 4);

    PrivateComputerNameWrite(p, "SANetProtocol::PacketCreateConnectRequest");
    SAWireU32Set(p + 4, SA_CONNECT_REQUEST_PAYLOAD_SIZE);
    return packet;
}

std::unique_ptr<uint8_t[]> SANetProtocol::PacketRequestAudio(std::string instanceId)
{
    std::unique_ptr<uint8_t[]> packet(new (std::nothrow) uint8_t[SA_CONNECT_REQUEST_SIZE]());
    if (!packet)
    {
        SALog(SA_LOG_FAILURE, "SANetProtocol::PacketRequestAudio failed! NO memory\n");
        return nullptr;
    }
    PrivateConnectRequestCommonFill(packet.get(), 3, instanceId);
    PrivateComputerNameWrite(packet.get(), "SANetProtocol::PacketRequestAudio");
    SAWireU32Set(packet.get() + 4, SA_CONNECT_REQUEST_PAYLOAD_SIZE);
    return packet;
}

SAPacketVerdict SANetProtocol::PacketCheck(const SAPacketHeader& header)
{
    using namespace SAWire;
    const uint32_t type = header.HeaderTypeGet();
    const uint32_t byteCount = header.ByteCountGet();

    // The protocol's own checks, in their order.
    if (type > SA_HEADER_TYPE_MAX)
    {
        SALog(SA_LOG_FAILURE, "SANetProtocol::PacketValidate - Invalid header type:%d\n",
              static_cast<int>(type));
        return SAPacketVerdict::Invalid;
    }
    if (byteCount != 0 && type != SA_HEADER_FRAME_BUFFER && type != SA_HEADER_AUDIO_DATA)
    {
        SALog(SA_LOG_FAILURE, "SANetProtocol::PacketValidate - Header type:%d invalid byte count:%d\n",
              static_cast<int>(type), static_cast<int>(byteCount));
        return SAPacketVerdict::Invalid;
    }
    if (type == SA_HEADER_VISIBILITY)
    {
        int32_t isVisible = header.S32Get(VISIBILITY_IS_VISIBLE);
        if (isVisible < 0 || isVisible > 1)
        {
            SALog(SA_LOG_FAILURE,
                  "SANetProtocol::PacketValidate - Invalid Visibility parameters IsVisible:%d\n", isVisible);
            return SAPacketVerdict::Invalid;
        }
    }
    SAFrameBufferInfo fb;
    if (type == SA_HEADER_FRAME_BUFFER)
    {
        fb = SAPacketFrameBufferDecode(header);
        // 64-bit differences: hostile corners must not overflow the check.
        const int64_t width = int64_t(fb.Right) - fb.Left;
        const int64_t height = int64_t(fb.Bottom) - fb.Top;
        if (height > fb.ScreenHeight && width > fb.ScreenWidth)
        {
            SALog(SA_LOG_FAILURE, "SANetProtocol::PacketValidate - Invalid PartialUpdateRect: %d/%d/%d/%d\n",
                  fb.Left, fb.Top, fb.Right, fb.Bottom);
            return SAPacketVerdict::Invalid;
        }
        if (fb.PitchInBytes < 1)
        {
            SALog(SA_LOG_FAILURE, "SANetProtocol::PacketValidate - Invalid PitchInBytes:%d\n",
                  fb.PitchInBytes);
            return SAPacketVerdict::Invalid;
        }
        if (fb.CompressionType > 6)
        {
            SALog(SA_LOG_FAILURE, "SANetProtocol::PacketValidate - Invalid Compression Type:%d\n",
                  static_cast<int>(fb.CompressionType));
            return SAPacketVerdict::Invalid;
        }
        if ((fb.CompressionType == 3 || fb.CompressionType == 4) &&
            (fb.CompressionInfoQuality < 1 || fb.CompressionInfoQuality > 100))
        {
            SALog(SA_LOG_FAILURE, "SANetProtocol::PacketValidate - Invalid Compression Info Quality:%d\n",
                  fb.CompressionInfoQuality);
            return SAPacketVerdict::Invalid;
        }
    }

    // Bounds on values that later size allocations, divide or index. They
    // come after the protocol's checks so that a header those reject is
    // reported exactly as before. A payload no buffer may hold cannot be
    // read, so the stream can no longer be followed: the connection ends, as
    // when its buffer cannot be had. The payload of a header refused only for
    // its screen or rectangle is read past, so that the next header is found
    // where the server put it.
    if (byteCount >= SA_PACKET_BYTE_COUNT_LIMIT ||
        (type == SA_HEADER_FRAME_BUFFER && byteCount > SA_FRAME_BUFFER_BYTE_COUNT_LIMIT))
    {
        SALog(SA_LOG_FAILURE, "SANetProtocol::PacketValidate - Header type:%d invalid byte count:%u\n",
              static_cast<int>(type), byteCount);
        return SAPacketVerdict::StreamBroken;
    }
    if (type == SA_HEADER_FRAME_BUFFER)
    {
        if (!ScreenSizeValid(fb.ScreenWidth, fb.ScreenHeight))
        {
            SALog(SA_LOG_FAILURE, "SANetProtocol::PacketValidate - Invalid Screen size:%dx%d\n",
                  fb.ScreenWidth, fb.ScreenHeight);
            return SAPacketVerdict::PayloadSkip;
        }
        if (fb.PitchInBytes > SA_FRAME_BUFFER_PITCH_LIMIT)
        {
            SALog(SA_LOG_FAILURE, "SANetProtocol::PacketValidate - Invalid PitchInBytes:%d\n",
                  fb.PitchInBytes);
            return SAPacketVerdict::PayloadSkip;
        }
        const auto coordinateBad = [](int32_t v)
        { return v < SA_FRAME_BUFFER_COORD_MIN || v > SA_FRAME_BUFFER_COORD_MAX; };
        if (coordinateBad(fb.Left) || coordinateBad(fb.Top) || coordinateBad(fb.Right) ||
            coordinateBad(fb.Bottom) || fb.Right < fb.Left || fb.Bottom < fb.Top ||
            fb.Right - fb.Left > SA_FRAME_BUFFER_SIDE_LIMIT ||
            fb.Bottom - fb.Top > SA_FRAME_BUFFER_SIDE_LIMIT)
        {
            SALog(SA_LOG_FAILURE,
                  "SANetProtocol::PacketValidate - PartialUpdateRect out of range: %d/%d/%d/%d\n", fb.Left,
                  fb.Top, fb.Right, fb.Bottom);
            return SAPacketVerdict::PayloadSkip;
        }
        // A payload is read whole before it is decoded, and held by the
        // queue and a decode task: a tiny screen must not come with a
        // gigabyte. Rows of the rectangle at its pitch hold a raw update;
        // twice four bytes a pixel of the screen hold any compressed one.
        const int64_t rowsBytes = int64_t(fb.PitchInBytes) * (int64_t(fb.Bottom) - fb.Top);
        const int64_t screenBytes = 8 * int64_t(fb.ScreenWidth) * fb.ScreenHeight;
        if (int64_t(byteCount) > std::max(rowsBytes, screenBytes) + SA_FRAME_BUFFER_BYTE_COUNT_SLACK)
        {
            SALog(SA_LOG_FAILURE,
                  "SANetProtocol::PacketValidate - Invalid byte count:%u for a %dx%d screen\n", byteCount,
                  fb.ScreenWidth, fb.ScreenHeight);
            return SAPacketVerdict::PayloadSkip;
        }
    }
    return SAPacketVerdict::Valid;
}

bool SANetProtocol::PacketValidate(const SAPacketHeader& header)
{
    return PacketCheck(header) == SAPacketVerdict::Valid;
}
