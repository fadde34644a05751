#pragma once
// Shared pieces of the pipeline tests: a desktop-like test picture, real
// TurboJPEG encoders, a pixel frame that checks every rectangle it is given,
// FrameBuffer packets built byte by byte, and log capture.
#include "pipeline/SADecodeTarget.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// width x height B, G, R, X pixels, rows packed (pitch width x 4).
struct TestImage
{
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Bgrx;
    int32_t Pitch() const { return Width * 4; }
};

// A desktop: gradient wallpaper, windows with title bars, borders, text-like
// glyph rows, an icon grid and a photo-like patch. Deterministic.
TestImage TestDesktopPicture(int32_t width, int32_t height);

// PSNR in dB over B, G and R of two images of the same size (X ignored);
// 99 when identical.
double TestPsnr(const uint8_t* a, int32_t pitchA, const uint8_t* b, int32_t pitchB, int32_t width,
                int32_t height);

// Real encoders. subsampling is a TJSAMP_* value.
std::vector<uint8_t> TestJpegEncode(const TestImage& image, int quality, int subsampling, int flags = 0);
// YUV 4:2:0 planar with rows padded to 4 bytes.
std::vector<uint8_t> TestYuvEncode(const TestImage& image);

// A FrameBuffer packet (header + payload) in a block of exactly its size, so
// that AddressSanitizer catches any read past it.
struct TestPacketFields
{
    int32_t ScreenWidth = 0, ScreenHeight = 0, PitchInBytes = 0;
    uint32_t ColorFormat = 22;
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    uint32_t CompressionType = 0;
    int32_t Quality = 90;
    uint32_t HeaderType = 2;
};
struct TestPacket
{
    std::unique_ptr<uint8_t[]> Bytes;
    size_t Size = 0;
};
// byteCount < 0: ByteCount = payload size; else the header announces byteCount
// whatever the payload holds.
TestPacket TestPacketBuild(const TestPacketFields& fields, const std::vector<uint8_t>& payload,
                           int64_t byteCount = -1);

// A server-sized frame of B, G, R, X pixels. Every update must be a non-empty
// rectangle inside the frame; anything else is recorded as a violation and
// not copied.
class TestFrame : public SADecodeTarget
{
public:
    struct Update
    {
        int32_t Left, Top, Right, Bottom;
    };

    TestFrame(int32_t width, int32_t height, uint8_t fill = 0x5A);

    bool FrameSizeGet(int32_t& width, int32_t& height) override;
    void FrameBufferPartialUpdate(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                  const uint8_t* bgrx, int32_t pitch) override;

    const uint8_t* PixelGet(int32_t x, int32_t y) const { return &m_Pixels[(size_t(y) * m_Width + x) * 4]; }
    const uint8_t* Data() const { return m_Pixels.data(); }
    int32_t Pitch() const { return m_Width * 4; }

    int32_t m_Width, m_Height;
    std::vector<uint8_t> m_Pixels;
    std::vector<Update> m_Updates;
    int m_Violations = 0;
};

// Captures every log line while alive (mask widened to all categories).
class TestLogCapture
{
public:
    TestLogCapture();
    ~TestLogCapture();
    bool Contains(const std::string& text) const;
    size_t CountGet(const std::string& text) const;
    std::string AllGet() const;

private:
    mutable std::mutex m_Lock;
    std::vector<std::string> m_Lines;
    uint32_t m_OldMask;
    int m_SinkId;
};
