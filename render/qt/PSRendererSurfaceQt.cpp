#include "render/qt/PSRendererSurfaceQt.h"

#include "core/SALog.h"

#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QThread>
#include <QWindow>

PSRendererSurfaceQt::PSRendererSurfaceQt(QWindow* window) : m_pWindow(window) {}

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
}

void PSRendererSurfaceQt::WindowSizeSet(int width, int height)
{
    m_Width.store(width);
    m_Height.store(height);
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
    if (!m_pContext->makeCurrent(m_pWindow))
    {
        SALog(SA_LOG_FAILURE, "PSRendererSurfaceQt::MakeCurrent QOpenGLContext::makeCurrent failed!\n");
        return false;
    }
    return true;
}

void PSRendererSurfaceQt::DoneCurrent()
{
    if (m_pContext)
        m_pContext->doneCurrent();
}

bool PSRendererSurfaceQt::FramebufferPrepare(int /*width*/, int /*height*/, uint32_t* framebuffer)
{
    // A window surface keeps its own size; the renderer draws at it.
    *framebuffer = m_pContext ? m_pContext->defaultFramebufferObject() : 0;
    return m_pContext != nullptr;
}

bool PSRendererSurfaceQt::SwapBuffers()
{
    if (!m_pContext)
        return false;
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
