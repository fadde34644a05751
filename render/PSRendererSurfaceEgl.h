#pragma once
// An off-screen surface: an OpenGL 3.3 core or an OpenGL ES 3.0 context on
// Mesa's surfaceless EGL platform (no display server needed) drawing into a
// framebuffer object of the window's size. SwapBuffers only flushes; the picture stays in the
// framebuffer for glReadPixels. Used by the headless tool, the tests and the
// benchmarks.
//
// Threads: Initialize on any thread; it leaves the context current nowhere.
// The other calls come from the renderer under its GL lock (see
// PSRendererSurface). The surface must outlive every renderer drawing into it.
#include "render/PSRendererSurface.h"

#include <epoxy/egl.h>

class PSRendererSurfaceEgl : public PSRendererSurface
{
public:
    // The two kinds of context the GL renderers can run on.
    enum class Api
    {
        OpenGL,   // OpenGL 3.3 core
        OpenGLES, // OpenGL ES 3.0
    };

    explicit PSRendererSurfaceEgl(Api api = Api::OpenGL);
    ~PSRendererSurfaceEgl() override;
    PSRendererSurfaceEgl(const PSRendererSurfaceEgl&) = delete;
    PSRendererSurfaceEgl& operator=(const PSRendererSurfaceEgl&) = delete;

    // Opens the display and creates the context; false (with a log line) when
    // no context of the kind asked for can be had.
    bool Initialize();

    bool MakeCurrent() override;
    void DoneCurrent() override;
    bool FramebufferPrepare(int width, int height, uint32_t* framebuffer) override;
    bool SwapBuffers() override;
    void SizeGet(int* width, int* height) override;

private:
    void PrivateFramebufferRelease(); // context current

    const Api m_Api;
    EGLDisplay m_Display = EGL_NO_DISPLAY;
    EGLContext m_Context = EGL_NO_CONTEXT;
    uint32_t m_Framebuffer = 0;
    uint32_t m_Renderbuffer = 0;
    int m_Width = 0;
    int m_Height = 0;
};
