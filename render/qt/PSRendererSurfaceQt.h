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
// Threads: the constructor, the destructor, WindowSizeSet and WindowShownSet
// on the GUI thread; the PSRendererSurface calls on the render thread under
// the renderer's GL lock.
// The window size is kept in atomics because the render thread must not read
// QWindow state that the GUI thread changes.
// A call from any other thread than the one that created the context fails
// (logged): Qt refuses to make a context current on a thread it does not
// belong to. So the renderer's GL objects must be released on the render
// thread before it ends; ContextRelease then ends the context there too.
// Lifetime: the window is borrowed and outlives the surface.
//
// Hiding the window: on Wayland, hiding a window destroys its wl_surface and
// the native window its EGL surface draws to, there and then on the GUI
// thread. A render thread swapping into it at the same time or later uses
// freed memory inside the EGL library, or commits to a surface the
// compositor has already forgotten, which ends the connection. So every MakeCurrent ..
// DoneCurrent section counts as using the window, the GUI thread tells the
// surface before the window goes (WindowShownSet(false)) and waits for a
// section in progress to end. A section begun while the window was not
// shown does not touch the window at all (on Wayland making the stale EGL
// surface of a hidden window current fails): the context is made
// current on an offscreen surface, the renderer draws into a framebuffer
// object of the surface's own and nothing is swapped. The renderers redraw
// the whole window at every present, so nothing is lost.
//
// Pixels without GL: under X11 with the MIT-SHM extension and a window of
// 24-bit true colour whose pixels are the frame's B, G, R, X bytes,
// PixelsShow copies the changed rows into a shared memory segment and has
// the X server put them into the window. A frame whose pixels live in a
// segment of their own (PixelsBlockCreate) is put from there without the
// copy. The server reads the segment while it handles the request, so
// PixelsShow waits for its answer before the segment is written again. It
// runs in a section like the GL calls, so hiding the window waits for it as
// well.
#include "core/PSExceptionGuard.h"
#include "render/PSRendererSurface.h"

#include <QSurfaceFormat>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

class QOffscreenSurface;
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
    // GUI thread. True once the window is shown and exposed. False right
    // before it is hidden or its native surface destroyed: waits until a GL
    // section of the render thread in progress has ended (a guard of a few
    // seconds, logged when it runs out; false then), so that the caller may
    // take the surface away.
    bool WindowShownSet(bool shown);

    // Render thread, once its GL work is over for good (the view is closing):
    // destroys the context on the thread it belongs to. Later MakeCurrent
    // calls fail without making a new one.
    void ContextRelease();

    bool MakeCurrent() override;
    void DoneCurrent() override;
    bool FramebufferPrepare(int width, int height, uint32_t* framebuffer) override;
    bool SwapBuffers() override;
    void SizeGet(int* width, int* height) override;
    bool PixelsShowReady() override;
    bool PixelsShow(const uint8_t* frame, int frameWidth, int frameHeight, const PSRendererRect& rect, int x,
                    int y, bool whole, uint8_t grey) override;
    std::shared_ptr<PSPixelBlock> PixelsBlockCreate(size_t bytes) override;

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
    // The end of a section of the render thread; also the cleanup of a
    // section abandoned by a fault inside the driver.
    static void PrivateSectionEnd(void* surface);
    // Context current: the framebuffer object a hidden window is drawn into.
    bool PrivateHiddenFramebufferPrepare(int width, int height, uint32_t* framebuffer);
    // Render thread: whether the window takes the frame's bytes as they are
    // (checked once per native window), and the segment at least `bytes`
    // large. Release gives the segment back, with `all` the graphics
    // context too (the window is checked again at the next use).
    bool PrivateDirectWindowCheck(uint32_t window);
    // Whether the server shares memory and lays out pixels as the frame does.
    bool PrivateDirectServerCheck();
    bool PrivateDirectSegmentPrepare(size_t bytes);
    // A new segment of `bytes`, attached on both sides.
    bool PrivateDirectSegmentCreate(size_t bytes, uint8_t** memory, uint32_t* segment);
    // Gives the copy segment back; with `all` also the graphics context and
    // the server's side of the frame's own segment.
    void PrivateDirectRelease(bool all);

    struct PrivateDirect;
    std::unique_ptr<PrivateDirect> m_pDirect; // null without X11; render thread after construction
    std::atomic<uint32_t> m_WindowId{0};      // the native window, set on the GUI thread

    QWindow* m_pWindow;
    std::unique_ptr<QOffscreenSurface> m_pOffscreen; // made and destroyed on the GUI thread
    std::unique_ptr<QOpenGLContext> m_pContext;      // render thread only
    bool m_ContextFailed = false;                    // render thread only
    bool m_ContextReleased = false;                  // render thread only
    std::mutex m_WindowLock;
    std::condition_variable m_WindowIdle;
    bool m_WindowShown = false;                      // guarded by m_WindowLock
    bool m_WindowInUse = false;                      // guarded by m_WindowLock: a section runs
    bool m_SwapAllowed = false;                      // render thread only: the section began shown
    PSExceptionGuard::CleanupToken m_SectionCleanup; // render thread only
    // Render thread only; names of the context, which they go with.
    uint32_t m_HiddenFramebuffer = 0;
    uint32_t m_HiddenRenderbuffer = 0;
    int m_HiddenWidth = 0;
    int m_HiddenHeight = 0;
    std::atomic<int> m_Width{0};
    std::atomic<int> m_Height{0};
};
