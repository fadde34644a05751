#include "render/qt/PSRendererSurfaceQt.h"

#include "core/SALog.h"
#include "render/PSPixelVector.h"
#include "render/PSRendererBase.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <QThread>
#include <QWindow>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#if QM_RENDER_HAVE_XCB_SHM
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#endif

namespace
{
// How long hiding the window waits for the render thread to leave it; a
// section lasts one frame at most (a swap waits a frame interval or so).
constexpr std::chrono::milliseconds WINDOW_SECTION_WAIT{10000};
} // namespace

#if QM_RENDER_HAVE_XCB_SHM
struct PSRendererSurfaceQt::PrivateDirect
{
    xcb_connection_t* Connection = nullptr; // the application's, borrowed
    bool Failed = false;
    uint32_t Window = 0; // the window checked last
    bool WindowUsable = false;
    xcb_gcontext_t Gc = 0;
    xcb_shm_seg_t Segment = 0; // the copy segment
    uint8_t* Memory = nullptr;
    size_t Bytes = 0;
    // The newest frame's own segment, which the server reads in place.
    std::weak_ptr<PSPixelBlock> Frame;
    const uint8_t* FrameMemory = nullptr;
    xcb_shm_seg_t FrameSegment = 0;
};

namespace
{
// A frame's pixels in a segment the X server has attached as well. The
// process's side goes with the block; the server's side is given back by
// the surface (a newer block, a released context), which may happen first.
class PSRendererSurfaceQtBlock : public PSPixelBlock
{
public:
    PSRendererSurfaceQtBlock(uint8_t* memory, size_t bytes) : m_pMemory(memory), m_Bytes(bytes) {}
    ~PSRendererSurfaceQtBlock() override { shmdt(m_pMemory); }
    uint8_t* DataGet() override { return m_pMemory + PSPixelAllocator<uint8_t>::OFFSET; }
    size_t SizeGet() const override { return m_Bytes; }

private:
    uint8_t* m_pMemory;
    size_t m_Bytes;
};
} // namespace
#else
struct PSRendererSurfaceQt::PrivateDirect
{
};
#endif

PSRendererSurfaceQt::PSRendererSurfaceQt(QWindow* window) : m_pWindow(window)
{
    m_pOffscreen = std::make_unique<QOffscreenSurface>();
    m_pOffscreen->setFormat(window->requestedFormat());
    m_pOffscreen->create();
    if (!m_pOffscreen->isValid())
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::PSRendererSurfaceQt QOffscreenSurface::create failed!\n");
#if QM_RENDER_HAVE_XCB_SHM
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 != nullptr && x11->connection() != nullptr)
    {
        m_pDirect = std::make_unique<PrivateDirect>();
        m_pDirect->Connection = x11->connection();
    }
    if (window->handle() != nullptr)
        m_WindowId.store(static_cast<uint32_t>(window->winId()));
#endif
}

PSRendererSurfaceQt::~PSRendererSurfaceQt()
{
    // Normally released on the render thread already (ContextRelease); a
    // context left here has nothing current: every GL call batch ends with
    // DoneCurrent.
    m_pContext.reset();
    PrivateDirectRelease(true);
}

void PSRendererSurfaceQt::ContextRelease()
{
    m_ContextReleased = true;
    if (!m_pContext)
        return;
    if (m_pContext->thread() != QThread::currentThread())
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::ContextRelease failed! not the render thread\n");
        return;
    }
    if (QOpenGLContext::currentContext() == m_pContext.get())
        m_pContext->doneCurrent();
    m_pContext.reset();
    PrivateDirectRelease(true);
    m_HiddenFramebuffer = m_HiddenRenderbuffer = 0;
    m_HiddenWidth = m_HiddenHeight = 0;
}

void PSRendererSurfaceQt::WindowSizeSet(int width, int height)
{
    m_Width.store(width);
    m_Height.store(height);
}

bool PSRendererSurfaceQt::WindowShownSet(bool shown)
{
    if (shown && m_pWindow->handle() != nullptr)
        m_WindowId.store(static_cast<uint32_t>(m_pWindow->winId()));
    std::unique_lock<std::mutex> lock(m_WindowLock);
    m_WindowShown = shown;
    if (shown)
        return true;
    if (!m_WindowIdle.wait_for(lock, WINDOW_SECTION_WAIT, [this] { return !m_WindowInUse; }))
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::WindowShownSet failed! the render thread did not leave "
                              "the window\n");
        return false;
    }
    return true;
}

void PSRendererSurfaceQt::PrivateSectionEnd(void* surface)
{
    auto* self = static_cast<PSRendererSurfaceQt*>(surface);
    {
        std::lock_guard<std::mutex> guard(self->m_WindowLock);
        self->m_WindowInUse = false;
    }
    self->m_WindowIdle.notify_all();
}

bool PSRendererSurfaceQt::MakeCurrent()
{
    if (m_pContext && m_pContext->thread() != QThread::currentThread())
    {
        // Only the render thread that made the context may use it (Qt aborts
        // otherwise); after that thread ended its GL objects die with the
        // context.
        SALog(SA_LOG_RENDER, "PSRendererSurfaceQt::MakeCurrent failed! not the render thread\n");
        return false;
    }
    if (!m_pContext)
    {
        if (m_ContextReleased)
        {
            SALog(SA_LOG_RENDER, "PSRendererSurfaceQt::MakeCurrent failed! context released\n");
            return false;
        }
        if (m_ContextFailed)
            return false;
        auto context = std::make_unique<QOpenGLContext>();
        context->setFormat(m_pWindow->requestedFormat());
        if (!context->create())
        {
            SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::MakeCurrent QOpenGLContext::create failed!\n");
            m_ContextFailed = true;
            return false;
        }
        m_pContext = std::move(context);
    }
    {
        // From here until DoneCurrent the GUI thread must not take the
        // window's surface away.
        std::lock_guard<std::mutex> guard(m_WindowLock);
        m_WindowInUse = true;
        m_SwapAllowed = m_WindowShown;
    }
    m_SectionCleanup = PSExceptionGuard::CleanupPush(&PSRendererSurfaceQt::PrivateSectionEnd, this);
    QSurface* target = m_pWindow;
    if (!m_SwapAllowed && m_pOffscreen->isValid())
        target = m_pOffscreen.get();
    if (!m_pContext->makeCurrent(target))
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::MakeCurrent QOpenGLContext::makeCurrent failed!\n");
        PSExceptionGuard::CleanupPop(m_SectionCleanup);
        PrivateSectionEnd(this);
        return false;
    }
    return true;
}

void PSRendererSurfaceQt::DoneCurrent()
{
    if (m_pContext)
        m_pContext->doneCurrent();
    PSExceptionGuard::CleanupPop(m_SectionCleanup);
    PrivateSectionEnd(this);
}

bool PSRendererSurfaceQt::FramebufferPrepare(int width, int height, uint32_t* framebuffer)
{
    if (!m_pContext)
        return false;
    if (!m_SwapAllowed)
        return PrivateHiddenFramebufferPrepare(width, height, framebuffer);
    // A window surface keeps its own size; the renderer draws at it.
    *framebuffer = m_pContext->defaultFramebufferObject();
    return true;
}

bool PSRendererSurfaceQt::PrivateHiddenFramebufferPrepare(int width, int height, uint32_t* framebuffer)
{
    if (width <= 0 || height <= 0)
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::FramebufferPrepare failed! size %dx%d\n", width, height);
        return false;
    }
    if (m_HiddenFramebuffer != 0 && width == m_HiddenWidth && height == m_HiddenHeight)
    {
        *framebuffer = m_HiddenFramebuffer;
        return true;
    }
    QOpenGLFunctions* gl = m_pContext->functions();
    if (m_HiddenFramebuffer != 0)
        gl->glDeleteFramebuffers(1, &m_HiddenFramebuffer);
    if (m_HiddenRenderbuffer != 0)
        gl->glDeleteRenderbuffers(1, &m_HiddenRenderbuffer);
    m_HiddenFramebuffer = m_HiddenRenderbuffer = 0;
    m_HiddenWidth = m_HiddenHeight = 0;
    gl->glGenRenderbuffers(1, &m_HiddenRenderbuffer);
    gl->glBindRenderbuffer(GL_RENDERBUFFER, m_HiddenRenderbuffer);
    gl->glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    gl->glGenFramebuffers(1, &m_HiddenFramebuffer);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, m_HiddenFramebuffer);
    gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                  m_HiddenRenderbuffer);
    const GLenum status = gl->glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE)
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererSurfaceQt::FramebufferPrepare glCheckFramebufferStatus failed! 0x%x\n", status);
        return false; // the names are replaced at the next call
    }
    m_HiddenWidth = width;
    m_HiddenHeight = height;
    *framebuffer = m_HiddenFramebuffer;
    return true;
}

bool PSRendererSurfaceQt::SwapBuffers()
{
    if (!m_pContext)
        return false;
    // A window that was hidden when the section began has no surface to
    // show the picture on (on Wayland none at all): the picture was drawn
    // into the hidden framebuffer object.
    if (!m_SwapAllowed)
        return true;
    m_pContext->swapBuffers(m_pWindow);
    return true;
}

void PSRendererSurfaceQt::SizeGet(int* width, int* height)
{
    *width = m_Width.load();
    *height = m_Height.load();
}

bool PSRendererSurfaceQt::PrivateFormatProbe(QSurfaceFormat::RenderableType type, QSurfaceFormat* format)
{
    QSurfaceFormat wanted = QSurfaceFormat::defaultFormat();
    wanted.setRenderableType(type);
    if (type == QSurfaceFormat::OpenGLES)
    {
        wanted.setVersion(3, 0);
        wanted.setProfile(QSurfaceFormat::NoProfile);
    }
    else
    {
        wanted.setVersion(3, 3);
        wanted.setProfile(QSurfaceFormat::CoreProfile);
    }
    QOpenGLContext context;
    context.setFormat(wanted);
    if (!context.create())
        return false;
    // A platform may hand out another kind or an older version than asked.
    const QSurfaceFormat got = context.format();
    if (got.renderableType() != type || got.version() < wanted.version())
        return false;
    *format = wanted;
    return true;
}

bool PSRendererSurfaceQt::PlatformSupported()
{
    QSurfaceFormat format;
    if (PrivateFormatProbe(QSurfaceFormat::OpenGL, &format) ||
        PrivateFormatProbe(QSurfaceFormat::OpenGLES, &format))
        return true;
    SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::PlatformSupported failed! neither OpenGL 3.3 core nor "
                          "OpenGL ES 3.0\n");
    return false;
}

bool PSRendererSurfaceQt::PlatformFormatChoose()
{
    const bool esFirst = QSurfaceFormat::defaultFormat().renderableType() == QSurfaceFormat::OpenGLES;
    const QSurfaceFormat::RenderableType order[2] = {
        esFirst ? QSurfaceFormat::OpenGLES : QSurfaceFormat::OpenGL,
        esFirst ? QSurfaceFormat::OpenGL : QSurfaceFormat::OpenGLES};
    for (QSurfaceFormat::RenderableType type : order)
    {
        QSurfaceFormat format;
        if (!PrivateFormatProbe(type, &format))
            continue;
        QSurfaceFormat::setDefaultFormat(format);
        SALog(SA_LOG_THREAD, "PSRendererSurfaceQt::PlatformFormatChoose %s\n",
              type == QSurfaceFormat::OpenGLES ? "OpenGL ES 3.0" : "OpenGL 3.3 core");
        return true;
    }
    SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::PlatformFormatChoose failed! neither OpenGL 3.3 core nor "
                          "OpenGL ES 3.0\n");
    return false;
}

#if QM_RENDER_HAVE_XCB_SHM
bool PSRendererSurfaceQt::PixelsShowReady()
{
    if (!m_pDirect || m_pDirect->Failed || !m_pContext || !m_SwapAllowed)
        return false;
    const uint32_t window = m_WindowId.load();
    return window != 0 && PrivateDirectWindowCheck(window);
}

bool PSRendererSurfaceQt::PrivateDirectWindowCheck(uint32_t window)
{
    PrivateDirect& direct = *m_pDirect;
    if (window == direct.Window)
        return direct.WindowUsable;
    xcb_connection_t* connection = direct.Connection;
    if (direct.Gc != 0)
        xcb_free_gc(connection, direct.Gc);
    direct.Gc = 0;
    direct.Window = window;
    direct.WindowUsable = false;
    // The window must be true colour with red, green and blue in the frame's
    // bytes 2, 1 and 0. A 32-bit window would read the frame's undefined
    // fourth byte as alpha.
    if (!PrivateDirectServerCheck())
        return false;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    bool format32 = false;
    for (xcb_format_iterator_t format = xcb_setup_pixmap_formats_iterator(setup); format.rem;
         xcb_format_next(&format))
        format32 = format32 || (format.data->depth == 24 && format.data->bits_per_pixel == 32);
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
    bool usable = format32 && geometry != nullptr && attributes != nullptr && geometry->depth == 24;
    if (usable)
    {
        usable = false;
        for (xcb_screen_iterator_t screen = xcb_setup_roots_iterator(setup); screen.rem;
             xcb_screen_next(&screen))
            for (xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem;
                 xcb_depth_next(&depth))
                for (xcb_visualtype_iterator_t visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
                     xcb_visualtype_next(&visual))
                    if (visual.data->visual_id == attributes->visual)
                        usable = visual.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
                                 visual.data->red_mask == 0xFF0000 && visual.data->green_mask == 0xFF00 &&
                                 visual.data->blue_mask == 0xFF;
    }
    free(geometry);
    free(attributes);
    if (usable)
    {
        direct.Gc = xcb_generate_id(connection);
        const uint32_t exposures = 0;
        usable = xcb_request_check(connection,
                                   xcb_create_gc_checked(connection, direct.Gc, window,
                                                         XCB_GC_GRAPHICS_EXPOSURES, &exposures)) == nullptr;
        if (!usable)
            direct.Gc = 0;
    }
    SALog(SA_LOG_RENDER, "PSRendererSurfaceQt::PixelsShowReady window 0x%x %s\n", window,
          usable ? "takes the frame's pixels through shared memory" : "is drawn with GL only");
    direct.WindowUsable = usable;
    return usable;
}

bool PSRendererSurfaceQt::PrivateDirectServerCheck()
{
    // The server must share memory with this process and lay out a 24-bit
    // pixel as 4 bytes, blue first.
    PrivateDirect& direct = *m_pDirect;
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(direct.Connection, &xcb_shm_id);
    const xcb_setup_t* setup = xcb_get_setup(direct.Connection);
    if (shm == nullptr || !shm->present || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
    {
        SALog(SA_LOG_RENDER, "PSRendererSurfaceQt::PixelsShowReady no shared memory images\n");
        direct.Failed = true;
        return false;
    }
    return true;
}

std::shared_ptr<PSPixelBlock> PSRendererSurfaceQt::PixelsBlockCreate(size_t bytes)
{
    if (!m_pDirect || m_pDirect->Failed)
        return nullptr;
    PrivateDirect& direct = *m_pDirect;
    // Only the newest frame is shown in place; an older one is copied.
    if (direct.FrameSegment != 0)
    {
        xcb_shm_detach(direct.Connection, direct.FrameSegment);
        xcb_flush(direct.Connection);
    }
    direct.Frame.reset();
    direct.FrameMemory = nullptr;
    direct.FrameSegment = 0;
    uint8_t* memory = nullptr;
    xcb_shm_seg_t segment = 0;
    if (bytes == 0 || !PrivateDirectServerCheck() ||
        !PrivateDirectSegmentCreate(bytes + PSPixelAllocator<uint8_t>::OFFSET, &memory, &segment))
        return nullptr;
    std::shared_ptr<PSPixelBlock> block;
    try
    {
        block = std::make_shared<PSRendererSurfaceQtBlock>(memory, bytes);
    }
    catch (const std::bad_alloc&)
    {
        xcb_shm_detach(direct.Connection, segment);
        xcb_flush(direct.Connection);
        shmdt(memory);
        return nullptr;
    }
    direct.Frame = block;
    direct.FrameMemory = memory;
    direct.FrameSegment = segment;
    SALog(SA_LOG_RENDER,
          "PSRendererSurfaceQt::PixelsBlockCreate the frame's %zu bytes are shared with the X server\n",
          bytes);
    return block;
}

bool PSRendererSurfaceQt::PrivateDirectSegmentPrepare(size_t bytes)
{
    PrivateDirect& direct = *m_pDirect;
    if (direct.Memory != nullptr && direct.Bytes >= bytes)
        return true;
    PrivateDirectRelease(false);
    uint8_t* memory = nullptr;
    xcb_shm_seg_t segment = 0;
    if (!PrivateDirectSegmentCreate(bytes, &memory, &segment))
        return false;
    direct.Memory = memory;
    direct.Bytes = bytes;
    direct.Segment = segment;
    return true;
}

bool PSRendererSurfaceQt::PrivateDirectSegmentCreate(size_t bytes, uint8_t** memoryOut, uint32_t* segmentOut)
{
    PrivateDirect& direct = *m_pDirect;
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0)
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::PixelsShow shmget failed! %zu bytes errno %d\n", bytes,
              errno);
        return false;
    }
    void* memory = shmat(id, nullptr, 0);
    xcb_shm_seg_t segment = xcb_generate_id(direct.Connection);
    xcb_generic_error_t* error = nullptr;
    if (memory != reinterpret_cast<void*>(-1))
        error =
            xcb_request_check(direct.Connection, xcb_shm_attach_checked(direct.Connection, segment, id, 1));
    // Marked for removal at once: the segment goes when both sides have
    // detached, even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (memory == reinterpret_cast<void*>(-1) || error != nullptr)
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::PixelsShow %s failed!\n",
              error != nullptr ? "xcb_shm_attach" : "shmat");
        if (memory != reinterpret_cast<void*>(-1))
            shmdt(memory);
        free(error);
        return false;
    }
    *memoryOut = static_cast<uint8_t*>(memory);
    *segmentOut = segment;
    return true;
}

void PSRendererSurfaceQt::PrivateDirectRelease(bool all)
{
    if (!m_pDirect)
        return;
    PrivateDirect& direct = *m_pDirect;
    const bool any = direct.Memory != nullptr || (all && (direct.Gc != 0 || direct.FrameSegment != 0));
    if (direct.Memory != nullptr)
    {
        xcb_shm_detach(direct.Connection, direct.Segment);
        shmdt(direct.Memory);
        direct.Memory = nullptr;
        direct.Bytes = 0;
        direct.Segment = 0;
    }
    if (all && direct.FrameSegment != 0)
    {
        // The frame keeps its pixels; they are copied from now on.
        xcb_shm_detach(direct.Connection, direct.FrameSegment);
        direct.Frame.reset();
        direct.FrameMemory = nullptr;
        direct.FrameSegment = 0;
    }
    if (all && direct.Gc != 0)
    {
        xcb_free_gc(direct.Connection, direct.Gc);
        direct.Gc = 0;
        direct.Window = 0;
        direct.WindowUsable = false;
    }
    if (any)
        xcb_flush(direct.Connection);
}

bool PSRendererSurfaceQt::PixelsShow(const uint8_t* frame, int frameWidth, int frameHeight,
                                     const PSRendererRect& rect, int x, int y, bool whole, uint8_t grey)
{
    if (!PixelsShowReady())
        return false;
    PrivateDirect& direct = *m_pDirect;
    xcb_connection_t* connection = direct.Connection;
    // Requests carry 16-bit sizes and positions.
    const auto fits16 = [](int64_t value) { return value >= -32768 && value <= 32767; };
    if (frameWidth <= 0 || frameHeight <= 0 || frameWidth > 32767 || frameHeight > 32767 || rect.left < 0 ||
        rect.top < 0 || rect.right > frameWidth || rect.bottom > frameHeight || rect.right <= rect.left ||
        rect.bottom <= rect.top || !fits16(int64_t(x) + rect.left) || !fits16(int64_t(y) + rect.top) ||
        !fits16(x) || !fits16(y) || !fits16(int64_t(x) + frameWidth) || !fits16(int64_t(y) + frameHeight))
    {
        SALog(SA_LOG_FAILURE,
              "PSRendererSurfaceQt::PixelsShow failed! frame %dx%d rectangle %d-%d-%d-%d at %d,%d\n",
              frameWidth, frameHeight, rect.left, rect.top, rect.right, rect.bottom, x, y);
        return false;
    }
    const size_t pitch = static_cast<size_t>(frameWidth) * 4u;
    const size_t bytes = pitch * static_cast<size_t>(frameHeight);
    const std::shared_ptr<PSPixelBlock> block = direct.Frame.lock();
    xcb_shm_seg_t segment = direct.Segment;
    uint32_t offset = 0;
    if (block != nullptr && block->DataGet() == frame && block->SizeGet() >= bytes)
    {
        // The frame lives in its own segment: the server reads it in place.
        segment = direct.FrameSegment;
        offset = static_cast<uint32_t>(frame - direct.FrameMemory);
        if (direct.Memory != nullptr)
            PrivateDirectRelease(false);
    }
    else
    {
        if (!PrivateDirectSegmentPrepare(bytes))
        {
            direct.Failed = true;
            return false;
        }
        segment = direct.Segment;
        // Same layout as the frame: only the changed rows move.
        const size_t rowBytes = static_cast<size_t>(rect.right - rect.left) * 4u;
        for (int row = rect.top; row < rect.bottom; ++row)
        {
            const size_t at = static_cast<size_t>(row) * pitch + static_cast<size_t>(rect.left) * 4u;
            std::memcpy(direct.Memory + at, frame + at, rowBytes);
        }
    }
    xcb_void_cookie_t fills[4];
    int fillCount = 0;
    if (whole)
    {
        const int width = m_Width.load(), height = m_Height.load();
        const int right = x + frameWidth, bottom = y + frameHeight;
        const int top = std::clamp(y, 0, height), below = std::clamp(bottom, 0, height);
        const xcb_rectangle_t bars[4] = {
            {0, 0, static_cast<uint16_t>(std::max(width, 0)), static_cast<uint16_t>(top)},
            {0, static_cast<int16_t>(below), static_cast<uint16_t>(std::max(width, 0)),
             static_cast<uint16_t>(std::max(height - below, 0))},
            {0, static_cast<int16_t>(top), static_cast<uint16_t>(std::clamp(x, 0, std::max(width, 0))),
             static_cast<uint16_t>(below - top)},
            {static_cast<int16_t>(std::clamp(right, 0, std::max(width, 0))), static_cast<int16_t>(top),
             static_cast<uint16_t>(std::max(width - std::clamp(right, 0, std::max(width, 0)), 0)),
             static_cast<uint16_t>(below - top)},
        };
        const uint32_t foreground = grey * 0x010101u;
        xcb_change_gc(connection, direct.Gc, XCB_GC_FOREGROUND, &foreground);
        for (const xcb_rectangle_t& bar : bars)
            if (bar.width > 0 && bar.height > 0)
                fills[fillCount++] =
                    xcb_poly_fill_rectangle_checked(connection, direct.Window, direct.Gc, 1, &bar);
    }
    const xcb_void_cookie_t put = xcb_shm_put_image_checked(
        connection, direct.Window, direct.Gc, static_cast<uint16_t>(frameWidth),
        static_cast<uint16_t>(frameHeight), static_cast<uint16_t>(rect.left), static_cast<uint16_t>(rect.top),
        static_cast<uint16_t>(rect.right - rect.left), static_cast<uint16_t>(rect.bottom - rect.top),
        static_cast<int16_t>(x + rect.left), static_cast<int16_t>(y + rect.top), 24,
        XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment, offset);
    bool ok = true;
    for (int i = 0; i < fillCount; ++i)
    {
        xcb_generic_error_t* error = xcb_request_check(connection, fills[i]);
        ok = ok && error == nullptr;
        free(error);
    }
    // The answer means the server has read the segment.
    xcb_generic_error_t* error = xcb_request_check(connection, put);
    if (error != nullptr || !ok)
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::PixelsShow xcb_shm_put_image failed! error %d\n",
              error != nullptr ? error->error_code : 0);
        free(error);
        direct.Failed = true;
        return false;
    }
    return true;
}
#else
bool PSRendererSurfaceQt::PixelsShowReady()
{
    return false;
}

bool PSRendererSurfaceQt::PixelsShow(const uint8_t*, int, int, const PSRendererRect&, int, int, bool, uint8_t)
{
    return false;
}

void PSRendererSurfaceQt::PrivateDirectRelease(bool) {}

std::shared_ptr<PSPixelBlock> PSRendererSurfaceQt::PixelsBlockCreate(size_t)
{
    return nullptr;
}
#endif
