#include "render/PSRendererScreenUpdateArea.h"

#include "core/SALog.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>
#include <new>

PSRendererScreenUpdateArea::PSRendererScreenUpdateArea(const char* owner) : m_Owner(owner) {}

bool PSRendererScreenUpdateArea::Initialize(const void* pixels, size_t pixelsBytes, int pitch,
                                            int resolutionX, int resolutionY, const PSRendererRect& rect)
{
    if (pixels == nullptr)
    {
        SALog(SA_LOG_FAILURE, "%s::ScreenUpdateArea.Initialize failed! no pixels\n", m_Owner);
        return false;
    }
    if (!PSRendererSourceCheck(m_Owner, "ScreenUpdateArea.Initialize", pixelsBytes, pitch, rect))
        return false;
    // 64-bit arithmetic: the coordinates come from the network.
    const int64_t left = rect.left, top = rect.top, right = rect.right, bottom = rect.bottom;
    const int64_t clipLeft = std::max<int64_t>(left, 0), clipTop = std::max<int64_t>(top, 0);
    const int64_t clipRight = std::min<int64_t>(right, resolutionX);
    const int64_t clipBottom = std::min<int64_t>(bottom, resolutionY);
    if (clipRight <= clipLeft || clipBottom <= clipTop)
    {
        SALog(SA_LOG_FAILURE,
              "%s::ScreenUpdateArea.Initialize failed! rectangle %lld-%lld-%lld-%lld outside %dx%d\n",
              m_Owner, static_cast<long long>(left), static_cast<long long>(top),
              static_cast<long long>(right), static_cast<long long>(bottom), resolutionX, resolutionY);
        return false;
    }
    if (clipLeft != left || clipTop != top || clipRight != right || clipBottom != bottom)
    {
        SALog(
            SA_LOG_RENDER,
            "%s::ScreenUpdateArea.Initialize rectangle %lld-%lld-%lld-%lld clipped to %lld-%lld-%lld-%lld\n",
            m_Owner, static_cast<long long>(left), static_cast<long long>(top), static_cast<long long>(right),
            static_cast<long long>(bottom), static_cast<long long>(clipLeft), static_cast<long long>(clipTop),
            static_cast<long long>(clipRight), static_cast<long long>(clipBottom));
    }

    const size_t rowBytes = static_cast<size_t>(clipRight - clipLeft) * 4u;
    const size_t rows = static_cast<size_t>(clipBottom - clipTop);
    const uint8_t* source =
        static_cast<const uint8_t*>(pixels) +
        static_cast<size_t>((clipTop - top) * static_cast<int64_t>(pitch) + (clipLeft - left) * 4);
    std::lock_guard<std::mutex> guard(m_Lock);
    try
    {
        m_Pixels.resize(rowBytes * rows);
    }
    catch (const std::bad_alloc&)
    {
        SALog(SA_LOG_FAILURE, "%s::ScreenUpdateArea.Initialize failed! no memory for %zu bytes\n", m_Owner,
              rowBytes * rows);
        m_Pixels.clear();
        m_Pending = false;
        m_Left = m_Top = m_Right = m_Bottom = 0;
        return false;
    }
    uint8_t* target = m_Pixels.data();
    for (size_t row = 0; row < rows; ++row)
    {
        std::memcpy(target, source, rowBytes);
        target += rowBytes;
        source += pitch;
    }
    m_Left = static_cast<int32_t>(clipLeft);
    m_Top = static_cast<int32_t>(clipTop);
    m_Right = static_cast<int32_t>(clipRight);
    m_Bottom = static_cast<int32_t>(clipBottom);
    m_ResolutionX = resolutionX;
    m_ResolutionY = resolutionY;
    m_Pending = true;
    return true;
}

int PSRendererScreenUpdateArea::TextureUpload(bool* drawable)
{
    *drawable = false;
    std::lock_guard<std::mutex> guard(m_Lock);
    if (!m_Pending)
        return 0;
    m_Pending = false;
    const int width = m_Right - m_Left, height = m_Bottom - m_Top;
    if (m_Texture == 0 || width != m_TextureWidth || height != m_TextureHeight)
    {
        // A new size needs new storage; the same size reuses the texture.
        TextureRelease();
        glGenTextures(1, &m_Texture);
        glBindTexture(GL_TEXTURE_2D, m_Texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        GLenum error = glGetError();
        if (error != GL_NO_ERROR)
        {
            SALog(SA_LOG_FAILURE, "%s::ScreenUpdateArea.TextureUpload glTexImage2D failed! 0x%x %dx%d\n",
                  m_Owner, error, width, height);
            TextureRelease();
            return static_cast<int>(error);
        }
        m_TextureWidth = width;
        m_TextureHeight = height;
    }
    glBindTexture(GL_TEXTURE_2D, m_Texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    // The bytes B, G, R, X land in the texture's R, G, B, A: the "full32"
    // technique exchanges red and blue when it samples.
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, m_Pixels.data());
    GLenum error = glGetError();
    if (error != GL_NO_ERROR)
    {
        SALog(SA_LOG_FAILURE, "%s::ScreenUpdateArea.TextureUpload glTexSubImage2D failed! 0x%x\n", m_Owner,
              error);
        return static_cast<int>(error);
    }
    m_Uploaded = {m_Left, m_Top, m_Right, m_Bottom};
    *drawable = true;
    return 0;
}

PSRendererRect PSRendererScreenUpdateArea::RectGet()
{
    return m_Uploaded;
}

void PSRendererScreenUpdateArea::TextureRelease()
{
    if (m_Texture != 0)
        glDeleteTextures(1, &m_Texture);
    TextureForget();
}

void PSRendererScreenUpdateArea::TextureForget()
{
    m_Texture = 0;
    m_TextureWidth = 0;
    m_TextureHeight = 0;
}

void PSRendererScreenUpdateArea::Clear()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Left = m_Top = m_Right = m_Bottom = 0;
    m_ResolutionX = m_ResolutionY = 0;
    m_Pixels.clear();
    m_Pixels.shrink_to_fit();
    m_Pending = false;
    m_Uploaded = {};
}
