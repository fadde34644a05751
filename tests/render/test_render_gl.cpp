// The OpenGL renderer on a real context, OpenGL 3.3 core and OpenGL ES 3.0
// alike: Mesa's surfaceless EGL platform, drawing into an off-screen
// framebuffer that is read back pixel by pixel.
#include "RenderTestSupport.h"
#include "render/PSRendererGL.h"
#include "render/PSRendererSurfaceEgl.h"
#include "render/SADisplayViewOffscreen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

namespace
{
constexpr int WIDTH = 64;
constexpr int HEIGHT = 48;
// The letterbox clear colour 0.04 in 8 bits: 0.04 * 255 = 10.2.
constexpr uint8_t GREY = 10;

class RendererGL : public ::testing::TestWithParam<PSRendererSurfaceEgl::Api>
{
protected:
    void SetUp() override
    {
        RenderLogCapture log;
        m_Surface = std::make_unique<PSRendererSurfaceEgl>(GetParam());
        if (!m_Surface->Initialize())
            GTEST_SKIP() << "no such context on the surfaceless EGL platform: " << log.All();
        m_Renderer = std::make_unique<PSRendererGL>([this] { return m_Clock.load(); });
        m_Renderer->SurfaceSet(m_Surface.get());
    }
    void TearDown() override
    {
        m_Renderer.reset(); // before the surface it draws into
        m_Surface.reset();
    }

    // Presents and reads the window back, B, G, R, A top-down.
    std::vector<uint8_t> PresentAndRead(int expectWidth, int expectHeight)
    {
        EXPECT_TRUE(m_Renderer->Present(1));
        std::vector<uint8_t> pixels;
        int width = 0, height = 0;
        EXPECT_TRUE(m_Renderer->WindowSnapshotGet(&pixels, &width, &height));
        EXPECT_EQ(width, expectWidth);
        EXPECT_EQ(height, expectHeight);
        return pixels;
    }

    std::atomic<uint32_t> m_Clock{5000};
    std::unique_ptr<PSRendererSurfaceEgl> m_Surface;
    std::unique_ptr<PSRendererGL> m_Renderer;
};

// Compares the window's pixels at (x0 + x, y0 + y) with the server pixels
// (x, y): blue, green and red exactly, alpha opaque.
void PictureExpect(const std::vector<uint8_t>& window, int windowWidth, int x0, int y0,
                   const std::vector<uint8_t>& server)
{
    int wrong = 0;
    for (int y = 0; y < HEIGHT; ++y)
        for (int x = 0; x < WIDTH; ++x)
        {
            const uint8_t* got = &window[((y0 + y) * windowWidth + (x0 + x)) * 4];
            const uint8_t* want = &server[(y * WIDTH + x) * 4];
            if (got[0] != want[0] || got[1] != want[1] || got[2] != want[2] || got[3] != 255)
            {
                if (++wrong < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " got " << int(got[0]) << " " << int(got[1])
                                  << " " << int(got[2]) << " " << int(got[3]) << " want " << int(want[0])
                                  << " " << int(want[1]) << " " << int(want[2]);
            }
        }
    EXPECT_EQ(wrong, 0);
}

// Counts window pixels inside [x0, x1) x [y0, y1) that are not the clear colour.
int BarPixelsWrong(const std::vector<uint8_t>& window, int windowWidth, int x0, int y0, int x1, int y1)
{
    int wrong = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
        {
            const uint8_t* p = &window[(y * windowWidth + x) * 4];
            if (p[0] != GREY || p[1] != GREY || p[2] != GREY || p[3] != 255)
                ++wrong;
        }
    return wrong;
}

void ServerPointGet(PSRendererBase& renderer, float x, float y, bool* found, float* serverX, float* serverY)
{
    float result[2] = {-1, -1}, size[2] = {0, 0}, windowWidth = 0, windowHeight = 0;
    renderer.WindowSizeGet(&windowWidth, &windowHeight);
    *found = renderer.ScreenClientToTarget(x, y, result, size);
    *serverX = result[0] / windowWidth * WIDTH;
    *serverY = result[1] / windowHeight * HEIGHT;
}
} // namespace

TEST_P(RendererGL, PixelsReadBackExactlyAtOneToOneWithRedAndBlueInPlace)
{
    m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    std::vector<uint8_t> pattern = RenderPatternRandom(WIDTH, HEIGHT, 11);
    // Named colours too, so that a red/blue mix-up cannot hide in noise.
    const uint8_t named[4][4] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {10, 20, 30, 0}};
    for (int i = 0; i < 4; ++i)
        std::memcpy(&pattern[i * 4], named[i], 4);
    ASSERT_TRUE(RenderFrameWrite(*m_Renderer, pattern, WIDTH, HEIGHT));
    std::vector<uint8_t> window = PresentAndRead(WIDTH, HEIGHT);
    PictureExpect(window, WIDTH, 0, 0, pattern);
    EXPECT_EQ(window[2], 255) << "pure red (B, G, R = 0, 0, 255) comes out red";
    EXPECT_EQ(window[0], 0);

    // A later rectangle from a source with a wider pitch shows up after the
    // next present, and only inside its rectangle.
    const int rw = 20, rh = 15, pitch = rw * 4 + 12;
    std::vector<uint8_t> source = RenderPatternRandom(pitch / 4, rh, 12);
    source.resize(static_cast<size_t>(rh - 1) * pitch + rw * 4);
    PSRendererRect rect{10, 5, 10 + rw, 5 + rh};
    ASSERT_TRUE(m_Renderer->FrameBufferPartialUpdate(source.data(), source.size(), pitch, 21, &rect, 1));
    for (int y = 0; y < rh; ++y)
        std::memcpy(&pattern[((5 + y) * WIDTH + 10) * 4], &source[y * pitch], rw * 4);
    PictureExpect(PresentAndRead(WIDTH, HEIGHT), WIDTH, 0, 0, pattern);

    std::vector<uint8_t> held;
    int width = 0, height = 0;
    ASSERT_TRUE(m_Renderer->FrameSnapshotGet(&held, &width, &height));
    EXPECT_EQ(width, WIDTH);
    EXPECT_EQ(height, HEIGHT);
    EXPECT_EQ(held, pattern) << "the frame as held, at the server's size";
}

TEST_P(RendererGL, LetterboxBarsHaveTheClearColourOnBothSidesOfTheAspect)
{
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    std::vector<uint8_t> pattern = RenderPatternRandom(WIDTH, HEIGHT, 13);
    ASSERT_TRUE(RenderFrameWrite(*m_Renderer, pattern, WIDTH, HEIGHT));

    // Wider than 4:3: full height, bars left and right.
    m_Renderer->WindowSizeSet(128, 48);
    std::vector<uint8_t> wide = PresentAndRead(128, 48);
    EXPECT_EQ(BarPixelsWrong(wide, 128, 0, 0, 32, 48), 0);
    EXPECT_EQ(BarPixelsWrong(wide, 128, 96, 0, 128, 48), 0);
    PictureExpect(wide, 128, 32, 0, pattern);

    // Narrower: the width fits, bars above and below.
    m_Renderer->WindowSizeSet(64, 96);
    std::vector<uint8_t> narrow = PresentAndRead(64, 96);
    EXPECT_EQ(BarPixelsWrong(narrow, 64, 0, 0, 64, 24), 0);
    EXPECT_EQ(BarPixelsWrong(narrow, 64, 0, 72, 64, 96), 0);
    PictureExpect(narrow, 64, 0, 24, pattern);

    // Scaled down: still the picture, still the bars.
    m_Renderer->WindowSizeSet(32, 48);
    std::vector<uint8_t> small = PresentAndRead(32, 48);
    EXPECT_EQ(BarPixelsWrong(small, 32, 0, 0, 32, 12), 0);
    EXPECT_EQ(BarPixelsWrong(small, 32, 0, 36, 32, 48), 0);
}

TEST_P(RendererGL, WindowPointsMapBackToTheServerPixelsDrawnThere)
{
    // Four solid quadrants, so that the colour a window pixel shows tells
    // which part of the server screen is drawn there.
    const uint8_t colours[4][4] = {{0, 0, 200, 0}, {0, 200, 0, 0}, {200, 0, 0, 0}, {200, 200, 200, 0}};
    auto quadrant = [](float x, float y) { return (x < WIDTH / 2 ? 0 : 1) + (y < HEIGHT / 2 ? 0 : 2); };
    std::vector<uint8_t> pattern(WIDTH * HEIGHT * 4);
    for (int y = 0; y < HEIGHT; ++y)
        for (int x = 0; x < WIDTH; ++x)
            std::memcpy(&pattern[(y * WIDTH + x) * 4], colours[quadrant(x + 0.5f, y + 0.5f)], 4);
    m_Renderer->WindowSizeSet(128, 48);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    ASSERT_TRUE(RenderFrameWrite(*m_Renderer, pattern, WIDTH, HEIGHT));

    // Corners and centre of the letterboxed picture.
    struct Point
    {
        float wx, wy, sx, sy;
    };
    const Point points[] = {{32, 0, 0, 0},
                            {96, 0, 64, 0},
                            {32, 48, 0, 48},
                            {96, 48, 64, 48},
                            {64, 24, 32, 24},
                            {32.5f, 0.5f, 0.5f, 0.5f},
                            {95.5f, 47.5f, 63.5f, 47.5f}};
    for (const Point& p : points)
    {
        bool found = false;
        float sx = 0, sy = 0;
        ServerPointGet(*m_Renderer, p.wx, p.wy, &found, &sx, &sy);
        EXPECT_TRUE(found) << p.wx << "," << p.wy;
        EXPECT_NEAR(sx, p.sx, 1.0f) << p.wx << "," << p.wy;
        EXPECT_NEAR(sy, p.sy, 1.0f) << p.wx << "," << p.wy;
    }
    float cx = 0, cy = 0;
    m_Renderer->PictureCenterGet(&cx, &cy);
    EXPECT_NEAR(cx, 64.0f, 1e-3f);
    EXPECT_NEAR(cy, 24.0f, 1e-3f);
    bool found = true;
    float sx = 0, sy = 0;
    ServerPointGet(*m_Renderer, 20.0f, 24.0f, &found, &sx, &sy);
    EXPECT_FALSE(found) << "a point in the bar";

    // Zoomed out, the former corner misses the picture and the centre still hits.
    m_Renderer->ParameterScaleAdjust(-0.5f);
    ServerPointGet(*m_Renderer, 33.0f, 1.0f, &found, &sx, &sy);
    EXPECT_FALSE(found);
    ServerPointGet(*m_Renderer, 64.0f, 24.0f, &found, &sx, &sy);
    EXPECT_TRUE(found);
    EXPECT_NEAR(sx, 32.0f, 1.0f);
    EXPECT_NEAR(sy, 24.0f, 1.0f);

    // Zoomed out, moved and tilted: wherever the ray cast says a window pixel
    // lands on the picture, the drawn pixel has that quadrant's colour; where
    // it misses, the background shows.
    m_Renderer->ParameterTranslateAdjust(0.1f, -0.05f);
    m_Renderer->ParameterRotateAdjust(0.2f, 0.4f, 0.3f);
    std::vector<uint8_t> window = PresentAndRead(128, 48);
    int checked = 0, missed = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 128; ++x)
        {
            ServerPointGet(*m_Renderer, x + 0.5f, y + 0.5f, &found, &sx, &sy);
            const uint8_t* got = &window[(y * 128 + x) * 4];
            if (!found)
            {
                // Off the front face: background, or one of the box's thin sides.
                ++missed;
                continue;
            }
            // Skip pixels near a quadrant border or the picture's edge, where
            // filtering mixes colours.
            if (std::fabs(sx - WIDTH / 2) < 3 || std::fabs(sy - HEIGHT / 2) < 3 || sx < 3 || sy < 3 ||
                sx > WIDTH - 3 || sy > HEIGHT - 3)
                continue;
            const uint8_t* want = colours[quadrant(sx, sy)];
            ASSERT_EQ(got[0], want[0]) << x << "," << y << " -> " << sx << "," << sy;
            ASSERT_EQ(got[1], want[1]) << x << "," << y << " -> " << sx << "," << sy;
            ASSERT_EQ(got[2], want[2]) << x << "," << y << " -> " << sx << "," << sy;
            ++checked;
        }
    EXPECT_GT(checked, 100);
    EXPECT_GT(missed, 100);
    EXPECT_EQ(window[0], GREY) << "the window's corner is background";
}

TEST_P(RendererGL, RectanglesPartlyOutsideAreClippedAndOthersRefused)
{
    m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    RenderLogCapture log;
    std::vector<uint8_t> expected(WIDTH * HEIGHT * 4, 0);
    const int sw = 30, sh = 20;
    std::vector<uint8_t> source = RenderPatternRandom(sw, sh, 14);
    PSRendererRect rect{44, 38, 74, 58}; // sticks out right and below
    ASSERT_TRUE(m_Renderer->FrameBufferPartialUpdate(source.data(), source.size(), sw * 4, 21, &rect, 0));
    for (int y = 38; y < HEIGHT; ++y)
        std::memcpy(&expected[(y * WIDTH + 44) * 4], &source[(y - 38) * sw * 4], 20 * 4);
    EXPECT_EQ(
        log.Count(SA_LOG_RENDER,
                  "PSRendererGL::FrameBufferPartialUpdate rectangle 44-38-74-58 clipped to 44-38-64-48"),
        1);
    PSRendererRect outside{-40, 0, -10, 20};
    EXPECT_FALSE(m_Renderer->FrameBufferPartialUpdate(source.data(), source.size(), sw * 4, 21, &outside, 0));
    EXPECT_EQ(
        log.Count(SA_LOG_FAILURE,
                  "PSRendererGL::FrameBufferPartialUpdate failed! rectangle -40-0--10-20 outside 64x48"),
        1)
        << log.All();
    PSRendererRect negative{10, 30, 40, 10};
    EXPECT_FALSE(
        m_Renderer->FrameBufferPartialUpdate(source.data(), source.size(), sw * 4, 21, &negative, 0));
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "PSRendererGL::FrameBufferPartialUpdate failed! empty rectangle"), 1);
    PictureExpect(PresentAndRead(WIDTH, HEIGHT), WIDTH, 0, 0, expected);
}

TEST_P(RendererGL, StatusClearForcesARebuildAndTheFrameRateCountsFrames)
{
    RenderLogCapture log;
    m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
    EXPECT_FALSE(m_Renderer->Present(1)) << "nothing to draw before a resolution";
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    std::vector<uint8_t> pattern = RenderPatternRandom(WIDTH, HEIGHT, 15);
    ASSERT_TRUE(RenderFrameWrite(*m_Renderer, pattern, WIDTH, HEIGHT));
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "PSRendererGL::ResolutionSet X:64 Y:48"), 1)
        << "same size: nothing rebuilt";

    for (int i = 0; i < 50; ++i)
    {
        m_Clock += 20;
        ASSERT_TRUE(m_Renderer->Present(1));
    }
    m_Renderer->StatusValueSet(3);
    PSRendererStatus status = m_Renderer->StatusGet();
    EXPECT_EQ(status.StatusValue, 3);
    EXPECT_EQ(status.ResolutionX, WIDTH);
    EXPECT_EQ(status.ResolutionY, HEIGHT);
    EXPECT_EQ(status.FramesPerSecond, 50);
    m_Clock += 100000;
    ASSERT_TRUE(m_Renderer->Present(0));
    EXPECT_EQ(m_Renderer->StatusGet().FramesPerSecond, 50) << "a repaint is not a frame";

    m_Renderer->StatusClear();
    status = m_Renderer->StatusGet();
    EXPECT_EQ(0, status.StatusValue | status.ResolutionX | status.ResolutionY | status.FramesPerSecond);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "PSRendererGL::ResolutionSet X:64 Y:48"), 2) << "cleared: rebuilt";
    EXPECT_EQ(m_Renderer->StatusGet().ResolutionX, WIDTH);
    // A cleared status starts a new connection: the last one's picture does
    // not come back where the new one has not drawn yet.
    PictureExpect(PresentAndRead(WIDTH, HEIGHT), WIDTH, 0, 0,
                  std::vector<uint8_t>(static_cast<size_t>(WIDTH) * HEIGHT * 4, 0));
    ASSERT_TRUE(RenderFrameWrite(*m_Renderer, pattern, WIDTH, HEIGHT));

    // Released objects come back with the next ResolutionSet, even at the
    // same size, and with them the picture.
    m_Renderer->Uninitialize(false);
    EXPECT_FALSE(m_Renderer->Present(0));
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    PictureExpect(PresentAndRead(WIDTH, HEIGHT), WIDTH, 0, 0, pattern);
}

TEST_P(RendererGL, ARendererWithoutSurfaceFailsToBuild)
{
    PSRendererGL orphan;
    RenderLogCapture log;
    EXPECT_FALSE(orphan.ResolutionSet(WIDTH, HEIGHT));
    EXPECT_EQ(
        log.Count(SA_LOG_FAILURE, "PSRendererGL::PrivateInitializeDeviceAndSwapChain failed! no surface"), 1);
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "PSRendererGL::ResolutionSet failed! PrivateInitializePipeline 0x"),
              1);
    EXPECT_TRUE(orphan.ResolutionSet(WIDTH, HEIGHT)) << "the failed size stays stored";
    EXPECT_FALSE(orphan.Present(1));
}

// Decoder threads copy while the processor thread presents; GL runs only on
// the presenting thread. The picture shown at the end is the last one written.
TEST_P(RendererGL, FourWritersWhileAnotherThreadPresents)
{
    constexpr int BAND = HEIGHT / 4;
    constexpr int ROUNDS = 200;
    m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    std::atomic<bool> start{false}, done{false};
    std::atomic<int> presents{0};
    std::thread presenter(
        [this, &start, &done, &presents]
        {
            while (!start)
                std::this_thread::yield();
            while (!done)
            {
                m_Clock += 16;
                if (m_Renderer->Present(1))
                    ++presents;
            }
        });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back(
            [this, t, &presents]
            {
                // The writers begin once the presenter is under way, so the
                // copies really overlap presents on a busy machine too.
                while (presents.load() == 0)
                    std::this_thread::yield();
                std::vector<uint8_t> band = RenderPatternRandom(WIDTH, BAND, 100 + t);
                for (int round = 1; round <= ROUNDS; ++round)
                {
                    band[0] = static_cast<uint8_t>(round);
                    PSRendererRect rect{0, t * BAND, WIDTH, (t + 1) * BAND};
                    ASSERT_TRUE(m_Renderer->FrameBufferPartialUpdate(band.data(), band.size(), WIDTH * 4, 21,
                                                                     &rect, t));
                }
            });
    start = true;
    for (auto& writer : writers)
        writer.join();
    done = true;
    presenter.join();
    EXPECT_GT(presents.load(), 0);

    std::vector<uint8_t> expected(WIDTH * HEIGHT * 4);
    for (int t = 0; t < 4; ++t)
    {
        std::vector<uint8_t> band = RenderPatternRandom(WIDTH, BAND, 100 + t);
        band[0] = static_cast<uint8_t>(ROUNDS);
        std::memcpy(&expected[t * BAND * WIDTH * 4], band.data(), band.size());
    }
    PictureExpect(PresentAndRead(WIDTH, HEIGHT), WIDTH, 0, 0, expected);
}

// A planar video picture is converted by the shader while it is drawn; it
// must look like the CPU's conversion of the same planes, and a rectangle
// written over it later must show on top of that picture. A software
// rasteriser (these machines have no other) leaves the conversion to the
// decoder unless asked.
TEST_P(RendererGL, PlanarPicturesDrawLikeTheirCpuConversionAndTakeRectanglesOnTop)
{
    m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    EXPECT_FALSE(m_Renderer->FrameBufferPlanarUpdate(RenderPlanarPicture(WIDTH, HEIGHT, 3)));
    m_Renderer->PlanarAlwaysSet(true);
    ASSERT_TRUE(m_Renderer->FrameBufferPlanarUpdate(RenderPlanarPicture(WIDTH, HEIGHT, 3)));
    std::vector<uint8_t> window = PresentAndRead(WIDTH, HEIGHT);

    std::vector<uint8_t> converted;
    int width = 0, height = 0;
    ASSERT_TRUE(m_Renderer->FrameSnapshotGet(&converted, &width, &height));
    int worst = 0;
    for (int y = 0; y < HEIGHT; ++y)
        for (int x = 0; x < WIDTH; ++x)
            for (int c = 0; c < 3; ++c)
            {
                const int index = (y * WIDTH + x) * 4 + c;
                worst = std::max(worst, std::abs(int(window[index]) - int(converted[index])));
            }
    // The two chroma upsamplers differ by a level or two on these ramps; a
    // swapped plane or a wrong coefficient is off by tens.
    EXPECT_LE(worst, 4);
    EXPECT_EQ(window[3], 255);

    // The snapshot turned the picture into pixels; a rectangle now lands on
    // them and the next present shows both exactly.
    std::vector<uint8_t> band = RenderPatternRandom(WIDTH, 6, 9);
    PSRendererRect rect{0, 20, WIDTH, 26};
    ASSERT_TRUE(m_Renderer->FrameBufferPartialUpdate(band.data(), band.size(), WIDTH * 4, 21, &rect, 0));
    std::memcpy(&converted[20 * WIDTH * 4], band.data(), band.size());
    PictureExpect(PresentAndRead(WIDTH, HEIGHT), WIDTH, 0, 0, converted);

    // A planar picture after pixels, then a rectangle without any read in
    // between: the rectangle still comes out on top of the new picture.
    ASSERT_TRUE(m_Renderer->FrameBufferPlanarUpdate(RenderPlanarPicture(WIDTH, HEIGHT, 50)));
    (void)PresentAndRead(WIDTH, HEIGHT);
    ASSERT_TRUE(m_Renderer->FrameBufferPartialUpdate(band.data(), band.size(), WIDTH * 4, 21, &rect, 0));
    std::vector<uint8_t> window2 = PresentAndRead(WIDTH, HEIGHT);
    std::vector<uint8_t> held;
    ASSERT_TRUE(m_Renderer->FrameSnapshotGet(&held, &width, &height));
    EXPECT_EQ(std::memcmp(&held[20 * WIDTH * 4], band.data(), band.size()), 0);
    PictureExpect(window2, WIDTH, 0, 0, held);
}

INSTANTIATE_TEST_SUITE_P(Contexts, RendererGL, RENDER_CONTEXTS, RenderContextName);

TEST(DisplayViewOffscreen, AutomaticChoiceLeavesASoftwareRasteriserForMemory)
{
    // The test runs on llvmpipe (CMakeLists.txt): GL works there when asked
    // for, but left to choose, the view keeps the CPU for the decoders.
    RenderLogCapture log;
    SADisplayViewOffscreen gl(SADisplayViewOffscreen::Kind::Gl, nullptr, 64, 48);
    SADisplayViewOffscreen chosen(SADisplayViewOffscreen::Kind::GlOrCpu, nullptr, 64, 48);
    ASSERT_TRUE(gl.ResolutionSet(64, 48, true));
    ASSERT_TRUE(chosen.ResolutionSet(64, 48, true));
    EXPECT_TRUE(gl.IsGlGet());
    EXPECT_FALSE(chosen.IsGlGet());
    EXPECT_NE(chosen.DecodeTargetGet(), nullptr);
    EXPECT_EQ(log.Count(SA_LOG_THREAD, "OpenGL draws on the CPU, using PSRendererCpu"), 1) << log.All();
}
