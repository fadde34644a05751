// The frame buffer processor driven through its queue: fragment indices,
// presents, acknowledgements and markers, with a real decoder path into the
// memory-only renderer.
#include "core/PSTime.h"
#include "core/SALog.h"
#include "net/SANetClientControl.h"
#include "net/SAQueueScreenUpdates.h"
#include "pipeline/SAMvcModel.h"
#include "pipeline/SAPipelineOptions.h"
#include "render/SADisplayViewOffscreen.h"
#include "tests/core/SATestLogCapture.h"
#include "tests/processor/ProcessorTestAckCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <sys/mman.h>
#include <thread>
#include <utility>
#include <vector>

namespace
{
bool WaitFor(const std::function<bool()>& pred)
{
    // A guard against a hang, not a timing check.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!pred())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        PSTimeSleep(2);
    }
    return true;
}

// Hands the decoder a page it may not write as the renderer's own pixels,
// after the renderer reserved them: the decode faults inside TurboJPEG while
// it holds the reservation.
class FaultingTarget : public SADecodeTarget
{
public:
    FaultingTarget() : m_pPage(mmap(nullptr, 1 << 20, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {}
    ~FaultingTarget() override { munmap(m_pPage, 1 << 20); }
    bool FrameSizeGet(int32_t& width, int32_t& height) override
    {
        return m_pReal->FrameSizeGet(width, height);
    }
    void FrameBufferPartialUpdate(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                  const uint8_t* bgrx, int32_t pitch) override
    {
        m_pReal->FrameBufferPartialUpdate(left, top, right, bottom, bgrx, pitch);
    }
    uint8_t* FrameRegionAcquire(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                int32_t& pitch) override
    {
        return m_pReal->FrameRegionAcquire(left, top, right, bottom, pitch) ? static_cast<uint8_t*>(m_pPage)
                                                                            : nullptr;
    }
    void FrameRegionRelease(int32_t left, int32_t top, int32_t right, int32_t bottom) override
    {
        m_pReal->FrameRegionRelease(left, top, right, bottom);
    }
    SADecodeTarget* m_pReal = nullptr;

private:
    void* m_pPage;
};

// The off-screen view with the memory-only renderer, noting every present.
class RecordingView : public SADisplayViewOffscreen
{
public:
    // The next decode goes to m_Faulting.
    std::atomic<bool> m_FaultOnce{false};
    FaultingTarget m_Faulting;
    SADecodeTarget* DecodeTargetGet() override
    {
        SADecodeTarget* real = SADisplayViewOffscreen::DecodeTargetGet();
        if (real == nullptr || !m_FaultOnce.exchange(false))
            return real;
        m_Faulting.m_pReal = real;
        return &m_Faulting;
    }
    RecordingView() : SADisplayViewOffscreen(Kind::Cpu, nullptr, 640, 480) {}
    // While set, every resolution request flips "Screen update rectangles
    // only", so the next fragment asks for the other render mode and the view
    // replaces its renderer and decode target.
    std::atomic<bool> m_ModeFlip{false};
    bool ResolutionSet(int32_t width, int32_t height, bool allowFull) override
    {
        const bool result = SADisplayViewOffscreen::ResolutionSet(width, height, allowFull);
        if (m_ModeFlip.load())
            SAPipelineOptions::s_ScreenUpdateRectanglesOnly.store(allowFull);
        return result;
    }
    std::atomic<int> m_PresentDelayMs{0};
    void Present(int32_t count) override
    {
        SADisplayViewOffscreen::Present(count);
        std::this_thread::sleep_for(std::chrono::milliseconds(m_PresentDelayMs.load()));
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Presents.push_back(count);
    }
    std::vector<int32_t> PresentsGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Presents;
    }

private:
    std::mutex m_Lock;
    std::vector<int32_t> m_Presents;
};

constexpr int32_t W = 64;
constexpr int32_t H = 32;

// A raw packet filling `rect` with one colour.
void PacketAppend(SAQueueScreenUpdates& queue, int16_t countFragments, uint32_t fourFragments, int32_t top,
                  int32_t bottom, uint8_t value, uint32_t compression = 0, int32_t width = W,
                  int32_t height = H)
{
    const size_t payload = static_cast<size_t>(bottom - top) * width * 4;
    std::unique_ptr<uint8_t[]> block(new uint8_t[SA_PACKET_HEADER_SIZE + payload]);
    SAPacketHeader h;
    h.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
    h.ByteCountSet(static_cast<uint32_t>(payload));
    SAFrameBufferInfo info;
    info.ScreenWidth = width;
    info.ScreenHeight = height;
    info.PitchInBytes = width * 4;
    info.ColorFormat = 22;
    info.Left = 0;
    info.Top = top;
    info.Right = width;
    info.Bottom = bottom;
    info.CompressionType = compression;
    info.CountFragments = countFragments;
    info.FourFragments = fourFragments;
    SAPacketFrameBufferEncode(h, info);
    std::memcpy(block.get(), h.m_Bytes, SA_PACKET_HEADER_SIZE);
    std::memset(block.get() + SA_PACKET_HEADER_SIZE, value, payload);
    queue.PacketAppend(std::move(block), SA_PACKET_HEADER_SIZE + payload);
}

struct Pipeline
{
    SAQueueScreenUpdates queue{nullptr};
    AckCounter client;
    RecordingView view;
    SAMvcModel model{&queue, &client, &view};
    Pipeline() { EXPECT_TRUE(model.Initialize()); }
    ~Pipeline() { model.Uninitialize(); }

    uint8_t PixelAt(int x, int y)
    {
        std::vector<uint8_t> pixels;
        int w = 0, h = 0;
        if (!view.FrameSnapshotGet(&pixels, &w, &h) || x >= w || y >= h)
            return 0;
        return pixels[(static_cast<size_t>(y) * w + x) * 4];
    }
    bool Drained() { return queue.IsEmpty(); }
};
} // namespace

TEST(FrameBufferProcessor, PresentsOncePerFrameAndAcknowledgesEachFrameBegun)
{
    Pipeline p;
    for (int frame = 0; frame < 5; ++frame)
    {
        PacketAppend(p.queue, 2, 0, 0, 16, static_cast<uint8_t>(10 + frame));
        PacketAppend(p.queue, 2, 0, 16, 32, static_cast<uint8_t>(100 + frame));
    }
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 5; }));
    EXPECT_EQ(p.view.PresentsGet(), (std::vector<int32_t>{2, 2, 2, 2, 2}));
    EXPECT_EQ(p.PixelAt(3, 3), 14);
    EXPECT_EQ(p.PixelAt(3, 20), 104);
}

TEST(FrameBufferProcessor, RepaintBetweenFragmentsPresentsZeroAndKeepsTheIndex)
{
    Pipeline p;
    PacketAppend(p.queue, 2, 0, 0, 16, 1);
    p.queue.RepaintAppend();
    PacketAppend(p.queue, 2, 0, 16, 32, 2);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 1; }));
    EXPECT_EQ(p.view.PresentsGet(), (std::vector<int32_t>{0, 2}));
}

TEST(FrameBufferProcessor, FragmentIndexFollowsEachPacketsOwnCount)
{
    Pipeline p;
    // Counter 0 mod 2 = 0, then counter 1 mod 1 = 0: the second packet is a
    // whole frame of its own and is presented at once.
    PacketAppend(p.queue, 2, 0, 0, 16, 1);
    PacketAppend(p.queue, 1, 0, 0, 32, 2);
    ASSERT_TRUE(WaitFor([&] { return p.view.PresentsGet().size() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 2; }));
    EXPECT_EQ(p.view.PresentsGet(), (std::vector<int32_t>{1}));
    // Both frames begun before the present are acknowledged by it.

    // CountFragments 0 and FourFragments 0: a whole frame, presented once.
    PacketAppend(p.queue, 0, 0, 0, 32, 3);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 3; }));
    EXPECT_EQ(p.view.PresentsGet(), (std::vector<int32_t>{1, 1}));
}

TEST(FrameBufferProcessor, UnknownCompressionTypesAreDroppedWithoutAdvancing)
{
    Pipeline p;
    PacketAppend(p.queue, 2, 0, 0, 16, 1);
    PacketAppend(p.queue, 2, 0, 0, 16, 9, 2);
    PacketAppend(p.queue, 2, 0, 0, 16, 9, 5);
    PacketAppend(p.queue, 2, 0, 0, 16, 9, 6);
    // Takes the index the dropped ones would have had: the frame completes.
    PacketAppend(p.queue, 2, 0, 16, 32, 2);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 1; }));
    EXPECT_EQ(p.view.PresentsGet(), (std::vector<int32_t>{2}));
    EXPECT_EQ(p.PixelAt(0, 0), 1);
    EXPECT_EQ(p.model.LastCompressionTypeGet(), 0u);
}

TEST(FrameBufferProcessor, FragmentResetStartsANewFrame)
{
    Pipeline p;
    PacketAppend(p.queue, 2, 0, 0, 16, 1); // a frame that never completes
    p.queue.FragmentResetAppend();
    PacketAppend(p.queue, 2, 0, 0, 16, 2); // fragment 0 again
    PacketAppend(p.queue, 2, 0, 16, 32, 3);
    ASSERT_TRUE(WaitFor([&] { return p.view.PresentsGet().size() == 1; }));
    // Two frames were begun (the broken one and this one) before the present.
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 2; }));
    EXPECT_EQ(p.PixelAt(0, 0), 2);
}

TEST(FrameBufferProcessor, MoreThanFourFragmentsNeverReuseARunningTask)
{
    Pipeline p;
    // Eight bands of four rows: fragment i and i + 4 share a decoder task.
    for (int frame = 0; frame < 20; ++frame)
        for (int band = 0; band < 8; ++band)
            PacketAppend(p.queue, 8, 0, band * 4, band * 4 + 4, static_cast<uint8_t>(band * 10 + frame));
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 20; }));
    for (int band = 0; band < 8; ++band)
        EXPECT_EQ(p.PixelAt(5, band * 4 + 1), band * 10 + 19) << band;
    EXPECT_EQ(p.view.PresentsGet().size(), 20u);
}

// Each fragment of a four-fragment YUV stream asks for the other render mode, so
// the view replaces its renderer while the fragments before it may still be
// copying: none of them may write into a renderer already gone (ASan).
TEST(FrameBufferProcessor, RenderModeChangeNeverReplacesARendererInUse)
{
    constexpr int32_t width = 512, height = 384, band = height / 4;
    Pipeline p;
    p.view.m_ModeFlip = true;
    for (int frame = 0; frame < 16; ++frame)
        for (int i = 0; i < 4; ++i)
            PacketAppend(p.queue, 4, 0, i * band, (i + 1) * band, static_cast<uint8_t>(i + 1), 1, width,
                         height);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 16; }));
    p.view.m_ModeFlip = false;
    for (int i = 0; i < 4; ++i)
        PacketAppend(p.queue, 4, 0, i * band, (i + 1) * band, static_cast<uint8_t>(50 + i), 0, width, height);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 17; }));
    SAPipelineOptions::s_ScreenUpdateRectanglesOnly.store(false);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p.PixelAt(width - 1, i * band + 1), 50 + i) << i;
}

// A fault inside the library that decodes straight into the frame: the
// worker's guard catches it, the frame's reservation goes with the job, and
// that frame and the next are presented and acknowledged.
TEST(FrameBufferProcessor, FaultInsideADecodeReleasesTheFrameAndTheStreamGoesOn)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "faults are provoked with the sanitizer's own handler off";
#endif
    SATestLogCapture log;
    Pipeline p;
    p.view.m_FaultOnce = true;
    PacketAppend(p.queue, 1, 0, 0, H, 128, 1); // YUV, decoded into the frame
    PacketAppend(p.queue, 1, 0, 0, H, 9);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 2; }));
    EXPECT_EQ(log.Count("EXCEPTION_ACCESS_VIOLATION\n"), 1u);
    EXPECT_EQ(p.PixelAt(5, 5), 9);
    PacketAppend(p.queue, 1, 0, 0, H, 128, 1);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 3; }));
    EXPECT_EQ(p.PixelAt(5, 5), 128);
}

TEST(FrameBufferProcessor, NegativeFragmentCountIsRefusedAndTheStreamGoesOn)
{
    Pipeline p;
    PacketAppend(p.queue, -3, 0, 0, 32, 7);
    PacketAppend(p.queue, 1, 0, 0, 32, 8);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 1; }));
    EXPECT_EQ(p.PixelAt(0, 0), 8);
}

// A header alone (ByteCount 0), as the receiver passes on a fragment whose
// screen or rectangle is beyond the viewer's bounds after reading past its
// payload. `change` makes it so.
void HeaderOnlyAppend(SAQueueScreenUpdates& queue, int16_t countFragments, uint32_t compression,
                      const std::function<void(SAFrameBufferInfo&)>& change)
{
    SAPacketHeader h;
    h.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
    SAFrameBufferInfo info;
    info.ScreenWidth = W;
    info.ScreenHeight = H;
    info.PitchInBytes = W * 4;
    info.ColorFormat = 22;
    info.Right = W;
    info.Bottom = H;
    info.CompressionType = compression;
    info.CompressionInfoQuality = compression >= 3 ? 80 : 0;
    info.CountFragments = countFragments;
    change(info);
    SAPacketFrameBufferEncode(h, info);
    std::unique_ptr<uint8_t[]> block(new uint8_t[SA_PACKET_HEADER_SIZE]);
    std::memcpy(block.get(), h.m_Bytes, SA_PACKET_HEADER_SIZE);
    queue.PacketAppend(std::move(block), SA_PACKET_HEADER_SIZE);
}

// The server counts such a fragment into its frame and waits for the frame's
// acknowledgement: the frame is presented and acknowledged as usual, nothing
// is drawn from it, and the fragments after it keep their indices.
TEST(FrameBufferProcessor, FragmentsOutOfBoundsStillCountTowardsTheirFrame)
{
    Pipeline p;
    PacketAppend(p.queue, 2, 0, 0, 16, 5);
    PacketAppend(p.queue, 2, 0, 16, 32, 5);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 1; }));
    // Two-band frame whose first band has an inverted rectangle.
    HeaderOnlyAppend(p.queue, 2, 0, [](SAFrameBufferInfo& fb) { std::swap(fb.Top, fb.Bottom); });
    PacketAppend(p.queue, 2, 0, 16, 32, 6);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 2; }));
    EXPECT_EQ(p.PixelAt(0, 0), 5);
    EXPECT_EQ(p.PixelAt(0, 20), 6);
    // A screen larger than any display, in every codec: the renderer keeps
    // its size and picture, and an H.264 one is no stream error.
    for (uint32_t compression : {0u, 1u, 3u, 4u})
        HeaderOnlyAppend(p.queue, 1, compression, [](SAFrameBufferInfo& fb) { fb.ScreenWidth = 20000; });
    // An H.264 one with a fitting screen carries no access unit to decode.
    HeaderOnlyAppend(p.queue, 1, 4, [](SAFrameBufferInfo& fb) { fb.Left = -20000; });
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 7; }));
    EXPECT_EQ(p.PixelAt(0, 0), 5);
    PacketAppend(p.queue, 1, 0, 0, 32, 7);
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == 8; }));
    EXPECT_EQ(p.PixelAt(0, 0), 7);
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(p.view.FrameSnapshotGet(&pixels, &width, &height));
    EXPECT_EQ(width, W);
    EXPECT_EQ(height, H);
    EXPECT_EQ(p.view.PresentsGet(), (std::vector<int32_t>{2, 2, 1, 1, 1, 1, 1, 1}));
}

TEST(FrameBufferProcessor, StopLeavesRemainingEntriesInTheQueue)
{
    SAQueueScreenUpdates queue(nullptr);
    AckCounter client;
    RecordingView view;
    {
        SAMvcModel model(&queue, &client, &view);
        ASSERT_TRUE(model.Initialize());
        PacketAppend(queue, 1, 0, 0, 32, 1);
        ASSERT_TRUE(WaitFor([&] { return client.m_Acks.load() == 1; }));
        model.Uninitialize();
        for (int i = 0; i < 3; ++i)
            PacketAppend(queue, 1, 0, 0, 32, 2);
        EXPECT_EQ(queue.CountGet(), 3u);
    }
    EXPECT_EQ(queue.CountGet(), 3u);
    EXPECT_EQ(client.m_Acks.load(), 1u);
}

TEST(FrameBufferProcessor, FrameTimesAreLoggedOnceASecondWithThePresentWhereItWent)
{
    SATestLogCapture log;
    Pipeline p;
    p.view.m_PresentDelayMs = 4;
    // A frame every 10 ms for 1.3 s: the first present opens a second, the
    // first present a second later closes it, and the next needs another.
    uint32_t frames = 0;
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1300);
         std::chrono::steady_clock::now() < end; ++frames)
    {
        PacketAppend(p.queue, 1, 0, 0, H, static_cast<uint8_t>(frames));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(WaitFor([&] { return p.client.m_Acks.load() == frames; }));
    std::vector<std::string> lines;
    for (const std::string& line : log.Lines())
        if (line.find("SATaskLoopedFrameBufferProcessor frame times: ") != std::string::npos)
            lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u);
    unsigned counted = 0;
    double queue = -1, decode = -1, upload = -1, present = -1, ack = -1;
    ASSERT_EQ(std::sscanf(lines[0].c_str() + lines[0].find(": ") + 2,
                          "%u frames, queue %lf ms, decode %lf ms, upload %lf ms, present %lf ms, ack %lf ms",
                          &counted, &queue, &decode, &upload, &present, &ack),
              6)
        << lines[0];
    EXPECT_GT(counted, 30u);
    EXPECT_LT(counted, frames);
    EXPECT_GE(present, 4.0); // the view's present, which has no GPU to upload to
    EXPECT_EQ(upload, 0.0);
    EXPECT_GE(queue, 0.0);
    EXPECT_GE(decode, 0.0);
    EXPECT_GE(ack, 0.0);
}
