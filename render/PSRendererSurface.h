#pragma once
// What a renderer draws into: a GL context and the drawable it presents to.
// The off-screen implementation is PSRendererSurfaceEgl; the on-screen one
// wraps a window's context that has been moved to the render thread.
//
// All calls come from the renderer, under its GL lock, on whichever thread
// the renderer runs its GL work on; MakeCurrent is always followed by
// DoneCurrent on the same thread before the lock is released.
#include "render/PSPixelBlock.h"

#include <cstdint>
#include <memory>

struct PSRendererRect;

class PSRendererSurface
{
public:
    virtual ~PSRendererSurface() = default;

    // Makes the context current on the calling thread.
    virtual bool MakeCurrent() = 0;
    // Releases the context from the calling thread.
    virtual void DoneCurrent() = 0;
    // With the context current: makes the drawable width x height (a window
    // surface keeps its own size) and gives the framebuffer object to draw into.
    virtual bool FramebufferPrepare(int width, int height, uint32_t* framebuffer) = 0;
    // Shows what was drawn into the framebuffer.
    virtual bool SwapBuffers() = 0;
    // Size of the drawable in pixels (0 x 0 before the first FramebufferPrepare).
    virtual void SizeGet(int* width, int* height) = 0;

    // Showing a frame without GL, where the window system can take pixels
    // as they are (X11 with shared memory): on a software rasteriser this
    // saves the texture upload, the copy into the back buffer and the copy
    // the swap makes. Both with the context current.
    // Whether PixelsShow can be used now (the window is shown and the path
    // works); false costs nothing.
    virtual bool PixelsShowReady() { return false; }
    // Shows `rect` of a frame of frameWidth x frameHeight pixels (B, G, R, X,
    // top-down, rows frameWidth * 4 bytes apart) whose top-left corner lands
    // on window pixel (x, y), y down; with `whole`, first fills the window
    // outside the frame with grey (0..255 on every channel). Returns once the
    // window system has taken the pixels. False (logged) on failure, after
    // which PixelsShowReady stays false.
    virtual bool PixelsShow(const uint8_t* /*frame*/, int /*frameWidth*/, int /*frameHeight*/,
                            const PSRendererRect& /*rect*/, int /*x*/, int /*y*/, bool /*whole*/,
                            uint8_t /*grey*/)
    {
        return false;
    }
    // Memory for a frame of `bytes` that PixelsShow shows in place, without
    // copying it first; null where the window system cannot read it. Only
    // the newest block is shown in place.
    virtual std::shared_ptr<PSPixelBlock> PixelsBlockCreate(size_t /*bytes*/) { return nullptr; }
};
