#include "render/DNRPointer.h"

#include "core/SALog.h"
#include "render/PSRendererGLApi.h"
#include "render/PSRendererScreenUpdateArea.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace
{
uint32_t PixelRead(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PixelWrite(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

// A shape pixel whose alpha byte is 0.
constexpr uint32_t ALPHA_ZERO_LIMIT = 0x01000000u;
} // namespace

DNRPointer::DNRPointer() = default;

void DNRPointer::Compose(const uint8_t* shape, size_t shapePitch, int type, bool visible, uint8_t* work,
                         size_t workPitch, int width, int height)
{
    if (!visible || width <= 0 || height <= 0)
        return;
    for (int row = 0; row < height; ++row)
    {
        const uint8_t* s = shape + static_cast<size_t>(row) * shapePitch;
        uint8_t* d = work + static_cast<size_t>(row) * workPitch;
        for (int column = 0; column < width; ++column, s += 4, d += 4)
        {
            const uint32_t sv = PixelRead(s);
            const uint32_t dv = PixelRead(d);
            switch (type)
            {
            case SHAPE_TYPE_MONOCHROME:
                PixelWrite(d, sv < ALPHA_ZERO_LIMIT ? dv ^ sv : sv);
                break;
            case SHAPE_TYPE_MASKED_COLOR:
                PixelWrite(d, sv < ALPHA_ZERO_LIMIT ? sv : dv ^ sv);
                break;
            case SHAPE_TYPE_COLOR:
            {
                if (sv == 0)
                    break;
                const double alphaTarget = d[3] == 0 ? 1.0 : d[3] / 255.0;
                const double alphaShape = s[3] / 255.0;
                const double k = 1.0 - alphaShape;
                const double o = k * alphaTarget + alphaShape; // > 0: alphaTarget is never 0
                for (int c = 0; c < 3; ++c)
                {
                    // Shape colours are premultiplied; one that is not (a
                    // colour above its alpha) would sum past 255 and wrap to a
                    // dark value, so the sum is held at white instead.
                    const double value = (d[c] * alphaTarget * k + s[c]) / o;
                    d[c] = value >= 255.0 ? 255 : static_cast<uint8_t>(value);
                }
                break;
            }
            default:
                return; // unknown type: the background is drawn back unchanged
            }
        }
    }
}

bool DNRPointer::RectangleClip(int64_t x, int64_t y, int64_t width, int64_t height, int bufferWidth,
                               int bufferHeight, PSRendererRect* clipped)
{
    const int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(x + width, bufferWidth);
    const int64_t bottom = std::min<int64_t>(y + height, bufferHeight);
    if (width <= 0 || height <= 0 || right <= left || bottom <= top)
    {
        *clipped = {};
        return false;
    }
    *clipped = {static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
                static_cast<int32_t>(bottom)};
    return true;
}

bool DNRPointer::PrivateBitmapsAllocate(size_t bytes)
{
    try
    {
        m_ShapeLast.m_Bits.assign(bytes, 0);
    }
    catch (const std::bad_alloc&)
    {
        SALog(SA_LOG_FAILURE, "DNRPointer::PrivateBitmapsAllocate memory allocation (1) failed!\n");
        m_ShapeLast.m_Bits.clear();
        return false;
    }
    return true;
}

bool DNRPointer::ShapeSet(int width, int height, int pitch, int type, const void* bits)
{
    SALog(SA_LOG_POINTER, "DNRPointer::ShapeSet Width:%d Height:%d \n", width, height);
    std::lock_guard<std::mutex> guard(m_Lock);
    Shape& shape = m_ShapeLast;
    m_ShapeTaken = false;
    const bool existed = shape.m_Width > 0 && shape.m_Height > 0;
    bool repaint = false;
    if (width != shape.m_Width || height != shape.m_Height)
    {
        SALog(SA_LOG_POINTER, "DNRPointer::PositionSet X:%d Y:%d Visibility:%d\n", static_cast<int>(m_X),
              static_cast<int>(m_Y), m_Visible == 1 ? 1 : 0);
        // The old pointer is never left in the back buffer (each present
        // restores what it covered); showing the picture again takes it off
        // the window.
        repaint = existed;
        shape = Shape();
    }
    if (width == 0 || height == 0)
        return repaint;
    // The sizes come from outside: a shape must be small, its rows must hold
    // its pixels, and the bits must be there.
    if (width < 0 || height < 0 || width > SHAPE_SIDE_MAX || height > SHAPE_SIDE_MAX ||
        static_cast<int64_t>(pitch) < static_cast<int64_t>(width) * 4 ||
        static_cast<int64_t>(pitch) > static_cast<int64_t>(SHAPE_SIDE_MAX) * 4 || bits == nullptr)
    {
        SALog(SA_LOG_FAILURE, "DNRPointer::ShapeSet failed! Width:%d Height:%d Pitch:%d Bits:%p\n", width,
              height, pitch, bits);
        shape = Shape();
        return repaint || existed;
    }
    const size_t bytes = static_cast<size_t>(height) * static_cast<size_t>(pitch);
    if (!PrivateBitmapsAllocate(bytes))
    {
        shape = Shape();
        return repaint || existed;
    }
    std::memcpy(shape.m_Bits.data(), bits, bytes);
    shape.m_Width = width;
    shape.m_Height = height;
    shape.m_Pitch = pitch;
    shape.m_Type = type;
    return repaint;
}

bool DNRPointer::PositionSet(int x, int y, bool visible, int resolutionX, int resolutionY)
{
    if (resolutionX == 0 || resolutionY == 0)
        return false;
    // Positions are unsigned: a negative one reads as a huge value and so
    // lands at 0 like any other beyond the screen.
    if (x < 0 || x > resolutionX)
        x = 0;
    if (y < 0 || y > resolutionY)
        y = 0;
    SALog(SA_LOG_POINTER, "DNRPointer::PositionSet X:%d Y:%d Visibility:%d\n", x, y, visible ? 1 : 0);
    std::lock_guard<std::mutex> guard(m_Lock);
    m_X = static_cast<uint32_t>(x);
    m_Y = static_cast<uint32_t>(y);
    m_Visible = visible ? 1 : 0;
    return true;
}

bool DNRPointer::BackgroundRecord(uint32_t framebuffer, int bufferWidth, int bufferHeight)
{
    m_Recorded = {};
    PSRendererRect box{};
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (!m_ShapeTaken)
        {
            // The only place a new shape comes into use: before this
            // present's box is recorded for it. Its bits move; the sizes stay
            // behind for the next ShapeSet to compare with.
            m_Shape.m_Width = m_ShapeLast.m_Width;
            m_Shape.m_Height = m_ShapeLast.m_Height;
            m_Shape.m_Pitch = m_ShapeLast.m_Pitch;
            m_Shape.m_Type = m_ShapeLast.m_Type;
            m_Shape.m_Bits = std::move(m_ShapeLast.m_Bits);
            m_ShapeLast.m_Bits = std::vector<uint8_t>();
            m_ShapeTaken = true;
        }
        m_RecordedVisible = m_Visible == 1;
        if (m_Shape.m_Width == 0 || m_Shape.m_Height == 0 || m_Shape.m_Bits.empty())
            return false;
        if (!RectangleClip(m_X, m_Y, m_Shape.m_Width, m_Shape.m_Height, bufferWidth, bufferHeight, &box))
            return false;
    }
    const int width = box.right - box.left, height = box.bottom - box.top;
    try
    {
        m_Background.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4u);
    }
    catch (const std::bad_alloc&)
    {
        SALog(SA_LOG_FAILURE, "DNRPointer::BackgroundRecord failed! no memory\n");
        return false;
    }
    // The rectangles of this present were just drawn into the back buffer.
    // Reads of a texture-backed framebuffer have been seen to return pixels
    // from before draws flushed into it (llvmpipe); recording such stale
    // pixels and restoring them would undo the update, so finish first.
    glFinish();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    const int error = PSRendererGLApi::PixelsReadBgra(box.left, box.top, width, height, m_Background.data());
    if (error != GL_NO_ERROR)
    {
        SALog(SA_LOG_FAILURE, "DNRPointer::BackgroundRecord glReadPixels failed! 0x%x\n", error);
        return false;
    }
    m_Recorded = box;
    return true;
}

bool DNRPointer::Draw(PSRendererScreenUpdateArea* area, int resolutionX, int resolutionY)
{
    if (resolutionX == 0 || resolutionY == 0)
        return false;
    const int width = m_Recorded.right - m_Recorded.left, height = m_Recorded.bottom - m_Recorded.top;
    if (width <= 0 || height <= 0)
        return false; // no shape, pointer outside, or its background could not be read
    if (m_Shape.m_Bits.empty())
        return false;
    m_Work = m_Background;
    // The recorded box starts at the pointer's corner (the position is never
    // negative), so shape pixel (0, 0) is work pixel (0, 0); only its right
    // and bottom can have been cut. The shape is the one the box was recorded
    // for (see BackgroundRecord), so its rows cover the box.
    DNRPointer::Compose(m_Shape.m_Bits.data(), static_cast<size_t>(m_Shape.m_Pitch), m_Shape.m_Type,
                        m_RecordedVisible, m_Work.data(), static_cast<size_t>(width) * 4u, width, height);
    return area->Initialize(m_Work.data(), m_Work.size(), width * 4, resolutionX, resolutionY, m_Recorded);
}

void DNRPointer::BackgroundRestore(uint32_t texture)
{
    const int width = m_Recorded.right - m_Recorded.left, height = m_Recorded.bottom - m_Recorded.top;
    if (width <= 0 || height <= 0 || texture == 0)
        return;
    SALog(SA_LOG_POINTER, "DNRPointer::BackgroundRestore X:%d Y:%d Box.right:%d Box.bottom:%d\n",
          m_Recorded.left, m_Recorded.top, width, height);
    glBindTexture(GL_TEXTURE_2D, texture);
    const int error = PSRendererGLApi::TextureWriteBgra(m_Recorded.left, m_Recorded.top, width, height,
                                                        m_Background.data());
    if (error != GL_NO_ERROR)
        SALog(SA_LOG_FAILURE, "DNRPointer::BackgroundRestore glTexSubImage2D failed! 0x%x\n", error);
    m_Recorded = {};
}

void DNRPointer::Release(bool all)
{
    m_Recorded = {};
    m_Background.clear();
    m_Work.clear();
    if (all)
    {
        m_Shape = Shape();
        std::lock_guard<std::mutex> guard(m_Lock);
        m_ShapeLast = Shape();
        m_ShapeTaken = true;
    }
}
