// A machine where no GL path works: run with Mesa held below both OpenGL 3.3
// core and OpenGL ES 3.0 (see CMakeLists.txt), the off-screen display view
// that must draw with GL says so in the log and lets the frame buffer
// processor acknowledge nothing, since no frame was shown.
#include "RenderTestSupport.h"
#include "core/PSTime.h"
#include "net/SANetClientControl.h"
#include "net/SAQueueScreenUpdates.h"
#include "pipeline/SAMvcModel.h"
#include "render/SADisplayViewOffscreen.h"
#include "tests/processor/ProcessorTestAckCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>

namespace
{
// Counts presents, repaints (count 0) included.
class CountingView : public SADisplayViewOffscreen
{
public:
    CountingView() : SADisplayViewOffscreen(Kind::Gl, nullptr, 64, 48) {}
    void Present(int32_t count) override
    {
        SADisplayViewOffscreen::Present(count);
        ++(count > 0 ? m_Frames : m_Repaints);
    }
    std::atomic<int> m_Frames{0};
    std::atomic<int> m_Repaints{0};
};

// One whole raw frame of 64 x 48 in one packet.
void FrameAppend(SAQueueScreenUpdates& queue)
{
    const size_t payload = 64u * 48u * 4u;
    std::unique_ptr<uint8_t[]> block(new uint8_t[SA_PACKET_HEADER_SIZE + payload]());
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
    header.ByteCountSet(static_cast<uint32_t>(payload));
    SAFrameBufferInfo info;
    info.ScreenWidth = 64;
    info.ScreenHeight = 48;
    info.PitchInBytes = 64 * 4;
    info.ColorFormat = 22;
    info.Right = 64;
    info.Bottom = 48;
    SAPacketFrameBufferEncode(header, info);
    std::memcpy(block.get(), header.m_Bytes, SA_PACKET_HEADER_SIZE);
    queue.PacketAppend(std::move(block), SA_PACKET_HEADER_SIZE + payload);
}

bool WaitFor(const std::function<bool()>& done)
{
    // A guard against a hang, not a timing check.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        PSTimeSleep(2);
    }
    return true;
}
} // namespace

TEST(RendererNone, TheViewSaysSoAndNoFrameIsAcknowledged)
{
    RenderLogCapture log;
    SAQueueScreenUpdates queue(nullptr);
    AckCounter client;
    CountingView view;
    SAMvcModel model(&queue, &client, &view);
    ASSERT_TRUE(model.Initialize());
    for (int frame = 0; frame < 3; ++frame)
        FrameAppend(queue);
    // The repaint is taken after the frames' acknowledgements would have
    // gone out: the processor thread does one entry after the other.
    ASSERT_TRUE(WaitFor([&] { return view.m_Frames.load() == 3; }));
    queue.RepaintAppend();
    ASSERT_TRUE(WaitFor([&] { return view.m_Repaints.load() == 1; }));
    model.Uninitialize();

    EXPECT_EQ(client.m_Acks.load(), 0u);
    EXPECT_FALSE(view.IsGlGet());
    EXPECT_FALSE(view.PictureShowableGet());
    EXPECT_EQ(log.Count(SA_LOG_FAILURE,
                        "SADisplayViewOffscreen::ResolutionSet failed! neither OpenGL 3.3 core "
                        "nor OpenGL ES 3.0 renders, frames are not acknowledged"),
              1)
        << log.All();
}
