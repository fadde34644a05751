// The update-areas renderer on a real context, OpenGL 3.3 core and OpenGL ES
// 3.0 alike: Mesa's surfaceless EGL platform, the accumulating back buffer
// and the shown window read back pixel by pixel.
#include "render/PSRendererGLUpdateAreas.h"
#include "render/PSRendererSurfaceEgl.h"
#include "tests/render/RenderTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>

namespace
{
constexpr int WIDTH = 64;
constexpr int HEIGHT = 48;
// The window colour beyond the back buffer, 0.04 in 8 bits.
constexpr uint8_t GREY = 10;

// A rectangle's pixels at a pitch of its width * 4.
struct Patch
{
    PSRendererRect rect;
    std::vector<uint8_t> pixels;
};

Patch PatchMake(int left, int top, int right, int bottom, uint32_t seed)
{
    return {{left, top, right, bottom}, RenderPatternRandom(right - left, bottom - top, seed)};
}

// Writes a patch (clipped to the screen) into a server-sized picture.
void PatchApply(std::vector<uint8_t>& screen, const Patch& patch)
{
    const int width = patch.rect.right - patch.rect.left;
    for (int y = std::max(patch.rect.top, 0); y < std::min(patch.rect.bottom, HEIGHT); ++y)
        for (int x = std::max(patch.rect.left, 0); x < std::min(patch.rect.right, WIDTH); ++x)
            std::memcpy(&screen[(y * WIDTH + x) * 4],
                        &patch.pixels[((y - patch.rect.top) * width + (x - patch.rect.left)) * 4], 4);
}

// Compares what the renderer shows (B, G, R, A) with received pixels
// (B, G, R, X): colours exact, alpha opaque. Counts wrong pixels, reporting
// the first few.
int PixelsWrong(const std::vector<uint8_t>& shown, const std::vector<uint8_t>& expected)
{
    if (shown.size() != expected.size())
    {
        ADD_FAILURE() << "sizes differ: " << shown.size() << " vs " << expected.size();
        return -1;
    }
    int wrong = 0;
    for (size_t i = 0; i < shown.size(); i += 4)
    {
        if (shown[i] != expected[i] || shown[i + 1] != expected[i + 1] || shown[i + 2] != expected[i + 2] ||
            shown[i + 3] != 255)
        {
            if (++wrong < 5)
                ADD_FAILURE() << "pixel " << (i / 4) % WIDTH << "," << (i / 4) / WIDTH << " got "
                              << int(shown[i]) << " " << int(shown[i + 1]) << " " << int(shown[i + 2]) << " "
                              << int(shown[i + 3]) << " want " << int(expected[i]) << " "
                              << int(expected[i + 1]) << " " << int(expected[i + 2]);
        }
    }
    return wrong;
}

class RendererUpdateAreas : public ::testing::TestWithParam<PSRendererSurfaceEgl::Api>
{
protected:
    void SetUp() override
    {
        RenderLogCapture log;
        m_Surface = std::make_unique<PSRendererSurfaceEgl>(GetParam());
        if (!m_Surface->Initialize())
            GTEST_SKIP() << "no such context on the surfaceless EGL platform: " << log.All();
        m_Renderer = std::make_unique<PSRendererGLUpdateAreas>([this] { return m_Clock.load(); });
        m_Renderer->SurfaceSet(m_Surface.get());
    }
    void TearDown() override
    {
        m_Renderer.reset(); // before the surface it draws into
        m_Surface.reset();
    }

    bool Update(const Patch& patch, int fragment)
    {
        return m_Renderer->FrameBufferPartialUpdate(patch.pixels.data(), patch.pixels.size(),
                                                    (patch.rect.right - patch.rect.left) * 4, 21, &patch.rect,
                                                    fragment);
    }
    std::vector<uint8_t> BackBuffer()
    {
        std::vector<uint8_t> pixels;
        int width = 0, height = 0;
        EXPECT_TRUE(m_Renderer->BackBufferSnapshotGet(&pixels, &width, &height));
        EXPECT_EQ(width, WIDTH);
        EXPECT_EQ(height, HEIGHT);
        return pixels;
    }
    std::vector<uint8_t> Window(int expectWidth, int expectHeight)
    {
        std::vector<uint8_t> pixels;
        int width = 0, height = 0;
        EXPECT_TRUE(m_Renderer->WindowSnapshotGet(&pixels, &width, &height));
        EXPECT_EQ(width, expectWidth);
        EXPECT_EQ(height, expectHeight);
        return pixels;
    }
    // A full first frame through fragment 0, presented; returns it.
    std::vector<uint8_t> FirstFrame(uint32_t seed)
    {
        Patch full = PatchMake(0, 0, WIDTH, HEIGHT, seed);
        EXPECT_TRUE(Update(full, 0));
        EXPECT_TRUE(m_Renderer->Present(1));
        return full.pixels;
    }

    std::atomic<uint32_t> m_Clock{5000};
    std::unique_ptr<PSRendererSurfaceEgl> m_Surface;
    std::unique_ptr<PSRendererGLUpdateAreas> m_Renderer;
};
} // namespace

TEST_P(RendererUpdateAreas, ThreeFragmentsDrawExactlyTheirAreasAndTheRestOfTheBackBufferStays)
{
    m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    EXPECT_TRUE(m_Renderer->RenderModeGet()) << "textured by default";
    std::vector<uint8_t> screen = FirstFrame(1);
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);

    // Three fragments of the next frame, with named colours in their corners
    // so that a red/blue exchange cannot hide in noise.
    Patch patches[3] = {PatchMake(2, 3, 20, 17, 2), PatchMake(30, 0, 64, 9, 3), PatchMake(5, 30, 41, 48, 4)};
    const uint8_t pureRed[4] = {0, 0, 255, 0};
    std::memcpy(patches[0].pixels.data(), pureRed, 4);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(Update(patches[i], i));
    // A fourth area is filled but the frame has three fragments: it waits.
    Patch waiting = PatchMake(44, 20, 60, 28, 5);
    ASSERT_TRUE(Update(waiting, 3));
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0) << "nothing reaches the back buffer before the present";

    ASSERT_TRUE(m_Renderer->Present(3));
    for (const Patch& patch : patches)
        PatchApply(screen, patch);
    std::vector<uint8_t> back = BackBuffer();
    EXPECT_EQ(PixelsWrong(back, screen), 0);
    EXPECT_EQ(back[(3 * WIDTH + 2) * 4 + 2], 255) << "pure red comes out red";
    EXPECT_EQ(back[(3 * WIDTH + 2) * 4 + 0], 0);
    EXPECT_EQ(PixelsWrong(Window(WIDTH, HEIGHT), screen), 0) << "the window shows the back buffer 1:1";

    ASSERT_TRUE(m_Renderer->Present(4));
    PatchApply(screen, waiting);
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);

    // The frame as received is held for snapshots whatever was presented.
    Patch unpresented = PatchMake(0, 0, 8, 8, 6);
    ASSERT_TRUE(Update(unpresented, 0));
    std::vector<uint8_t> received = screen;
    PatchApply(received, unpresented);
    std::vector<uint8_t> held;
    int width = 0, height = 0;
    ASSERT_TRUE(m_Renderer->FrameSnapshotGet(&held, &width, &height));
    EXPECT_EQ(held, received);
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);
}

TEST_P(RendererUpdateAreas, TheBackBufferIsNeverClearedAndOldRectanglesAreNotDrawnAgain)
{
    m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    std::vector<uint8_t> screen = FirstFrame(10);

    // A smaller rectangle for the same fragment: a texture of the new size,
    // drawn at its place, the pixels around it kept.
    Patch small = PatchMake(10, 10, 20, 16, 11);
    ASSERT_TRUE(Update(small, 0));
    ASSERT_TRUE(m_Renderer->Present(1));
    PatchApply(screen, small);
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);
    // Same size elsewhere: the texture is reused.
    Patch moved = PatchMake(40, 30, 50, 36, 12);
    ASSERT_TRUE(Update(moved, 0));
    ASSERT_TRUE(m_Renderer->Present(1));
    PatchApply(screen, moved);
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);

    // Repaints draw no area and change nothing.
    ASSERT_TRUE(m_Renderer->Present(0));
    ASSERT_TRUE(m_Renderer->Present(0));
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);

    // Fragment 1 lands on B; a later frame of one fragment paints over B; a
    // third frame of two fragments where fragment 1 never arrived must not
    // bring B's old pixels back.
    Patch b = PatchMake(0, 20, 16, 30, 13);
    Patch a = PatchMake(30, 0, 40, 8, 14);
    ASSERT_TRUE(Update(a, 0));
    ASSERT_TRUE(Update(b, 1));
    ASSERT_TRUE(m_Renderer->Present(2));
    Patch overB = PatchMake(0, 18, 20, 32, 15);
    ASSERT_TRUE(Update(overB, 0));
    ASSERT_TRUE(m_Renderer->Present(1));
    Patch a2 = PatchMake(50, 40, 60, 48, 16);
    ASSERT_TRUE(Update(a2, 0));
    RenderLogCapture log;
    ASSERT_TRUE(m_Renderer->Present(2));
    for (const Patch* patch : {&a, &b, &overB, &a2})
        PatchApply(screen, *patch);
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "failed"), 0) << log.All();
}

TEST_P(RendererUpdateAreas, AFragmentThatNeverArrivedIsLoggedAndTheFrameStillPresented)
{
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    Patch a = PatchMake(0, 0, 10, 10, 20);
    Patch b = PatchMake(10, 10, 20, 20, 21);
    ASSERT_TRUE(Update(a, 0));
    ASSERT_TRUE(Update(b, 1));
    RenderLogCapture log;
    EXPECT_TRUE(m_Renderer->Present(3));
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::PrivateRectangleDraw "
                                        "ScreenUpdateArea.ToVertexBuffer failed!"),
              1);
    EXPECT_EQ(log.Count(SA_LOG_FAILURE,
                        "PSRendererGLUpdateAreas::PrivateScreenUpdatesDraw PrivateRectangleDraw "
                        "failed! CountFragments:3 FragmentIndex:2"),
              1);
    std::vector<uint8_t> screen(WIDTH * HEIGHT * 4, 0); // the back buffer starts black
    PatchApply(screen, a);
    PatchApply(screen, b);
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);
}

TEST_P(RendererUpdateAreas, TexturingDisabledDrawsEachRectangleAsACorneredGradient)
{
    m_Renderer->RenderModeSet(false);
    EXPECT_FALSE(m_Renderer->RenderModeGet());
    RenderLogCapture log;
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "technique texturingDisabled"), 1);
    const int left = 8, top = 6, right = 48, bottom = 38;
    Patch patch = PatchMake(left, top, right, bottom, 30);
    ASSERT_TRUE(Update(patch, 0));
    ASSERT_TRUE(m_Renderer->Present(1));
    std::vector<uint8_t> back = BackBuffer();
    auto at = [&](int x, int y) { return &back[(y * WIDTH + x) * 4]; };
    // B, G, R of each corner pixel: within a few steps of the corner colour
    // (the pixel centre is half a pixel inside).
    struct Corner
    {
        int x, y;
        uint8_t b, g, r;
        const char* name;
    };
    const Corner corners[] = {{left, top, 0, 255, 0, "top-left green"},
                              {right - 1, top, 0, 255, 255, "top-right yellow"},
                              {left, bottom - 1, 0, 0, 255, "bottom-left red"},
                              {right - 1, bottom - 1, 255, 0, 0, "bottom-right blue"}};
    for (const Corner& corner : corners)
    {
        const uint8_t* p = at(corner.x, corner.y);
        EXPECT_NEAR(p[0], corner.b, 16) << corner.name;
        EXPECT_NEAR(p[1], corner.g, 16) << corner.name;
        EXPECT_NEAR(p[2], corner.r, 16) << corner.name;
        EXPECT_EQ(p[3], 255) << corner.name;
    }
    // The quad is two triangles split along the diagonal from the top-left to
    // the bottom-right corner: its middle lies on that edge, half green, half
    // blue.
    const uint8_t* middle = at((left + right) / 2, (top + bottom) / 2);
    EXPECT_NEAR(middle[0], 128, 12);
    EXPECT_NEAR(middle[1], 128, 12);
    EXPECT_NEAR(middle[2], 0, 12);
    // Outside the rectangle the back buffer is as it started: black.
    for (int y = 0; y < HEIGHT; ++y)
        for (int x = 0; x < WIDTH; ++x)
            if (x < left || x >= right || y < top || y >= bottom)
            {
                const uint8_t* p = at(x, y);
                ASSERT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 255) << x << "," << y;
            }
}

TEST_P(RendererUpdateAreas, TheWindowShowsTheBackBufferOneToOneAndCutsWhatDoesNotFit)
{
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    std::vector<uint8_t> screen = FirstFrame(40);

    // No window size yet: shown at the server's size.
    EXPECT_EQ(PixelsWrong(Window(WIDTH, HEIGHT), screen), 0);

    // Smaller: the top-left part, unscaled.
    m_Renderer->WindowSizeSet(40, 30);
    ASSERT_TRUE(m_Renderer->Present(0));
    std::vector<uint8_t> small = Window(40, 30);
    int wrong = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            wrong += std::memcmp(&small[(y * 40 + x) * 4], &screen[(y * WIDTH + x) * 4], 3) != 0;
    EXPECT_EQ(wrong, 0);

    // Larger: the picture at the top-left, dark grey beyond it.
    m_Renderer->WindowSizeSet(80, 60);
    std::vector<uint8_t> large = Window(80, 60);
    wrong = 0;
    int greyWrong = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 80; ++x)
        {
            const uint8_t* p = &large[(y * 80 + x) * 4];
            if (x < WIDTH && y < HEIGHT)
                wrong += std::memcmp(p, &screen[(y * WIDTH + x) * 4], 3) != 0;
            else
                greyWrong += !(p[0] == GREY && p[1] == GREY && p[2] == GREY && p[3] == 255);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(greyWrong, 0);

    // The view operations change nothing here.
    m_Renderer->ParameterScaleAdjust(-0.5f);
    m_Renderer->ParameterTranslateAdjust(0.3f, 0.2f);
    m_Renderer->ParameterRotateAdjust(0.4f, 0.4f, 0.4f);
    m_Renderer->ParametersReset();
    EXPECT_EQ(Window(80, 60), large);
    float cx = -1, cy = -1;
    m_Renderer->PictureCenterGet(&cx, &cy);
    EXPECT_EQ(cx, 0.0f);
    EXPECT_EQ(cy, 0.0f);
}

TEST_P(RendererUpdateAreas, WindowPointsMapOneToOneAndTheEdgesAreRejected)
{
    float result[2] = {-1, -1}, size[2] = {-1, -1};
    RenderLogCapture log;
    EXPECT_FALSE(m_Renderer->ScreenClientToTarget(0, 0, result, size)) << "no window size yet";

    // The window is sized before the first resolution arrives and keeps it.
    m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
    float width = 0, height = 0;
    m_Renderer->WindowSizeGet(&width, &height);
    EXPECT_EQ(width, WIDTH);
    EXPECT_EQ(height, HEIGHT);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    const float inside[][2] = {{0, 0}, {12.5f, 7.25f}, {63.5f, 47.5f}, {63.999f, 0}};
    for (const auto& point : inside)
    {
        ASSERT_TRUE(m_Renderer->ScreenClientToTarget(point[0], point[1], result, size))
            << point[0] << "," << point[1];
        EXPECT_EQ(result[0], point[0]);
        EXPECT_EQ(result[1], point[1]);
        EXPECT_EQ(size[0], WIDTH);
        EXPECT_EQ(size[1], HEIGHT);
    }
    log.Clear();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float outside[][2] = {{64, 10}, {10, 48}, {64, 48}, {1000, 1000}, {-1, 5}, {5, -0.5f}, {nan, 5}};
    for (const auto& point : outside)
    {
        result[0] = result[1] = -7;
        EXPECT_FALSE(m_Renderer->ScreenClientToTarget(point[0], point[1], result, size))
            << point[0] << "," << point[1];
        EXPECT_EQ(result[0], -7) << "no result on a rejected point";
    }
    EXPECT_EQ(log.Count(SA_LOG_FAILURE,
                        "PSRendererGLUpdateAreas::ScreenClientToTarget failed! Input not within the window"),
              7);
}

// The picture is shown 1:1 from the top-left corner whatever the window's
// size. A point's result / size must still be its place on the server's
// screen, which is what the input records send; grey beside a smaller
// picture is on no part of it.
TEST_P(RendererUpdateAreas, PointsMapToTheirPlaceOnAPictureOfAnotherSize)
{
    float result[2] = {-1, -1}, size[2] = {-1, -1};
    RenderLogCapture log;
    m_Renderer->WindowSizeSet(WIDTH, HEIGHT); // 64 x 48
    const auto serverPoint = [&](int axis) { return size[axis] > 0 ? result[axis] / size[axis] : -1.0f; };

    ASSERT_TRUE(m_Renderer->ResolutionSet(32, 24)); // smaller: grey to the right and below
    ASSERT_TRUE(m_Renderer->ScreenClientToTarget(10, 5, result, size));
    EXPECT_EQ(size[0], WIDTH);
    EXPECT_EQ(size[1], HEIGHT);
    EXPECT_FLOAT_EQ(serverPoint(0) * 32, 10.0f);
    EXPECT_FLOAT_EQ(serverPoint(1) * 24, 5.0f);
    EXPECT_FALSE(m_Renderer->ScreenClientToTarget(40, 5, result, size));
    EXPECT_FALSE(m_Renderer->ScreenClientToTarget(10, 30, result, size));
    EXPECT_EQ(log.Count(SA_LOG_FAILURE,
                        "PSRendererGLUpdateAreas::ScreenClientToTarget failed! Input not within the picture"),
              2);

    ASSERT_TRUE(m_Renderer->ResolutionSet(128, 96)); // larger: only its top-left part shows
    ASSERT_TRUE(m_Renderer->ScreenClientToTarget(63, 47, result, size));
    EXPECT_FLOAT_EQ(serverPoint(0) * 128, 63.0f);
    EXPECT_FLOAT_EQ(serverPoint(1) * 96, 47.0f);
}

TEST_P(RendererUpdateAreas, RectanglesPartlyOutsideAreClippedToTheScreen)
{
    m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    std::vector<uint8_t> screen = FirstFrame(50);
    // Over the top-left corner, over the bottom-right corner, and over the
    // right edge from a source whose pitch is wider than its rows.
    Patch topLeft = PatchMake(-10, -5, 20, 15, 51);
    Patch bottomRight = PatchMake(50, 40, 80, 60, 52);
    ASSERT_TRUE(Update(topLeft, 0));
    ASSERT_TRUE(Update(bottomRight, 1));
    const int pitch = 30 * 4 + 20;
    std::vector<uint8_t> wide = RenderPatternRandom(pitch / 4, 10, 53);
    wide.resize(static_cast<size_t>(9) * pitch + 30 * 4); // exactly what the rectangle needs
    PSRendererRect wideRect{44, 25, 74, 35};
    ASSERT_TRUE(m_Renderer->FrameBufferPartialUpdate(wide.data(), wide.size(), pitch, 21, &wideRect, 2));
    ASSERT_TRUE(m_Renderer->Present(3));

    PatchApply(screen, topLeft);
    PatchApply(screen, bottomRight);
    for (int y = 25; y < 35; ++y)
        std::memcpy(&screen[(y * WIDTH + 44) * 4], &wide[(y - 25) * pitch], (WIDTH - 44) * 4);
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);
    std::vector<uint8_t> held;
    int width = 0, height = 0;
    ASSERT_TRUE(m_Renderer->FrameSnapshotGet(&held, &width, &height));
    EXPECT_EQ(held, screen);
}

TEST_P(RendererUpdateAreas, HostileRectanglesAndSourcesAreRefusedWithoutTouchingAnything)
{
    Patch ok = PatchMake(4, 4, 12, 10, 60);
    RenderLogCapture log;
    EXPECT_FALSE(Update(ok, 0)) << "no resolution yet";
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "FrameBufferPartialUpdate failed! no resolution set"), 1);

    m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    std::vector<uint8_t> screen = FirstFrame(61);
    std::vector<uint8_t> received;
    int width = 0, height = 0;
    ASSERT_TRUE(m_Renderer->FrameSnapshotGet(&received, &width, &height));

    // Each source is exactly as large as its description says, so that a read
    // past it is caught under AddressSanitizer.
    std::vector<uint8_t> source = RenderPatternRandom(8, 6, 62);
    struct Case
    {
        const char* name;
        const void* pixels;
        size_t bytes;
        int pitch;
        PSRendererRect rect;
        bool nullRect;
        int fragment;
    };
    const Case cases[] = {
        {"null pixels", nullptr, source.size(), 32, {4, 4, 12, 10}, false, 0},
        {"null rectangle", source.data(), source.size(), 32, {}, true, 0},
        {"fragment -1", source.data(), source.size(), 32, {4, 4, 12, 10}, false, -1},
        {"fragment 4", source.data(), source.size(), 32, {4, 4, 12, 10}, false, 4},
        {"fragment 1000", source.data(), source.size(), 32, {4, 4, 12, 10}, false, 1000},
        {"empty", source.data(), source.size(), 32, {4, 4, 4, 10}, false, 0},
        {"inverted", source.data(), source.size(), 32, {12, 10, 4, 4}, false, 0},
        {"whole 32-bit range",
         source.data(),
         source.size(),
         32,
         {INT_MIN, INT_MIN, INT_MAX, INT_MAX},
         false,
         0},
        {"wraps in 32 bits", source.data(), source.size(), 32, {INT_MAX - 2, 0, INT_MIN + 5, 6}, false, 0},
        {"pitch shorter than a row", source.data(), source.size(), 28, {4, 4, 12, 10}, false, 0},
        {"negative pitch", source.data(), source.size(), -32, {4, 4, 12, 10}, false, 0},
        {"source one byte short", source.data(), source.size() - 1, 32, {4, 4, 12, 10}, false, 0},
        {"more rows than the source", source.data(), source.size(), 32, {4, 4, 12, 11}, false, 0},
        {"entirely outside right", source.data(), source.size(), 32, {64, 4, 72, 10}, false, 0},
        {"entirely outside above", source.data(), source.size(), 32, {4, -6, 12, 0}, false, 0},
        {"far outside", source.data(), source.size(), 32, {100000, 100000, 100008, 100006}, false, 0},
    };
    for (const Case& c : cases)
    {
        log.Clear();
        EXPECT_FALSE(m_Renderer->FrameBufferPartialUpdate(c.pixels, c.bytes, c.pitch, 21,
                                                          c.nullRect ? nullptr : &c.rect, c.fragment))
            << c.name;
        EXPECT_GE(log.Count(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::FrameBufferPartialUpdate"), 1)
            << c.name;
    }
    ASSERT_TRUE(m_Renderer->Present(4));
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);
    std::vector<uint8_t> after;
    ASSERT_TRUE(m_Renderer->FrameSnapshotGet(&after, &width, &height));
    EXPECT_EQ(after, received);

    // The exact size is enough.
    ASSERT_TRUE(m_Renderer->FrameBufferPartialUpdate(source.data(), source.size(), 32, 21, &ok.rect, 3));
    ASSERT_TRUE(m_Renderer->Present(4));
    PatchApply(screen, {ok.rect, source});
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);

    // Sizes beyond any screen are refused before anything is allocated.
    log.Clear();
    EXPECT_FALSE(m_Renderer->ResolutionSet(0, 10));
    EXPECT_FALSE(m_Renderer->ResolutionSet(10, -1));
    EXPECT_FALSE(m_Renderer->ResolutionSet(INT_MAX, INT_MAX));
    EXPECT_FALSE(m_Renderer->ResolutionSet(16384, 16384));
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::ResolutionSet failed!"), 4);
    EXPECT_EQ(m_Renderer->StatusGet().ResolutionX, WIDTH) << "a refused size changes nothing";
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);
}

TEST_P(RendererUpdateAreas, StatusClearMakesTheSameSizeRebuildAndTheMeterCountsFrames)
{
    RenderLogCapture log;
    EXPECT_FALSE(m_Renderer->Present(1));
    EXPECT_FALSE(m_Renderer->Present(1));
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "PSRendererGLUpdateAreas::Present failed!"), 1) << "logged once";

    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    m_Renderer->StatusValueSet(7);
    PSRendererStatus status = m_Renderer->StatusGet();
    EXPECT_EQ(status.StatusValue, 7);
    EXPECT_EQ(status.ResolutionX, WIDTH);
    EXPECT_EQ(status.ResolutionY, HEIGHT);
    EXPECT_EQ(status.FramesPerSecond, 0);
    std::vector<uint8_t> screen = FirstFrame(70);

    // The same size again keeps everything.
    log.Clear();
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "PSRendererGLUpdateAreas::ResolutionSet X:64 Y:48"), 0);
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);

    // After StatusClear the same size builds a new, black back buffer.
    m_Renderer->StatusClear();
    status = m_Renderer->StatusGet();
    EXPECT_EQ(status.StatusValue, 0);
    EXPECT_EQ(status.ResolutionX, 0);
    EXPECT_EQ(status.ResolutionY, 0);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    EXPECT_EQ(log.Count(SA_LOG_RENDER, "PSRendererGLUpdateAreas::ResolutionSet X:64 Y:48"), 1);
    EXPECT_EQ(m_Renderer->StatusGet().ResolutionX, WIDTH);
    EXPECT_EQ(PixelsWrong(BackBuffer(), std::vector<uint8_t>(WIDTH * HEIGHT * 4, 0)), 0);

    // Uninitialize releases everything; the same size then rebuilds.
    m_Renderer->Uninitialize(false);
    EXPECT_FALSE(m_Renderer->Present(1));
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    EXPECT_TRUE(m_Renderer->Present(0));

    // 50 frames 20 ms apart: 49 gaps over 980 ms, 50 frames per second.
    // Repaints between them do not count.
    for (int i = 0; i < 50; ++i)
    {
        m_Clock += 20;
        ASSERT_TRUE(m_Renderer->Present(1));
        ASSERT_TRUE(m_Renderer->Present(0));
    }
    EXPECT_EQ(m_Renderer->StatusGet().FramesPerSecond, 50);

    // A new size: a back buffer of that size.
    ASSERT_TRUE(m_Renderer->ResolutionSet(33, 17));
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(m_Renderer->BackBufferSnapshotGet(&pixels, &width, &height));
    EXPECT_EQ(width, 33);
    EXPECT_EQ(height, 17);
}

TEST_P(RendererUpdateAreas, OddScreenSizesPlaceRectanglesExactly)
{
    const int w = 37, h = 23;
    ASSERT_TRUE(m_Renderer->ResolutionSet(w, h));
    std::vector<uint8_t> screen(w * h * 4, 0);
    std::vector<uint8_t> source = RenderPatternRandom(5, 7, 80);
    PSRendererRect rect{31, 15, 36, 22};
    ASSERT_TRUE(m_Renderer->FrameBufferPartialUpdate(source.data(), source.size(), 20, 21, &rect, 0));
    ASSERT_TRUE(m_Renderer->Present(1));
    for (int y = 0; y < 7; ++y)
        std::memcpy(&screen[((15 + y) * w + 31) * 4], &source[y * 20], 20);
    std::vector<uint8_t> back;
    int width = 0, height = 0;
    ASSERT_TRUE(m_Renderer->BackBufferSnapshotGet(&back, &width, &height));
    ASSERT_EQ(back.size(), screen.size());
    int wrong = 0;
    for (size_t i = 0; i < back.size(); i += 4)
        wrong += std::memcmp(&back[i], &screen[i], 3) != 0;
    EXPECT_EQ(wrong, 0);
}

TEST_P(RendererUpdateAreas, FourDecoderThreadsFillTheirAreasAtOnce)
{
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    std::vector<uint8_t> screen(WIDTH * HEIGHT * 4, 0);
    // Four quarter-height bands, written again and again; the last write of
    // each thread is what the present draws.
    std::vector<Patch> last(4);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int fragment = 0; fragment < 4; ++fragment)
        threads.emplace_back(
            [&, fragment]
            {
                for (int round = 0; round < 50; ++round)
                {
                    Patch patch =
                        PatchMake(0, fragment * 12, WIDTH, fragment * 12 + 12, fragment * 100 + round);
                    if (!Update(patch, fragment))
                        ++failures;
                    if (round == 49)
                        last[fragment] = patch;
                }
            });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_TRUE(m_Renderer->Present(4));
    for (const Patch& patch : last)
        PatchApply(screen, patch);
    EXPECT_EQ(PixelsWrong(BackBuffer(), screen), 0);
}

INSTANTIATE_TEST_SUITE_P(Contexts, RendererUpdateAreas, RENDER_CONTEXTS, RenderContextName);
