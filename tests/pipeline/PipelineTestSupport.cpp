#include "PipelineTestSupport.h"

#include "core/SALog.h"
#include "net/SANetProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <turbojpeg.h>

namespace
{
void FillRect(TestImage& image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t r, uint8_t g,
              uint8_t b)
{
    for (int32_t y = std::max(y0, 0); y < std::min(y1, image.Height); ++y)
        for (int32_t x = std::max(x0, 0); x < std::min(x1, image.Width); ++x)
        {
            uint8_t* p = &image.Bgrx[(size_t(y) * image.Width + x) * 4];
            p[0] = b;
            p[1] = g;
            p[2] = r;
            p[3] = 0xFF;
        }
}

// Small deterministic generator so the picture is the same on every run.
uint32_t Next(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

void Window(TestImage& image, int32_t x0, int32_t y0, int32_t w, int32_t h, uint32_t seed)
{
    FillRect(image, x0 - 1, y0 - 1, x0 + w + 1, y0 + h + 1, 96, 96, 104); // border
    // Title bar: a light, slightly blue horizontal gradient.
    for (int32_t x = x0; x < x0 + w; ++x)
    {
        const uint8_t shade = static_cast<uint8_t>(200 + 30 * (x - x0) / std::max(w, 1));
        FillRect(image, x, y0, x + 1, y0 + 22, shade, static_cast<uint8_t>(shade + 5), 240);
    }
    FillRect(image, x0 + w - 18, y0 + 4, x0 + w - 4, y0 + 18, 200, 120, 110); // close button
    FillRect(image, x0, y0 + 22, x0 + w, y0 + h, 250, 250, 248);              // client area
    // Text: dark grey letters from a small 5x7 font, words separated by
    // spaces, on a 16-pixel line grid, with a lighter pixel where strokes
    // turn, as hinted text has.
    static const uint8_t FONT[8][7] = {
        {0x0E, 0x11, 0x1F, 0x10, 0x0E, 0x00, 0x00}, // e (x-height)
        {0x16, 0x19, 0x11, 0x11, 0x11, 0x00, 0x00}, // n
        {0x0E, 0x11, 0x11, 0x11, 0x0E, 0x00, 0x00}, // o
        {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, // l
        {0x1E, 0x01, 0x0F, 0x11, 0x0F, 0x00, 0x00}, // a
        {0x08, 0x1E, 0x08, 0x08, 0x06, 0x00, 0x00}, // t
        {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}, // h
        {0x0F, 0x10, 0x0E, 0x01, 0x1E, 0x00, 0x00}, // s
    };
    uint32_t state = seed;
    for (int32_t line = y0 + 34; line + 10 < y0 + h; line += 16)
    {
        int32_t x = x0 + 10;
        while (x + 60 < x0 + w)
        {
            const int32_t word = 2 + int32_t(Next(state) % 8);
            for (int32_t c = 0; c < word; ++c, x += 6)
            {
                const uint8_t* glyph = FONT[Next(state) % 8];
                const bool tall = glyph[5] || glyph[6];
                const int32_t top = tall ? line : line + 2;
                for (int32_t gy = 0; gy < 7; ++gy)
                    for (int32_t gx = 0; gx < 5; ++gx)
                        if ((glyph[gy] >> (4 - gx)) & 1)
                        {
                            const uint8_t ink = ((gx + gy) % 4 == 0) ? 90 : 40;
                            FillRect(image, x + gx, top + gy, x + gx + 1, top + gy + 1, ink, ink, ink);
                        }
            }
            x += 6;
        }
    }
}
} // namespace

TestImage TestDesktopPicture(int32_t width, int32_t height)
{
    TestImage image;
    image.Width = width;
    image.Height = height;
    image.Bgrx.assign(size_t(width) * height * 4, 0xFF);
    // Wallpaper: a calm blue-grey diagonal gradient.
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
        {
            uint8_t* p = &image.Bgrx[(size_t(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(150 + 60 * y / height);
            p[1] = static_cast<uint8_t>(120 + 40 * x / width);
            p[2] = static_cast<uint8_t>(100 + 30 * (x + y) / (width + height));
        }
    // Desktop icons: coloured squares on a grid, their edges anti-aliased
    // into the wallpaper over two pixels as drawn icons are.
    for (int32_t i = 0; i < 6; ++i)
    {
        const int32_t x0 = 16, y0 = 16 + i * 56, size = 40;
        const uint8_t colour[3] = {static_cast<uint8_t>(220 - 25 * i), 150,
                                   static_cast<uint8_t>(60 + 30 * i)};
        for (int32_t y = y0; y < std::min(y0 + size, height); ++y)
            for (int32_t x = x0; x < std::min(x0 + size, width); ++x)
            {
                const int32_t edge = std::min({x - x0, y - y0, x0 + size - 1 - x, y0 + size - 1 - y});
                const int32_t weight = edge >= 2 ? 4 : edge + 2; // out of 4
                uint8_t* p = &image.Bgrx[(size_t(y) * width + x) * 4];
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<uint8_t>((colour[c] * weight + p[c] * (4 - weight)) / 4);
            }
    }
    Window(image, width / 8, height / 10, width / 2, height / 2, 7);
    Window(image, width * 3 / 8, height * 2 / 5, width / 2, height / 2, 11);
    // A photo-like patch: smooth shapes.
    for (int32_t y = height * 3 / 5; y < height * 9 / 10; ++y)
        for (int32_t x = width / 16; x < width / 3; ++x)
        {
            uint8_t* p = &image.Bgrx[(size_t(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(128 + 100 * std::sin(x * 0.05));
            p[1] = static_cast<uint8_t>(128 + 100 * std::cos(y * 0.07));
            p[2] = static_cast<uint8_t>(128 + 90 * std::sin((x + y) * 0.03));
        }
    // Task bar.
    FillRect(image, 0, height - 30, width, height, 32, 36, 44);
    return image;
}

double TestPsnr(const uint8_t* a, int32_t pitchA, const uint8_t* b, int32_t pitchB, int32_t width,
                int32_t height)
{
    double sum = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
            {
                const double d =
                    double(a[size_t(y) * pitchA + x * 4 + c]) - b[size_t(y) * pitchB + x * 4 + c];
                sum += d * d;
            }
    if (sum == 0)
        return 99.0;
    const double mse = sum / (double(width) * height * 3);
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<uint8_t> TestJpegEncode(const TestImage& image, int quality, int subsampling, int flags)
{
    tjhandle handle = tjInitCompress();
    EXPECT_NE(handle, nullptr);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(handle, image.Bgrx.data(), image.Width, image.Pitch(), image.Height, TJPF_BGRX,
                               &jpeg, &size, subsampling, quality, flags);
    EXPECT_EQ(rc, 0) << tjGetErrorStr2(handle);
    std::vector<uint8_t> out(jpeg, jpeg + (rc == 0 ? size : 0));
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

std::vector<uint8_t> TestYuvEncode(const TestImage& image)
{
    tjhandle handle = tjInitCompress();
    EXPECT_NE(handle, nullptr);
    std::vector<uint8_t> out(tjBufSizeYUV2(image.Width, 4, image.Height, TJSAMP_420));
    const int rc = tjEncodeYUV3(handle, image.Bgrx.data(), image.Width, image.Pitch(), image.Height,
                                TJPF_BGRX, out.data(), 4, TJSAMP_420, 0);
    EXPECT_EQ(rc, 0) << tjGetErrorStr2(handle);
    tjDestroy(handle);
    return out;
}

TestPacket TestPacketBuild(const TestPacketFields& f, const std::vector<uint8_t>& payload, int64_t byteCount)
{
    // Written field by field at the wire offsets, independently of the
    // protocol library's own encoder.
    SAPacketHeader header;
    header.HeaderTypeSet(f.HeaderType);
    header.ByteCountSet(static_cast<uint32_t>(byteCount < 0 ? int64_t(payload.size()) : byteCount));
    header.S32Set(8, f.ScreenWidth);
    header.S32Set(12, f.ScreenHeight);
    header.S32Set(16, f.PitchInBytes);
    header.U32Set(20, f.ColorFormat);
    header.S32Set(24, f.Left);
    header.S32Set(28, f.Top);
    header.S32Set(32, f.Right);
    header.S32Set(36, f.Bottom);
    header.U32Set(40, f.CompressionType);
    header.S32Set(48, f.Quality);
    TestPacket packet;
    packet.Size = SA_PACKET_HEADER_SIZE + payload.size();
    packet.Bytes.reset(new uint8_t[packet.Size]);
    std::memcpy(packet.Bytes.get(), header.m_Bytes, SA_PACKET_HEADER_SIZE);
    if (!payload.empty())
        std::memcpy(packet.Bytes.get() + SA_PACKET_HEADER_SIZE, payload.data(), payload.size());
    return packet;
}

TestFrame::TestFrame(int32_t width, int32_t height, uint8_t fill)
    : m_Width(width), m_Height(height), m_Pixels(size_t(width) * height * 4, fill)
{
}

bool TestFrame::FrameSizeGet(int32_t& width, int32_t& height)
{
    width = m_Width;
    height = m_Height;
    return true;
}

void TestFrame::FrameBufferPartialUpdate(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                         const uint8_t* bgrx, int32_t pitch)
{
    m_Updates.push_back({left, top, right, bottom});
    if (left < 0 || top < 0 || right > m_Width || bottom > m_Height || left >= right || top >= bottom ||
        !bgrx || pitch < (right - left) * 4)
    {
        ++m_Violations;
        ADD_FAILURE() << "update " << left << "/" << top << "/" << right << "/" << bottom << " pitch "
                      << pitch << " outside the " << m_Width << "x" << m_Height << " frame";
        return;
    }
    for (int32_t y = top; y < bottom; ++y)
        std::memcpy(&m_Pixels[(size_t(y) * m_Width + left) * 4], bgrx + size_t(y - top) * pitch,
                    size_t(right - left) * 4);
}

TestLogCapture::TestLogCapture() : m_OldMask(SALogMaskGet())
{
    SALogMaskSet(0xFFFFFFFF);
    m_SinkId = SALogSinkAdd(
        [this](uint32_t, std::string_view line)
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Lines.emplace_back(line);
        });
}

TestLogCapture::~TestLogCapture()
{
    SALogSinkRemove(m_SinkId);
    SALogMaskSet(m_OldMask);
}

size_t TestLogCapture::CountGet(const std::string& text) const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    size_t n = 0;
    for (const std::string& line : m_Lines)
        if (line.find(text) != std::string::npos)
            ++n;
    return n;
}

bool TestLogCapture::Contains(const std::string& text) const
{
    return CountGet(text) > 0;
}

std::string TestLogCapture::AllGet() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    std::string all;
    for (const std::string& line : m_Lines)
        all += line;
    return all;
}
