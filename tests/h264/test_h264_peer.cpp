// The peer's --codec h264 end to end: a real peer on a loopback address of
// this test (127.0.0.101 ..), a minimal viewer reading its packets with the
// viewer's own header validation, and the viewer's decode step showing every
// packet's picture. Also the encoder's promises on their own: SPS and PPS
// before every IDR, the GOP length, determinism, the bit rate option.
#include "H264TestSupport.h"

#include "../peer/PeerTestClient.h"

#include "net/SANetProtocol.h"
#include "peer/PeerEncoder.h"
#include "peer/PeerEncoderH264.h"
#include "peer/PeerFrameSynth.h"
#include "peer/PeerOptions.h"
#include "peer/PeerServer.h"
#include "pipeline/SADecoderFrameBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
bool OptionsParse(std::vector<const char*> args, PeerOptions& options, std::string& error)
{
    args.insert(args.begin(), "quillmere-peer");
    return PeerOptions::Parse(static_cast<int>(args.size()), args.data(), options, error);
}

size_t StreamBytes(const std::vector<H264TestUnit>& units)
{
    size_t bytes = 0;
    for (const H264TestUnit& unit : units)
        bytes += unit.AccessUnit.size();
    return bytes;
}
} // namespace

TEST(PeerH264Options, CodecGopAndBitrateParse)
{
    PeerOptions options;
    std::string error;
    ASSERT_TRUE(OptionsParse({"--codec", "h264", "--gop", "30", "--bitrate", "2500000", "--quality", "70"},
                             options, error))
        << error;
    EXPECT_EQ(options.Codec, PeerCodec::H264);
    EXPECT_EQ(options.Gop, 30);
    EXPECT_EQ(options.Bitrate, 2500000);
    EXPECT_STREQ(PeerOptions::CodecName(options.Codec), "h264");
    PeerOptions defaults;
    EXPECT_EQ(defaults.Gop, 60);
    EXPECT_EQ(defaults.Bitrate, 0);
    for (const auto& bad : std::vector<std::vector<const char*>>{
             {"--gop", "0"}, {"--gop", "x"}, {"--bitrate", "5"}, {"--bitrate", "-1"}, {"--codec", "h265"}})
    {
        PeerOptions o;
        EXPECT_FALSE(OptionsParse(bad, o, error)) << bad[0] << " " << bad[1];
        EXPECT_FALSE(error.empty());
    }
    EXPECT_NE(PeerOptions::UsageText().find("--gop"), std::string::npos);
    EXPECT_NE(PeerOptions::UsageText().find("--bitrate"), std::string::npos);
}

TEST(PeerH264Encoder, QualityMapsToCrf)
{
    EXPECT_EQ(PeerEncoderH264::CrfFromQuality(100), 11);
    EXPECT_EQ(PeerEncoderH264::CrfFromQuality(80), 19);
    EXPECT_EQ(PeerEncoderH264::CrfFromQuality(50), 31);
    EXPECT_EQ(PeerEncoderH264::CrfFromQuality(1), 51);
    // Better quality never costs fewer bytes.
    const size_t low = StreamBytes(H264TestStreamEncode(320, 240, 0, 10, 20, 60));
    const size_t high = StreamBytes(H264TestStreamEncode(320, 240, 0, 10, 95, 60));
    EXPECT_LT(low, high);
}

// An IDR every gop frames, each with SPS and PPS before its first slice;
// no other frame is an IDR and every frame is one access unit of slices.
TEST(PeerH264Encoder, ParameterSetsPrecedeEveryIdrAtTheGopLength)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(256, 144, 0, 25, 80, 10);
    const std::vector<int> firstTypes = H264TestNalTypes(units[0].AccessUnit);
    for (const H264TestUnit& unit : units)
    {
        const std::vector<int> types = H264TestNalTypes(unit.AccessUnit);
        ASSERT_FALSE(types.empty());
        const bool idr = std::find(types.begin(), types.end(), 5) != types.end();
        EXPECT_EQ(idr, unit.FrameNumber % 10 == 0) << "frame " << unit.FrameNumber;
        // Annex B: the unit starts with a start code.
        EXPECT_TRUE(unit.AccessUnit[0] == 0 && unit.AccessUnit[1] == 0 &&
                    (unit.AccessUnit[2] == 1 || (unit.AccessUnit[2] == 0 && unit.AccessUnit[3] == 1)));
        if (idr)
        {
            const auto firstSlice = std::find(types.begin(), types.end(), 5);
            EXPECT_NE(std::find(types.begin(), firstSlice, 7), firstSlice)
                << "no SPS before IDR " << unit.FrameNumber;
            EXPECT_NE(std::find(types.begin(), firstSlice, 8), firstSlice)
                << "no PPS before IDR " << unit.FrameNumber;
            EXPECT_TRUE(std::all_of(firstSlice, types.end(), [](int t) { return t == 5; }));
        }
        else
        {
            EXPECT_TRUE(std::all_of(types.begin(), types.end(), [](int t) { return t == 1; }))
                << "frame " << unit.FrameNumber;
        }
        // Several slices per picture, as many in every picture, for the
        // viewer's slice threads.
        const auto slices = std::count_if(types.begin(), types.end(), [](int t) { return t == 1 || t == 5; });
        EXPECT_GE(slices, 2);
        if (unit.FrameNumber == 0)
            std::printf("%ld slices per picture\n", static_cast<long>(slices));
        EXPECT_EQ(slices, std::count_if(firstTypes.begin(), firstTypes.end(),
                                        [](int t) { return t == 1 || t == 5; }));
    }
}

TEST(PeerH264Encoder, SameFramesGiveTheSameBytes)
{
    const std::vector<H264TestUnit> a = H264TestStreamEncode(320, 180, 40, 8);
    const std::vector<H264TestUnit> b = H264TestStreamEncode(320, 180, 40, 8);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_EQ(a[i].AccessUnit, b[i].AccessUnit) << "frame " << a[i].FrameNumber;
}

// --bitrate switches to average bit rate: a low rate gives a much smaller
// stream than constant quality 95 on the same frames, and the picture is
// still decodable.
TEST(PeerH264Encoder, BitrateOptionLimitsTheStream)
{
    const int32_t width = 480, height = 272;
    PeerEncoder encoder(PeerCodec::H264, 95, 60, 150000, 60);
    std::vector<uint8_t> frame(size_t(width) * height * 4);
    size_t limited = 0;
    SADecoderFrameBuffer decoder;
    TestFrame target(width, height);
    for (uint32_t n = 0; n < 60; ++n)
    {
        PeerFrameSynth(width, height, n, frame.data());
        const uint8_t* payload = nullptr;
        size_t bytes = 0;
        ASSERT_TRUE(encoder.BandEncode(frame.data(), width, size_t(width) * 4, height, payload, bytes));
        limited += bytes;
        TestPacket packet = H264TestPacket(std::vector<uint8_t>(payload, payload + bytes), width, height);
        ASSERT_EQ(decoder.Decode(packet.Bytes.get(), packet.Size, 0, target), SADecodeResult::Decoded);
    }
    const size_t constant = StreamBytes(H264TestStreamEncode(width, height, 0, 60, 95, 60));
    std::printf("60 frames: %zu bytes at 150 kbit/s, %zu bytes at quality 95\n", limited, constant);
    EXPECT_LT(limited * 2, constant);
}

// The real peer on loopback: every FrameBuffer packet is one whole-screen
// H.264 access unit that passes the viewer's validation, and the viewer's
// decode step shows the picture of each packet as it arrives.
TEST(PeerH264Stream, PeerOnLoopbackStreamsWholeScreenAccessUnitsTheViewerShows)
{
    PeerOptions options;
    options.BindAddress = "127.0.0.101";
    options.Width = 416;
    options.Height = 240;
    options.Fps = 0;
    options.Window = 0;
    options.Codec = PeerCodec::H264;
    options.Quality = 70;
    options.Gop = 12;
    options.Fragments = 3; // ignored for H.264: one packet per frame
    options.Frames = 40;
    options.Quiet = true;
    options.Scenario = "overhang@5:24"; // ignored for H.264 too
    PeerServer server(options);
    ASSERT_TRUE(server.Start()) << server.ErrorGet();

    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.101"));
    PeerTestConnectFields request;
    request.CompressionType = 4;
    request.Quality = 70;
    ASSERT_TRUE(client.ConnectRequestSend(request));
    SADecoderFrameBuffer decoder;
    TestFrame frame(416, 240);
    uint32_t frames = 0;
    int32_t disconnectReason = -1;
    double worst = 99;
    for (;;)
    {
        uint8_t bytes[SA_PACKET_HEADER_SIZE];
        if (!client.ReceiveBytes(bytes, sizeof(bytes)))
            break;
        const SAPacketHeader header = SAPacketHeader::FromBytes(bytes);
        ASSERT_TRUE(SANetProtocol::PacketValidate(header)) << "header type " << header.HeaderTypeGet();
        std::vector<uint8_t> block(SA_PACKET_HEADER_SIZE + header.ByteCountGet());
        std::memcpy(block.data(), bytes, sizeof(bytes));
        ASSERT_TRUE(header.ByteCountGet() == 0 ||
                    client.ReceiveBytes(block.data() + SA_PACKET_HEADER_SIZE, header.ByteCountGet()));
        if (header.HeaderTypeGet() == SA_HEADER_DISCONNECT)
        {
            disconnectReason = header.S32Get(SAWire::DISCONNECT_REASON);
            continue;
        }
        if (header.HeaderTypeGet() != SA_HEADER_FRAME_BUFFER)
            continue;
        const SAFrameBufferInfo info = SAPacketFrameBufferDecode(header);
        EXPECT_EQ(info.CompressionType, 4u);
        EXPECT_EQ(info.CompressionInfoQuality, 70);
        EXPECT_EQ(info.FragmentCount(), 1);
        EXPECT_EQ(info.ScreenWidth, 416);
        EXPECT_EQ(info.ScreenHeight, 240);
        EXPECT_EQ(info.Left, 0);
        EXPECT_EQ(info.Top, 0);
        EXPECT_EQ(info.Right, 416);
        EXPECT_EQ(info.Bottom, 240);
        const std::vector<uint8_t> accessUnit(block.begin() + SA_PACKET_HEADER_SIZE, block.end());
        const std::vector<int> types = H264TestNalTypes(accessUnit);
        EXPECT_EQ(std::find(types.begin(), types.end(), 5) != types.end(), frames % 12 == 0) << frames;
        ASSERT_EQ(decoder.Decode(block.data(), block.size(), 0, frame), SADecodeResult::Decoded)
            << "frame " << frames;
        uint32_t stamp = 0;
        ASSERT_TRUE(PeerFrameStampRead(frame.Data(), 416, 240, size_t(frame.Pitch()), 4, stamp));
        EXPECT_EQ(stamp, frames);
        const TestImage source = H264TestSourceFrame(416, 240, frames);
        worst = std::min(worst,
                         TestPsnr(frame.Data(), frame.Pitch(), source.Bgrx.data(), source.Pitch(), 416, 240));
        ++frames;
        ASSERT_TRUE(client.AckSend());
    }
    std::printf("peer on loopback: %u frames, PSNR min %.2f dB at quality 70\n", frames, worst);
    EXPECT_EQ(frames, 40u);
    EXPECT_EQ(disconnectReason, 0);
    EXPECT_EQ(decoder.DecoderH264Get().CreationsGet(), 1u);
    EXPECT_GE(worst, 33.0);
    EXPECT_EQ(frame.m_Violations, 0);
    client.Close();
    server.StopRequest();
    server.Wait();
}
