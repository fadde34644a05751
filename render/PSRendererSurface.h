#pragma once
// What a renderer draws into: a GL context and the drawable it presents to.
// The off-screen implementation is PSRendererSurfaceEgl; the on-screen one
// wraps a window's context that has been moved to the render thread.
//
// All calls come from the renderer, under its GL lock, on whichever thread
// the renderer runs its GL work on; MakeCurrent is always followed by
// DoneCurrent on the same thread before the lock is released.
#include <cstdint>

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
};
