// SADecoderFrameBuffer: whole FrameBuffer packets, built byte by byte with
// real encoded payloads, decoded into a frame that checks every rectangle.
#include "PipelineTestSupport.h"
#include "pipeline/SADecoderFrameBuffer.h"
#include "pipeline/SAUtilFile.h"
#include "tests/net/NetTestHeap.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <turbojpeg.h>
#include <unistd.h>

namespace
{
constexpr int32_t W = 640, H = 400;

// Raw payload: rows of `pitch` bytes holding the rectangle [x0,x1) x [y0,y1)
// of the picture as B, G, R, X; the bytes past each row are filled with 0xCD.
std::vector<uint8_t> RawPayload(const TestImage& image, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                int32_t pitch)
{
    std::vector<uint8_t> out(size_t(pitch) * (y1 - y0), 0xCD);
    for (int32_t y = y0; y < y1; ++y)
        std::memcpy(&out[size_t(y - y0) * pitch], &image.Bgrx[(size_t(y) * image.Width + x0) * 4],
                    size_t(x1 - x0) * 4);
    return out;
}

TestImage SubImage(const TestImage& image, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    TestImage sub;
    sub.Width = x1 - x0;
    sub.Height = y1 - y0;
    sub.Bgrx = RawPayload(image, x0, y0, x1, y1, sub.Width * 4);
    return sub;
}

// True when the frame's rectangle equals the picture's rectangle at the
// same place (exact), checking B, G, R.
bool FrameMatches(const TestFrame& frame, const TestImage& image, int32_t x0, int32_t y0, int32_t x1,
                  int32_t y1, int32_t imageX = -1, int32_t imageY = -1)
{
    if (imageX < 0)
        imageX = x0, imageY = y0;
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x)
        {
            const uint8_t* f = frame.PixelGet(x, y);
            const uint8_t* s = &image.Bgrx[(size_t(y - y0 + imageY) * image.Width + (x - x0 + imageX)) * 4];
            if (f[0] != s[0] || f[1] != s[1] || f[2] != s[2])
                return false;
        }
    return true;
}

// Number of frame pixels that still hold the fill value everywhere outside
// [x0,x1) x [y0,y1): all of them when nothing outside was written.
bool FrameUntouchedOutside(const TestFrame& frame, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                           uint8_t fill = 0x5A)
{
    for (int32_t y = 0; y < frame.m_Height; ++y)
        for (int32_t x = 0; x < frame.m_Width; ++x)
        {
            if (x >= x0 && x < x1 && y >= y0 && y < y1)
                continue;
            const uint8_t* p = frame.PixelGet(x, y);
            if (p[0] != fill || p[1] != fill || p[2] != fill || p[3] != fill)
                return false;
        }
    return true;
}

TestPacketFields Fields(uint32_t compression, int32_t l, int32_t t, int32_t r, int32_t b,
                        int32_t pitch = W * 4)
{
    TestPacketFields f;
    f.ScreenWidth = W;
    f.ScreenHeight = H;
    f.PitchInBytes = pitch;
    f.CompressionType = compression;
    f.Left = l, f.Top = t, f.Right = r, f.Bottom = b;
    return f;
}

SADecodeResult DecodePacket(SADecoderFrameBuffer& decoder, const TestPacket& packet, TestFrame& frame,
                            int32_t fragment = 0)
{
    return decoder.Decode(packet.Bytes.get(), packet.Size, fragment, frame);
}
} // namespace

TEST(SADecoderFrameBuffer, UncompressedIsCopiedExactlyUsingPitchInBytes)
{
    const TestImage source = TestDesktopPicture(W, H);
    SADecoderFrameBuffer decoder;
    {
        // All-zero rectangle: the whole screen; rows padded past their pixels.
        TestFrame frame(W, H);
        const int32_t pitch = W * 4 + 16;
        const TestPacket p =
            TestPacketBuild(Fields(0, 0, 0, 0, 0, pitch), RawPayload(source, 0, 0, W, H, pitch));
        ASSERT_EQ(DecodePacket(decoder, p, frame), SADecodeResult::Decoded);
        ASSERT_EQ(frame.m_Updates.size(), 1u);
        EXPECT_EQ(frame.m_Updates[0].Right, W);
        EXPECT_EQ(frame.m_Updates[0].Bottom, H);
        EXPECT_EQ(TestPsnr(source.Bgrx.data(), source.Pitch(), frame.Data(), frame.Pitch(), W, H), 99.0);
    }
    {
        TestFrame frame(W, H);
        const TestPacket p = TestPacketBuild(Fields(0, 100, 50, 300, 150, 200 * 4),
                                             RawPayload(source, 100, 50, 300, 150, 200 * 4));
        ASSERT_EQ(DecodePacket(decoder, p, frame), SADecodeResult::Decoded);
        EXPECT_TRUE(FrameMatches(frame, source, 100, 50, 300, 150));
        EXPECT_TRUE(FrameUntouchedOutside(frame, 100, 50, 300, 150));
    }
}

TEST(SADecoderFrameBuffer, EveryColourFormatBecomesBgrx)
{
    // Each format's pixels for black, white, pure red, green, blue and a mid
    // grey-ish value, with the B, G, R expected (full-scale maps to 255,
    // levels in between to the nearest of value x 255 / max, within 1).
    struct Case
    {
        uint32_t Format;
        int32_t Bytes;
        std::vector<std::vector<uint8_t>> Pixels;
        std::vector<std::array<int, 3>> Expected; // B, G, R
    };
    const std::vector<Case> cases = {
        {20,
         3,
         {{0, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {10, 20, 30}},
         {{0, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {10, 20, 30}}},
        {21,
         4,
         {{0, 0, 0, 7},
          {255, 255, 255, 255},
          {0, 0, 255, 0},
          {0, 255, 0, 0},
          {255, 0, 0, 0},
          {10, 20, 30, 40}},
         {{0, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {10, 20, 30}}},
        {22,
         4,
         {{0, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {10, 20, 30, 0}},
         {{0, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {10, 20, 30}}},
        // R5G6B5 little-endian words: red 0xF800, green 0x07E0, blue 0x001F,
        // r=16 g=32 b=8 -> 0x8408.
        {23,
         2,
         {{0x00, 0x00}, {0xFF, 0xFF}, {0x00, 0xF8}, {0xE0, 0x07}, {0x1F, 0x00}, {0x08, 0x84}},
         {{0, 0, 0},
          {255, 255, 255},
          {0, 0, 255},
          {0, 255, 0},
          {255, 0, 0},
          {8 * 255 / 31, 32 * 255 / 63, 16 * 255 / 31}}},
        // R3G3B2: red 0xE0, green 0x1C, blue 0x03, r=3 g=5 b=1 -> 0x75.
        {27,
         1,
         {{0x00}, {0xFF}, {0xE0}, {0x1C}, {0x03}, {0x75}},
         {{0, 0, 0},
          {255, 255, 255},
          {0, 0, 255},
          {0, 255, 0},
          {255, 0, 0},
          {1 * 255 / 3, 5 * 255 / 7, 3 * 255 / 7}}},
    };
    SADecoderFrameBuffer decoder;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Format);
        // One row of the six pixels at (10, 20), rows padded by 5 bytes; two
        // rows, the second repeating the first in reverse.
        const int32_t n = int32_t(c.Pixels.size());
        const int32_t pitch = n * c.Bytes + 5;
        std::vector<uint8_t> payload(size_t(pitch) * 2, 0xEE);
        for (int32_t i = 0; i < n; ++i)
        {
            std::memcpy(&payload[size_t(i) * c.Bytes], c.Pixels[i].data(), c.Bytes);
            std::memcpy(&payload[size_t(pitch) + size_t(n - 1 - i) * c.Bytes], c.Pixels[i].data(), c.Bytes);
        }
        TestPacketFields f = Fields(0, 10, 20, 10 + n, 22, pitch);
        f.ColorFormat = c.Format;
        TestFrame frame(W, H);
        ASSERT_EQ(DecodePacket(decoder, TestPacketBuild(f, payload), frame), SADecodeResult::Decoded);
        for (int32_t i = 0; i < n; ++i)
            for (int32_t row = 0; row < 2; ++row)
            {
                const uint8_t* p = frame.PixelGet(10 + (row == 0 ? i : n - 1 - i), 20 + row);
                for (int ch = 0; ch < 3; ++ch)
                    EXPECT_LE(std::abs(int(p[ch]) - c.Expected[i][ch]), 1)
                        << "pixel " << i << " row " << row << " channel " << ch;
            }
        EXPECT_TRUE(FrameUntouchedOutside(frame, 10, 20, 10 + n, 22));
    }
}

TEST(SADecoderFrameBuffer, UnknownColourFormatIsLoggedAndTakenAsFourBytes)
{
    const TestImage source = TestDesktopPicture(W, H);
    SADecoderFrameBuffer decoder;
    TestLogCapture log;
    TestPacketFields f = Fields(0, 0, 0, 64, 32, 64 * 4);
    f.ColorFormat = 99;
    TestFrame frame(W, H);
    ASSERT_EQ(DecodePacket(decoder, TestPacketBuild(f, RawPayload(source, 0, 0, 64, 32, 64 * 4)), frame),
              SADecodeResult::Decoded);
    EXPECT_TRUE(FrameMatches(frame, source, 0, 0, 64, 32));
    EXPECT_EQ(log.CountGet("SAUtilColorFormatBytesPerPixelGet Invalid Parameter! 99\n"), 1u);

    // JPEG with an unknown format decodes at 4 bytes per pixel too.
    const TestImage sub = SubImage(source, 0, 0, 64, 32);
    f.CompressionType = 3;
    ASSERT_EQ(DecodePacket(decoder, TestPacketBuild(f, TestJpegEncode(sub, 90, TJSAMP_420)), frame),
              SADecodeResult::Decoded);
    EXPECT_EQ(log.CountGet("SAUtilColorFormatBytesPerPixelGet Invalid Parameter! 99\n"), 2u);
}

TEST(SADecoderFrameBuffer, JpegAndYuvLandInTheirRectangles)
{
    const TestImage source = TestDesktopPicture(W, H);
    SADecoderFrameBuffer decoder;
    TestLogCapture log;
    {
        TestFrame frame(W, H);
        const TestPacket p = TestPacketBuild(Fields(3, 0, 0, 0, 0), TestJpegEncode(source, 90, TJSAMP_420));
        ASSERT_EQ(DecodePacket(decoder, p, frame, 2), SADecodeResult::Decoded);
        const double psnr = TestPsnr(source.Bgrx.data(), source.Pitch(), frame.Data(), frame.Pitch(), W, H);
        std::printf("FrameBuffer JPEG q90 whole screen: PSNR %.2f dB\n", psnr);
        EXPECT_GE(psnr, 38.0);
        EXPECT_TRUE(log.Contains("-> Decoder task submitted. FragmentIndex:2 Compression:3 Size:"));
    }
    // A fragment: the lower-right quarter, as one of four fragments would be.
    for (uint32_t compression : {1u, 3u})
    {
        SCOPED_TRACE(compression);
        TestFrame frame(W, H);
        const TestImage quarter = SubImage(source, W / 2, H / 2, W, H);
        const std::vector<uint8_t> payload =
            compression == 1 ? TestYuvEncode(quarter) : TestJpegEncode(quarter, 90, TJSAMP_420);
        // PitchInBytes is ignored for decoded types.
        const TestPacket p = TestPacketBuild(Fields(compression, W / 2, H / 2, W, H, 7), payload);
        ASSERT_EQ(DecodePacket(decoder, p, frame, 3), SADecodeResult::Decoded);
        const double psnr = TestPsnr(quarter.Bgrx.data(), quarter.Pitch(), frame.PixelGet(W / 2, H / 2),
                                     frame.Pitch(), W / 2, H / 2);
        std::printf("FrameBuffer %s fragment: PSNR %.2f dB\n", compression == 1 ? "YUV" : "JPEG", psnr);
        EXPECT_GE(psnr, 38.0);
        EXPECT_TRUE(FrameUntouchedOutside(frame, W / 2, H / 2, W, H));
    }
}

TEST(SADecoderFrameBuffer, JpegSmallerThanItsRectangleUpdatesOnlyItsOwnArea)
{
    const TestImage source = TestDesktopPicture(64, 48);
    SADecoderFrameBuffer decoder;
    TestFrame frame(W, H);
    const TestPacket p = TestPacketBuild(Fields(3, 10, 10, 110, 110), TestJpegEncode(source, 90, TJSAMP_420));
    ASSERT_EQ(DecodePacket(decoder, p, frame), SADecodeResult::Decoded);
    ASSERT_EQ(frame.m_Updates.size(), 1u);
    EXPECT_EQ(frame.m_Updates[0].Right, 74);
    EXPECT_EQ(frame.m_Updates[0].Bottom, 58);
    EXPECT_TRUE(FrameUntouchedOutside(frame, 10, 10, 74, 58));
}

TEST(SADecoderFrameBuffer, RectanglesReachingOutsideTheFrameAreClipped)
{
    const TestImage source = TestDesktopPicture(W + 100, H + 100); // the server "sees" more
    SADecoderFrameBuffer decoder;
    TestLogCapture log;
    struct Case
    {
        int32_t L, T, R, B;     // rectangle on the wire
        int32_t VL, VT, VR, VB; // expected visible part
    };
    const Case cases[] = {
        {W - 50, H - 30, W + 50, H + 30, W - 50, H - 30, W, H}, // past right and bottom
        {-10, -20, 40, 30, 0, 0, 40, 30},                       // negative corner
        {-5, 100, W + 5, 110, 0, 100, W, 110},                  // wider than the screen
    };
    for (uint32_t compression : {0u, 1u, 3u})
        for (const Case& c : cases)
        {
            SCOPED_TRACE(testing::Message() << "compression " << compression << " rect " << c.L << "/" << c.T
                                            << "/" << c.R << "/" << c.B);
            // The payload holds the whole wire rectangle, taken from a picture
            // with a 50-pixel margin on every side of the screen.
            const TestImage wire = SubImage(source, c.L + 50, c.T + 50, c.R + 50, c.B + 50);
            std::vector<uint8_t> payload = compression == 0   ? wire.Bgrx
                                           : compression == 1 ? TestYuvEncode(wire)
                                                              : TestJpegEncode(wire, 95, TJSAMP_444);
            TestFrame frame(W, H);
            const TestPacket p =
                TestPacketBuild(Fields(compression, c.L, c.T, c.R, c.B, wire.Pitch()), payload);
            ASSERT_EQ(DecodePacket(decoder, p, frame), SADecodeResult::Decoded) << log.AllGet();
            ASSERT_EQ(frame.m_Updates.size(), 1u);
            EXPECT_EQ(frame.m_Violations, 0);
            EXPECT_EQ(frame.m_Updates[0].Left, c.VL);
            EXPECT_EQ(frame.m_Updates[0].Top, c.VT);
            EXPECT_EQ(frame.m_Updates[0].Right, c.VR);
            EXPECT_EQ(frame.m_Updates[0].Bottom, c.VB);
            EXPECT_TRUE(FrameUntouchedOutside(frame, c.VL, c.VT, c.VR, c.VB));
            // The visible pixels are the right ones: the source offset follows
            // the clipping.
            const uint8_t* expected = &wire.Bgrx[(size_t(c.VT - c.T) * wire.Width + (c.VL - c.L)) * 4];
            const double psnr = TestPsnr(expected, wire.Pitch(), frame.PixelGet(c.VL, c.VT), frame.Pitch(),
                                         c.VR - c.VL, c.VB - c.VT);
            if (compression == 0)
                EXPECT_EQ(psnr, 99.0);
            else
                EXPECT_GE(psnr, 30.0); // small, busy rectangles; the point is the position
        }
}

TEST(SADecoderFrameBuffer, TargetSmallerThanTheAnnouncedScreenIsNotOverrun)
{
    // The renderer could not follow a resolution change: it still holds
    // 320x200 while packets describe 640x400.
    const TestImage source = TestDesktopPicture(W, H);
    SADecoderFrameBuffer decoder;
    TestFrame frame(320, 200);
    for (uint32_t compression : {0u, 1u, 3u})
    {
        const std::vector<uint8_t> payload = compression == 0   ? source.Bgrx
                                             : compression == 1 ? TestYuvEncode(source)
                                                                : TestJpegEncode(source, 90, TJSAMP_420);
        ASSERT_EQ(DecodePacket(decoder, TestPacketBuild(Fields(compression, 0, 0, 0, 0), payload), frame),
                  SADecodeResult::Decoded);
        EXPECT_EQ(frame.m_Violations, 0);
        EXPECT_EQ(frame.m_Updates.back().Right, 320);
        EXPECT_EQ(frame.m_Updates.back().Bottom, 200);
    }
}

TEST(SADecoderFrameBuffer, HostilePacketsAreRefusedWithALogLineAndNeverWrite)
{
    const TestImage source = TestDesktopPicture(128, 96);
    const std::vector<uint8_t> raw100 = RawPayload(TestDesktopPicture(W, H), 0, 0, 100, 100, 400);
    const std::vector<uint8_t> yuv = TestYuvEncode(source);
    const std::vector<uint8_t> jpeg = TestJpegEncode(source, 90, TJSAMP_420);
    // The same JPEG claiming 65500 x 65500 pixels in its frame header.
    std::vector<uint8_t> jpegHuge = jpeg;
    for (size_t i = 0; i + 8 < jpegHuge.size(); ++i)
        if (jpegHuge[i] == 0xFF && (jpegHuge[i + 1] == 0xC0 || jpegHuge[i + 1] == 0xC2))
        {
            jpegHuge[i + 5] = jpegHuge[i + 7] = 0xFF; // 65500, the largest a JPEG may be
            jpegHuge[i + 6] = jpegHuge[i + 8] = 0xDC;
            break;
        }
    auto cut = [](const std::vector<uint8_t>& v, size_t drop)
    { return std::vector<uint8_t>(v.begin(), v.end() - drop); };
    const char* rectLine = "SADecoderFrameBuffer::Decode failed! PartialUpdateRect ";

    struct Case
    {
        const char* Name;
        TestPacketFields Fields;
        std::vector<uint8_t> Payload;
        int64_t ByteCount; // -1: the payload size
        const char* Line;
    };
    auto screen = [](TestPacketFields f, int32_t w, int32_t h)
    {
        f.ScreenWidth = w;
        f.ScreenHeight = h;
        return f;
    };
    auto format = [](TestPacketFields f, uint32_t colorFormat)
    {
        f.ColorFormat = colorFormat;
        return f;
    };
    auto type = [](TestPacketFields f, uint32_t headerType)
    {
        f.HeaderType = headerType;
        return f;
    };
    const std::vector<Case> cases = {
        {"not a FrameBuffer", type(Fields(0, 0, 0, 100, 100, 400), 3), raw100, -1, "is not FrameBuffer"},
        {"ByteCount beyond the block", Fields(0, 0, 0, 100, 100, 400), raw100, int64_t(raw100.size()) + 1,
         "beyond the"},
        {"ByteCount 0xFFFFFFFF", Fields(0, 0, 0, 100, 100, 400), raw100, 0xFFFFFFFFll, "beyond the"},
        {"compression 2", Fields(2, 0, 0, 100, 100, 400), raw100, -1, "CompressionType invalid:2"},
        {"compression 6", Fields(6, 0, 0, 100, 100, 400), raw100, -1, "CompressionType invalid:6"},
        {"compression 0x80000000", Fields(0x80000000u, 0, 0, 100, 100, 400), raw100, -1,
         "CompressionType invalid:"},
        {"screen 0 wide", screen(Fields(0, 0, 0, 100, 100, 400), 0, H), raw100, -1, "screen 0x400"},
        {"screen negative", screen(Fields(0, 0, 0, 100, 100, 400), W, -1), raw100, -1, "screen 640x-1"},
        {"screen huge", screen(Fields(0, 0, 0, 100, 100, 400), 100000, H), raw100, -1, "screen 100000x400"},
        {"whole screen of a huge screen", screen(Fields(1, 0, 0, 0, 0), INT32_MAX, INT32_MAX), yuv, -1,
         "screen "},
        {"rect inverted", Fields(0, 100, 100, 0, 200, 400), raw100, -1, rectLine},
        {"rect upside down", Fields(0, 0, 200, 100, 100, 400), raw100, -1, rectLine},
        {"rect empty", Fields(0, 100, 100, 100, 200, 400), raw100, -1, rectLine},
        {"rect INT32_MIN..INT32_MAX", Fields(0, INT32_MIN, 0, INT32_MAX, 10, 400), raw100, -1, rectLine},
        {"rect wider than any screen", Fields(0, 0, 0, 20000, 10, 400), raw100, -1, rectLine},
        {"rect left of the screen", Fields(0, -200, 0, -100, 100, 400), raw100, -1, "outside the frame"},
        {"rect right of the screen", Fields(0, W, 0, W + 100, 100, 400), raw100, -1, "outside the frame"},
        {"rect below the screen", Fields(0, 0, H + 5, 100, H + 105, 400), raw100, -1, "outside the frame"},
        {"raw payload short", Fields(0, 0, 0, 100, 100, 400), cut(raw100, 1), -1, "short of 100 rows x 400"},
        {"raw pitch smaller than a row", Fields(0, 0, 0, 100, 100, 399), raw100, -1,
         "PitchInBytes 399 smaller than a row of 400"},
        {"raw pitch 0", Fields(0, 0, 0, 100, 100, 0), raw100, -1, "PitchInBytes 0 smaller"},
        {"raw pitch negative", Fields(0, 0, 0, 100, 100, -400), raw100, -1, "PitchInBytes -400 smaller"},
        {"raw pitch huge", Fields(0, 0, 0, 100, 100, INT32_MAX), raw100, -1,
         "short of 100 rows x 2147483647"},
        {"raw 3-byte pitch short of the row", format(Fields(0, 0, 0, 100, 100, 299), 20), raw100, -1,
         "PitchInBytes 299 smaller than a row of 300"},
        {"yuv payload short", Fields(1, 0, 0, 128, 96), cut(yuv, 1), -1, "YUV payload of"},
        {"yuv for a larger rect", Fields(1, 0, 0, 130, 96), yuv, -1, "YUV payload of"},
        {"yuv empty", Fields(1, 0, 0, 128, 96), {}, -1, "YUV payload of 0 bytes"},
        {"jpeg payload cut", Fields(3, 0, 0, 128, 96), cut(jpeg, jpeg.size() / 2), -1, "tjDecompress2"},
        {"jpeg payload garbage", Fields(3, 0, 0, 128, 96), std::vector<uint8_t>(500, 0x33), -1,
         "tjDecompressHeader3"},
        {"jpeg empty", Fields(3, 0, 0, 128, 96), {}, -1, "tjDecompressHeader3"},
        {"jpeg wider than its rect", Fields(3, 0, 0, 127, 96), jpeg, -1,
         "JPEG 128x96 does not fit PartialUpdateRect 127x96"},
        {"jpeg taller than its rect", Fields(3, 0, 0, 128, 95), jpeg, -1,
         "JPEG 128x96 does not fit PartialUpdateRect 128x95"},
        {"jpeg claiming 65500x65500", Fields(3, 0, 0, 0, 0), jpegHuge, -1, "JPEG 65500x65500 does not fit"},
        {"jpeg smaller than a rect that is visible only past it", Fields(3, -200, 0, 100, 100), jpeg, -1,
         "lies outside the frame"},
    };
    SADecoderFrameBuffer decoder;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        TestLogCapture log;
        TestFrame frame(W, H);
        const TestPacket p = TestPacketBuild(c.Fields, c.Payload, c.ByteCount);
        EXPECT_EQ(DecodePacket(decoder, p, frame), SADecodeResult::Failed);
        EXPECT_TRUE(frame.m_Updates.empty());
        EXPECT_TRUE(FrameUntouchedOutside(frame, 0, 0, 0, 0));
        EXPECT_TRUE(log.Contains(c.Line)) << log.AllGet();
    }

    // Blocks too short to hold a header at all.
    TestLogCapture log;
    TestFrame frame(W, H);
    std::unique_ptr<uint8_t[]> shortBlock(new uint8_t[127]());
    EXPECT_EQ(decoder.Decode(shortBlock.get(), 127, 0, frame), SADecodeResult::Failed);
    EXPECT_EQ(decoder.Decode(nullptr, 0, 0, frame), SADecodeResult::Failed);
    EXPECT_EQ(log.CountGet("has no whole header"), 2u);
    EXPECT_TRUE(frame.m_Updates.empty());
}

// Decode memory follows the frame a packet describes, not what its header or
// its JPEG claim: a picture with more pixels than its screen, or a screen
// beyond the 8K UHD area, is refused before anything is allocated, and a
// buffer larger than a steady stream needs is given back after use.
TEST(SADecoderFrameBuffer, DecodeMemoryIsBoundedByTheFrameAndLargeBuffersAreGivenBack)
{
    const std::vector<uint8_t> jpeg = TestJpegEncode(TestDesktopPicture(128, 96), 90, TJSAMP_420);
    // The same JPEG with its frame header claiming side x side pixels.
    auto claiming = [&](int32_t side)
    {
        std::vector<uint8_t> forged = jpeg;
        for (size_t i = 0; i + 8 < forged.size(); ++i)
            if (forged[i] == 0xFF && forged[i + 1] == 0xC0)
            {
                forged[i + 5] = forged[i + 7] = static_cast<uint8_t>(side >> 8);
                forged[i + 6] = forged[i + 8] = static_cast<uint8_t>(side);
                break;
            }
        return forged;
    };
    TestPacketFields huge = Fields(3, 0, 0, 16384, 16384);
    TestPacketFields beyond8K = Fields(3, 0, 0, 0, 0);
    beyond8K.ScreenWidth = beyond8K.ScreenHeight = 8192;
    const TestPacket refused[] = {TestPacketBuild(huge, claiming(16384)),
                                  TestPacketBuild(beyond8K, claiming(8192))};
    TestFrame frame(W, H);
    for (const TestPacket& p : refused)
    {
        SADecoderFrameBuffer decoder;
        const int64_t before = static_cast<int64_t>(NetTestHeapHeldGet());
        EXPECT_EQ(DecodePacket(decoder, p, frame), SADecodeResult::Failed);
        EXPECT_LT(static_cast<int64_t>(NetTestHeapHeldGet()) - before, int64_t(4) << 20);
    }

    // A real picture larger than the buffer kept between packets (a whole
    // 2048 x 1152 screen): decoded, then its buffer goes.
    const TestImage large = TestDesktopPicture(2048, 1152);
    TestPacketFields whole = Fields(3, 0, 0, 0, 0);
    whole.ScreenWidth = large.Width;
    whole.ScreenHeight = large.Height;
    const TestPacket p = TestPacketBuild(whole, TestJpegEncode(large, 90, TJSAMP_420));
    TestFrame largeFrame(large.Width, large.Height);
    SADecoderFrameBuffer decoder;
    const int64_t before = static_cast<int64_t>(NetTestHeapHeldGet());
    ASSERT_EQ(DecodePacket(decoder, p, largeFrame), SADecodeResult::Decoded);
    EXPECT_GE(TestPsnr(large.Bgrx.data(), large.Pitch(), largeFrame.Data(), largeFrame.Pitch(), large.Width,
                       large.Height),
              30.0);
    EXPECT_LT(static_cast<int64_t>(NetTestHeapHeldGet()) - before, int64_t(4) << 20);
}

// The H.264 branch itself is tested with real streams in tests/h264; here
// only that a payload that is no H.264 at all is a decoding error and draws
// nothing.
TEST(SADecoderFrameBuffer, H264PayloadWithoutAccessUnitIsADecodingError)
{
    SADecoderFrameBuffer decoder;
    TestLogCapture log;
    TestFrame frame(W, H);
    const TestPacket p = TestPacketBuild(Fields(4, 0, 0, 0, 0), std::vector<uint8_t>(64, 0));
    EXPECT_EQ(DecodePacket(decoder, p, frame), SADecodeResult::H264DecodeError);
    EXPECT_TRUE(frame.m_Updates.empty());
    EXPECT_TRUE(log.Contains("PSDecoderH264::Decode failed! m_Transform.InputSubmit"));

    // A header whose payload the receiver read past arrives without one: it
    // is refused quietly, since the stream itself is not broken, and the
    // decoder goes on with the next access unit.
    const TestPacket empty = TestPacketBuild(Fields(4, 0, 0, 0, 0), {});
    EXPECT_EQ(DecodePacket(decoder, empty, frame), SADecodeResult::Failed);
    EXPECT_TRUE(log.Contains("H.264 packet without an access unit"));
    EXPECT_TRUE(frame.m_Updates.empty());
}

namespace
{
// Runs the test body in a fresh temporary current directory.
class InTempDirectory
{
public:
    InTempDirectory()
    {
        m_Old = std::filesystem::current_path();
        char pattern[] = "/tmp/qm-pipeline-XXXXXX";
        m_Dir = mkdtemp(pattern);
        std::filesystem::current_path(m_Dir);
    }
    ~InTempDirectory()
    {
        std::filesystem::current_path(m_Old);
        std::error_code ec;
        std::filesystem::remove_all(m_Dir, ec);
    }
    std::filesystem::path m_Dir, m_Old;
};

std::vector<uint8_t> FileRead(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
} // namespace

TEST(SADecoderFrameBuffer, DumpsWriteTenJpegFilesThenStop)
{
    InTempDirectory temp;
    SADecoderFrameBuffer quiet;
    TestFrame frame(W, H);
    std::vector<std::vector<uint8_t>> payloads;
    for (int i = 0; i < 12; ++i)
        payloads.push_back(TestJpegEncode(TestDesktopPicture(64 + 8 * i, 48), 90, TJSAMP_420));

    // Option off: nothing written, no folder.
    ASSERT_EQ(DecodePacket(quiet, TestPacketBuild(Fields(3, 0, 0, 200, 200), payloads[0]), frame),
              SADecodeResult::Decoded);
    EXPECT_FALSE(std::filesystem::exists("JpegFrames"));

    SADecoderFrameBuffer decoder;
    decoder.DumpEnabledSet(true);
    TestLogCapture log;
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(
            DecodePacket(decoder, TestPacketBuild(Fields(3, 0, 0, 200, 200), payloads[i]), frame, i % 4),
            SADecodeResult::Decoded);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator("JpegFrames"))
        (void)entry, ++files;
    EXPECT_EQ(files, 10u);
    for (int i = 0; i < 10; ++i)
    {
        const std::string name =
            "JpegFrames/" + std::to_string(i + 1) + "_frag" + std::to_string(i % 4) + ".jpg";
        EXPECT_EQ(FileRead(name), payloads[i]) << name;
    }
    EXPECT_FALSE(std::filesystem::exists("JpegFrames/11_frag2.jpg"));
    EXPECT_FALSE(log.Contains("SAUtilFile")); // the 11th and 12th are skipped silently
    EXPECT_FALSE(std::filesystem::exists("H264Frames"));
}

TEST(SAUtilFile, FailuresAreLoggedAndDoNotStopDecoding)
{
    InTempDirectory temp;
    TestLogCapture log;
    const std::vector<uint8_t> data = {1, 2, 3};
    {
        // A plain file where the folder should be: every save fails at fopen.
        std::ofstream("Blocked") << "x";
        SAUtilFile file("Blocked", "jpg", 10);
        EXPECT_FALSE(file.Save(data.data(), data.size(), "frag0"));
        EXPECT_TRUE(log.Contains("SAUtilFile::Save failed! fopen "));
    }
    {
        // The current directory is gone: the folder cannot be created.
        std::filesystem::create_directory("gone");
        std::filesystem::current_path("gone");
        std::filesystem::remove(temp.m_Dir / "gone");
        SAUtilFile file("JpegFrames", "jpg", 10);
        EXPECT_FALSE(file.Save(data.data(), data.size(), "frag0"));
        EXPECT_TRUE(log.Contains("SAUtilFile::Create failed! mkdir "));
        EXPECT_TRUE(log.Contains("SAUtilFile::Save failed! Target path not created"));

        SADecoderFrameBuffer decoder;
        decoder.DumpEnabledSet(true);
        TestFrame frame(W, H);
        const TestPacket p = TestPacketBuild(Fields(3, 0, 0, 64, 48),
                                             TestJpegEncode(TestDesktopPicture(64, 48), 90, TJSAMP_420));
        EXPECT_EQ(DecodePacket(decoder, p, frame), SADecodeResult::Decoded);
    }
}

namespace
{
// A target that has no frame yet (no renderer): the decoder can clip only to
// the screen the packet announces.
class NoFrameTarget : public TestFrame
{
public:
    NoFrameTarget() : TestFrame(W, H) {}
    bool FrameSizeGet(int32_t&, int32_t&) override { return false; }
};
} // namespace

TEST(SADecoderFrameBuffer, TargetWithoutAFrameStillGetsRectanglesClippedToTheScreen)
{
    const TestImage source = TestDesktopPicture(W + 100, H);
    SADecoderFrameBuffer decoder;
    NoFrameTarget frame;
    const TestImage wire = SubImage(source, W - 40, 0, W + 60, 50);
    ASSERT_EQ(DecodePacket(decoder,
                           TestPacketBuild(Fields(0, W - 40, 0, W + 60, 50, wire.Pitch()), wire.Bgrx), frame),
              SADecodeResult::Decoded);
    ASSERT_EQ(frame.m_Updates.size(), 1u);
    EXPECT_EQ(frame.m_Updates[0].Right, W);
    EXPECT_EQ(frame.m_Violations, 0);
}
