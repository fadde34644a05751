// Four decoders on four threads, as the decoder tasks run: each owns its
// TurboJPEG state, so they share nothing but the target, which locks.
// Run under ThreadSanitizer.
#include "PipelineTestSupport.h"
#include "pipeline/SADecoderFrameBuffer.h"

#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <turbojpeg.h>

namespace
{
class LockedFrame : public SADecodeTarget
{
public:
    LockedFrame(int32_t w, int32_t h) : m_Frame(w, h) {}
    bool FrameSizeGet(int32_t& width, int32_t& height) override
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Frame.FrameSizeGet(width, height);
    }
    void FrameBufferPartialUpdate(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                  const uint8_t* bgrx, int32_t pitch) override
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Frame.FrameBufferPartialUpdate(left, top, right, bottom, bgrx, pitch);
    }
    std::mutex m_Lock;
    TestFrame m_Frame;
};
} // namespace

TEST(SADecoderFrameBuffer, FourDecodersDecodeTheirQuartersInParallel)
{
    constexpr int32_t W = 512, H = 320;
    const TestImage source = TestDesktopPicture(W, H);
    // Quarter q: JPEG for the even ones, YUV for the odd ones, with a damaged
    // JPEG now and then so that failure paths run concurrently as well.
    std::vector<TestPacket> packets[4];
    for (int q = 0; q < 4; ++q)
    {
        const int32_t x0 = (q % 2) * W / 2, y0 = (q / 2) * H / 2;
        TestImage quarter;
        quarter.Width = W / 2;
        quarter.Height = H / 2;
        for (int32_t y = y0; y < y0 + H / 2; ++y)
            quarter.Bgrx.insert(quarter.Bgrx.end(), source.Bgrx.begin() + (size_t(y) * W + x0) * 4,
                                source.Bgrx.begin() + (size_t(y) * W + x0 + W / 2) * 4);
        const std::vector<uint8_t> good =
            q % 2 == 0 ? TestJpegEncode(quarter, 90, TJSAMP_420) : TestYuvEncode(quarter);
        const std::vector<uint8_t> bad(good.begin(), good.begin() + good.size() / 2);
        TestPacketFields f;
        f.ScreenWidth = W;
        f.ScreenHeight = H;
        f.PitchInBytes = W * 4;
        f.CompressionType = q % 2 == 0 ? 3 : 1;
        f.Left = x0, f.Top = y0, f.Right = x0 + W / 2, f.Bottom = y0 + H / 2;
        for (int i = 0; i < 20; ++i)
            packets[q].push_back(TestPacketBuild(f, i % 5 == 3 ? bad : good));
        packets[q].push_back(TestPacketBuild(f, good)); // the last one is whole
    }

    LockedFrame frame(W, H);
    std::vector<std::thread> threads;
    int decoded[4] = {};
    for (int q = 0; q < 4; ++q)
        threads.emplace_back(
            [&, q]
            {
                SADecoderFrameBuffer decoder;
                for (const TestPacket& p : packets[q])
                    decoded[q] += decoder.Decode(p.Bytes.get(), p.Size, q, frame) == SADecodeResult::Decoded;
            });
    for (std::thread& t : threads)
        t.join();

    for (int q = 0; q < 4; ++q)
        EXPECT_EQ(decoded[q], 17) << "quarter " << q;
    EXPECT_EQ(frame.m_Frame.m_Violations, 0);
    EXPECT_GE(TestPsnr(source.Bgrx.data(), source.Pitch(), frame.m_Frame.Data(), frame.m_Frame.Pitch(), W, H),
              38.0);
}
