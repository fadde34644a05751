// The pointer overlay: its compositing arithmetic on plain pixel buffers,
// and its record and restore of the background in the update-areas
// renderer's back buffer on a real GL context.
#include "render/DNRPointer.h"
#include "render/PSRendererGLUpdateAreas.h"
#include "render/PSRendererScreenUpdateArea.h"
#include "render/PSRendererSurfaceEgl.h"
#include "tests/render/RenderTestSupport.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <climits>
#include <memory>

namespace
{
// A pixel as the 32-bit little-endian value the overlay reads: 0xAARRGGBB.
std::vector<uint8_t> Pixels(std::initializer_list<uint32_t> values)
{
    std::vector<uint8_t> bytes;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return bytes;
}

uint32_t PixelAt(const std::vector<uint8_t>& bytes, size_t index)
{
    return static_cast<uint32_t>(bytes[index * 4]) | static_cast<uint32_t>(bytes[index * 4 + 1]) << 8 |
           static_cast<uint32_t>(bytes[index * 4 + 2]) << 16 |
           static_cast<uint32_t>(bytes[index * 4 + 3]) << 24;
}

// Composites a one-row shape onto a one-row background.
std::vector<uint8_t> ComposeRow(std::initializer_list<uint32_t> shape,
                                std::initializer_list<uint32_t> background, int type, bool visible = true)
{
    std::vector<uint8_t> s = Pixels(shape), work = Pixels(background);
    DNRPointer::Compose(s.data(), s.size(), type, visible, work.data(), work.size(),
                        static_cast<int>(shape.size()), 1);
    return work;
}
} // namespace

TEST(PointerCompose, MonochromeXorsWhereTheAlphaIsZeroAndReplacesElsewhere)
{
    std::vector<uint8_t> work = ComposeRow({0x00FFFFFF, 0x00000000, 0x00102030, 0xFF112233, 0x01000000}, //
                                           {0xFF405060, 0xFF405060, 0xFF405060, 0xFF405060, 0xFF405060},
                                           DNRPointer::SHAPE_TYPE_MONOCHROME);
    EXPECT_EQ(PixelAt(work, 0), 0xFFBFAF9Fu) << "XOR with white inverts the colour";
    EXPECT_EQ(PixelAt(work, 1), 0xFF405060u) << "XOR with zero leaves the screen";
    EXPECT_EQ(PixelAt(work, 2), 0xFF507050u);
    EXPECT_EQ(PixelAt(work, 3), 0xFF112233u) << "any alpha replaces";
    EXPECT_EQ(PixelAt(work, 4), 0x01000000u) << "even alpha 1 with black";
}

TEST(PointerCompose, MaskedColourDoesTheOpposite)
{
    std::vector<uint8_t> work =
        ComposeRow({0x00FFFFFF, 0x00112233, 0xFF00FFFF, 0x80000000}, //
                   {0xFF405060, 0xFF405060, 0xFF405060, 0xFF405060}, DNRPointer::SHAPE_TYPE_MASKED_COLOR);
    EXPECT_EQ(PixelAt(work, 0), 0x00FFFFFFu) << "alpha 0 replaces";
    EXPECT_EQ(PixelAt(work, 1), 0x00112233u);
    EXPECT_EQ(PixelAt(work, 2), 0x0040AF9Fu) << "alpha set XORs, alpha included";
    EXPECT_EQ(PixelAt(work, 3), 0x7F405060u);
}

TEST(PointerCompose, ColourBlendsPremultipliedAndHoldsSumsAtWhite)
{
    // Background B, G, R = 50, 100, 200, opaque.
    const uint32_t background = 0xFFC86432;
    std::vector<uint8_t> work = ComposeRow({0xFF0A141E, 0x00000000, 0x80404040, 0x80FAFAFA, 0x00050505},
                                           {background, background, background, background, 0x00C86432},
                                           DNRPointer::SHAPE_TYPE_COLOR);
    EXPECT_EQ(PixelAt(work, 0), 0xFF0A141Eu) << "alpha 255 replaces the colour";
    EXPECT_EQ(PixelAt(work, 1), background) << "a zero pixel leaves the background";
    // k = 1 - 128/255; each byte = int(d * k + 64): 200 -> 163, 100 -> 113, 50 -> 88.
    EXPECT_EQ(PixelAt(work, 2), 0xFFA37158u);
    // 200 * k + 250 and 100 * k + 250 pass 255 and are held there; 50 * k +
    // 250 = 274.9 too. Without the hold they would wrap to dark values.
    EXPECT_EQ(PixelAt(work, 3), 0xFFFFFFFFu);
    // A background alpha of 0 counts as opaque and stays 0; alpha 0 in the
    // shape adds its colour: 200 + 5, 100 + 5, 50 + 5.
    EXPECT_EQ(PixelAt(work, 4), 0x00CD6937u);
}

TEST(PointerCompose, HiddenPointerAndUnknownTypesLeaveTheBackground)
{
    const std::initializer_list<uint32_t> shape = {0xFF0A141E, 0x00FFFFFF, 0x80404040};
    const std::initializer_list<uint32_t> background = {0xFF405060, 0xFF112233, 0xFFC86432};
    for (int type : {1, 2, 4})
        EXPECT_EQ(ComposeRow(shape, background, type, false), Pixels(background)) << "type " << type;
    for (int type : {0, 3, 5, -1, INT_MAX})
        EXPECT_EQ(ComposeRow(shape, background, type, true), Pixels(background)) << "type " << type;
}

TEST(PointerCompose, PitchesAreRespectedAndOnlyTheClippedPartIsTouched)
{
    // A 4 x 3 shape at a pitch of 6 pixels composited onto a 2 x 2 cut of it
    // (the pointer at a corner): the work buffer holds exactly 2 x 2 pixels,
    // so a write past the cut is caught under AddressSanitizer.
    std::vector<uint8_t> shape(3 * 24);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
        {
            const uint32_t v = 0xFF000000u | static_cast<uint32_t>(y * 16 + x);
            std::memcpy(&shape[y * 24 + x * 4], &v, 4);
        }
    std::vector<uint8_t> work = Pixels({1, 2, 3, 4});
    DNRPointer::Compose(shape.data(), 24, DNRPointer::SHAPE_TYPE_MONOCHROME, true, work.data(), 8, 2, 2);
    EXPECT_EQ(PixelAt(work, 0), 0xFF000000u);
    EXPECT_EQ(PixelAt(work, 1), 0xFF000001u);
    EXPECT_EQ(PixelAt(work, 2), 0xFF000010u);
    EXPECT_EQ(PixelAt(work, 3), 0xFF000011u);
}

TEST(PointerCompose, RectanglesAreClippedAtTheBufferEdges)
{
    PSRendererRect clipped{};
    ASSERT_TRUE(DNRPointer::RectangleClip(10, 12, 8, 8, 64, 48, &clipped));
    EXPECT_EQ(clipped.left, 10);
    EXPECT_EQ(clipped.right, 18);
    ASSERT_TRUE(DNRPointer::RectangleClip(60, 44, 8, 8, 64, 48, &clipped));
    EXPECT_EQ(clipped.right, 64);
    EXPECT_EQ(clipped.bottom, 48);
    ASSERT_TRUE(DNRPointer::RectangleClip(63, 47, 32, 32, 64, 48, &clipped));
    EXPECT_EQ(clipped.right - clipped.left, 1);
    EXPECT_EQ(clipped.bottom - clipped.top, 1);
    EXPECT_FALSE(DNRPointer::RectangleClip(64, 10, 8, 8, 64, 48, &clipped)) << "at the edge: nothing inside";
    EXPECT_FALSE(DNRPointer::RectangleClip(10, 48, 8, 8, 64, 48, &clipped));
    EXPECT_FALSE(DNRPointer::RectangleClip(10, 10, 0, 8, 64, 48, &clipped));
    EXPECT_FALSE(DNRPointer::RectangleClip(UINT32_MAX, 10, 8, 8, 64, 48, &clipped));
}

TEST(PointerShape, HostileShapesAreRefused)
{
    RenderLogCapture log;
    DNRPointer pointer;
    std::vector<uint8_t> bits(16 * 16 * 4, 0xFF);
    EXPECT_FALSE(pointer.ShapeSet(16, 16, 60, 2, bits.data())) << "pitch shorter than a row";
    EXPECT_FALSE(pointer.ShapeSet(2000, 16, 8000, 2, bits.data())) << "wider than any pointer";
    EXPECT_FALSE(pointer.ShapeSet(16, -3, 64, 2, bits.data()));
    EXPECT_FALSE(pointer.ShapeSet(16, 16, 64, 2, nullptr));
    EXPECT_EQ(log.Count(SA_LOG_FAILURE, "DNRPointer::ShapeSet failed!"), 4);
    // A good shape, then one of another size: the old pointer must leave the
    // screen, so a repaint is asked for; the same size only replaces the bits.
    EXPECT_FALSE(pointer.ShapeSet(16, 16, 64, 2, bits.data()));
    EXPECT_FALSE(pointer.ShapeSet(16, 16, 64, 4, bits.data()));
    EXPECT_TRUE(pointer.ShapeSet(8, 8, 64, 4, bits.data()));
    EXPECT_TRUE(pointer.ShapeSet(0, 0, 0, 0, nullptr)) << "removing the shape takes it off the screen";
    EXPECT_FALSE(pointer.PositionSet(5, 5, true, 0, 48)) << "nothing without a resolution";
}

namespace
{
constexpr int WIDTH = 64;
constexpr int HEIGHT = 48;

class PointerGL : public ::testing::TestWithParam<PSRendererSurfaceEgl::Api>
{
protected:
    void SetUp() override
    {
        RenderLogCapture log;
        m_Surface = std::make_unique<PSRendererSurfaceEgl>(GetParam());
        if (!m_Surface->Initialize())
            GTEST_SKIP() << "no such context on the surfaceless EGL platform: " << log.All();
        m_Renderer = std::make_unique<PSRendererGLUpdateAreas>();
        m_Renderer->SurfaceSet(m_Surface.get());
        m_Renderer->WindowSizeSet(WIDTH, HEIGHT);
        ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
        m_Screen = RenderPatternRandom(WIDTH, HEIGHT, 90);
        ASSERT_TRUE(RenderFrameWrite(*m_Renderer, m_Screen, WIDTH, HEIGHT));
        ASSERT_TRUE(m_Renderer->Present(1));
    }
    void TearDown() override
    {
        m_Renderer.reset();
        m_Surface.reset();
    }

    std::vector<uint8_t> BackBuffer()
    {
        std::vector<uint8_t> pixels;
        int width = 0, height = 0;
        EXPECT_TRUE(m_Renderer->BackBufferSnapshotGet(&pixels, &width, &height));
        return pixels;
    }
    std::vector<uint8_t> Window()
    {
        std::vector<uint8_t> pixels;
        int width = 0, height = 0;
        EXPECT_TRUE(m_Renderer->WindowSnapshotGet(&pixels, &width, &height));
        EXPECT_EQ(width, WIDTH);
        EXPECT_EQ(height, HEIGHT);
        return pixels;
    }
    // Pixels whose colour differs from `expected` inside [x0, x1) x [y0, y1)
    // (expectInside) or outside it (!expectInside), comparing B, G, R.
    static int Differing(const std::vector<uint8_t>& got, const std::vector<uint8_t>& expected, int x0,
                         int y0, int x1, int y1, bool inside)
    {
        int count = 0;
        for (int y = 0; y < HEIGHT; ++y)
            for (int x = 0; x < WIDTH; ++x)
            {
                const bool in = x >= x0 && x < x1 && y >= y0 && y < y1;
                if (in == inside)
                    count += std::memcmp(&got[(y * WIDTH + x) * 4], &expected[(y * WIDTH + x) * 4], 3) != 0;
            }
        return count;
    }
    // A solid shape of one B, G, R colour with alpha 0: type 4 draws it as is.
    static std::vector<uint8_t> SolidShape(int side, uint8_t b, uint8_t g, uint8_t r)
    {
        std::vector<uint8_t> bits(side * side * 4);
        for (size_t i = 0; i < bits.size(); i += 4)
        {
            bits[i] = b;
            bits[i + 1] = g;
            bits[i + 2] = r;
            bits[i + 3] = 0;
        }
        return bits;
    }
    // The screen with a solid square of the colour at [x0, x1) x [y0, y1).
    std::vector<uint8_t> WithSquare(int x0, int y0, int x1, int y1, uint8_t b, uint8_t g, uint8_t r)
    {
        std::vector<uint8_t> expected = m_Screen;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
            {
                uint8_t* p = &expected[(y * WIDTH + x) * 4];
                p[0] = b;
                p[1] = g;
                p[2] = r;
            }
        return expected;
    }

    std::unique_ptr<PSRendererSurfaceEgl> m_Surface;
    std::unique_ptr<PSRendererGLUpdateAreas> m_Renderer;
    std::vector<uint8_t> m_Screen;
};
} // namespace

TEST_P(PointerGL, ThePointerIsShownAndItsBackgroundRestoredAfterEachPresent)
{
    RenderLogCapture log;
    std::vector<uint8_t> shape = SolidShape(8, 10, 200, 30);
    m_Renderer->PointerShapeSet(8, 8, 32, DNRPointer::SHAPE_TYPE_MASKED_COLOR, shape.data());
    // Without a repaint request, the move presents at once.
    m_Renderer->PointerPositionSet(10, 12, true);
    EXPECT_EQ(log.Count(SA_LOG_POINTER, "DNRPointer::PositionSet X:10 Y:12 Visibility:1"), 1);
    EXPECT_EQ(log.Count(SA_LOG_POINTER, "DNRPointer::BackgroundRestore X:10 Y:12 Box.right:8 Box.bottom:8"),
              1);
    std::vector<uint8_t> expected = WithSquare(10, 12, 18, 20, 10, 200, 30);
    std::vector<uint8_t> window = Window();
    EXPECT_EQ(Differing(window, expected, 10, 12, 18, 20, true), 0);
    EXPECT_EQ(Differing(window, expected, 10, 12, 18, 20, false), 0);
    EXPECT_EQ(Differing(BackBuffer(), m_Screen, 0, 0, WIDTH, HEIGHT, true), 0)
        << "the back buffer holds no pointer between presents";

    // Moved: the old place shows the screen again, the new one the pointer.
    int repaints = 0;
    m_Renderer->RepaintRequestSet([&] { ++repaints; });
    m_Renderer->PointerPositionSet(30, 20, true);
    EXPECT_EQ(repaints, 1) << "with a repaint request the move only asks for a repaint";
    ASSERT_TRUE(m_Renderer->Present(0));
    expected = WithSquare(30, 20, 38, 28, 10, 200, 30);
    EXPECT_EQ(Differing(Window(), expected, 0, 0, WIDTH, HEIGHT, true), 0);

    // Updates under the pointer land on clean pixels: no trail, and the
    // pointer drawn over the new pixels. The background is read right after
    // the rectangles are drawn, so a read that does not wait for them would
    // record (and then restore) the pixels from before the update.
    for (uint32_t round = 0; round < 8; ++round)
    {
        std::vector<uint8_t> band = RenderPatternRandom(WIDTH, 16, 91 + round);
        PSRendererRect rect{0, 16, WIDTH, 32};
        ASSERT_TRUE(m_Renderer->FrameBufferPartialUpdate(band.data(), band.size(), WIDTH * 4, 21, &rect, 0));
        ASSERT_TRUE(m_Renderer->Present(1));
        std::memcpy(&m_Screen[16 * WIDTH * 4], band.data(), band.size());
        EXPECT_EQ(Differing(BackBuffer(), m_Screen, 0, 0, WIDTH, HEIGHT, true), 0) << "round " << round;
        expected = WithSquare(30, 20, 38, 28, 10, 200, 30);
        EXPECT_EQ(Differing(Window(), expected, 0, 0, WIDTH, HEIGHT, true), 0) << "round " << round;
    }
}

TEST_P(PointerGL, AHiddenPointerDrawsTheBackgroundBackUnchanged)
{
    std::vector<uint8_t> shape = SolidShape(8, 10, 200, 30);
    m_Renderer->PointerShapeSet(8, 8, 32, DNRPointer::SHAPE_TYPE_MASKED_COLOR, shape.data());
    m_Renderer->PointerPositionSet(10, 12, false);
    EXPECT_EQ(Differing(Window(), m_Screen, 0, 0, WIDTH, HEIGHT, true), 0);
    EXPECT_EQ(Differing(BackBuffer(), m_Screen, 0, 0, WIDTH, HEIGHT, true), 0);
}

TEST_P(PointerGL, APointerAtTheEdgesIsClippedAndAPositionBeyondTheScreenGoesToZero)
{
    // A monochrome pointer that inverts what is under it (XOR with white).
    std::vector<uint8_t> shape(8 * 8 * 4);
    for (size_t i = 0; i < shape.size(); i += 4)
        shape[i] = shape[i + 1] = shape[i + 2] = 0xFF, shape[i + 3] = 0;
    m_Renderer->PointerShapeSet(8, 8, 32, DNRPointer::SHAPE_TYPE_MONOCHROME, shape.data());
    auto inverted = [&](int x0, int y0, int x1, int y1)
    {
        std::vector<uint8_t> expected = m_Screen;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                for (int c = 0; c < 3; ++c)
                    expected[(y * WIDTH + x) * 4 + c] ^= 0xFF;
        return expected;
    };
    RenderLogCapture log;
    m_Renderer->PointerPositionSet(60, 44, true);
    EXPECT_EQ(log.Count(SA_LOG_POINTER, "DNRPointer::BackgroundRestore X:60 Y:44 Box.right:4 Box.bottom:4"),
              1);
    EXPECT_EQ(Differing(Window(), inverted(60, 44, 64, 48), 0, 0, WIDTH, HEIGHT, true), 0)
        << "only the part inside the screen, nothing wrapped to the other side";
    EXPECT_EQ(Differing(BackBuffer(), m_Screen, 0, 0, WIDTH, HEIGHT, true), 0);

    // At the edge exactly: nothing of it is inside.
    m_Renderer->PointerPositionSet(WIDTH, 5, true);
    EXPECT_EQ(Differing(Window(), m_Screen, 0, 0, WIDTH, HEIGHT, true), 0);

    // Beyond the screen on one axis: placed at 0 on that axis.
    log.Clear();
    m_Renderer->PointerPositionSet(WIDTH + 1, 5, true);
    EXPECT_EQ(log.Count(SA_LOG_POINTER, "DNRPointer::PositionSet X:0 Y:5 Visibility:1"), 1);
    EXPECT_EQ(Differing(Window(), inverted(0, 5, 8, 13), 0, 0, WIDTH, HEIGHT, true), 0);
    m_Renderer->PointerPositionSet(-3, HEIGHT + 10, true);
    EXPECT_EQ(log.Count(SA_LOG_POINTER, "DNRPointer::PositionSet X:0 Y:0 Visibility:1"), 1);
    EXPECT_EQ(Differing(Window(), inverted(0, 0, 8, 8), 0, 0, WIDTH, HEIGHT, true), 0);
    EXPECT_EQ(Differing(BackBuffer(), m_Screen, 0, 0, WIDTH, HEIGHT, true), 0);
}

TEST_P(PointerGL, AShapeOfAnotherSizeReplacesTheOldPointerAndARebuildKeepsTheShape)
{
    std::vector<uint8_t> big = SolidShape(8, 10, 200, 30);
    m_Renderer->PointerShapeSet(8, 8, 32, DNRPointer::SHAPE_TYPE_MASKED_COLOR, big.data());
    m_Renderer->PointerPositionSet(10, 12, true);
    std::vector<uint8_t> small = SolidShape(4, 250, 5, 5);
    m_Renderer->PointerShapeSet(4, 4, 16, DNRPointer::SHAPE_TYPE_MASKED_COLOR, small.data());
    std::vector<uint8_t> expected = WithSquare(10, 12, 14, 16, 250, 5, 5);
    EXPECT_EQ(Differing(Window(), expected, 0, 0, WIDTH, HEIGHT, true), 0);

    // A new resolution rebuilds the back buffer; the shape stays.
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT + 2));
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    ASSERT_TRUE(RenderFrameWrite(*m_Renderer, m_Screen, WIDTH, HEIGHT));
    ASSERT_TRUE(m_Renderer->Present(1));
    EXPECT_EQ(Differing(Window(), expected, 0, 0, WIDTH, HEIGHT, true), 0);
    // Closing for good frees the shape.
    m_Renderer->Uninitialize(true);
    ASSERT_TRUE(m_Renderer->ResolutionSet(WIDTH, HEIGHT));
    ASSERT_TRUE(RenderFrameWrite(*m_Renderer, m_Screen, WIDTH, HEIGHT));
    ASSERT_TRUE(m_Renderer->Present(1));
    EXPECT_EQ(Differing(Window(), m_Screen, 0, 0, WIDTH, HEIGHT, true), 0);
}

TEST_P(PointerGL, AShapeSetWhileAPresentRunsWaitsForTheNextPresent)
{
    // The present's pointer steps one by one on a back buffer of the test's
    // own, with a smaller shape arriving between record and draw, as from
    // another thread while the render thread presents.
    ASSERT_TRUE(m_Surface->MakeCurrent());
    GLuint texture = 0, framebuffer = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, WIDTH, HEIGHT, 0, GL_RGBA, GL_UNSIGNED_BYTE, m_Screen.data());
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    DNRPointer pointer;
    PSRendererScreenUpdateArea area("test");
    // The composited pixels the present hands to its area, in its bytes'
    // order (the area keeps B, G, R, A in its red, green, blue, alpha).
    auto drawn = [&](PSRendererRect* rect)
    {
        bool drawable = false;
        EXPECT_EQ(area.TextureUpload(&drawable), 0);
        *rect = area.RectGet();
        std::vector<uint8_t> pixels(
            static_cast<size_t>((rect->right - rect->left) * (rect->bottom - rect->top) * 4));
        GLuint readBack = 0;
        glGenFramebuffers(1, &readBack);
        glBindFramebuffer(GL_FRAMEBUFFER, readBack);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, area.TextureGet(), 0);
        glReadPixels(0, 0, rect->right - rect->left, rect->bottom - rect->top, GL_RGBA, GL_UNSIGNED_BYTE,
                     pixels.data());
        glDeleteFramebuffers(1, &readBack);
        return pixels;
    };
    const std::vector<uint8_t> big = SolidShape(8, 10, 200, 30), small = SolidShape(4, 250, 5, 5);
    pointer.ShapeSet(8, 8, 32, DNRPointer::SHAPE_TYPE_MASKED_COLOR, big.data());
    pointer.PositionSet(10, 12, true, WIDTH, HEIGHT);
    PSRendererRect rect{};
    ASSERT_TRUE(pointer.BackgroundRecord(framebuffer, WIDTH, HEIGHT));
    EXPECT_TRUE(pointer.ShapeSet(4, 4, 16, DNRPointer::SHAPE_TYPE_MASKED_COLOR, small.data()));
    ASSERT_TRUE(pointer.Draw(&area, WIDTH, HEIGHT));
    EXPECT_EQ(drawn(&rect), big) << "the present composes the shape its box was recorded for";
    pointer.BackgroundRestore(texture);
    ASSERT_TRUE(pointer.BackgroundRecord(framebuffer, WIDTH, HEIGHT));
    ASSERT_TRUE(pointer.Draw(&area, WIDTH, HEIGHT));
    EXPECT_EQ(drawn(&rect), small) << "the next present takes the new shape";
    EXPECT_EQ(rect.right - rect.left, 4);
    pointer.BackgroundRestore(texture);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &texture);
    area.TextureRelease();
    m_Surface->DoneCurrent();
}

INSTANTIATE_TEST_SUITE_P(Contexts, PointerGL, RENDER_CONTEXTS, RenderContextName);
