#pragma once
// One update area of the update-areas renderer: the last rectangle received
// for one fragment index, kept as its own small texture of the rectangle's
// size and drawn at the rectangle's place into the renderer's accumulating
// back buffer. The pointer overlay uses one more area for its composited
// pixels.
//
// Threads: Initialize runs on a decoder thread (the one decoding this
// fragment) or on the render thread (the pointer); it only copies into the
// area's CPU staging under m_Lock. TextureUpload, TextureRelease and
// TextureForget make or use GL objects and run on the render thread with the
// renderer's GL lock held and its context current; the texture fields are
// touched by nobody else. Lock order: the renderer's GL lock before m_Lock.
#include "render/PSRendererBase.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class PSRendererScreenUpdateArea
{
public:
    static constexpr int VERTEX_COUNT = 4;

    // owner names the class in log lines ("PSRendererGLUpdateAreas").
    explicit PSRendererScreenUpdateArea(const char* owner);
    PSRendererScreenUpdateArea(const PSRendererScreenUpdateArea&) = delete;
    PSRendererScreenUpdateArea& operator=(const PSRendererScreenUpdateArea&) = delete;

    // Takes a rectangle of B, G, R, X pixels (`pitch` bytes from one source
    // row to the next, `pixelsBytes` readable) for a screen of resolutionX by
    // resolutionY. The rectangle is clipped to the screen; an empty one, one
    // entirely outside, a pitch shorter than a row or a source too small for
    // the rectangle is refused with a log line and false, and the area keeps
    // what it had. On success the area is pending: the next TextureUpload
    // sends it to the GPU.
    bool Initialize(const void* pixels, size_t pixelsBytes, int pitch, int resolutionX, int resolutionY,
                    const PSRendererRect& rect);

    // Render thread, context current: when pending, (re)creates the texture
    // at the rectangle's size if that changed and uploads the pixels. Returns
    // 0 or the GL error; *drawable tells whether new pixels were uploaded and
    // the area is to be drawn now (an area drawn once is not drawn again until
    // it receives new pixels).
    int TextureUpload(bool* drawable);
    // The clipped rectangle of the pixels last uploaded.
    PSRendererRect RectGet();
    uint32_t TextureGet() const { return m_Texture; }
    int TextureWidthGet() const { return m_TextureWidth; }
    int TextureHeightGet() const { return m_TextureHeight; }
    int VertexCountGet() const { return m_VertexCount; }

    // Render thread, context current: deletes the texture.
    void TextureRelease();
    // The context is gone: the name died with it.
    void TextureForget();
    // Zeroes the rectangle and drops pending pixels (renderer rebuild).
    void Clear();

private:
    const char* m_Owner;
    const int m_VertexCount = VERTEX_COUNT;

    std::mutex m_Lock;
    // Guarded by m_Lock:
    int32_t m_Left = 0;
    int32_t m_Top = 0;
    int32_t m_Right = 0;
    int32_t m_Bottom = 0;
    int32_t m_ResolutionX = 0;
    int32_t m_ResolutionY = 0;
    std::vector<uint8_t> m_Pixels; // (right - left) * 4 bytes per row, top-down
    bool m_Pending = false;

    // Render thread only, under the renderer's GL lock:
    uint32_t m_Texture = 0;
    int m_TextureWidth = 0;
    int m_TextureHeight = 0;
    PSRendererRect m_Uploaded{};
};
