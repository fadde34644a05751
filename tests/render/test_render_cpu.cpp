// The memory-only renderer, and through it the parts every renderer shares:
// the bounded rectangle copy, the camera's limits and ray cast, the status
// record and the frame-rate meter.
#include "RenderTestSupport.h"
#include "render/PSRendererCpu.h"
#include "render/PSRendererFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <thread>

namespace
{
constexpr int WIDTH = 64;
constexpr int HEIGHT = 48;

class RendererCpu : public ::testing::Test
{
protected:
    std::atomic<uint32_t> m_Clock{1000000};
    PSRendererCpu m_Renderer{[this] { return m_Clock.load(); }};

    std::vector<uint8_t> Snapshot()
    {
        std::vector<uint8_t> pixels;
        int width = 0, height = 0;
        EXPECT_TRUE(m_Renderer.FrameSnapshotGet(&pixels, &width, &height));
        EXPECT_EQ(width, WIDTH);
        EXPECT_EQ(height, HEIGHT);
        return pixels;
    }
};

// Server point the ray cast lands on: the caller's scaling reduced to the
// picture fraction times the server size.
void ServerPointGet(PSRendererBase& renderer, float x, float y, bool* found, float* serverX, float* serverY)
{
    float result[2] = {-1, -1}, size[2] = {0, 0}, windowWidth = 0, windowHeight = 0;
    renderer.WindowSizeGet(&windowWidth, &windowHeight);
    *found = renderer.ScreenClientToTarget(x, y, result, size);
    *serverX = result[0] / windowWidth * WIDTH;
    *serverY = result[1] / windowHeight * HEIGHT;
}
} // namespace

TEST_F(RendererCpu, SnapshotHoldsExactlyWhatWasWrittenAndPresentNeedsAResolution)
{
    RenderLogCapture log;
    EXPECT_FALSE(m_Renderer.Present(1));
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "PSRendererCpu::Present failed! no resolution set"), 1);
    std::vector<uint8_t> none;
    int width = 0, height = 0;
    EXPECT_FALSE(m_Renderer.FrameSnapshotGet(&none, &width, &height));
    EXPECT_FALSE(m_Renderer.WindowSnapshotGet(&none, &width, &height));

    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    EXPECT_EQ(Snapshot(), std::vector<uint8_t>(WIDTH * HEIGHT * 4, 0)) << "a new frame starts black";
    std::vector<uint8_t> pattern = RenderPatternRandom(WIDTH, HEIGHT, 1);
    ASSERT_TRUE(RenderFrameWrite(m_Renderer, pattern, WIDTH, HEIGHT));
    EXPECT_TRUE(m_Renderer.Present(1));
    EXPECT_EQ(Snapshot(), pattern);
    EXPECT_EQ(m_Renderer.FramesPresentedGet(), 1u);
    EXPECT_TRUE(m_Renderer.Present(0));
    EXPECT_EQ(m_Renderer.FramesPresentedGet(), 1u) << "a repaint is not a frame";

    // A rectangle from a source wider than itself: only its own columns land.
    const int rw = 20, rh = 15, pitch = rw * 4 + 12;
    std::vector<uint8_t> source = RenderPatternRandom(pitch / 4, rh, 2);
    source.resize(static_cast<size_t>(rh - 1) * pitch + rw * 4); // exactly what the rectangle needs
    PSRendererRect rect{10, 5, 10 + rw, 5 + rh};
    ASSERT_TRUE(m_Renderer.FrameBufferPartialUpdate(source.data(), source.size(), pitch, 21, &rect, 2));
    std::vector<uint8_t> frame = Snapshot();
    for (int y = 0; y < HEIGHT; ++y)
        for (int x = 0; x < WIDTH; ++x)
        {
            const uint8_t* got = &frame[(y * WIDTH + x) * 4];
            bool inside = x >= 10 && x < 10 + rw && y >= 5 && y < 5 + rh;
            const uint8_t* want =
                inside ? &source[(y - 5) * pitch + (x - 10) * 4] : &pattern[(y * WIDTH + x) * 4];
            ASSERT_EQ(0, std::memcmp(got, want, 4)) << "pixel " << x << "," << y;
        }
}

TEST_F(RendererCpu, RectanglesAreClippedToTheFrameOrRefused)
{
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    RenderLogCapture log;

    // Partly outside at the top left: the part inside lands where it belongs.
    const int sw = 30, sh = 20;
    std::vector<uint8_t> source = RenderPatternRandom(sw, sh, 3);
    PSRendererRect topLeft{-10, -5, 20, 15};
    ASSERT_TRUE(m_Renderer.FrameBufferPartialUpdate(source.data(), source.size(), sw * 4, 21, &topLeft, 0));
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "rectangle -10--5-20-15 clipped to 0-0-20-15"), 1) << log.All();
    // Partly outside at the bottom right.
    PSRendererRect bottomRight{50, 40, 80, 60};
    ASSERT_TRUE(
        m_Renderer.FrameBufferPartialUpdate(source.data(), source.size(), sw * 4, 21, &bottomRight, 1));
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "clipped to 50-40-64-48"), 1) << log.All();

    std::vector<uint8_t> frame = Snapshot();
    for (int y = 0; y < HEIGHT; ++y)
        for (int x = 0; x < WIDTH; ++x)
        {
            const uint8_t* got = &frame[(y * WIDTH + x) * 4];
            uint8_t zero[4] = {0, 0, 0, 0};
            const uint8_t* want = zero;
            if (x < 20 && y < 15)
                want = &source[((y + 5) * sw + (x + 10)) * 4];
            else if (x >= 50 && y >= 40)
                want = &source[((y - 40) * sw + (x - 50)) * 4];
            ASSERT_EQ(0, std::memcmp(got, want, 4)) << "pixel " << x << "," << y;
        }

    // Refused: each leaves the frame as it was and says why.
    struct Refusal
    {
        PSRendererRect rect;
        int pitch;
        size_t bytes;
        const char* line;
    };
    const Refusal refusals[] = {
        {{64, 0, 80, 10}, sw * 4, source.size(), "rectangle 64-0-80-10 outside 64x48"},
        {{-30, -20, 0, 0}, sw * 4, source.size(), "rectangle -30--20-0-0 outside 64x48"},
        {{0, 48, 10, 58}, sw * 4, source.size(), "outside 64x48"},
        {{20, 20, 10, 30}, sw * 4, source.size(), "empty rectangle 20-20-10-30"},
        {{5, 5, 5, 9}, sw * 4, source.size(), "empty rectangle 5-5-5-9"},
        {{0, 0, 10, 10}, 10 * 4 - 4, source.size(), "pitch 36 shorter than a row of 10 pixels"},
        {{0, 0, 10, 10}, -40, source.size(), "pitch -40 shorter"},
        {{0, 0, 30, 20}, sw * 4, source.size() - 1, "rectangle needs 2400"},
        {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, sw * 4, source.size(), "pitch 120 shorter"},
    };
    for (const Refusal& refusal : refusals)
    {
        log.Clear();
        EXPECT_FALSE(m_Renderer.FrameBufferPartialUpdate(source.data(), refusal.bytes, refusal.pitch, 21,
                                                         &refusal.rect, 0))
            << refusal.line;
        EXPECT_EQ(log.Count(SA_LOG_FAILURE, refusal.line), 1) << log.All();
    }
    log.Clear();
    EXPECT_FALSE(m_Renderer.FrameBufferPartialUpdate(nullptr, 100, sw * 4, 21, &topLeft, 0));
    EXPECT_FALSE(m_Renderer.FrameBufferPartialUpdate(source.data(), source.size(), sw * 4, 21, nullptr, 0));
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "PSRendererCpu::FrameBufferPartialUpdate failed! pBuffer("), 2);
    EXPECT_EQ(Snapshot(), frame);
}

TEST(RendererCpuAlone, UpdatesBeforeAnyResolutionAreRefused)
{
    PSRendererCpu renderer;
    RenderLogCapture log;
    std::vector<uint8_t> source = RenderPatternRandom(4, 4, 4);
    PSRendererRect rect{0, 0, 4, 4};
    EXPECT_FALSE(renderer.FrameBufferPartialUpdate(source.data(), source.size(), 16, 21, &rect, 0));
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "outside 0x0"), 1) << log.All();
    EXPECT_FALSE(renderer.ResolutionSet(0, 480));
    EXPECT_FALSE(renderer.ResolutionSet(640, -1));
    EXPECT_FALSE(renderer.ResolutionSet(PS_RENDERER_RESOLUTION_MAX + 1, 480));
    EXPECT_FALSE(renderer.ResolutionSet(16384, 16384)) << "a gigabyte frame from the network";
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "PSRendererCpu::ResolutionSet failed!"), 4);
    EXPECT_EQ(renderer.StatusGet().ResolutionX, 0);
    // No window size yet: no point can be on the picture.
    ASSERT_TRUE(renderer.ResolutionSet(7680, 4320));
    float result[2] = {}, size[2] = {};
    EXPECT_FALSE(renderer.ScreenClientToTarget(0.0f, 0.0f, result, size));
}

TEST(RendererFrameLent, LargeBandsLandWholeInLentPixelsWhateverTheirAlignment)
{
    // Bands of a megabyte and more take their own copy into pixels the
    // window system reads: an odd width puts the target off every alignment
    // and leaves a length that is no whole number of blocks; the source
    // starts one byte into its buffer.
    constexpr int w = 1001, h = 400;
    struct Block : PSPixelBlock
    {
        std::vector<uint8_t> m_Memory = std::vector<uint8_t>(size_t(w) * h * 4 + 128);
        uint8_t* DataGet() override
        {
            const uintptr_t at = reinterpret_cast<uintptr_t>(m_Memory.data());
            return m_Memory.data() + ((64 - at % 64) % 64 + 16);
        }
        size_t SizeGet() const override { return size_t(w) * h * 4; }
    };
    auto block = std::make_shared<Block>();
    PSRendererFrame frame("PSRendererTest");
    frame.BlockSourceSet([block](size_t) { return block; });
    ASSERT_TRUE(frame.ResolutionSet(w, h));
    for (int top : {0, 1, 3})
    {
        const std::vector<uint8_t> pattern = RenderPatternRandom(w, h, 7 + top);
        const size_t skipped = static_cast<size_t>(top) * w * 4;
        std::vector<uint8_t> source(1 + pattern.size() - skipped);
        std::memcpy(source.data() + 1, pattern.data() + skipped, source.size() - 1);
        PSRendererRect rect{0, top, w, h};
        ASSERT_TRUE(frame.RectangleCopy(source.data() + 1, source.size() - 1, w * 4, &rect));
        EXPECT_TRUE(std::equal(pattern.begin() + static_cast<ptrdiff_t>(skipped), pattern.end(),
                               block->DataGet() + skipped))
            << "band from row " << top;
    }
}

TEST_F(RendererCpu, SameResolutionIsKeptUntilStatusClear)
{
    RenderLogCapture log;
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    std::vector<uint8_t> pattern = RenderPatternRandom(WIDTH, HEIGHT, 5);
    ASSERT_TRUE(RenderFrameWrite(m_Renderer, pattern, WIDTH, HEIGHT));
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "PSRendererCpu::ResolutionSet X:64 Y:48"), 1);
    m_Renderer.StatusValueSet(7);
    PSRendererStatus status = m_Renderer.StatusGet();
    EXPECT_EQ(status.StatusValue, 7);
    EXPECT_EQ(status.ResolutionX, WIDTH);
    EXPECT_EQ(status.ResolutionY, HEIGHT);

    m_Renderer.StatusClear();
    status = m_Renderer.StatusGet();
    EXPECT_EQ(0, status.StatusValue | status.ResolutionX | status.ResolutionY | status.FramesPerSecond);
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "PSRendererCpu::ResolutionSet X:64 Y:48"), 2)
        << "cleared status rebuilds";
    EXPECT_EQ(m_Renderer.StatusGet().ResolutionX, WIDTH);
    EXPECT_EQ(Snapshot(), std::vector<uint8_t>(pattern.size(), 0))
        << "a new connection does not show the last one's picture";

    ASSERT_TRUE(m_Renderer.ResolutionSet(32, 16));
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(m_Renderer.FrameSnapshotGet(&pixels, &width, &height));
    EXPECT_EQ(width, 32);
    EXPECT_EQ(height, 16);
    EXPECT_EQ(pixels, std::vector<uint8_t>(32 * 16 * 4, 0));
}

TEST_F(RendererCpu, FrameRateIsMeasuredOverTheLastFiftyPresents)
{
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    auto presentEvery = [this](int frames, uint32_t step)
    {
        for (int i = 0; i < frames; ++i)
        {
            m_Clock += step;
            EXPECT_TRUE(m_Renderer.Present(1));
        }
        return m_Renderer.StatusGet().FramesPerSecond;
    };
    // The ring starts at zero: until it is full the span reaches back to time 0.
    EXPECT_EQ(presentEvery(1, 20), 0);
    EXPECT_EQ(presentEvery(48, 20), 0);
    EXPECT_EQ(presentEvery(1, 20), 50) << "50 stamps 20 ms apart";
    EXPECT_EQ(presentEvery(50, 40), 25);
    // Presents without a new frame leave the meter alone, however late.
    m_Clock += 5000;
    EXPECT_TRUE(m_Renderer.Present(0));
    EXPECT_EQ(m_Renderer.StatusGet().FramesPerSecond, 25);
    // 49 ms from oldest to newest is the shortest span measured; below it is 0.
    EXPECT_EQ(presentEvery(50, 1), 1000);
    EXPECT_EQ(presentEvery(1, 0), 0);
    EXPECT_EQ(presentEvery(50, 0), 0);
    // The 32-bit millisecond clock wraps without upsetting the span.
    m_Clock = 0xFFFFFF00u;
    EXPECT_EQ(presentEvery(50, 20), 50);
    EXPECT_LT(m_Clock.load(), 0x1000u);
    // A span that does not divide evenly: 49 gaps of 33 ms = 1617, 1617 / 49 = 33, 1000 / 33 = 30.
    EXPECT_EQ(presentEvery(50, 33), 30);
}

TEST_F(RendererCpu, ZoomMoveAndTiltStayWithinTheirLimits)
{
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    m_Renderer.WindowSizeSet(WIDTH, HEIGHT);
    RenderLogCapture log;
    float cx = 0, cy = 0;
    m_Renderer.PictureCenterGet(&cx, &cy);
    EXPECT_NEAR(cx, 32.0f, 1e-3f);
    EXPECT_NEAR(cy, 24.0f, 1e-3f);

    // Zoom: a step that would reach 0.05 or less is refused, the log still
    // shows the scale.
    m_Renderer.ParameterScaleAdjust(-0.96f);
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "PSRendererCpu::ParameterScaleAdjust, New Scale: 1.000 \n"), 1);
    m_Renderer.ParameterScaleAdjust(-0.9f);
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "New Scale: 0.100 \n"), 1);
    m_Renderer.ParameterScaleAdjust(-0.06f);
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "New Scale: 0.100 \n"), 2);
    // At scale 0.1 the picture is 6.4 x 4.8 pixels around the centre.
    bool found = false;
    float sx = 0, sy = 0;
    ServerPointGet(m_Renderer, 32.0f, 24.0f, &found, &sx, &sy);
    EXPECT_TRUE(found);
    EXPECT_NEAR(sx, 32.0f, 0.5f);
    ServerPointGet(m_Renderer, 29.0f, 24.0f, &found, &sx, &sy);
    EXPECT_TRUE(found);
    EXPECT_NEAR(sx, 32.0f - 3.0f / 0.1f, 0.5f);
    ServerPointGet(m_Renderer, 28.0f, 24.0f, &found, &sx, &sy);
    EXPECT_FALSE(found);
    m_Renderer.ParametersReset();

    // Move: each axis accepts a step only while it stays strictly inside
    // (-1, 1). 0.6 of the box's height is 0.9 of the half window here.
    m_Renderer.ParameterTranslateAdjust(0.6f, -0.6f);
    m_Renderer.PictureCenterGet(&cx, &cy);
    EXPECT_NEAR(cx, 32.0f + 0.45f * WIDTH, 1e-2f);
    EXPECT_NEAR(cy, 24.0f + 0.3f * HEIGHT * 2.0f, 1e-2f); // y grows downwards
    m_Renderer.ParameterTranslateAdjust(0.6f, -0.6f);
    float cx2 = 0, cy2 = 0;
    m_Renderer.PictureCenterGet(&cx2, &cy2);
    EXPECT_FLOAT_EQ(cx2, cx);
    EXPECT_FLOAT_EQ(cy2, cy);
    m_Renderer.ParameterTranslateAdjust(0.35f, 0.0f); // 0.95: still inside
    m_Renderer.PictureCenterGet(&cx2, &cy2);
    EXPECT_NEAR(cx2, 32.0f + 0.95f * 0.75f * WIDTH, 1e-2f);
    m_Renderer.ParameterTranslateAdjust(-1.9f, 0.0f); // -0.95
    m_Renderer.PictureCenterGet(&cx2, &cy2);
    EXPECT_NEAR(cx2, 32.0f - 0.95f * 0.75f * WIDTH, 1e-2f);
    m_Renderer.ParametersReset();
    EXPECT_GE(log.Count(SA_LOG_RENDER, "PSRendererCpu::ParametersReset"), 2);

    // Tilt has no limit; a quarter roll turns the picture about its centre,
    // so the point above the centre is the picture's right-hand side.
    m_Renderer.ParameterRotateAdjust(0.0f, 0.0f, static_cast<float>(M_PI / 2));
    m_Renderer.PictureCenterGet(&cx, &cy);
    EXPECT_NEAR(cx, 32.0f, 1e-3f);
    EXPECT_NEAR(cy, 24.0f, 1e-3f);
    ServerPointGet(m_Renderer, 32.0f, 14.0f, &found, &sx, &sy);
    ASSERT_TRUE(found);
    EXPECT_GT(sx, 32.0f + 5.0f);
    EXPECT_NEAR(sy, 24.0f, 0.5f);
    // Upside down (pitched by half a turn) the roll is applied the other way
    // round on the box, so the same drag turns the picture the same way on
    // screen: the point above the centre is again the right-hand side. (The
    // face looks away from the camera now; the ray still meets its plane.)
    m_Renderer.ParametersReset();
    m_Renderer.ParameterRotateAdjust(static_cast<float>(M_PI), 0.0f, 0.0f);
    m_Renderer.ParameterRotateAdjust(0.0f, 0.0f, static_cast<float>(M_PI / 2));
    ServerPointGet(m_Renderer, 32.0f, 14.0f, &found, &sx, &sy);
    ASSERT_TRUE(found);
    EXPECT_GT(sx, 32.0f + 5.0f);
    EXPECT_NEAR(sy, 24.0f, 0.5f);
}

TEST_F(RendererCpu, ViewChangesAskForARepaintInsteadOfDrawingWhenTold)
{
    // Without a resolution nothing is asked for.
    std::atomic<int> requests{0};
    m_Renderer.RepaintRequestSet([&requests] { ++requests; });
    m_Renderer.ParameterScaleAdjust(0.01f);
    EXPECT_EQ(requests.load(), 0);
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    m_Renderer.ParameterScaleAdjust(0.01f);
    m_Renderer.ParameterTranslateAdjust(0.01f, 0.0f);
    m_Renderer.ParameterRotateAdjust(0.01f, 0.0f, 0.0f);
    m_Renderer.ParametersReset();
    m_Renderer.PointerPositionSet(1, 1, true);
    EXPECT_EQ(requests.load(), 5);
    m_Renderer.RepaintRequestSet(nullptr);
    m_Renderer.ParameterScaleAdjust(0.01f);
    EXPECT_EQ(requests.load(), 5);
}

TEST_F(RendererCpu, WindowSizeGivenBeforeTheResolutionIsKept)
{
    m_Renderer.WindowSizeSet(128, 48);
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    float w = 0, h = 0;
    m_Renderer.WindowSizeGet(&w, &h);
    EXPECT_EQ(w, 128.0f);
    EXPECT_EQ(h, 48.0f);
    bool found = false;
    float sx = 0, sy = 0;
    ServerPointGet(m_Renderer, 32.0f, 0.0f, &found, &sx, &sy);
    EXPECT_TRUE(found);
    EXPECT_NEAR(sx, 0.0f, 0.01f);
    ServerPointGet(m_Renderer, 31.0f, 0.0f, &found, &sx, &sy);
    EXPECT_FALSE(found) << "the bar left of the picture";
}

// Four decoder threads copy their fragments while the processor presents and
// the status bar reads: every fragment must land whole.
TEST_F(RendererCpu, FourWritersAndAPresenterAtOnce)
{
    constexpr int BAND = HEIGHT / 4;
    constexpr int ROUNDS = 3000;
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    std::atomic<bool> start{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back(
            [this, t, &start]
            {
                while (!start)
                    std::this_thread::yield();
                std::vector<uint8_t> band(WIDTH * BAND * 4);
                for (int round = 1; round <= ROUNDS; ++round)
                {
                    std::fill(band.begin(), band.end(), static_cast<uint8_t>(t * 60 + round % 50));
                    PSRendererRect rect{0, t * BAND, WIDTH, (t + 1) * BAND};
                    ASSERT_TRUE(m_Renderer.FrameBufferPartialUpdate(band.data(), band.size(), WIDTH * 4, 21,
                                                                    &rect, t));
                }
            });
    start = true;
    int torn = 0;
    for (int i = 0; i < 200; ++i)
    {
        m_Clock += 16;
        EXPECT_TRUE(m_Renderer.Present(1));
        (void)m_Renderer.StatusGet();
        std::vector<uint8_t> frame = Snapshot();
        for (int t = 0; t < 4; ++t)
        {
            const uint8_t* first = &frame[t * BAND * WIDTH * 4];
            for (size_t k = 0; k < static_cast<size_t>(BAND * WIDTH * 4); ++k)
                if (first[k] != first[0])
                {
                    ++torn;
                    break;
                }
        }
    }
    for (auto& writer : writers)
        writer.join();
    EXPECT_EQ(torn, 0);
    std::vector<uint8_t> frame = Snapshot();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(frame[t * BAND * WIDTH * 4], static_cast<uint8_t>(t * 60 + ROUNDS % 50));
    EXPECT_EQ(m_Renderer.FramesPresentedGet(), 200u);
}

// Decoders may write straight into the frame: a lent region keeps writers
// of overlapping rectangles and every resize out until it is handed back,
// while a writer of a disjoint rectangle goes ahead at once.
TEST_F(RendererCpu, LentRegionsKeepOverlappingWritersAndResizesOut)
{
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    int pitch = 0;
    EXPECT_EQ(m_Renderer.FrameBufferRegionAcquire({0, 0, WIDTH + 1, 8}, &pitch), nullptr);
    EXPECT_EQ(m_Renderer.FrameBufferRegionAcquire({-1, 0, 8, 8}, &pitch), nullptr);
    EXPECT_EQ(m_Renderer.FrameBufferRegionAcquire({4, 4, 4, 8}, &pitch), nullptr);

    const PSRendererRect lent = {0, 0, WIDTH, 12};
    uint8_t* region = m_Renderer.FrameBufferRegionAcquire(lent, &pitch);
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(pitch, WIDTH * 4);

    std::vector<uint8_t> sevens(WIDTH * 12 * 4, 7), nines(WIDTH * 12 * 4, 9);
    std::atomic<bool> overlappingDone{false}, resized{false};
    std::thread overlapping(
        [&]
        {
            PSRendererRect rect{0, 6, WIDTH, 18};
            EXPECT_TRUE(
                m_Renderer.FrameBufferPartialUpdate(sevens.data(), sevens.size(), WIDTH * 4, 21, &rect, 1));
            overlappingDone = true;
        });
    // A disjoint writer on this thread would deadlock if it had to wait.
    PSRendererRect disjoint{0, 24, WIDTH, 36};
    EXPECT_TRUE(m_Renderer.FrameBufferPartialUpdate(nines.data(), nines.size(), WIDTH * 4, 21, &disjoint, 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(overlappingDone.load());

    for (int row = 0; row < 12; ++row)
        std::fill(region + row * pitch, region + row * pitch + WIDTH * 4, static_cast<uint8_t>(3));
    m_Renderer.FrameBufferRegionRelease(lent);
    overlapping.join();
    EXPECT_TRUE(overlappingDone.load());

    std::vector<uint8_t> frame = Snapshot();
    EXPECT_EQ(frame[(5 * WIDTH + 3) * 4], 3);
    EXPECT_EQ(frame[(6 * WIDTH + 3) * 4], 7);
    EXPECT_EQ(frame[(17 * WIDTH + 3) * 4], 7);
    EXPECT_EQ(frame[(18 * WIDTH + 3) * 4], 0);
    EXPECT_EQ(frame[(30 * WIDTH + 3) * 4], 9);

    // A resize waits for the region it would free under the writer's feet.
    region = m_Renderer.FrameBufferRegionAcquire(lent, &pitch);
    ASSERT_NE(region, nullptr);
    std::thread resizer(
        [&]
        {
            EXPECT_TRUE(m_Renderer.ResolutionSet(WIDTH / 2, HEIGHT / 2));
            resized = true;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(resized.load());
    region[0] = 1;
    m_Renderer.FrameBufferRegionRelease(lent);
    resizer.join();
    EXPECT_TRUE(resized.load());
    EXPECT_EQ(m_Renderer.StatusGet().ResolutionX, WIDTH / 2);
}

// A video picture stays planar in the frame until its pixels are needed; then
// it is converted once, and rectangles written later land on top of it.
TEST_F(RendererCpu, PlanarPicturesAreKeptUntilReadAndRectanglesLandOnTop)
{
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH, HEIGHT));
    EXPECT_FALSE(m_Renderer.FrameBufferPlanarUpdate(RenderPlanarPicture(WIDTH, HEIGHT - 2, 1)));
    EXPECT_FALSE(m_Renderer.FrameBufferPlanarUpdate(SAPlanarPicture{}));

    SAPlanarPicture picture = RenderPlanarPicture(WIDTH, HEIGHT, 1);
    std::weak_ptr<const void> planes = picture.Owner;
    ASSERT_TRUE(m_Renderer.FrameBufferPlanarUpdate(picture));
    picture = {};
    EXPECT_FALSE(planes.expired()) << "the renderer holds the picture it was given";
    EXPECT_TRUE(m_Renderer.Present(1));
    EXPECT_FALSE(planes.expired()) << "presenting needs no pixels";

    std::vector<uint8_t> converted = Snapshot();
    EXPECT_TRUE(planes.expired()) << "once converted the planes are let go";
    // Luma 16 + 0 at (0, 0), U 91, V 169: a dark, slightly red pixel.
    const SAPlanarPicture again = RenderPlanarPicture(WIDTH, HEIGHT, 1);
    int yValue = again.Planes[0][0];
    EXPECT_NEAR(converted[2], std::clamp(yValue + 1.402 * (169 - 128), 0.0, 255.0), 2.0);
    EXPECT_NEAR(converted[0], std::clamp(yValue + 1.772 * (91 - 128), 0.0, 255.0), 2.0);
    for (size_t i = 0; i + 3 < converted.size(); i += 4)
        ASSERT_NE(converted[i] + converted[i + 1] + converted[i + 2], 0)
            << "pixel " << i / 4 << " left black";

    // A newer picture, then a rectangle over it: the picture is converted
    // first and the rectangle is not lost under it.
    ASSERT_TRUE(m_Renderer.FrameBufferPlanarUpdate(RenderPlanarPicture(WIDTH, HEIGHT, 40)));
    std::vector<uint8_t> band(WIDTH * 4 * 4, 0x33);
    PSRendererRect rect{0, 8, WIDTH, 12};
    ASSERT_TRUE(m_Renderer.FrameBufferPartialUpdate(band.data(), band.size(), WIDTH * 4, 21, &rect, 0));
    std::vector<uint8_t> mixed = Snapshot();
    EXPECT_EQ(mixed[(8 * WIDTH + 5) * 4], 0x33);
    EXPECT_EQ(mixed[(11 * WIDTH + 5) * 4 + 2], 0x33);
    EXPECT_NE(mixed[(12 * WIDTH + 5) * 4], 0x33);
    EXPECT_NE(mixed[0], converted[0]) << "the second picture, not the first";

    // A new size drops a picture that no longer fits.
    ASSERT_TRUE(m_Renderer.FrameBufferPlanarUpdate(RenderPlanarPicture(WIDTH, HEIGHT, 7)));
    ASSERT_TRUE(m_Renderer.ResolutionSet(WIDTH * 2, HEIGHT));
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(m_Renderer.FrameSnapshotGet(&pixels, &width, &height));
    EXPECT_EQ(width, WIDTH * 2);
    EXPECT_EQ(pixels[0] + pixels[1] + pixels[2], 0);
}
