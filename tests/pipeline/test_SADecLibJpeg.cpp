// SADecLibJpeg against real TurboJPEG encodings of a desktop-like picture.
#include "PipelineTestSupport.h"
#include "pipeline/SADecLibJpeg.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <turbojpeg.h>

namespace
{
constexpr int32_t W = 640, H = 400;

// I420 in one buffer as a video decoder lays it out: 16-aligned luma stride
// and plane heights, U after luma, V half-way through the rest.
std::vector<uint8_t> I420Encode(const TestImage& image, size_t extraTail = 0)
{
    const int lumaStride = (image.Width + 15) / 16 * 16;
    const int paddedHeight = (image.Height + 15) / 16 * 16;
    const size_t lumaSize = size_t(lumaStride) * paddedHeight;
    const size_t chromaSize = size_t(lumaStride / 2) * (paddedHeight / 2);
    std::vector<uint8_t> out(lumaSize + 2 * chromaSize + 2 * extraTail, 0x80);
    unsigned char* planes[3] = {out.data(), out.data() + lumaSize,
                                out.data() + lumaSize + chromaSize + extraTail};
    int strides[3] = {lumaStride, lumaStride / 2, lumaStride / 2};
    tjhandle handle = tjInitCompress();
    EXPECT_EQ(tjEncodeYUVPlanes(handle, image.Bgrx.data(), image.Width, image.Pitch(), image.Height,
                                TJPF_BGRX, planes, strides, TJSAMP_420, 0),
              0);
    tjDestroy(handle);
    return out;
}
} // namespace

TEST(SADecLibJpeg, JpegQuality90DecodesTheDesktopFaithfully)
{
    const TestImage source = TestDesktopPicture(W, H);
    for (int subsampling : {TJSAMP_420, TJSAMP_444})
    {
        const std::vector<uint8_t> jpeg = TestJpegEncode(source, 90, subsampling);
        SADecLibJpeg decoder;
        ASSERT_TRUE(decoder.IsValid());
        SAJpegHeaderInfo info;
        ASSERT_TRUE(decoder.HeaderRead(jpeg.data(), jpeg.size(), info));
        EXPECT_EQ(info.Width, W);
        EXPECT_EQ(info.Height, H);
        EXPECT_EQ(info.Subsampling, subsampling);

        std::vector<uint8_t> out(size_t(W) * H * 4, 0);
        ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), info, out.data(), out.size(), W * 4));
        const double psnr = TestPsnr(source.Bgrx.data(), source.Pitch(), out.data(), W * 4, W, H);
        std::printf("JPEG q90 %s %dx%d: %zu bytes, PSNR %.2f dB\n",
                    subsampling == TJSAMP_420 ? "4:2:0" : "4:4:4", W, H, jpeg.size(), psnr);
        EXPECT_GE(psnr, 38.0);
    }
}

TEST(SADecLibJpeg, JpegDecodesAtALargerPitchWithoutTouchingThePadding)
{
    const TestImage source = TestDesktopPicture(96, 64);
    const std::vector<uint8_t> jpeg = TestJpegEncode(source, 90, TJSAMP_420);
    SADecLibJpeg decoder;
    SAJpegHeaderInfo info;
    ASSERT_TRUE(decoder.HeaderRead(jpeg.data(), jpeg.size(), info));
    std::vector<uint8_t> packed(size_t(96) * 64 * 4, 0);
    ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), info, packed.data(), packed.size(), 96 * 4));
    // The last row needs only its pixels: no padding after it.
    const int32_t pitch = 96 * 4 + 20;
    std::vector<uint8_t> out(size_t(pitch) * 63 + 96 * 4, 0xEE);
    ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), info, out.data(), out.size(), pitch));
    for (int32_t y = 0; y < 64; ++y)
    {
        ASSERT_EQ(std::memcmp(&out[size_t(y) * pitch], &packed[size_t(y) * 96 * 4], 96 * 4), 0)
            << "row " << y;
        for (int32_t i = 96 * 4; i < pitch && y < 63; ++i)
            ASSERT_EQ(out[size_t(y) * pitch + i], 0xEE);
    }
}

TEST(SADecLibJpeg, YuvDecodesTheDesktopFaithfully)
{
    // Odd sizes exercise the 4-byte row padding and the chroma rounding.
    for (auto [w, h] : {std::pair{W, H}, std::pair{333, 211}})
    {
        const TestImage source = TestDesktopPicture(w, h);
        const std::vector<uint8_t> yuv = TestYuvEncode(source);
        ASSERT_EQ(yuv.size(), SADecLibJpeg::YuvBufferSizeGet(w, h));
        SADecLibJpeg decoder;
        std::vector<uint8_t> out(size_t(w) * h * 4, 0);
        ASSERT_TRUE(decoder.YuvRgbConvert(yuv.data(), yuv.size(), out.data(), out.size(), w, w * 4, h));
        const double psnr = TestPsnr(source.Bgrx.data(), source.Pitch(), out.data(), w * 4, w, h);
        std::printf("YUV 4:2:0 %dx%d: PSNR %.2f dB\n", w, h, psnr);
        EXPECT_GE(psnr, 38.0);
    }
}

TEST(SADecLibJpeg, YuvPlanarContiguousFormDecodesVideoDecoderLayout)
{
    for (auto [w, h] : {std::pair{W, H}, std::pair{350, 198}})
    {
        const TestImage source = TestDesktopPicture(w, h);
        // The V plane is found half-way through what follows luma, so a tail
        // after each chroma plane must not confuse it.
        for (size_t tail : {size_t(0), size_t(64)})
        {
            const std::vector<uint8_t> i420 = I420Encode(source, tail);
            SADecLibJpeg decoder;
            std::vector<uint8_t> out(size_t(w) * h * 4, 0);
            ASSERT_TRUE(
                decoder.YuvPlanarRgbConvert(i420.data(), i420.size(), out.data(), out.size(), w, h, w * 4));
            const double psnr = TestPsnr(source.Bgrx.data(), source.Pitch(), out.data(), w * 4, w, h);
            std::printf("I420 %dx%d (tail %zu): PSNR %.2f dB\n", w, h, tail, psnr);
            EXPECT_GE(psnr, 38.0);
        }
    }
}

TEST(SADecLibJpeg, RefusesBuffersTooSmallForTheImage)
{
    const TestImage source = TestDesktopPicture(64, 48);
    const std::vector<uint8_t> jpeg = TestJpegEncode(source, 90, TJSAMP_420);
    const std::vector<uint8_t> yuv = TestYuvEncode(source);
    const std::vector<uint8_t> i420 = I420Encode(source);
    SADecLibJpeg decoder;
    TestLogCapture log;

    SAJpegHeaderInfo info;
    ASSERT_TRUE(decoder.HeaderRead(jpeg.data(), jpeg.size(), info));
    std::vector<uint8_t> small(size_t(64) * 48 * 4 - 1);
    EXPECT_FALSE(decoder.Decode(jpeg.data(), jpeg.size(), info, small.data(), small.size(), 64 * 4));
    EXPECT_TRUE(log.Contains("SADecLibJpeg::Decode failed! destination of"));
    std::vector<uint8_t> out(size_t(64) * 48 * 4);
    EXPECT_FALSE(decoder.Decode(jpeg.data(), jpeg.size(), info, out.data(), out.size(), 64 * 4 - 4));

    EXPECT_FALSE(decoder.YuvRgbConvert(yuv.data(), yuv.size() - 1, out.data(), out.size(), 64, 64 * 4, 48));
    EXPECT_TRUE(log.Contains("SADecLibJpeg::YuvRgbConvert failed! source of"));
    EXPECT_FALSE(decoder.YuvRgbConvert(yuv.data(), yuv.size(), small.data(), small.size(), 64, 64 * 4, 48));
    EXPECT_FALSE(decoder.YuvRgbConvert(yuv.data(), yuv.size(), out.data(), out.size(), 0, 0, 48));

    EXPECT_FALSE(
        decoder.YuvPlanarRgbConvert(i420.data(), i420.size() - 1, out.data(), out.size(), 64, 48, 64 * 4));
    EXPECT_TRUE(log.Contains("SADecLibJpeg::YuvPlanarRgbConvert failed! source of"));
    EXPECT_FALSE(
        decoder.YuvPlanarRgbConvert(i420.data(), i420.size(), small.data(), small.size(), 64, 48, 64 * 4));
    EXPECT_TRUE(log.Contains("SADecLibJpeg::YuvPlanarRgbConvert failed! destination of"));
}

TEST(SADecLibJpeg, DamagedJpegIsReportedWithTheTurboJpegCall)
{
    const TestImage source = TestDesktopPicture(256, 192);
    const std::vector<uint8_t> jpeg = TestJpegEncode(source, 90, TJSAMP_420);
    SADecLibJpeg decoder;
    TestLogCapture log;
    SAJpegHeaderInfo info;

    const std::vector<uint8_t> garbage(100, 0x42);
    EXPECT_FALSE(decoder.HeaderRead(garbage.data(), garbage.size(), info));
    EXPECT_TRUE(log.Contains("SADecLibJpeg::Decode failed! tjDecompressHeader3 "));
    EXPECT_FALSE(decoder.HeaderRead(jpeg.data(), 0, info));

    // Cut in the middle of the entropy-coded data: the header reads, the
    // decode does not.
    const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + jpeg.size() / 2);
    ASSERT_TRUE(decoder.HeaderRead(cut.data(), cut.size(), info));
    std::vector<uint8_t> out(size_t(256) * 192 * 4);
    EXPECT_FALSE(decoder.Decode(cut.data(), cut.size(), info, out.data(), out.size(), 256 * 4));
    EXPECT_TRUE(log.Contains("SADecLibJpeg::Decode failed! tjDecompress2 "));
}

TEST(SADecLibJpeg, AfterEveryKindOfDamageTheNextImageStillDecodes)
{
    // A failed header read leaves a TurboJPEG 2.x handle mid-header; the
    // decoder must not carry that into the next, valid image.
    const TestImage source = TestDesktopPicture(128, 96);
    const std::vector<uint8_t> jpeg = TestJpegEncode(source, 90, TJSAMP_444);
    std::vector<uint8_t> huge = jpeg; // frame header claiming 65535 x 65535
    for (size_t i = 0; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0)
        {
            huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xFF;
            break;
        }
    const std::vector<std::vector<uint8_t>> damaged = {
        std::vector<uint8_t>(100, 0x42),                                  // not a JPEG
        huge,                                                             // too large
        std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 40),            // cut inside the header
        std::vector<uint8_t>(jpeg.begin(), jpeg.end() - jpeg.size() / 3), // cut inside the data
    };
    SADecLibJpeg decoder;
    TestLogCapture log;
    std::vector<uint8_t> out(size_t(128) * 96 * 4);
    for (size_t d = 0; d < damaged.size(); ++d)
    {
        SCOPED_TRACE(d);
        SAJpegHeaderInfo info;
        if (decoder.HeaderRead(damaged[d].data(), damaged[d].size(), info))
        {
            ASSERT_LE(size_t(info.Width) * info.Height * 4, out.size());
            EXPECT_FALSE(decoder.Decode(damaged[d].data(), damaged[d].size(), info, out.data(), out.size(),
                                        info.Width * 4));
        }
        for (int repeat = 0; repeat < 2; ++repeat)
        {
            ASSERT_TRUE(decoder.HeaderRead(jpeg.data(), jpeg.size(), info)) << log.AllGet();
            ASSERT_TRUE(decoder.Decode(jpeg.data(), jpeg.size(), info, out.data(), out.size(), 128 * 4));
            EXPECT_GE(TestPsnr(source.Bgrx.data(), source.Pitch(), out.data(), 128 * 4, 128, 96), 38.0);
        }
    }
    EXPECT_TRUE(decoder.IsValid());
}

TEST(SADecLibJpeg, AProgressiveImageOfEndlessScansIsRefusedUnread)
{
    const TestImage source = TestDesktopPicture(256, 192);
    const std::vector<uint8_t> progressive = TestJpegEncode(source, 90, TJSAMP_420, TJFLAG_PROGRESSIVE);
    const int ownScans = SADecLibJpeg::ScanCountGet(progressive.data(), progressive.size());
    ASSERT_GT(ownScans, 5);
    const std::vector<uint8_t> baseline = TestJpegEncode(source, 90, TJSAMP_420);
    EXPECT_EQ(SADecLibJpeg::ScanCountGet(baseline.data(), baseline.size()), 1);

    // The last scan (SOS to EOI) once more, a hundred times.
    size_t last = 0;
    for (size_t i = 2; i + 1 < progressive.size(); ++i)
        if (progressive[i] == 0xFF && progressive[i + 1] == 0xDA)
            last = i;
    ASSERT_GT(last, 0u);
    std::vector<uint8_t> bomb(progressive.begin(), progressive.end() - 2);
    for (int r = 0; r < 100; ++r)
        bomb.insert(bomb.end(), progressive.begin() + last, progressive.end() - 2);
    bomb.insert(bomb.end(), {0xFF, 0xD9});
    EXPECT_EQ(SADecLibJpeg::ScanCountGet(bomb.data(), bomb.size()), ownScans + 100);

    SADecLibJpeg decoder;
    TestLogCapture log;
    SAJpegHeaderInfo info;
    std::vector<uint8_t> out(size_t(256) * 192 * 4);
    ASSERT_TRUE(decoder.HeaderRead(bomb.data(), bomb.size(), info));
    EXPECT_FALSE(decoder.Decode(bomb.data(), bomb.size(), info, out.data(), out.size(), 256 * 4));
    EXPECT_TRUE(log.Contains("SADecLibJpeg::Decode failed! " + std::to_string(ownScans + 100) + " scans"));
    EXPECT_FALSE(log.Contains("tjDecompress2"));
    ASSERT_TRUE(decoder.HeaderRead(progressive.data(), progressive.size(), info));
    EXPECT_TRUE(
        decoder.Decode(progressive.data(), progressive.size(), info, out.data(), out.size(), 256 * 4));
}
