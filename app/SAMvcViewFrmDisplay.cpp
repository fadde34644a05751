#include "app/SAMvcViewFrmDisplay.h"

#include "core/SALog.h"
#include "net/SAFstmEventData.h"
#include "net/SAQueueScreenUpdates.h"
#include "render/PSRendererDecodeTarget.h"
#include "render/PSRendererGL.h"
#include "render/qt/PSRendererSurfaceQt.h"

#if __has_include("render/PSRendererGLUpdateAreas.h")
#include "render/PSRendererGLUpdateAreas.h"
#define QM_APP_HAVE_UPDATE_AREAS 1
#endif

#include <QMessageBox>
#include <QResizeEvent>

namespace
{
// How long closing waits for the processor thread to release its GL
// objects; it answers at its next frame or repaint, normally within one frame.
constexpr uint32_t RENDERER_RELEASE_WAIT_MS = 10000;
} // namespace

SADisplayWindow::SADisplayWindow()
{
    setSurfaceType(QSurface::OpenGLSurface);
    setFormat(QSurfaceFormat::defaultFormat());
}

void SADisplayWindow::exposeEvent(QExposeEvent*)
{
    if (isExposed() && m_OnExpose)
        m_OnExpose();
}

void SADisplayWindow::resizeEvent(QResizeEvent* event)
{
    const qreal ratio = devicePixelRatio();
    if (m_OnResize)
        m_OnResize(qRound(event->size().width() * ratio), qRound(event->size().height() * ratio));
}

SAMvcViewFrmDisplay::SAMvcViewFrmDisplay(SAMessageTarget* frameTarget, SAQueueScreenUpdates* queue,
                                         QWidget* parent)
    : QWidget(parent), m_pFrameTarget(frameTarget), m_pQueue(queue)
{
    setObjectName(QStringLiteral("SAMvcViewFrmDisplay"));
    m_Target.HandlerSet([this](uint32_t message, uintptr_t wParam, intptr_t lParam)
                        { return PrivateMessageHandle(message, wParam, lParam); });
    m_pWindow = new SADisplayWindow();
    // The native window must exist before the processor thread first makes
    // a context current on it, which may happen while the view is hidden.
    m_pWindow->create();
    m_pSurface = std::make_unique<PSRendererSurfaceQt>(m_pWindow);
    m_pWindow->m_OnExpose = [this]
    {
        // Painting is the renderer's job on the processor thread: ask it for
        // a repaint through the frame.
        if (m_pFrameTarget == nullptr || !m_pFrameTarget->Post(SA_WM_APP_REPAINT, 0, 0))
            SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnPaint AfxGetMainWnd failed!\n");
    };
    m_pWindow->m_OnResize = [this](int width, int height)
    {
        m_pSurface->WindowSizeSet(width, height);
        std::lock_guard<std::mutex> guard(m_RendererLock);
        if (!m_pRenderer)
        {
            SALog(SA_LOG_RENDER, "SAMvcViewFrmDisplay::OnSize failed! NULL == m_pRenderer\n");
            return;
        }
        m_pRenderer->WindowSizeSet(static_cast<float>(width), static_cast<float>(height));
    };
    // The container owns the window from here on.
    m_pContainer = QWidget::createWindowContainer(m_pWindow, this);
    m_pContainer->setFocusPolicy(Qt::NoFocus);
}

SAMvcViewFrmDisplay::~SAMvcViewFrmDisplay()
{
    m_Target.Close();
    // The frame normally closed it already; only a renderer still here is.
    if (RendererExistsGet())
        RendererClose();
}

void SAMvcViewFrmDisplay::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_pContainer->setGeometry(rect());
    // A hidden native window gets no resize event of its own, and the
    // renderer must know the size before the view is first shown.
    const qreal ratio = devicePixelRatioF();
    m_pWindow->m_OnResize(qRound(event->size().width() * ratio), qRound(event->size().height() * ratio));
}

void SAMvcViewFrmDisplay::OnAppOneTimeInitialization()
{
    m_pContainer->setGeometry(rect());
    update();
}

std::unique_ptr<PSRendererBase> SAMvcViewFrmDisplay::PrivateRendererInitialize(int32_t width, int32_t height,
                                                                               bool full, bool mode)
{
    std::unique_ptr<PSRendererBase> renderer;
    if (m_RendererFactory)
        renderer = m_RendererFactory(full && mode);
#ifdef QM_APP_HAVE_UPDATE_AREAS
    else if (full && mode)
        renderer = std::make_unique<PSRendererGL>();
    else
        renderer = std::make_unique<PSRendererGLUpdateAreas>();
#else
    // The update-area renderer is not part of this build: the full renderer
    // stands in for it.
    else
        renderer = std::make_unique<PSRendererGL>();
#endif
    if (!renderer)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::PrivateRendererInitialize failed! no memory\n");
        return nullptr;
    }
    renderer->SurfaceSet(m_pSurface.get());
    renderer->RenderModeSet(mode);
    int surfaceWidth = 0, surfaceHeight = 0;
    m_pSurface->SizeGet(&surfaceWidth, &surfaceHeight);
    if (surfaceWidth > 0 && surfaceHeight > 0)
        renderer->WindowSizeSet(static_cast<float>(surfaceWidth), static_cast<float>(surfaceHeight));
    SAQueueScreenUpdates* queue = m_pQueue;
    renderer->RepaintRequestSet(
        [queue]
        {
            if (queue != nullptr)
                queue->RepaintAppend();
        });
    if (!renderer->ResolutionSet(width, height))
    {
        SALog(SA_LOG_FAILURE,
              "SAMvcViewFrmDisplay::PrivateRendererInitialize failed! pReturnValue->ResolutionSet\n");
        renderer->Uninitialize(true);
        return nullptr;
    }
    return renderer;
}

bool SAMvcViewFrmDisplay::ResolutionSet(int32_t width, int32_t height, bool allowFull)
{
    if (m_ReleaseRequested.load())
    {
        PrivateRenderThreadRelease();
        return false;
    }
    // The mode the renderer was made for (a stand-in full renderer reports
    // full whatever was asked, which must not replace it on every call).
    if (m_pRenderer && m_RendererModeWanted != allowFull)
    {
        std::unique_ptr<PSRendererBase> old;
        {
            std::lock_guard<std::mutex> guard(m_RendererLock);
            m_pDecodeTarget.reset();
            old = std::move(m_pRenderer);
        }
        old->Uninitialize(true);
    }
    if (!m_pRenderer)
    {
        std::unique_ptr<PSRendererBase> renderer;
        bool full = false;
        if (allowFull)
        {
            renderer = PrivateRendererInitialize(width, height, true, allowFull);
            if (renderer)
            {
                SALog(SA_LOG_RENDER | SA_LOG_FAILURE,
                      "SAMvcViewFrmDisplay::ResolutionSet PrivateRendererInitialize(1) PSRendererGL is "
                      "supported!\n");
                full = true;
            }
        }
        if (!renderer)
        {
            renderer = PrivateRendererInitialize(width, height, false, allowFull);
            if (!renderer)
            {
                SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::ResolutionSet failed! PrivateRendererInitialize "
                                      "PSRendererGL/PSRendererGLUpdateAreas\n");
                return false;
            }
            SALog(SA_LOG_RENDER | SA_LOG_FAILURE,
                  "SAMvcViewFrmDisplay::ResolutionSet PrivateRendererInitialize(2) PSRendererGLUpdateAreas "
                  "is supported!\n");
        }
        std::lock_guard<std::mutex> guard(m_RendererLock);
        m_pRenderer = std::move(renderer);
        // A resize that came while the renderer was being made found none:
        // the size the GUI thread stored before looking is applied here.
        int surfaceWidth = 0, surfaceHeight = 0;
        m_pSurface->SizeGet(&surfaceWidth, &surfaceHeight);
        if (surfaceWidth > 0 && surfaceHeight > 0)
            m_pRenderer->WindowSizeSet(static_cast<float>(surfaceWidth), static_cast<float>(surfaceHeight));
        m_pDecodeTarget = std::make_unique<PSRendererDecodeTarget>(m_pRenderer.get());
        m_RendererFull = full;
        m_RendererModeWanted = allowFull;
        m_StatusValid = true;
        return true;
    }
    if (!m_pRenderer->ResolutionSet(width, height))
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::ResolutionSet failed! m_pRenderer->ResolutionSet\n");
        return false;
    }
    return true;
}

void SAMvcViewFrmDisplay::Present(int32_t count)
{
    if (m_ReleaseRequested.load())
    {
        PrivateRenderThreadRelease();
        return;
    }
    if (m_pFrameTarget != nullptr)
        m_pFrameTarget->Post(SA_WM_APP_PRESENT, 0, 0);
    if (!m_pRenderer)
    {
        SALog(SA_LOG_RENDER, "SAMvcViewFrmDisplay::Present failed! NULL == m_pRenderer\n");
        return;
    }
    if (m_pRenderer->Present(count) && count > 0)
        m_FramesPresented.fetch_add(1);
}

SADecodeTarget* SAMvcViewFrmDisplay::DecodeTargetGet()
{
    return m_pDecodeTarget.get();
}

PSRendererStatus SAMvcViewFrmDisplay::RendererStatusGet()
{
    std::lock_guard<std::mutex> guard(m_RendererLock);
    if (!m_pRenderer)
    {
        SALog(SA_LOG_RENDER, "SAMvcViewFrmDisplay::RendererStatusGet failed! NULL == m_pRenderer\n");
        return PSRendererStatus{};
    }
    return m_pRenderer->StatusGet();
}

void SAMvcViewFrmDisplay::RendererStatusClear()
{
    std::lock_guard<std::mutex> guard(m_RendererLock);
    m_StatusValid = false;
    if (!m_pRenderer)
    {
        SALog(SA_LOG_RENDER, "SAMvcViewFrmDisplay::RendererStatusClear failed! NULL == m_pRenderer\n");
        return;
    }
    m_pRenderer->StatusClear();
}

void SAMvcViewFrmDisplay::RendererRelease()
{
    m_ReleaseRequested.store(true);
    // Wakes the processor if it is idle; a busy one answers at its next call.
    if (m_pQueue != nullptr)
        m_pQueue->RepaintAppend();
    if (m_ReleasedEvent.Wait(RENDERER_RELEASE_WAIT_MS) != PS_WAIT_OBJECT_0)
        SALog(SA_LOG_FAILURE,
              "SAMvcViewFrmDisplay::RendererRelease failed! the render thread did not answer\n");
}

void SAMvcViewFrmDisplay::PrivateRenderThreadRelease()
{
    if (m_Released)
        return;
    m_Released = true;
    // The renderer object stays until RendererClose: decoder tasks of an
    // unfinished frame may still copy into its CPU-side staging, which needs
    // no GL.
    if (m_pRenderer)
        m_pRenderer->Uninitialize(true);
    m_pSurface->ContextRelease();
    SALog(SA_LOG_RENDER, "SAMvcViewFrmDisplay::RendererRelease GL objects released on the render thread\n");
    m_ReleasedEvent.Set();
}

void SAMvcViewFrmDisplay::RendererClose()
{
    std::unique_ptr<PSRendererBase> renderer;
    {
        std::lock_guard<std::mutex> guard(m_RendererLock);
        m_pDecodeTarget.reset();
        renderer = std::move(m_pRenderer);
    }
    if (!renderer)
    {
        SALog(SA_LOG_RENDER, "SAMvcViewFrmDisplay::OnClose failed! NULL == m_pRenderer\n");
        return;
    }
    renderer->Uninitialize(true);
}

bool SAMvcViewFrmDisplay::RendererExistsGet()
{
    std::lock_guard<std::mutex> guard(m_RendererLock);
    return m_pRenderer != nullptr;
}

const char* SAMvcViewFrmDisplay::RendererKindGet()
{
    std::lock_guard<std::mutex> guard(m_RendererLock);
    if (!m_pRenderer)
        return "";
    return m_RendererFull ? "full" : "areas";
}

intptr_t SAMvcViewFrmDisplay::PrivateMessageHandle(uint32_t message, uintptr_t /*wParam*/, intptr_t lParam)
{
    switch (message)
    {
    case SA_WM_APP_ONE_TIME_INITIALIZATION:
        OnAppOneTimeInitialization();
        return 0;
    case SA_WM_APP_H264_ERROR:
        OnAppH264Error(lParam);
        return 0;
    default:
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::PrivateMessageHandle failed! message 0x%x\n", message);
        return 0;
    }
}

void SAMvcViewFrmDisplay::OnAppH264Error(intptr_t kind)
{
    if (m_H264ErrorShown)
        return;
    if (m_pFrameTarget == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnAppH264Error failed! AfxGetMainWnd\n");
        return;
    }
    // Marked first: a second error arriving while the box is open must not
    // open another one.
    m_H264ErrorShown = true;
    const char* text =
        kind == 1
            ? "Hardware decoder H264 ran into an initialization error.\nPlease consider switching to "
              "Software Encoding in Settings->Quality/Performance.\n\nYour current session will be "
              "disconnected"
            : "Hardware decoder H264 ran into a decoding error.\nPlease consider switching to Software "
              "Encoding in Settings->Quality/Performance.\n\nYour current session will be disconnected.";
    QMessageBox box(QMessageBox::Information, QStringLiteral("Decoding failure"), QString::fromUtf8(text),
                    QMessageBox::Ok, window());
    box.exec();
    m_pFrameTarget->Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, kind);
}
