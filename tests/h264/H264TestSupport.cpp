#include "H264TestSupport.h"

#include "peer/PeerEncoder.h"
#include "peer/PeerFrameSynth.h"
#include "pipeline/SADecLibJpeg.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

std::vector<H264TestUnit> H264TestStreamEncode(int32_t width, int32_t height, uint32_t first, uint32_t count,
                                               int quality, int gop)
{
    PeerEncoder encoder(PeerCodec::H264, quality, gop, 0, 60);
    std::vector<uint8_t> frame(size_t(width) * height * 4);
    std::vector<H264TestUnit> units;
    for (uint32_t n = first; n < first + count; ++n)
    {
        PeerFrameSynth(width, height, n, frame.data());
        const uint8_t* payload = nullptr;
        size_t bytes = 0;
        if (!encoder.BandEncode(frame.data(), width, size_t(width) * 4, height, payload, bytes))
            throw std::runtime_error("peer encoder failed");
        H264TestUnit unit;
        unit.FrameNumber = n;
        unit.Width = width;
        unit.Height = height;
        unit.AccessUnit.assign(payload, payload + bytes);
        units.push_back(std::move(unit));
    }
    return units;
}

TestImage H264TestSourceFrame(int32_t width, int32_t height, uint32_t frameNumber)
{
    TestImage image;
    image.Width = width;
    image.Height = height;
    image.Bgrx.resize(size_t(width) * height * 4);
    PeerFrameSynth(width, height, frameNumber, image.Bgrx.data());
    return image;
}

TestImage H264TestChromaReference(const TestImage& source)
{
    const std::vector<uint8_t> yuv = TestYuvEncode(source);
    TestImage out = source;
    SADecLibJpeg converter;
    if (!converter.YuvRgbConvert(yuv.data(), yuv.size(), out.Bgrx.data(), out.Bgrx.size(), source.Width,
                                 source.Pitch(), source.Height))
        throw std::runtime_error("YUV reference failed");
    return out;
}

TestImage H264TestSmoothPicture(int32_t width, int32_t height)
{
    TestImage image;
    image.Width = width;
    image.Height = height;
    image.Bgrx.resize(size_t(width) * height * 4);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
        {
            uint8_t* p = &image.Bgrx[(size_t(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>(128 + 110 * std::sin(x / 37.0));
            p[1] = static_cast<uint8_t>(128 + 110 * std::cos(y / 29.0));
            p[2] = static_cast<uint8_t>(128 + 100 * std::sin((x + 2 * y) / 53.0));
            p[3] = 255;
        }
    return image;
}

TestPacket H264TestPacket(const std::vector<uint8_t>& accessUnit, int32_t screenWidth, int32_t screenHeight)
{
    TestPacketFields fields;
    fields.ScreenWidth = screenWidth;
    fields.ScreenHeight = screenHeight;
    fields.PitchInBytes = screenWidth * 4;
    fields.Left = 0;
    fields.Top = 0;
    fields.Right = screenWidth;
    fields.Bottom = screenHeight;
    fields.CompressionType = 4;
    fields.Quality = 80;
    return TestPacketBuild(fields, accessUnit);
}

std::vector<int> H264TestNalTypes(const std::vector<uint8_t>& au)
{
    std::vector<int> types;
    for (size_t p = 0; p + 3 < au.size(); ++p)
    {
        if (au[p] == 0 && au[p + 1] == 0 && au[p + 2] == 1)
        {
            types.push_back(au[p + 3] & 0x1F);
            p += 3;
        }
    }
    return types;
}
