// Every rule of SANetProtocol::PacketValidate, its order and its log line, as
// one table. Each row is a header built field by field and the one line the
// validation must log (empty: the header is valid and nothing is logged).
#include "NetTestUtil.h"
#include "net/SANetProtocol.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <utility>

namespace
{
// A FrameBuffer header that passes every check: a 1920 x 1080 screen, a JPEG
// rectangle inside it, quality 80.
SAFrameBufferInfo FrameBufferGood()
{
    SAFrameBufferInfo fb;
    fb.ScreenWidth = 1920;
    fb.ScreenHeight = 1080;
    fb.PitchInBytes = 1920 * 4;
    fb.ColorFormat = 21;
    fb.Left = 0;
    fb.Top = 0;
    fb.Right = 960;
    fb.Bottom = 540;
    fb.CompressionType = 3;
    fb.CompressionInfoQuality = 80;
    fb.CountFragments = 4;
    return fb;
}

SAPacketHeader FrameBuffer(const std::function<void(SAFrameBufferInfo&)>& change, uint32_t byteCount = 1000)
{
    SAFrameBufferInfo fb = FrameBufferGood();
    change(fb);
    SAPacketHeader h;
    SAPacketFrameBufferEncode(h, fb);
    h.ByteCountSet(byteCount);
    return h;
}

SAPacketHeader Plain(uint32_t type, uint32_t byteCount = 0, int32_t at8 = 0)
{
    SAPacketHeader h;
    h.HeaderTypeSet(type);
    h.ByteCountSet(byteCount);
    h.S32Set(8, at8);
    return h;
}

struct ValidateCase
{
    const char* name;
    SAPacketHeader header;
    std::string line; // empty: valid
};

void PrintTo(const ValidateCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::string P = "SANetProtocol::PacketValidate - ";

std::vector<ValidateCase> Cases()
{
    std::vector<ValidateCase> v;
    // 1. Header type.
    v.push_back({"Type15", Plain(15), P + "Invalid header type:15\n"});
    v.push_back({"TypeAllOnes", Plain(0xFFFFFFFF), P + "Invalid header type:-1\n"});
    v.push_back({"TypeTooLargeWithPayloadReportsTheType", Plain(200, 50), P + "Invalid header type:200\n"});
    for (uint32_t t : {0u, 1u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u})
        v.push_back({"HeaderOnlyTypeIsValid", Plain(t), ""});
    // 2. Payload only with types 2 and 14.
    v.push_back({"Type1WithPayload", Plain(1, 1), P + "Header type:1 invalid byte count:1\n"});
    v.push_back({"Type0WithPayload", Plain(0, 334), P + "Header type:0 invalid byte count:334\n"});
    v.push_back({"Type8WithPayload", Plain(8, 16), P + "Header type:8 invalid byte count:16\n"});
    // Rule 2 comes before the Visibility fields are looked at.
    v.push_back({"VisibilityWithPayloadFailsOnTheCountFirst", Plain(3, 5, 7),
                 P + "Header type:3 invalid byte count:5\n"});
    v.push_back({"AudioWithPayload", Plain(14, 19200), ""});
    v.push_back({"AudioEmpty", Plain(14, 0), ""});
    // 3. Visibility.
    v.push_back({"Visible0", Plain(3, 0, 0), ""});
    v.push_back({"Visible1", Plain(3, 0, 1), ""});
    v.push_back({"Visible2", Plain(3, 0, 2), P + "Invalid Visibility parameters IsVisible:2\n"});
    v.push_back({"VisibleMinus1", Plain(3, 0, -1), P + "Invalid Visibility parameters IsVisible:-1\n"});
    v.push_back(
        {"VisibleIntMin", Plain(3, 0, INT_MIN), P + "Invalid Visibility parameters IsVisible:-2147483648\n"});
    // 4.1 Rectangle against the screen: only both dimensions too large fail.
    v.push_back({"FrameBufferGood", FrameBuffer([](auto&) {}), ""});
    v.push_back({"FrameBufferEmptyPayload", FrameBuffer([](auto&) {}, 0), ""});
    v.push_back({"RectWholeScreen", FrameBuffer([](auto& f) { f.Right = 1920, f.Bottom = 1080; }), ""});
    v.push_back({"RectAllZeroMeansWholeFrame", FrameBuffer([](auto& f) { f.Right = 0, f.Bottom = 0; }), ""});
    v.push_back({"RectWiderOnly", FrameBuffer([](auto& f) { f.Right = 2000, f.Bottom = 1080; }), ""});
    v.push_back({"RectTallerOnly", FrameBuffer([](auto& f) { f.Right = 100, f.Bottom = 1081; }), ""});
    v.push_back({"RectWiderAndTaller", FrameBuffer([](auto& f) { f.Right = 1921, f.Bottom = 1081; }),
                 P + "Invalid PartialUpdateRect: 0/0/1921/1081\n"});
    v.push_back({"RectWiderAndTallerOffset",
                 FrameBuffer([](auto& f) { f.Left = -10, f.Top = -20, f.Right = 1911, f.Bottom = 1061; }),
                 P + "Invalid PartialUpdateRect: -10/-20/1911/1061\n"});
    // The rectangle rule is first among the FrameBuffer rules.
    v.push_back({"RectBeforePitch",
                 FrameBuffer([](auto& f) { f.Right = 5000, f.Bottom = 5000, f.PitchInBytes = 0; }),
                 P + "Invalid PartialUpdateRect: 0/0/5000/5000\n"});
    // Differences that overflow 32 bits must not wrap into a pass or crash.
    v.push_back({"RectExtremeCorners",
                 FrameBuffer([](auto& f)
                             { f.Left = INT_MIN, f.Top = INT_MIN, f.Right = INT_MAX, f.Bottom = INT_MAX; }),
                 P + "Invalid PartialUpdateRect: -2147483648/-2147483648/2147483647/2147483647\n"});
    // 4.2 Pitch.
    v.push_back({"Pitch0", FrameBuffer([](auto& f) { f.PitchInBytes = 0; }), P + "Invalid PitchInBytes:0\n"});
    v.push_back({"PitchNegative", FrameBuffer([](auto& f) { f.PitchInBytes = -7680; }),
                 P + "Invalid PitchInBytes:-7680\n"});
    v.push_back({"Pitch1", FrameBuffer([](auto& f) { f.PitchInBytes = 1; }), ""});
    v.push_back({"PitchBeforeCompression",
                 FrameBuffer([](auto& f) { f.PitchInBytes = 0, f.CompressionType = 9; }),
                 P + "Invalid PitchInBytes:0\n"});
    // 4.3 Compression type.
    for (uint32_t c : {0u, 1u, 2u, 5u, 6u})
        v.push_back({"CompressionPassesWithQuality0",
                     FrameBuffer([c](auto& f) { f.CompressionType = c, f.CompressionInfoQuality = 0; }), ""});
    v.push_back({"Compression7", FrameBuffer([](auto& f) { f.CompressionType = 7; }),
                 P + "Invalid Compression Type:7\n"});
    v.push_back({"CompressionAllOnes", FrameBuffer([](auto& f) { f.CompressionType = 0xFFFFFFFF; }),
                 P + "Invalid Compression Type:-1\n"});
    // 4.4 Quality, for JPEG and H.264 only.
    v.push_back({"JpegQuality0", FrameBuffer([](auto& f) { f.CompressionInfoQuality = 0; }),
                 P + "Invalid Compression Info Quality:0\n"});
    v.push_back({"JpegQuality101", FrameBuffer([](auto& f) { f.CompressionInfoQuality = 101; }),
                 P + "Invalid Compression Info Quality:101\n"});
    v.push_back({"JpegQuality1", FrameBuffer([](auto& f) { f.CompressionInfoQuality = 1; }), ""});
    v.push_back({"JpegQuality100", FrameBuffer([](auto& f) { f.CompressionInfoQuality = 100; }), ""});
    v.push_back({"H264QualityNegative",
                 FrameBuffer([](auto& f) { f.CompressionType = 4, f.CompressionInfoQuality = -3; }),
                 P + "Invalid Compression Info Quality:-3\n"});
    v.push_back({"H264Quality50",
                 FrameBuffer([](auto& f) { f.CompressionType = 4, f.CompressionInfoQuality = 50; }), ""});

    // Bounds added on top of the protocol's rules; they come after them.
    v.push_back({"AudioByteCountAtTheLimit", Plain(14, 0xFFFFFF80),
                 P + "Header type:14 invalid byte count:4294967168\n"});
    v.push_back({"AudioByteCountAllOnes", Plain(14, 0xFFFFFFFF),
                 P + "Header type:14 invalid byte count:4294967295\n"});
    v.push_back({"AudioByteCountJustBelowTheLimit", Plain(14, 0xFFFFFF7F), ""});
    v.push_back({"FrameBufferByteCountAtTheLimit", FrameBuffer([](auto&) {}, 0xFFFFFF80),
                 P + "Header type:2 invalid byte count:4294967168\n"});
    v.push_back({"FrameBufferByteCountOneGiB",
                 FrameBuffer(
                     [](auto& f) {
                         f.ScreenWidth = 16384, f.ScreenHeight = 2025, f.PitchInBytes = 65536, f.Right = 1,
                         f.Bottom = 16384;
                     },
                     SA_FRAME_BUFFER_BYTE_COUNT_LIMIT),
                 ""});
    v.push_back({"FrameBufferByteCountAboveOneGiB",
                 FrameBuffer([](auto&) {}, SA_FRAME_BUFFER_BYTE_COUNT_LIMIT + 1),
                 P + "Header type:2 invalid byte count:1073741825\n"});
    // A protocol rule that fails is reported instead of the added bound.
    v.push_back({"ProtocolRuleFirst", FrameBuffer([](auto& f) { f.PitchInBytes = 0; }, 0xFFFFFFFF),
                 P + "Invalid PitchInBytes:0\n"});
    v.push_back({"ScreenWidth0", FrameBuffer([](auto& f) { f.ScreenWidth = 0; }),
                 P + "Invalid Screen size:0x1080\n"});
    v.push_back({"ScreenHeight0", FrameBuffer([](auto& f) { f.ScreenHeight = 0; }),
                 P + "Invalid Screen size:1920x0\n"});
    v.push_back({"ScreenNegative",
                 FrameBuffer([](auto& f) { f.ScreenWidth = -1920, f.Right = 0, f.Bottom = 0; }),
                 P + "Invalid Screen size:-1920x1080\n"});
    v.push_back({"ScreenAtTheSideLimitAndTheArea",
                 FrameBuffer([](auto& f) { f.ScreenWidth = 16384, f.ScreenHeight = 2025; }), ""});
    v.push_back(
        {"Screen8KUhd", FrameBuffer([](auto& f) { f.ScreenWidth = 7680, f.ScreenHeight = 4320; }), ""});
    v.push_back({"ScreenAboveTheArea",
                 FrameBuffer([](auto& f) { f.ScreenWidth = 7680, f.ScreenHeight = 4321; }),
                 P + "Invalid Screen size:7680x4321\n"});
    v.push_back({"ScreenAboveTheSideLimit", FrameBuffer([](auto& f) { f.ScreenHeight = 16385; }),
                 P + "Invalid Screen size:1920x16385\n"});
    v.push_back({"PitchAtItsLimit", FrameBuffer([](auto& f) { f.PitchInBytes = 65536; }), ""});
    v.push_back({"PitchAboveItsLimit", FrameBuffer([](auto& f) { f.PitchInBytes = 65537; }),
                 P + "Invalid PitchInBytes:65537\n"});
    // A payload beyond what its own screen could need, rows of its
    // rectangle at its pitch or 8 bytes a pixel, and 1 MiB.
    const auto tiny = [](auto& f)
    { f.ScreenWidth = 1, f.ScreenHeight = 1, f.PitchInBytes = 4, f.Right = 1, f.Bottom = 1; };
    v.push_back({"ByteCountAtATinyScreensBound", FrameBuffer(tiny, 8 + (1 << 20)), ""});
    v.push_back({"ByteCountBeyondATinyScreensBound", FrameBuffer(tiny, 9 + (1 << 20)),
                 P + "Invalid byte count:1048585 for a 1x1 screen\n"});
    v.push_back(
        {"ByteCountOfItsRowsAtAWidePitch",
         FrameBuffer([](auto& f) { f.PitchInBytes = 65536, f.Bottom = 1080; }, 65536 * 1080 + (1 << 20)),
         ""});
    v.push_back({"RectInvertedHorizontally", FrameBuffer([](auto& f) { f.Left = 100, f.Right = 99; }),
                 P + "PartialUpdateRect out of range: 100/0/99/540\n"});
    v.push_back({"RectInvertedVertically", FrameBuffer([](auto& f) { f.Top = 10, f.Bottom = 0; }),
                 P + "PartialUpdateRect out of range: 0/10/960/0\n"});
    v.push_back({"RectEmptyButNotInverted", FrameBuffer([](auto& f) { f.Left = 5, f.Right = 5; }), ""});
    v.push_back({"RectCornerFarLeft", FrameBuffer([](auto& f) { f.Left = -16385; }),
                 P + "PartialUpdateRect out of range: -16385/0/960/540\n"});
    v.push_back({"RectCornerFarRight", FrameBuffer([](auto& f) { f.Left = 32760, f.Right = 32769; }),
                 P + "PartialUpdateRect out of range: 32760/0/32769/540\n"});
    v.push_back({"RectCornersAtTheBounds",
                 FrameBuffer([](auto& f) { f.Left = -16384, f.Right = 0, f.Top = 32000, f.Bottom = 32768; }),
                 ""});
    // Wider than the screen in one dimension passes the protocol rule; past
    // the side limit it is absurd whatever the screen.
    v.push_back({"RectWiderOnlyBeyondTheSideLimit", FrameBuffer([](auto& f) { f.Right = 16385; }),
                 P + "PartialUpdateRect out of range: 0/0/16385/540\n"});
    v.push_back({"RectWiderOnlyFarBeyondBothLimits",
                 FrameBuffer([](auto& f) { f.Left = INT_MIN, f.Right = INT_MAX, f.Bottom = 1; }),
                 P + "PartialUpdateRect out of range: -2147483648/0/2147483647/1\n"});
    return v;
}

class PacketValidateTable : public ::testing::TestWithParam<ValidateCase>
{
};
} // namespace

TEST_P(PacketValidateTable, FirstFailingRuleDecidesAndLogsOneLine)
{
    const ValidateCase& c = GetParam();
    NetTestLogCapture log;
    bool valid = SANetProtocol::PacketValidate(c.header);
    auto lines = log.Lines();
    if (c.line.empty())
    {
        EXPECT_TRUE(valid);
        EXPECT_TRUE(lines.empty()) << lines[0];
    }
    else
    {
        EXPECT_FALSE(valid);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], c.line);
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, PacketValidateTable, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ValidateCase>& info)
                         { return std::string(info.param.name) + "_" + std::to_string(info.index); });

TEST(SANetProtocolPackets, FrameBufferFieldsSitAtTheirOffsetsLittleEndian)
{
    SAFrameBufferInfo fb;
    fb.ScreenWidth = 0x01020304;
    fb.ScreenHeight = -2;
    fb.PitchInBytes = 0x11223344;
    fb.ColorFormat = 27;
    fb.Left = 1;
    fb.Top = 2;
    fb.Right = 3;
    fb.Bottom = 4;
    fb.CompressionType = 4;
    fb.CompressionInfoQuality = 99;
    fb.CountFragments = -3;
    fb.FourFragments = 0xA0B0C0D0;
    SAPacketHeader h;
    SAPacketFrameBufferEncode(h, fb);
    const uint8_t* b = h.m_Bytes;
    EXPECT_EQ(SAWireU32Get(b), 2u);
    EXPECT_EQ(b[8], 0x04);
    EXPECT_EQ(b[11], 0x01);
    EXPECT_EQ(SAWireU32Get(b + 12), 0xFFFFFFFEu);
    EXPECT_EQ(b[16], 0x44);
    EXPECT_EQ(SAWireU32Get(b + 20), 27u);
    EXPECT_EQ(SAWireU32Get(b + 24), 1u);
    EXPECT_EQ(SAWireU32Get(b + 36), 4u);
    EXPECT_EQ(SAWireU32Get(b + 40), 4u);
    EXPECT_EQ(SAWireU32Get(b + 48), 99u);
    EXPECT_EQ(SAWireU16Get(b + 60), 0xFFFDu);
    EXPECT_EQ(SAWireU32Get(b + 64), 0xA0B0C0D0u);
    // Nothing else is written.
    for (size_t i : {44u, 52u, 56u, 62u, 68u, 100u, 127u})
        EXPECT_EQ(b[i], 0) << i;

    SAFrameBufferInfo back = SAPacketFrameBufferDecode(h);
    EXPECT_EQ(back.ScreenWidth, fb.ScreenWidth);
    EXPECT_EQ(back.ScreenHeight, -2);
    EXPECT_EQ(back.CountFragments, -3);
    EXPECT_EQ(back.FourFragments, fb.FourFragments);
    EXPECT_EQ(back.CompressionInfoQuality, 99);
}

TEST(SANetProtocolPackets, FragmentCountFollowsCountThenFourFlag)
{
    SAFrameBufferInfo fb;
    EXPECT_EQ(fb.FragmentCount(), 1);
    fb.FourFragments = 1;
    EXPECT_EQ(fb.FragmentCount(), 4);
    fb.CountFragments = 3;
    EXPECT_EQ(fb.FragmentCount(), 3);
}

TEST(SANetProtocolPackets, HeaderOnlyPacketsOfTheViewer)
{
    SAPacketHeader reply = SAPacketStreamResetReply();
    SAPacketHeader ack = SAPacketFrameAcknowledge();
    SAPacketHeader bye = SAPacketDisconnect(-4);
    for (size_t i = 0; i < SA_PACKET_HEADER_SIZE; ++i)
    {
        uint8_t r = i == 0 ? 1 : i == 12 ? 2 : 0;
        uint8_t a = i == 0 ? 7 : 0;
        EXPECT_EQ(reply.m_Bytes[i], r) << i;
        EXPECT_EQ(ack.m_Bytes[i], a) << i;
        if (i >= 12)
        {
            EXPECT_EQ(bye.m_Bytes[i], 0) << i;
        }
    }
    EXPECT_EQ(bye.HeaderTypeGet(), 8u);
    EXPECT_EQ(bye.ByteCountGet(), 0u);
    EXPECT_EQ(bye.S32Get(8), -4);
    EXPECT_TRUE(SANetProtocol::PacketValidate(reply));
    EXPECT_TRUE(SANetProtocol::PacketValidate(ack));
    EXPECT_TRUE(SANetProtocol::PacketValidate(bye));
}

TEST(SANetProtocolText, Utf16FieldsAreZeroPaddedBoundedAndRoundTrip)
{
    uint8_t field[20];
    std::memset(field, 0xAA, sizeof(field));
    SAWireUtf16Write(field, 10, "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"); // h, e-acute, euro, emoji
    EXPECT_EQ(SAWireU16Get(field + 0), u'h');
    EXPECT_EQ(SAWireU16Get(field + 2), 0x00E9);
    EXPECT_EQ(SAWireU16Get(field + 4), 0x20AC);
    EXPECT_EQ(SAWireU16Get(field + 6), 0xD83D);
    EXPECT_EQ(SAWireU16Get(field + 8), 0xDE00);
    for (size_t i = 10; i < 20; ++i)
        EXPECT_EQ(field[i], 0) << i;
    EXPECT_EQ(SAWireUtf16Read(field, 10), "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

    // A text as long as the field fills it without a terminator; a longer one
    // is cut, never in the middle of a surrogate pair.
    SAWireUtf16Write(field, 4, "abcdef");
    EXPECT_EQ(SAWireUtf16Read(field, 4), "abcd");
    SAWireUtf16Write(field, 4, "abc\xF0\x9F\x98\x80");
    EXPECT_EQ(SAWireU16Get(field + 6), 0);
    EXPECT_EQ(SAWireUtf16Read(field, 4), "abc");

    // Malformed input on either side becomes U+FFFD instead of failing.
    SAWireUtf16Write(field, 10,
                     "a\xFF"
                     "b");
    EXPECT_EQ(SAWireU16Get(field + 2), 0xFFFD);
    EXPECT_EQ(SAWireUtf16Read(field, 10), "a\xEF\xBF\xBD"
                                          "b");
    SAWireU16Set(field, 0xDC00);     // lone low surrogate
    SAWireU16Set(field + 2, 0xD800); // lone high surrogate at the end of the field
    EXPECT_EQ(SAWireUtf16Read(field, 2), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(SANetProtocolText, ConnectRequestDecodeRefusesWhatIsNotOne)
{
    std::vector<uint8_t> packet(SA_CONNECT_REQUEST_SIZE, 0);
    SAWireU32Set(packet.data() + 4, 334);
    SAConnectRequestInfo info;
    EXPECT_TRUE(SAPacketConnectRequestDecode(packet.data(), packet.size(), info));
    EXPECT_FALSE(SAPacketConnectRequestDecode(packet.data(), packet.size() - 1, info));
    EXPECT_FALSE(SAPacketConnectRequestDecode(nullptr, packet.size(), info));
    SAWireU32Set(packet.data() + 4, 333);
    EXPECT_FALSE(SAPacketConnectRequestDecode(packet.data(), packet.size(), info));
    SAWireU32Set(packet.data() + 4, 334);
    SAWireU32Set(packet.data(), 2);
    EXPECT_FALSE(SAPacketConnectRequestDecode(packet.data(), packet.size(), info));
}

// What the receivers do with a refused header depends on why it was refused:
// the protocol's own rules leave the payload unread, bounds on a well-framed
// frame skip it, and a payload no buffer may hold ends the connection.
TEST(SANetProtocolPackets, VerdictsTellTheReceiverHowToGoOn)
{
    using V = SAPacketVerdict;
    EXPECT_EQ(SANetProtocol::PacketCheck(FrameBuffer([](SAFrameBufferInfo&) {})), V::Valid);
    EXPECT_EQ(SANetProtocol::PacketCheck(Plain(3, 128)), V::Invalid);
    EXPECT_EQ(SANetProtocol::PacketCheck(FrameBuffer([](SAFrameBufferInfo& fb) { fb.PitchInBytes = 0; })),
              V::Invalid);
    EXPECT_EQ(SANetProtocol::PacketCheck(FrameBuffer([](SAFrameBufferInfo& fb) { fb.ScreenWidth = 16385; })),
              V::PayloadSkip);
    EXPECT_EQ(
        SANetProtocol::PacketCheck(FrameBuffer([](SAFrameBufferInfo& fb) { fb.PitchInBytes = 1 << 20; })),
        V::PayloadSkip);
    EXPECT_EQ(
        SANetProtocol::PacketCheck(FrameBuffer([](SAFrameBufferInfo& fb) { std::swap(fb.Left, fb.Right); })),
        V::PayloadSkip);
    EXPECT_EQ(SANetProtocol::PacketCheck(FrameBuffer([](SAFrameBufferInfo&) {}, 8 * 1920 * 1080 + (2 << 20))),
              V::PayloadSkip);
    EXPECT_EQ(SANetProtocol::PacketCheck(
                  FrameBuffer([](SAFrameBufferInfo&) {}, SA_FRAME_BUFFER_BYTE_COUNT_LIMIT + 1)),
              V::StreamBroken);
    EXPECT_EQ(SANetProtocol::PacketCheck(Plain(SA_HEADER_AUDIO_DATA, SA_PACKET_BYTE_COUNT_LIMIT)),
              V::StreamBroken);
    EXPECT_EQ(SANetProtocol::PacketCheck(Plain(SA_HEADER_AUDIO_DATA, SA_PACKET_BYTE_COUNT_LIMIT - 1)),
              V::Valid);
}
