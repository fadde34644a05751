#pragma once
// The on-screen surface: a QOpenGLContext drawing into the display view's
// native window (a QWindow with an OpenGL surface type, shown inside the view
// through a window container).
//
// Why the context is created on the render thread: a QOpenGLContext may only
// be made current on the thread it belongs to, and the renderer does all its
// GL work on the frame buffer processor thread (so that presenting never
// needs the GUI thread). Creating the context lazily, on the first
// MakeCurrent, makes it belong to that thread without a moveToThread hand-over.
//
// Threads: the constructor and WindowSizeSet on the GUI thread; the
// PSRendererSurface calls on the render thread under the renderer's GL lock.
// The window size is kept in atomics because the render thread must not read
// QWindow state that the GUI thread changes.
// A call from any other thread than the one that created the context fails
// (logged): Qt refuses to make a context current on a thread it does not
// belong to. So the renderer's GL objects must be released on the render
// thread before it ends; ContextRelease then ends the context there too.
// Lifetime: the window is borrowed and outlives the surface.
#include "render/PSRendererSurface.h"

#include <QSurfaceFormat>

#include <atomic>
#include <memory>

class QOpenGLContext;
class QWindow;

class PSRendererSurfaceQt : public PSRendererSurface
{
public:
    explicit PSRendererSurfaceQt(QWindow* window);
    ~PSRendererSurfaceQt() override;
    PSRendererSurfaceQt(const PSRendererSurfaceQt&) = delete;
    PSRendererSurfaceQt& operator=(const PSRendererSurfaceQt&) = delete;

    // Device pixel size of the window (GUI thread, on every resize).
    void WindowSizeSet(int width, int height);

    // Render thread, once its GL work is over for good (the view is closing):
    // destroys the context on the thread it belongs to. Later MakeCurrent
    // calls fail without making a new one.
    void ContextRelease();

    bool MakeCurrent() override;
    void DoneCurrent() override;
    bool FramebufferPrepare(int width, int height, uint32_t* framebuffer) override;
    bool SwapBuffers() override;
    void SizeGet(int* width, int* height) override;

    // True when this process can have an OpenGL 3.3 core or an OpenGL ES 3.0
    // context (GUI thread; the application's platform check).
    static bool PlatformSupported();
    // Makes the default surface format (which every display window and its
    // context take) the first of the two kinds of context this process can
    // have: the kind the default format already names first, the other one
    // second. GUI thread, once the QGuiApplication exists and before any
    // window does. False (logged) when neither can be had; the default
    // format is then left alone.
    static bool PlatformFormatChoose();

private:
    // The default format asking for the kind of context, if such a context
    // can be made (GUI thread).
    static bool PrivateFormatProbe(QSurfaceFormat::RenderableType type, QSurfaceFormat* format);

    QWindow* m_pWindow;
    std::unique_ptr<QOpenGLContext> m_pContext; // render thread only
    bool m_ContextFailed = false;               // render thread only
    bool m_ContextReleased = false;             // render thread only
    std::atomic<int> m_Width{0};
    std::atomic<int> m_Height{0};
};
