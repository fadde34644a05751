#include "render/qt/PSRendererSurfaceQt.h"

#include "core/SALog.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <QThread>
#include <QWindow>

#include <chrono>

namespace
{
// How long hiding the window waits for the render thread to leave it; a
// section lasts one frame at most (a swap waits a frame interval or so).
constexpr std::chrono::milliseconds WINDOW_SECTION_WAIT{10000};
} // namespace

PSRendererSurfaceQt::PSRendererSurfaceQt(QWindow* window) : m_pWindow(window)
{
    m_pOffscreen = std::make_unique<QOffscreenSurface>();
    m_pOffscreen->setFormat(window->requestedFormat());
    m_pOffscreen->create();
    if (!m_pOffscreen->isValid())
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::PSRendererSurfaceQt QOffscreenSurface::create failed!\n");
}

PSRendererSurfaceQt::~PSRendererSurfaceQt()
{
    // Normally released on the render thread already (ContextRelease); a
    // context left here has nothing current: every GL call batch ends with
    // DoneCurrent.
    m_pContext.reset();
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
