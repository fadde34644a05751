// Replays a few hundred random and hostile headers and connect requests
// through the parser, so that the sanitizer builds exercise it without
// libFuzzer. Every verdict of PacketValidate is checked against a reference
// model of the rules written independently here in 64-bit arithmetic, and
// every accepted FrameBuffer header against the bounds consumers rely on.
#include "core/SALog.h"
#include "net/SANetProtocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

namespace
{
const int32_t kHostile[] = {0,          1,          -1,    2,     3,       4,       5,           6,
                            7,          14,         15,    100,   101,     1080,    1081,        1920,
                            1921,       16383,      16384, 16385, 32767,   32768,   32769,       -16384,
                            -16385,     65535,      65536, 65537, INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1,
                            0x40000000, 0x40000001, -0x80, -0x7F};

class Source
{
public:
    explicit Source(uint32_t seed) : m_Engine(seed) {}
    uint32_t Any() { return m_Engine(); }
    int32_t Field()
    {
        switch (m_Engine() % 4)
        {
        case 0:
            return static_cast<int32_t>(m_Engine());
        case 1:
            return static_cast<int32_t>(m_Engine() % 4000) - 1000;
        default:
            return kHostile[m_Engine() % (sizeof(kHostile) / sizeof(kHostile[0]))];
        }
    }

private:
    std::mt19937 m_Engine;
};

// The rules restated: protocol rules, then the added bounds.
bool ReferenceValid(const SAPacketHeader& h)
{
    const int64_t type = h.U32Get(0);
    const int64_t count = h.U32Get(4);
    if (type > 14)
        return false;
    if (count != 0 && type != 2 && type != 14)
        return false;
    if (type == 3 && (h.S32Get(8) < 0 || h.S32Get(8) > 1))
        return false;
    if (count >= 0xFFFFFF80LL)
        return false;
    if (type != 2)
        return true;
    const int64_t w = h.S32Get(8), hh = h.S32Get(12), pitch = h.S32Get(16);
    const int64_t l = h.S32Get(24), t = h.S32Get(28), r = h.S32Get(32), b = h.S32Get(36);
    const int64_t c = h.U32Get(40), q = h.S32Get(48);
    if (b - t > hh && r - l > w)
        return false;
    if (pitch < 1 || c > 6 || ((c == 3 || c == 4) && (q < 1 || q > 100)))
        return false;
    if (w < 1 || hh < 1 || w > 16384 || hh > 16384 || w * hh > 7680 * 4320 || pitch > 65536)
        return false;
    for (int64_t v : {l, t, r, b})
        if (v < -16384 || v > 32768)
            return false;
    if (r < l || b < t || r - l > 16384 || b - t > 16384)
        return false;
    return count <= 1073741824LL && count <= std::max(pitch * (b - t), 8 * w * hh) + (1 << 20);
}

SAPacketHeader HostileHeader(Source& s)
{
    SAPacketHeader h;
    if (s.Any() % 3 == 0)
    {
        // Noise with mostly plausible types and counts.
        for (size_t i = 0; i < SA_PACKET_HEADER_SIZE; i += 4)
            h.U32Set(i, s.Any());
        uint32_t pick = s.Any() % 10;
        h.HeaderTypeSet(pick < 6 ? 2 : pick < 8 ? s.Any() % 16 : s.Any());
        h.ByteCountSet(s.Any() % 2 ? 0 : s.Any() % 100000);
        for (size_t off : {8u, 12u, 16u, 24u, 28u, 32u, 36u, 48u})
            h.S32Set(off, s.Field());
        h.U32Set(40, s.Any() % 3 == 0 ? s.Any() : s.Any() % 8);
        return h;
    }
    // A sound FrameBuffer or other header with one or two fields made hostile.
    uint32_t type = s.Any() % 4 == 0 ? s.Any() % 15 : 2;
    h.HeaderTypeSet(type);
    if (type == 2 || type == 14)
        h.ByteCountSet(s.Any() % 200000);
    if (type == 3)
        h.S32Set(8, s.Any() % 2);
    if (type == 2)
    {
        int32_t w = 1 + s.Any() % 4000, hh = 1 + s.Any() % 3000;
        int32_t l = s.Any() % w, t = s.Any() % hh;
        h.S32Set(8, w);
        h.S32Set(12, hh);
        h.S32Set(16, w * 4);
        h.S32Set(24, l);
        h.S32Set(28, t);
        h.S32Set(32, l + s.Any() % (w - l + 1));
        h.S32Set(36, t + s.Any() % (hh - t + 1));
        h.U32Set(40, s.Any() % 7);
        h.S32Set(48, 1 + s.Any() % 100);
    }
    const size_t offsets[] = {0, 4, 8, 12, 16, 24, 28, 32, 36, 40, 48};
    for (uint32_t k = s.Any() % 3; k > 0; --k)
    {
        size_t off = offsets[s.Any() % (sizeof(offsets) / sizeof(offsets[0]))];
        if (off == 4)
        {
            uint32_t c = s.Any() % 3;
            h.ByteCountSet(c == 0   ? 0xFFFFFF80u + s.Any() % 0x80
                           : c == 1 ? SA_FRAME_BUFFER_BYTE_COUNT_LIMIT + (s.Any() % 3) - 1
                                    : s.Any());
        }
        else
            h.S32Set(off, s.Field());
    }
    return h;
}
} // namespace

TEST(SANetProtocolReplay, HostileHeadersGetTheReferenceVerdictAndAcceptedOnesAreBounded)
{
    uint32_t savedMask = SALogMaskGet();
    SALogMaskSet(0); // hundreds of refusal lines would only drown the output
    Source s(20261208);
    int accepted = 0, acceptedFrameBuffers = 0;
    for (int i = 0; i < 800; ++i)
    {
        SAPacketHeader h = HostileHeader(s);
        bool valid = SANetProtocol::PacketValidate(h);
        ASSERT_EQ(valid, ReferenceValid(h)) << "case " << i;

        // Decoding and re-encoding changes no byte of the header.
        SAPacketHeader copy = h;
        SAPacketFrameBufferEncode(copy, SAPacketFrameBufferDecode(h));
        copy.HeaderTypeSet(h.HeaderTypeGet());
        ASSERT_EQ(std::memcmp(copy.m_Bytes, h.m_Bytes, SA_PACKET_HEADER_SIZE), 0) << "case " << i;

        if (!valid)
            continue;
        ++accepted;
        ASSERT_LT(h.ByteCountGet(), SA_PACKET_BYTE_COUNT_LIMIT);
        if (h.HeaderTypeGet() != SA_HEADER_FRAME_BUFFER)
            continue;
        ++acceptedFrameBuffers;
        SAFrameBufferInfo fb = SAPacketFrameBufferDecode(h);
        // What the pipeline computes from an accepted header stays far from
        // overflow in 64 bits and allocates at most 4 GiB.
        ASSERT_GE(fb.ScreenWidth, 1);
        ASSERT_GE(fb.ScreenHeight, 1);
        ASSERT_LE(int64_t(fb.PitchInBytes) * fb.ScreenHeight * 4, int64_t(1) << 32);
        ASSERT_LE(int64_t(fb.Right - fb.Left) * (fb.Bottom - fb.Top) * 4, int64_t(1) << 30);
        ASSERT_GE(fb.Right - fb.Left, 0);
        ASSERT_GE(fb.Bottom - fb.Top, 0);
    }
    SALogMaskSet(savedMask);
    // The generator reaches both outcomes often enough to mean something.
    EXPECT_GT(accepted, 50);
    EXPECT_GT(acceptedFrameBuffers, 20);
}

TEST(SANetProtocolReplay, RandomConnectRequestsDecodeWithinTheirBuffers)
{
    Source s(462);
    int decoded = 0;
    for (int i = 0; i < 400; ++i)
    {
        // Exactly sized buffers, so the sanitizer sees any read past the end.
        size_t size =
            (i % 4 == 0) ? s.Any() % SA_CONNECT_REQUEST_SIZE : SA_CONNECT_REQUEST_SIZE + s.Any() % 8;
        std::vector<uint8_t> packet(size);
        for (auto& b : packet)
            b = static_cast<uint8_t>(s.Any() % 3 == 0 ? 0 : s.Any());
        if (size >= 8 && i % 5 != 0)
        {
            SAWireU32Set(packet.data(), 0);
            SAWireU32Set(packet.data() + 4, SA_CONNECT_REQUEST_PAYLOAD_SIZE);
        }
        SAConnectRequestInfo info;
        bool ok = SAPacketConnectRequestDecode(packet.data(), packet.size(), info);
        ASSERT_EQ(ok, size >= SA_CONNECT_REQUEST_SIZE && SAWireU32Get(packet.data()) == 0 &&
                          SAWireU32Get(packet.data() + 4) == SA_CONNECT_REQUEST_PAYLOAD_SIZE);
        if (!ok)
            continue;
        ++decoded;
        EXPECT_EQ(info.ResolutionCount, SAWireU32Get(packet.data() + 48));
        EXPECT_EQ(info.Heights[8], SAWireU32Get(packet.data() + 88 + 32));
        // Whatever came in, the texts are well-formed UTF-8 that survive a
        // trip back into a field of the same size.
        std::vector<uint8_t> field(SAWire::CR_COMPUTER_NAME_UNITS * 2);
        SAWireUtf16Write(field.data(), SAWire::CR_COMPUTER_NAME_UNITS, info.ComputerName);
        EXPECT_EQ(SAWireUtf16Read(field.data(), SAWire::CR_COMPUTER_NAME_UNITS), info.ComputerName);
        SAWireUtf16Write(field.data(), SAWire::CR_INSTANCE_ID_UNITS, info.InstanceId);
        EXPECT_EQ(SAWireUtf16Read(field.data(), SAWire::CR_INSTANCE_ID_UNITS), info.InstanceId);
    }
    EXPECT_GT(decoded, 100);
}
