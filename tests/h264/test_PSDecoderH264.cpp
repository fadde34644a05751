// PSDecoderH264 on its own, fed with real libx264 streams: the peer's own
// encoder for the normal stream, libx264 through libavcodec with other pixel
// formats for the conversions TurboJPEG cannot do.
#include "H264TestSupport.h"

#include "core/SALog.h"
#include "peer/PeerFrameSynth.h"
#include "pipeline/PSCodecEnumerator.h"
#include "pipeline/PSCodecTransform.h"
#include "pipeline/PSDecoderH264.h"

#include <gtest/gtest.h>

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>

namespace
{
struct Decoded
{
    std::vector<uint8_t> Pixels;
    int32_t Width = 0, Height = 0;
};

// Every line with its category, for asserting where a trace goes.
class CategoryLog
{
public:
    CategoryLog() : m_OldMask(SALogMaskGet())
    {
        SALogMaskSet(0xFFFFFFFF);
        m_Id = SALogSinkAdd(
            [this](uint32_t category, std::string_view line)
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Lines.emplace_back(category, std::string(line));
            });
    }
    ~CategoryLog()
    {
        SALogSinkRemove(m_Id);
        SALogMaskSet(m_OldMask);
    }
    std::vector<std::pair<uint32_t, std::string>> LinesGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Lines;
    }

private:
    std::mutex m_Lock;
    std::vector<std::pair<uint32_t, std::string>> m_Lines;
    uint32_t m_OldMask;
    int m_Id;
};

// A stream in another pixel format, from libx264 through libavcodec. The YUV
// samples are computed here from the BGRX picture with the BT.601 formulas,
// independently of the decoder's conversion.
struct FormatCase
{
    const char* Name;
    AVPixelFormat Format;
    bool FullRange;
    int ShiftX, ShiftY; // chroma subsampling, log2
    int Depth;
};

std::vector<std::vector<uint8_t>> FormatStreamEncode(const FormatCase& c, const TestImage& image, int frames)
{
    std::vector<std::vector<uint8_t>> units;
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return units;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->width = image.Width;
    context->height = image.Height;
    context->time_base = AVRational{1, 60};
    context->pix_fmt = c.Format;
    context->color_range = c.FullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    context->colorspace = AVCOL_SPC_SMPTE170M;
    context->max_b_frames = 0;
    context->thread_count = 1;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set_double(context->priv_data, "crf", 12, 0);
    if (avcodec_open2(context, codec, nullptr) < 0)
    {
        avcodec_free_context(&context);
        return units;
    }
    AVFrame* frame = av_frame_alloc();
    frame->format = c.Format;
    frame->width = image.Width;
    frame->height = image.Height;
    av_frame_get_buffer(frame, 0);
    const double scale = c.Depth > 8 ? double(1 << (c.Depth - 8)) : 1.0;
    auto put = [&](int plane, int x, int y, double value)
    {
        const double v = std::clamp(value * scale, 0.0, double((1 << c.Depth) - 1));
        uint8_t* row = frame->data[plane] + size_t(y) * frame->linesize[plane];
        if (c.Depth > 8)
            reinterpret_cast<uint16_t*>(row)[x] = static_cast<uint16_t>(std::lround(v));
        else
            row[x] = static_cast<uint8_t>(std::lround(v));
    };
    auto yuv = [&](int x, int y, double& Y, double& U, double& V)
    {
        const uint8_t* p = &image.Bgrx[(size_t(y) * image.Width + x) * 4];
        const double b = p[0], g = p[1], r = p[2];
        Y = 0.299 * r + 0.587 * g + 0.114 * b;
        U = 128 - 0.168736 * r - 0.331264 * g + 0.5 * b;
        V = 128 + 0.5 * r - 0.418688 * g - 0.081312 * b;
        if (!c.FullRange)
        {
            Y = 16 + Y * 219 / 255;
            U = 128 + (U - 128) * 224 / 255;
            V = 128 + (V - 128) * 224 / 255;
        }
    };
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
        {
            double Y, U, V;
            yuv(x, y, Y, U, V);
            put(0, x, y, Y);
        }
    const int cw = (image.Width + (1 << c.ShiftX) - 1) >> c.ShiftX;
    const int ch = (image.Height + (1 << c.ShiftY) - 1) >> c.ShiftY;
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x)
        {
            double su = 0, sv = 0;
            int n = 0;
            for (int dy = 0; dy < (1 << c.ShiftY); ++dy)
                for (int dx = 0; dx < (1 << c.ShiftX); ++dx)
                {
                    const int sx = std::min((x << c.ShiftX) + dx, image.Width - 1);
                    const int sy = std::min((y << c.ShiftY) + dy, image.Height - 1);
                    double Y, U, V;
                    yuv(sx, sy, Y, U, V);
                    su += U;
                    sv += V;
                    ++n;
                }
            put(1, x, y, su / n);
            put(2, x, y, sv / n);
        }
    AVPacket* packet = av_packet_alloc();
    for (int i = 0; i < frames; ++i)
    {
        frame->pts = i;
        if (avcodec_send_frame(context, frame) < 0)
            break;
        while (avcodec_receive_packet(context, packet) == 0)
        {
            units.emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return units;
}

// An access unit whose parameter sets announce a widthMbs x heightMbs
// macroblock picture (baseline, CAVLC), with an intra slice header and no
// macroblocks: a decoder sizes its picture from it before reading any.
std::vector<uint8_t> AnnouncedPictureUnit(uint32_t widthMbs, uint32_t heightMbs)
{
    struct Bits
    {
        std::vector<uint8_t> Bytes;
        int Used = 8;
        void Put(uint32_t value, int count)
        {
            for (int i = count - 1; i >= 0; --i)
            {
                if (Used == 8)
                    Bytes.push_back(0), Used = 0;
                Bytes.back() |= uint8_t(((value >> i) & 1) << (7 - Used++));
            }
        }
        void Ue(uint32_t value)
        {
            int length = 0;
            while ((value + 1) >> (length + 1))
                ++length;
            Put(0, length);
            Put(value + 1, length + 1);
        }
    };
    std::vector<uint8_t> unit;
    const auto nal = [&](uint8_t header, const std::function<void(Bits&)>& body)
    {
        Bits bits;
        body(bits);
        bits.Put(1, 1); // stop bit
        unit.insert(unit.end(), {0, 0, 0, 1, header});
        int zeros = 0;
        for (uint8_t byte : bits.Bytes)
        {
            if (zeros == 2 && byte <= 3)
                unit.push_back(3), zeros = 0; // emulation prevention
            unit.push_back(byte);
            zeros = byte == 0 ? zeros + 1 : 0;
        }
    };
    nal(0x67, [&](Bits& b) { // sequence parameter set
        b.Put(66, 8), b.Put(0xC0, 8), b.Put(51, 8), b.Ue(0), b.Ue(0), b.Ue(2), b.Ue(1), b.Put(0, 1);
        b.Ue(widthMbs - 1), b.Ue(heightMbs - 1), b.Put(0b1100, 4);
    });
    nal(0x68, [&](Bits& b) { // picture parameter set
        b.Ue(0), b.Ue(0), b.Put(0, 2), b.Ue(0), b.Ue(0), b.Ue(0), b.Put(0, 3);
        b.Ue(0), b.Ue(0), b.Ue(0), b.Put(0b100, 3);
    });
    nal(0x65, [&](Bits& b) { // IDR slice header: I slice, frame 0, QP 26, no deblocking
        b.Ue(0), b.Ue(7), b.Ue(0), b.Put(0, 4), b.Ue(0), b.Put(0, 2), b.Ue(0), b.Ue(1);
    });
    return unit;
}

bool UnitDecode(PSDecoderH264& decoder, const std::vector<uint8_t>& unit, Decoded& out, bool& noOutput)
{
    out.Pixels.assign(size_t(decoder.WidthGet()) * decoder.HeightGet() * 4, 0);
    return decoder.Decode(unit.data(), unit.size(), out.Pixels.data(), out.Pixels.size(),
                          decoder.WidthGet() * 4, out.Width, out.Height, noOutput);
}
} // namespace

// The peer's stream: every packet, the first included, gives its own picture
// at once (decoder latency 0 frames), and the picture is the peer's source
// frame within the measured quality floor. The desktop's sharp coloured
// edges limit any 4:2:0 path to about 35.6 dB against the source (measured:
// TurboJPEG's own 4:2:0 round trip); the floor against the source is set just
// under what quality 80 measured (34.66 dB), and the codec's own loss is
// measured against that 4:2:0 reference.
TEST(PSDecoderH264Stream, EveryPacketGivesItsOwnPictureAtOnceAndMatchesTheSource)
{
    // Sizes that are not multiples of 16, so the stream carries cropping.
    const int32_t width = 648, height = 362;
    const std::vector<H264TestUnit> units = H264TestStreamEncode(width, height, 0, 90, 80, 30);
    PSDecoderH264 decoder;
    ASSERT_TRUE(decoder.Initialize(width, height));
    EXPECT_FALSE(decoder.TransformGet().IsHardwareGet() && decoder.TransformGet().InstanceNameGet().empty());
    int late = 0;
    double worst = 99, sum = 0, worstCodec = 99;
    for (const H264TestUnit& unit : units)
    {
        Decoded out;
        bool noOutput = true;
        const bool ok = UnitDecode(decoder, unit.AccessUnit, out, noOutput);
        if (!ok)
        {
            EXPECT_TRUE(noOutput) << "decoding error at frame " << unit.FrameNumber;
            ++late;
            continue;
        }
        ASSERT_EQ(out.Width, width);
        ASSERT_EQ(out.Height, height);
        // The picture of this very packet, not an older one.
        uint32_t stamp = 0;
        ASSERT_TRUE(PeerFrameStampRead(out.Pixels.data(), width, height, size_t(width) * 4, 4, stamp));
        EXPECT_EQ(stamp, unit.FrameNumber);
        const TestImage source = H264TestSourceFrame(width, height, unit.FrameNumber);
        const double psnr =
            TestPsnr(out.Pixels.data(), width * 4, source.Bgrx.data(), source.Pitch(), width, height);
        worst = std::min(worst, psnr);
        sum += psnr;
        const TestImage reference = H264TestChromaReference(source);
        worstCodec = std::min(worstCodec, TestPsnr(out.Pixels.data(), width * 4, reference.Bgrx.data(),
                                                   reference.Pitch(), width, height));
    }
    std::printf(
        "decoder latency: %d frames over %zu packets; PSNR against the source min %.2f dB, mean %.2f dB; "
        "against the 4:2:0 reference min %.2f dB (%s)\n",
        late, units.size(), worst, sum / double(units.size() - late), worstCodec,
        decoder.TransformGet().InstanceNameGet().c_str());
    EXPECT_EQ(late, 0);
    EXPECT_EQ(decoder.LatencyCountGet(), 0);
    EXPECT_GE(worst, 34.0);
    EXPECT_GE(worstCodec, 38.0);
}

TEST(PSDecoderH264Stream, DecodeOnlyGivesAPicturePerPacket)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(320, 180, 0, 20, 80, 10);
    PSDecoderH264 decoder;
    ASSERT_TRUE(decoder.Initialize(320, 180));
    for (const H264TestUnit& unit : units)
    {
        bool noOutput = true;
        EXPECT_TRUE(decoder.PictureDecode(unit.AccessUnit.data(), unit.AccessUnit.size(), noOutput))
            << unit.FrameNumber;
        EXPECT_FALSE(noOutput);
    }
}

// The same size keeps the decoder; another size makes a new one. The sample
// clock runs on across both.
TEST(PSDecoderH264Stream, SizeChangeRecreatesSameSizeKeepsAndTheClockRunsOn)
{
    PSDecoderH264 decoder;
    EXPECT_EQ(decoder.CreationsGet(), 0u);
    const int64_t start = decoder.SampleTimeGet();
    EXPECT_GT(start, 0);
    const std::vector<H264TestUnit> small = H264TestStreamEncode(320, 240, 0, 5);
    const std::vector<H264TestUnit> large = H264TestStreamEncode(400, 300, 5, 5);
    for (const H264TestUnit& unit : small)
    {
        ASSERT_TRUE(decoder.Initialize(320, 240));
        Decoded out;
        bool noOutput = false;
        EXPECT_TRUE(UnitDecode(decoder, unit.AccessUnit, out, noOutput));
    }
    EXPECT_EQ(decoder.CreationsGet(), 1u);
    EXPECT_EQ(decoder.SampleTimeGet(), start + 5 * 166666);
    for (const H264TestUnit& unit : large)
    {
        ASSERT_TRUE(decoder.Initialize(400, 300));
        Decoded out;
        bool noOutput = false;
        EXPECT_TRUE(UnitDecode(decoder, unit.AccessUnit, out, noOutput));
        uint32_t stamp = 0;
        EXPECT_TRUE(PeerFrameStampRead(out.Pixels.data(), 400, 300, 1600, 4, stamp));
        EXPECT_EQ(stamp, unit.FrameNumber);
    }
    EXPECT_EQ(decoder.CreationsGet(), 2u);
    EXPECT_EQ(decoder.SampleTimeGet(), start + 10 * 166666);
}

TEST(PSDecoderH264Stream, DecodeBeforeInitializeFails)
{
    PSDecoderH264 decoder;
    const std::vector<H264TestUnit> units = H264TestStreamEncode(64, 64, 0, 1);
    std::vector<uint8_t> out(64 * 64 * 4);
    int32_t w = 0, h = 0;
    bool noOutput = true;
    TestLogCapture log;
    EXPECT_FALSE(decoder.Decode(units[0].AccessUnit.data(), units[0].AccessUnit.size(), out.data(),
                                out.size(), 256, w, h, noOutput));
    EXPECT_FALSE(noOutput);
    EXPECT_TRUE(log.Contains("PSDecoderH264::Decode failed! uninitialized...\n"));
}

// Input the decoder refuses flushes it and is reported once as a decoding
// error; the P-frames that depended on it give no picture (no error either)
// and the next IDR brings the right pictures back.
TEST(PSDecoderH264Errors, CorruptedPacketIsOneDecodingErrorThenTheNextIdrRecovers)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(320, 240, 0, 40, 80, 20);
    PSDecoderH264 decoder;
    ASSERT_TRUE(decoder.Initialize(320, 240));
    TestLogCapture log;
    int errors = 0, pictures = 0, waiting = 0;
    for (const H264TestUnit& unit : units)
    {
        std::vector<uint8_t> au = unit.AccessUnit;
        if (unit.FrameNumber == 7)
        {
            // Start code and slice header byte kept, the slice data garbage.
            ASSERT_GT(au.size(), 16u);
            std::fill(au.begin() + 5, au.end(), 0xFF);
        }
        Decoded out;
        bool noOutput = false;
        if (UnitDecode(decoder, au, out, noOutput))
        {
            ++pictures;
            uint32_t stamp = 0;
            ASSERT_TRUE(PeerFrameStampRead(out.Pixels.data(), 320, 240, 1280, 4, stamp));
            EXPECT_EQ(stamp, unit.FrameNumber) << "a picture from before the error was shown again";
        }
        else if (noOutput)
        {
            ++waiting;
            EXPECT_GT(unit.FrameNumber, 7u);
            EXPECT_LT(unit.FrameNumber, 20u);
        }
        else
        {
            ++errors;
            EXPECT_EQ(unit.FrameNumber, 7u);
        }
    }
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(pictures + waiting + errors, 40);
    EXPECT_GE(pictures, 7 + 20);
    EXPECT_EQ(log.CountGet("PSCodecTransform::Flush Old Frames"), 1u);
    EXPECT_EQ(log.CountGet("PSDecoderH264::Decode failed! m_Transform.InputSubmit"), 1u);
    // Each input without a picture is counted and logged.
    EXPECT_EQ(log.CountGet("PSDecoderH264::Decode failed! m_Transform.OutputGet Latency:"), size_t(waiting));
    if (waiting > 0)
    {
        EXPECT_TRUE(log.Contains("Latency:" + std::to_string(waiting) + " frames"));
    }
}

// Hostile payloads (what a broken or malicious server may send) end in a
// result, never in a crash or a read past the packet (AddressSanitizer), and
// the decoder still takes a good stream afterwards.
// Two units in before the output is drained: the decoder gives the first
// unit's picture, then fails on the second (garbage after its NAL header).
// The drain keeps the picture; the failure is logged as what it was.
TEST(PSDecoderH264Errors, PictureBeforeAnErrorInOneDrainIsKept)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(320, 240, 0, 2, 80, 20);
    std::vector<uint8_t> broken = units[1].AccessUnit;
    std::fill(broken.begin() + 5, broken.end(), 0xFF);
    PSCodecTransform transform;
    ASSERT_TRUE(transform.Initialize(320, 240));
    TestLogCapture log;
    ASSERT_TRUE(transform.InputSubmit(units[0].AccessUnit.data(), units[0].AccessUnit.size(), 1));
    ASSERT_TRUE(transform.InputSubmit(broken.data(), broken.size(), 2));
    const AVFrame* frame = nullptr;
    bool needMoreInput = true;
    ASSERT_TRUE(transform.OutputGet(frame, needMoreInput));
    EXPECT_FALSE(needMoreInput);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 320);
    EXPECT_EQ(log.CountGet("avcodec_receive_frame"), 1u);
}

TEST(PSDecoderH264Errors, HostilePayloadsNeverCrashAndAGoodStreamFollows)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(160, 120, 0, 3, 80, 30);
    const std::vector<uint8_t>& idr = units[0].AccessUnit;
    std::vector<std::vector<uint8_t>> hostile = {
        {0x00},
        {0x00, 0x00, 0x01},
        {0x00, 0x00, 0x00, 0x01},
        {0x00, 0x00, 0x00, 0x01, 0x67},
        {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08},
        // SPS announcing a huge picture.
        {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xc0, 0x33, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
        // Only the parameter sets of a real stream, then the first half of its IDR.
        std::vector<uint8_t>(idr.begin(), idr.begin() + idr.size() / 2),
    };
    std::vector<uint8_t> random(4096);
    uint32_t seed = 12345;
    for (uint8_t& b : random)
    {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    random[0] = 0, random[1] = 0, random[2] = 0, random[3] = 1, random[4] = 0x65;
    hostile.push_back(random);

    PSDecoderH264 decoder;
    ASSERT_TRUE(decoder.Initialize(160, 120));
    for (const std::vector<uint8_t>& payload : hostile)
    {
        // Exactly sized copies, so any read past the end is caught.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[payload.size()]);
        std::memcpy(exact.get(), payload.data(), payload.size());
        std::vector<uint8_t> out(160 * 120 * 4);
        int32_t w = 0, h = 0;
        bool noOutput = false;
        if (decoder.Decode(exact.get(), payload.size(), out.data(), out.size(), 640, w, h, noOutput))
        {
            EXPECT_LE(w, 160);
            EXPECT_LE(h, 120);
        }
    }
    {
        // Parameter sets announcing a picture larger than any screen (8192 x
        // 4352): refused before libavcodec allocates pictures of that size.
        TestLogCapture log;
        Decoded out;
        bool noOutput = false;
        EXPECT_FALSE(UnitDecode(decoder, AnnouncedPictureUnit(512, 272), out, noOutput));
        EXPECT_GE(
            log.CountGet("PSCodecTransform::BufferGet failed! picture 8192x4352 larger than any screen"), 1u)
            << log.AllGet();
    }
    {
        // A picture that a screen could have but that dwarfs the one
        // announced: a dozen references of it would be held for pictures
        // cropped to 160 x 120.
        TestLogCapture log;
        Decoded out;
        bool noOutput = false;
        EXPECT_FALSE(UnitDecode(decoder, AnnouncedPictureUnit(40, 30), out, noOutput));
        EXPECT_GE(log.CountGet("PSCodecTransform::BufferGet failed! picture 640x480 larger than the "
                               "160x120 screen allows"),
                  1u)
            << log.AllGet();
    }
    for (const H264TestUnit& unit : units)
    {
        Decoded out;
        bool noOutput = false;
        ASSERT_TRUE(UnitDecode(decoder, unit.AccessUnit, out, noOutput)) << unit.FrameNumber;
        uint32_t stamp = 0;
        ASSERT_TRUE(PeerFrameStampRead(out.Pixels.data(), 160, 120, 640, 4, stamp));
        EXPECT_EQ(stamp, unit.FrameNumber);
    }
}

// Pictures that are not full-range 8-bit 4:2:0 are converted with their own
// layout, depth, range and matrix: misreading any of them as the peer's
// format would fall far below these floors.
class PSDecoderH264Formats : public ::testing::TestWithParam<FormatCase>
{
};

TEST_P(PSDecoderH264Formats, ConvertsToTheSourceColours)
{
    const FormatCase c = GetParam();
    const int32_t width = 322, height = 186;
    const TestImage source = H264TestSmoothPicture(width, height);
    const std::vector<std::vector<uint8_t>> units = FormatStreamEncode(c, source, 3);
    ASSERT_EQ(units.size(), 3u) << "libx264 could not encode " << c.Name;
    PSDecoderH264 decoder;
    ASSERT_TRUE(decoder.Initialize(width, height));
    for (const std::vector<uint8_t>& unit : units)
    {
        Decoded out;
        bool noOutput = false;
        ASSERT_TRUE(UnitDecode(decoder, unit, out, noOutput));
        ASSERT_EQ(out.Width, width);
        ASSERT_EQ(out.Height, height);
        const double psnr =
            TestPsnr(out.Pixels.data(), width * 4, source.Bgrx.data(), source.Pitch(), width, height);
        std::printf("%s: PSNR %.2f dB\n", c.Name, psnr);
        EXPECT_GE(psnr, 40.0) << c.Name;
        for (size_t i = 3; i < out.Pixels.size(); i += 4)
            ASSERT_EQ(out.Pixels[i], 0xFF) << "X byte at " << i / 4;
    }
}

INSTANTIATE_TEST_SUITE_P(
    NotThePeersFormat, PSDecoderH264Formats,
    ::testing::Values(FormatCase{"yuv420p limited range", AV_PIX_FMT_YUV420P, false, 1, 1, 8},
                      FormatCase{"yuvj444p full range", AV_PIX_FMT_YUVJ444P, true, 0, 0, 8},
                      FormatCase{"yuv444p limited range", AV_PIX_FMT_YUV444P, false, 0, 0, 8},
                      FormatCase{"yuvj422p full range", AV_PIX_FMT_YUVJ422P, true, 1, 0, 8},
                      FormatCase{"yuv420p10 limited range", AV_PIX_FMT_YUV420P10LE, false, 1, 1, 10}),
    [](const ::testing::TestParamInfo<FormatCase>& info)
    {
        std::string name = info.param.Name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

// The NAL trace, line by line, at the codec category.
TEST(PSDecoderH264NalTrace, SpsPayloadIsListedWithItsBytes)
{
    const uint8_t sps[] = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0xc0, 0x1e, 0x0a};
    CategoryLog log;
    PSDecoderH264::NalUnitsTrace(sps, sizeof(sps));
    const auto lines = log.LinesGet();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].second, "\n");
    EXPECT_EQ(lines[1].second, "     -SPS Length:5 Offset:0 Sequence: 0 0 0 1 67 42 c0 1e a \n");
    for (const auto& line : lines)
        EXPECT_EQ(line.first, SA_LOG_CODEC);
}

TEST(PSDecoderH264NalTrace, PayloadWithoutStartCodesLogsOnlyTheFailure)
{
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x00, 0x02, 0x67};
    CategoryLog log;
    PSDecoderH264::NalUnitsTrace(bytes, sizeof(bytes));
    PSDecoderH264::NalUnitsTrace(bytes, 3); // too short to hold one
    const auto lines = log.LinesGet();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].second, "\n");
    EXPECT_EQ(lines[1].second, "PSDecoderH264::NalUnitsTrace failed! NalUnitsStartCodesFind_\n");
    EXPECT_EQ(lines[2].second, "\n");
    EXPECT_EQ(lines[3].second, lines[1].second);
    for (const auto& line : lines)
        EXPECT_EQ(line.first, SA_LOG_CODEC);
}

TEST(PSDecoderH264NalTrace, ThreeAndFourByteStartCodesAndSlicesWithoutBytes)
{
    // AUD with a 3-byte start code, a P slice with a 4-byte one, an unknown
    // type 0, and a start code with nothing behind it at the very end.
    const uint8_t bytes[] = {0x00, 0x00, 0x01, 0x09, 0xf0, 0x00, 0x00, 0x00, 0x01, 0x41,
                             0x9a, 0x02, 0x00, 0x00, 0x01, 0x00, 0x77, 0x00, 0x00, 0x01};
    CategoryLog log;
    PSDecoderH264::NalUnitsTrace(bytes, sizeof(bytes));
    const auto lines = log.LinesGet();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].second, "     -AUD Length:2 Offset:0 Sequence: 0 0 1 9 f0 \n");
    EXPECT_EQ(lines[2].second, "     -P-Frame Length:3 Offset:5 \n");
    EXPECT_EQ(lines[3].second,
              "     -Unknown or reserved NAL type Length:5 Offset:12 Sequence: 0 0 1 0 77 0 0 1 \n");
}

TEST(PSDecoderH264NalTrace, PeerKeyframeListsParameterSetsAndEverySlice)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(320, 240, 0, 2);
    CategoryLog log;
    PSDecoderH264::NalUnitsTrace(units[0].AccessUnit.data(), units[0].AccessUnit.size());
    PSDecoderH264::NalUnitsTrace(units[1].AccessUnit.data(), units[1].AccessUnit.size());
    std::vector<std::string> names;
    for (const auto& line : log.LinesGet())
    {
        if (line.second.rfind("     -", 0) == 0)
            names.push_back(line.second.substr(6, line.second.find(" Length:") - 6));
    }
    std::vector<std::string> expected;
    for (const H264TestUnit& unit : units)
        for (int type : H264TestNalTypes(unit.AccessUnit))
            expected.push_back(type == 7   ? "SPS"
                               : type == 8 ? "PPS"
                               : type == 6 ? "SEI"
                               : type == 5 ? "I-Frame"
                                           : "P-Frame");
    EXPECT_EQ(names, expected);
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(names[0], "SPS");
    EXPECT_EQ(names[1], "PPS");
}

// Hardware decoders (one per render node) come first, software last, so a
// machine without a GPU (or a device that fails) decodes in software; the
// decoder in use is named in the log.
TEST(PSCodecEnumeratorOrder, SoftwareIsTheLastResortAndTheChoiceIsLogged)
{
    PSCodecEnumerator enumerator;
    ASSERT_GE(enumerator.InstancesCountGet(), 1u);
    const size_t last = enumerator.InstancesCountGet() - 1;
    EXPECT_FALSE(enumerator.InstanceGet(last).Hardware);
    EXPECT_EQ(enumerator.InstanceGet(last).Name, "h264 (software)");
    const std::vector<std::string> nodes = PSCodecEnumerator::RenderNodesFind();
    EXPECT_LE(last, nodes.size());
    for (size_t i = 0; i < last; ++i)
    {
        EXPECT_TRUE(enumerator.InstanceGet(i).Hardware);
        EXPECT_EQ(enumerator.InstanceGet(i).Device, nodes[i]);
    }
    TestLogCapture log;
    PSDecoderH264 decoder;
    ASSERT_TRUE(decoder.Initialize(64, 64));
    EXPECT_TRUE(log.Contains(std::to_string(enumerator.InstancesCountGet()) + " instance(s) available\n"));
    EXPECT_TRUE(log.Contains("- h264 (software)\n"));
    EXPECT_TRUE(log.Contains("PSCodecTransform::Initialize 64x64 decoding with " +
                             decoder.TransformGet().InstanceNameGet()));
    if (nodes.empty())
    {
        EXPECT_FALSE(decoder.TransformGet().IsHardwareGet());
    }
}

// A device that cannot decode (here a file that is no render node, named
// through QUILLMERE_VAAPI_DEVICE as these machines have no GPU) is tried
// first and gives way to software with a line saying why; the stream decodes
// from its first picture on, and a size change does not try the device again.
TEST(PSCodecEnumeratorOrder, ADeviceThatCannotDecodeGivesWayToSoftwareOnceAndSaysWhy)
{
    const std::string device = testing::TempDir() + "qm_not_a_render_node";
    std::FILE* file = std::fopen(device.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("not a device\n", file);
    std::fclose(file);
    setenv("QUILLMERE_VAAPI_DEVICE", device.c_str(), 1);
    PSCodecEnumerator enumerator;
    ASSERT_EQ(enumerator.InstancesCountGet(), 2u) << "this libavcodec offers no VA-API";
    EXPECT_EQ(enumerator.InstanceGet(0).Name, "h264 (VA-API " + device + ")");

    TestLogCapture log;
    PSDecoderH264 decoder;
    const std::vector<H264TestUnit> units = H264TestStreamEncode(320, 240, 0, 2);
    const std::vector<H264TestUnit> larger = H264TestStreamEncode(336, 240, 5, 1);
    ASSERT_TRUE(decoder.Initialize(320, 240));
    for (const H264TestUnit& unit : units)
    {
        Decoded out;
        bool noOutput = true;
        ASSERT_TRUE(UnitDecode(decoder, unit.AccessUnit, out, noOutput)) << "frame " << unit.FrameNumber;
        uint32_t stamp = 0;
        ASSERT_TRUE(PeerFrameStampRead(out.Pixels.data(), 320, 240, 320 * 4, 4, stamp));
        EXPECT_EQ(stamp, unit.FrameNumber);
    }
    EXPECT_FALSE(decoder.TransformGet().IsHardwareGet());
    const std::string fallback = "PSCodecEnumerator::InstanceCreate h264 (VA-API " + device +
                                 ") cannot decode (the VA-API device " + device + " does not open: ";
    EXPECT_EQ(log.CountGet(fallback), 1u) << log.AllGet();
    EXPECT_TRUE(log.Contains("): falling back to h264 (software)\n"));
    EXPECT_TRUE(log.Contains("PSCodecTransform::Initialize 320x240 decoding with h264 (software)"));

    ASSERT_TRUE(decoder.Initialize(336, 240));
    Decoded out;
    bool noOutput = true;
    EXPECT_TRUE(UnitDecode(decoder, larger[0].AccessUnit, out, noOutput));
    EXPECT_EQ(log.CountGet(fallback), 1u);
    EXPECT_TRUE(log.Contains("PSCodecTransform::Initialize 336x240 decoding with h264 (software)"));
    unsetenv("QUILLMERE_VAAPI_DEVICE");
}
