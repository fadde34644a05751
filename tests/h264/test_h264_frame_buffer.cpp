// H.264 through the decode step of a decoder task (SADecoderFrameBuffer) into
// a plain pixel frame: the peer's real stream, size changes, pictures whose
// size disagrees with the header, a corrupted packet, the NAL trace option and
// the dumps.
#include "H264TestSupport.h"

#include "peer/PeerFrameSynth.h"
#include "pipeline/PSCodecTransform.h"
#include "pipeline/SADecoderFrameBuffer.h"
#include "pipeline/SAPipelineOptions.h"
#include "render/PSRendererCpu.h"
#include "render/PSRendererDecodeTarget.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace
{
SADecodeResult PacketDecode(SADecoderFrameBuffer& decoder, const std::vector<uint8_t>& accessUnit,
                            int32_t width, int32_t height, TestFrame& frame)
{
    TestPacket packet = H264TestPacket(accessUnit, width, height);
    return decoder.Decode(packet.Bytes.get(), packet.Size, 0, frame);
}

uint32_t StampGet(const TestFrame& frame)
{
    uint32_t stamp = 0xFFFFFFFF;
    PeerFrameStampRead(frame.Data(), frame.m_Width, frame.m_Height, size_t(frame.Pitch()), 4, stamp);
    return stamp;
}

// Runs a test body in a fresh current directory (the dumps are relative).
class ScopedDirectory
{
public:
    ScopedDirectory()
    {
        m_Old = std::filesystem::current_path();
        m_Dir = std::filesystem::temp_directory_path() / ("qm-h264-dump-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_Dir);
        std::filesystem::create_directories(m_Dir);
        std::filesystem::current_path(m_Dir);
    }
    ~ScopedDirectory()
    {
        std::filesystem::current_path(m_Old);
        std::filesystem::remove_all(m_Dir);
    }
    const std::filesystem::path& PathGet() const { return m_Dir; }

private:
    std::filesystem::path m_Old, m_Dir;
};
} // namespace

// The whole decode step: every packet of the peer's stream, the first one
// included, updates the frame with its own picture, which matches the peer's
// source within the quality floor.
TEST(H264FrameBuffer, PeerStreamUpdatesTheFrameWithEveryPacket)
{
    const int32_t width = 800, height = 450;
    const std::vector<H264TestUnit> units = H264TestStreamEncode(width, height, 100, 60, 80, 30);
    SADecoderFrameBuffer decoder;
    TestFrame frame(width, height);
    int late = 0;
    double worst = 99;
    for (const H264TestUnit& unit : units)
    {
        const size_t updatesBefore = frame.m_Updates.size();
        const SADecodeResult result = PacketDecode(decoder, unit.AccessUnit, width, height, frame);
        if (result == SADecodeResult::NeedMoreInput)
        {
            EXPECT_EQ(frame.m_Updates.size(), updatesBefore) << "a decoder waiting for input drew something";
            ++late;
            continue;
        }
        ASSERT_EQ(result, SADecodeResult::Decoded) << "frame " << unit.FrameNumber;
        ASSERT_EQ(frame.m_Updates.size(), updatesBefore + 1);
        const TestFrame::Update& update = frame.m_Updates.back();
        EXPECT_EQ(update.Left, 0);
        EXPECT_EQ(update.Top, 0);
        EXPECT_EQ(update.Right, width);
        EXPECT_EQ(update.Bottom, height);
        EXPECT_EQ(StampGet(frame), unit.FrameNumber);
        const TestImage source = H264TestSourceFrame(width, height, unit.FrameNumber);
        worst = std::min(
            worst, TestPsnr(frame.Data(), frame.Pitch(), source.Bgrx.data(), source.Pitch(), width, height));
    }
    std::printf("through SADecoderFrameBuffer: latency %d frames, PSNR min %.2f dB over %zu packets\n", late,
                worst, units.size());
    EXPECT_EQ(late, 0);
    // Measured 35.6 dB at this size; the floor of the stand-alone test.
    EXPECT_GE(worst, 34.0);
    EXPECT_EQ(frame.m_Violations, 0);
    EXPECT_EQ(decoder.DecoderH264Get().CreationsGet(), 1u);
}

// A new screen size mid-stream makes a new decoder, which goes on decoding
// the new stream; packets of an unchanged size keep the decoder.
TEST(H264FrameBuffer, ResolutionChangeRecreatesTheDecoderAndKeepsDecoding)
{
    const std::vector<H264TestUnit> first = H264TestStreamEncode(480, 272, 0, 12, 80, 30);
    const std::vector<H264TestUnit> second = H264TestStreamEncode(640, 360, 12, 12, 80, 30);
    const std::vector<H264TestUnit> third = H264TestStreamEncode(480, 272, 24, 6, 80, 30);
    SADecoderFrameBuffer decoder;
    TestLogCapture log;
    {
        TestFrame frame(480, 272);
        for (const H264TestUnit& unit : first)
        {
            ASSERT_EQ(PacketDecode(decoder, unit.AccessUnit, 480, 272, frame), SADecodeResult::Decoded);
            EXPECT_EQ(StampGet(frame), unit.FrameNumber);
        }
        EXPECT_EQ(decoder.DecoderH264Get().CreationsGet(), 1u);
    }
    {
        TestFrame frame(640, 360);
        for (const H264TestUnit& unit : second)
        {
            ASSERT_EQ(PacketDecode(decoder, unit.AccessUnit, 640, 360, frame), SADecodeResult::Decoded);
            EXPECT_EQ(StampGet(frame), unit.FrameNumber);
        }
        EXPECT_EQ(decoder.DecoderH264Get().CreationsGet(), 2u);
        EXPECT_EQ(frame.m_Violations, 0);
    }
    {
        TestFrame frame(480, 272);
        for (const H264TestUnit& unit : third)
        {
            ASSERT_EQ(PacketDecode(decoder, unit.AccessUnit, 480, 272, frame), SADecodeResult::Decoded);
            EXPECT_EQ(StampGet(frame), unit.FrameNumber);
        }
    }
    EXPECT_EQ(decoder.DecoderH264Get().CreationsGet(), 3u);
    EXPECT_EQ(log.CountGet("PSCodecTransform::Initialize 480x272 decoding with"), 2u);
    EXPECT_EQ(log.CountGet("PSCodecTransform::Initialize 640x360 decoding with"), 1u);
    EXPECT_EQ(log.CountGet("instance(s) available"), 3u);
}

// A server whose stream does not have the size its headers announce: the
// stream change is followed, the picture of that packet is still shown, and
// only what fits both the picture and the announced screen is written.
TEST(H264FrameBuffer, PictureSizeDifferentFromTheHeaderIsFollowedAndClipped)
{
    const std::vector<H264TestUnit> same = H264TestStreamEncode(320, 240, 0, 3);
    const std::vector<H264TestUnit> smaller = H264TestStreamEncode(160, 128, 3, 3);
    const std::vector<H264TestUnit> larger = H264TestStreamEncode(400, 304, 6, 3);
    SADecoderFrameBuffer decoder;
    TestFrame frame(320, 240);
    TestLogCapture log;
    for (const H264TestUnit& unit : same)
        ASSERT_EQ(PacketDecode(decoder, unit.AccessUnit, 320, 240, frame), SADecodeResult::Decoded);
    for (const H264TestUnit& unit : smaller)
    {
        ASSERT_EQ(PacketDecode(decoder, unit.AccessUnit, 320, 240, frame), SADecodeResult::Decoded);
        const TestFrame::Update& update = frame.m_Updates.back();
        EXPECT_EQ(update.Right, 160);
        EXPECT_EQ(update.Bottom, 128);
        uint32_t stamp = 0;
        ASSERT_TRUE(PeerFrameStampRead(frame.Data(), 160, 128, size_t(frame.Pitch()), 4, stamp));
        EXPECT_EQ(stamp, unit.FrameNumber);
    }
    for (const H264TestUnit& unit : larger)
    {
        ASSERT_EQ(PacketDecode(decoder, unit.AccessUnit, 320, 240, frame), SADecodeResult::Decoded);
        const TestFrame::Update& update = frame.m_Updates.back();
        EXPECT_EQ(update.Right, 320);
        EXPECT_EQ(update.Bottom, 240);
        EXPECT_EQ(StampGet(frame), unit.FrameNumber);
    }
    // One decoder throughout: the header never changed size.
    EXPECT_EQ(decoder.DecoderH264Get().CreationsGet(), 1u);
    EXPECT_EQ(decoder.DecoderH264Get().TransformGet().StreamChangesGet(), 2u);
    EXPECT_EQ(log.CountGet("PSCodecTransform::OutputGet stream change 320x240 yuvj420p -> 160x128 yuvj420p"),
              1u);
    EXPECT_EQ(log.CountGet("PSCodecTransform::OutputGet stream change 160x128 yuvj420p -> 400x304 yuvj420p"),
              1u);
    EXPECT_EQ(frame.m_Violations, 0);
}

// A target holding a smaller frame than the stream gets only what fits,
// whether it takes the pixels as rectangles or lends its frame for the
// conversion (a renderer that cannot draw planes, as on a software
// rasteriser).
TEST(H264FrameBuffer, PictureIsClippedToTheTargetsFrame)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(320, 240, 0, 2);
    SADecoderFrameBuffer decoder;
    TestFrame frame(200, 100);
    struct PixelsOnly : PSRendererDecodeTarget
    {
        using PSRendererDecodeTarget::PSRendererDecodeTarget;
        bool FramePlanarUpdate(const SAPlanarPicture&) override { return false; }
    };
    PSRendererCpu renderer;
    ASSERT_TRUE(renderer.ResolutionSet(200, 100));
    PixelsOnly lending(&renderer);
    SADecoderFrameBuffer lendingDecoder;
    for (const H264TestUnit& unit : units)
    {
        ASSERT_EQ(PacketDecode(decoder, unit.AccessUnit, 320, 240, frame), SADecodeResult::Decoded);
        TestPacket packet = H264TestPacket(unit.AccessUnit, 320, 240);
        ASSERT_EQ(lendingDecoder.Decode(packet.Bytes.get(), packet.Size, 0, lending),
                  SADecodeResult::Decoded);
    }
    std::vector<uint8_t> lent;
    int32_t lentWidth = 0, lentHeight = 0;
    ASSERT_TRUE(renderer.FrameSnapshotGet(&lent, &lentWidth, &lentHeight));
    EXPECT_EQ(lent, frame.m_Pixels);
    ASSERT_EQ(frame.m_Updates.size(), 2u);
    EXPECT_EQ(frame.m_Updates.back().Right, 200);
    EXPECT_EQ(frame.m_Updates.back().Bottom, 100);
    EXPECT_EQ(frame.m_Violations, 0);
    // Exactly the top-left part of the whole picture.
    PSDecoderH264 whole;
    ASSERT_TRUE(whole.Initialize(320, 240));
    std::vector<uint8_t> picture(320 * 240 * 4);
    int32_t w = 0, h = 0;
    bool noOutput = false;
    for (const H264TestUnit& unit : units)
        ASSERT_TRUE(whole.Decode(unit.AccessUnit.data(), unit.AccessUnit.size(), picture.data(),
                                 picture.size(), 1280, w, h, noOutput));
    for (int32_t y = 0; y < 100; ++y)
        ASSERT_EQ(0, std::memcmp(frame.PixelGet(0, y), &picture[size_t(y) * 1280], 200 * 4)) << "row " << y;
}

// A corrupted packet is one H264DecodeError, which the decoder task turns
// into the one decoding-error message; the frame keeps its pixels.
TEST(H264FrameBuffer, CorruptedPacketIsOneDecodeErrorAndLeavesTheFrameAlone)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(320, 240, 0, 30, 80, 15);
    SADecoderFrameBuffer decoder;
    TestFrame frame(320, 240);
    int errors = 0, decoded = 0;
    for (const H264TestUnit& unit : units)
    {
        std::vector<uint8_t> au = unit.AccessUnit;
        if (unit.FrameNumber == 4)
            std::fill(au.begin() + 5, au.end(), 0xFF);
        const std::vector<uint8_t> before = frame.m_Pixels;
        const SADecodeResult result = PacketDecode(decoder, au, 320, 240, frame);
        if (result == SADecodeResult::H264DecodeError)
        {
            ++errors;
            EXPECT_EQ(frame.m_Pixels, before);
        }
        else if (result == SADecodeResult::Decoded)
        {
            ++decoded;
            EXPECT_EQ(StampGet(frame), unit.FrameNumber);
        }
        else
        {
            EXPECT_EQ(result, SADecodeResult::NeedMoreInput);
            EXPECT_EQ(frame.m_Pixels, before);
        }
    }
    EXPECT_EQ(errors, 1);
    EXPECT_GE(decoded, 4 + 15);
    EXPECT_EQ(frame.m_Violations, 0);
}

TEST(H264FrameBuffer, BrokenScreenSizeIsDroppedNotDecoded)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(64, 64, 0, 1);
    SADecoderFrameBuffer decoder;
    TestFrame frame(64, 64);
    EXPECT_EQ(PacketDecode(decoder, units[0].AccessUnit, 0, 64, frame), SADecodeResult::Failed);
    EXPECT_EQ(PacketDecode(decoder, units[0].AccessUnit, 64, SA_DECODE_SIDE_LIMIT + 1, frame),
              SADecodeResult::Failed);
    EXPECT_EQ(decoder.DecoderH264Get().CreationsGet(), 0u);
    EXPECT_TRUE(frame.m_Updates.empty());
}

// The "Trace H264 NALU" option, read at each packet.
TEST(H264FrameBuffer, NalTraceFollowsTheOption)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(160, 96, 0, 3);
    SADecoderFrameBuffer decoder;
    TestFrame frame(160, 96);
    TestLogCapture log;
    SAPipelineOptions::s_TraceH264Nalu = false;
    ASSERT_EQ(PacketDecode(decoder, units[0].AccessUnit, 160, 96, frame), SADecodeResult::Decoded);
    EXPECT_FALSE(log.Contains(" -SPS Length:"));
    SAPipelineOptions::s_TraceH264Nalu = true;
    ASSERT_EQ(PacketDecode(decoder, units[1].AccessUnit, 160, 96, frame), SADecodeResult::Decoded);
    SAPipelineOptions::s_TraceH264Nalu = false;
    ASSERT_EQ(PacketDecode(decoder, units[2].AccessUnit, 160, 96, frame), SADecodeResult::Decoded);
    const size_t slices = H264TestNalTypes(units[1].AccessUnit).size();
    EXPECT_EQ(log.CountGet(" -P-Frame Length:"), slices);
    EXPECT_EQ(log.CountGet(" -SPS Length:"), 0u);
}

// "Save 10 encoded frames to file": H264Frames/1_.264 .. 10_.264 hold the
// payloads byte for byte; the eleventh is not written.
TEST(H264FrameBuffer, DumpsTenPayloadsUnderAnEmptyName)
{
    ScopedDirectory directory;
    const std::vector<H264TestUnit> units = H264TestStreamEncode(96, 64, 0, 12);
    SADecoderFrameBuffer decoder;
    decoder.DumpEnabledSet(true);
    TestFrame frame(96, 64);
    for (const H264TestUnit& unit : units)
        ASSERT_EQ(PacketDecode(decoder, unit.AccessUnit, 96, 64, frame), SADecodeResult::Decoded);
    for (int i = 1; i <= 10; ++i)
    {
        const std::filesystem::path path = directory.PathGet() / "H264Frames" / (std::to_string(i) + "_.264");
        std::ifstream file(path, std::ios::binary);
        ASSERT_TRUE(file.good()) << path;
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes, units[size_t(i - 1)].AccessUnit) << path;
    }
    EXPECT_FALSE(std::filesystem::exists(directory.PathGet() / "H264Frames" / "11_.264"));
    EXPECT_FALSE(std::filesystem::exists(directory.PathGet() / "JpegFrames"));
}
