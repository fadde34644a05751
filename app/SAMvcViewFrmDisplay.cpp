#include "app/SAMvcViewFrmDisplay.h"

#include "app/SAInputTouch.h"
#include "core/SALog.h"
#include "net/SAFstmEventData.h"
#include "net/SAInputRecord.h"
#include "net/SAQueueScreenUpdates.h"
#include "render/PSRendererDecodeTarget.h"
#include "render/PSRendererGL.h"
#include "render/qt/PSRendererSurfaceQt.h"

#if __has_include("render/PSRendererGLUpdateAreas.h")
#include "render/PSRendererGLUpdateAreas.h"
#define QM_APP_HAVE_UPDATE_AREAS 1
#endif

#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlatformSurfaceEvent>
#include <QResizeEvent>
#include <QTouchEvent>
#include <QWheelEvent>

#include <cmath>

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

bool SADisplayWindow::event(QEvent* event)
{
    if (event->type() == QEvent::PlatformSurface &&
        static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
            QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed &&
        m_OnSurfaceDestroy)
        m_OnSurfaceDestroy();
    return QWindow::event(event);
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
    // The mouse and touch events of the picture arrive at the native window.
    m_pWindow->installEventFilter(this);
    m_pSurface = std::make_unique<PSRendererSurfaceQt>(m_pWindow);
    m_pWindow->m_OnExpose = [this]
    {
        m_pSurface->WindowShownSet(true);
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
            SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnSize failed! NULL == m_pRenderer\n");
            return;
        }
        m_pRenderer->WindowSizeSet(static_cast<float>(width), static_cast<float>(height));
    };
    m_pWindow->m_OnSurfaceDestroy = [this] { m_pSurface->WindowShownSet(false); };
    // The container owns the window from here on.
    m_pContainer = QWidget::createWindowContainer(m_pWindow, this);
    m_pContainer->setFocusPolicy(Qt::NoFocus);
    // Its hide hides the native window: seen here first (eventFilter).
    m_pContainer->installEventFilter(this);
}

SAMvcViewFrmDisplay::~SAMvcViewFrmDisplay()
{
    // The window and its container outlive the surface (they go with the
    // QWidget base): nothing of theirs may call back into this object.
    m_pContainer->removeEventFilter(this);
    m_pWindow->removeEventFilter(this);
    m_pWindow->m_OnExpose = nullptr;
    m_pWindow->m_OnResize = nullptr;
    m_pWindow->m_OnSurfaceDestroy = nullptr;
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
    if (m_pWindow->m_OnResize)
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
                if (m_PictureShowable.exchange(false))
                    SALog(SA_LOG_FAILURE,
                          "SAMvcViewFrmDisplay::ResolutionSet failed! neither OpenGL 3.3 core "
                          "nor OpenGL ES 3.0 renders, frames are not acknowledged\n");
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
        m_PictureShowable = true;
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
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::Present failed! NULL == m_pRenderer\n");
        return;
    }
    if (m_pRenderer->Present(count) && count > 0)
        m_FramesPresented.fetch_add(1);
}

uint64_t SAMvcViewFrmDisplay::PresentUploadNsGet()
{
    return m_pRenderer ? m_pRenderer->PresentUploadNsGet() : 0;
}

SADecodeTarget* SAMvcViewFrmDisplay::DecodeTargetGet()
{
    return m_pDecodeTarget.get();
}

PSRendererStatus SAMvcViewFrmDisplay::RendererStatusGet()
{
    // The GL window shows nothing without a renderer: the text takes its place.
    const bool showable = m_PictureShowable.load();
    if (!showable && m_pUnshowable == nullptr)
    {
        m_pUnshowable =
            new QLabel(QStringLiteral("The remote screen cannot be shown: neither OpenGL 3.3 core "
                                      "nor OpenGL ES 3.0 works on this machine."),
                       this);
        m_pUnshowable->setAlignment(Qt::AlignCenter);
        m_pUnshowable->setWordWrap(true);
    }
    if (m_pUnshowable != nullptr)
    {
        m_pUnshowable->setGeometry(rect());
        m_pUnshowable->setVisible(!showable);
        m_pContainer->setVisible(showable);
    }
    std::lock_guard<std::mutex> guard(m_RendererLock);
    if (!m_pRenderer)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::RendererStatusGet failed! NULL == m_pRenderer\n");
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
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::RendererStatusClear failed! NULL == m_pRenderer\n");
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
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnClose failed! NULL == m_pRenderer\n");
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

bool SAMvcViewFrmDisplay::eventFilter(QObject* watched, QEvent* event)
{
    // Before the container hides the native window (and on Wayland destroys
    // its surface): the processor thread must be out of it.
    if (watched == m_pContainer && event->type() == QEvent::Hide)
        m_pSurface->WindowShownSet(false);
    if (watched != m_pWindow)
        return QWidget::eventFilter(watched, event);
    switch (event->type())
    {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        if (m_pInputTouch == nullptr || !m_pInputTouch->GetInputFromWmTouch(static_cast<QTouchEvent*>(event)))
            return false;
        event->accept();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        return PrivateMouseEvent(event);
    default:
        return QWidget::eventFilter(watched, event);
    }
}

QPointF SAMvcViewFrmDisplay::PrivateClientPoint(const QPointF& windowPoint) const
{
    // The renderer measures the window in device pixels.
    return windowPoint * m_pWindow->devicePixelRatio();
}

bool SAMvcViewFrmDisplay::PrivateMouseEvent(QEvent* event)
{
    // Mouse events made up from touch or pen input are ignored: touch has
    // its own path.
    if (event->type() == QEvent::Wheel)
    {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->source() == Qt::MouseEventNotSynthesized && wheel->angleDelta().y() != 0)
            OnMouseWheel(wheel->angleDelta().y());
        return true;
    }
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->source() != Qt::MouseEventNotSynthesized)
        return true;
    const QPointF point = PrivateClientPoint(mouse->position());
    const bool down = event->type() == QEvent::MouseButtonPress;
    switch (event->type())
    {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        if (mouse->button() == Qt::LeftButton)
        {
            if (down)
                OnLButtonDown(point);
            else
                OnLButtonUp(point);
        }
        else if (!m_TouchEmulation && mouse->button() == Qt::MiddleButton)
            m_MiddleDown = down;
        else if (!m_TouchEmulation && mouse->button() == Qt::RightButton)
            m_RightDown = down;
        // A drag starts where the button went down, even when no move came
        // before the press.
        if (down)
        {
            m_PreviousX = static_cast<float>(point.x());
            m_PreviousY = static_cast<float>(point.y());
        }
        return true;
    case QEvent::MouseButtonDblClick:
        if (mouse->button() == Qt::LeftButton)
            OnLButtonDblClk(point);
        return true;
    case QEvent::MouseMove:
        OnMouseMove(point, (mouse->buttons() & Qt::LeftButton) != 0);
        return true;
    default:
        return false;
    }
}

void SAMvcViewFrmDisplay::OnLButtonDown(const QPointF& point)
{
    if (m_TouchEmulation)
    {
        m_TouchContactDown = true;
        m_TouchContactLast = point;
        PrivateTouchEventSend(SA_TOUCHEVENTF_DOWN | SA_TOUCHEVENTF_MOVE, 1, true,
                              static_cast<int32_t>(point.x()), static_cast<int32_t>(point.y()));
        return;
    }
    m_Moved = false;
    m_LeftDown = true;
}

void SAMvcViewFrmDisplay::OnLButtonDblClk(const QPointF& point)
{
    if (m_TouchEmulation)
    {
        m_TouchContactDown = false;
        PrivateTouchEventSend(SA_TOUCHEVENTF_DOWN | SA_TOUCHEVENTF_MOVE | SA_TOUCHEVENTF_UP, 1, true,
                              static_cast<int32_t>(point.x()), static_cast<int32_t>(point.y()));
    }
}

void SAMvcViewFrmDisplay::OnLButtonUp(const QPointF& point)
{
    if (m_TouchEmulation)
    {
        m_TouchContactDown = false;
        PrivateTouchEventSend(SA_TOUCHEVENTF_MOVE | SA_TOUCHEVENTF_UP, 1, true,
                              static_cast<int32_t>(point.x()), static_cast<int32_t>(point.y()));
        return;
    }
    // A release whose press this view never saw (it went to the server
    // before ALT+SHIFT or a focus change ended remote control) is no click
    // on the picture: taken as one, it would ask to capture again at once.
    if (!m_LeftDown)
        return;
    m_LeftDown = false;
    if (m_Moved)
        return; // the end of a drag, not a click
    {
        std::lock_guard<std::mutex> guard(m_RendererLock);
        if (!m_pRenderer)
        {
            SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnLButtonUp failed! NULL == m_pRenderer\n");
            return;
        }
        float width = 0, height = 0;
        m_pRenderer->WindowSizeGet(&width, &height);
        if (width == 0 || height == 0)
        {
            SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnLButtonUp failed! WindowSize == zero\n");
            return;
        }
        float target[2] = {0, 0}, size[2] = {0, 0};
        if (!m_pRenderer->ScreenClientToTarget(static_cast<float>(point.x()), static_cast<float>(point.y()),
                                               target, size))
        {
            m_pRenderer->ParametersReset();
            return;
        }
    }
    if (m_pFrameTarget == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnLButtonUp AfxGetMainWnd failed!\n");
        return;
    }
    m_pFrameTarget->Send(SA_WM_APP_MOUSE_CAPTURE_ENTER, 0, 0);
}

void SAMvcViewFrmDisplay::OnMouseMove(const QPointF& point, bool leftDown)
{
    const float x = static_cast<float>(point.x()), y = static_cast<float>(point.y());
    if (m_TouchEmulation)
    {
        if (leftDown)
        {
            m_TouchContactLast = point;
            PrivateTouchEventSend(SA_TOUCHEVENTF_MOVE, 1, true, static_cast<int32_t>(x),
                                  static_cast<int32_t>(y));
        }
        return;
    }
    if (x == m_PreviousX && y == m_PreviousY)
        return; // no motion
    m_Moved = true;
    {
        std::lock_guard<std::mutex> guard(m_RendererLock);
        if (!m_pRenderer)
            SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnMouseMove failed! NULL == m_pRenderer\n");
        else if (m_LeftDown)
        {
            // Roll by the angle the pointer turned through around the
            // picture's centre.
            float cx = 0, cy = 0;
            m_pRenderer->PictureCenterGet(&cx, &cy);
            const float angle = std::atan2(y - cy, x - cx);
            const float previous = std::atan2(m_PreviousY - cy, m_PreviousX - cx);
            m_pRenderer->ParameterRotateAdjust(0, 0, -(angle - previous));
        }
        else if (m_MiddleDown)
            m_pRenderer->ParameterTranslateAdjust((x - m_PreviousX) * 0.0005f, (m_PreviousY - y) * 0.0005f);
        else if (m_RightDown)
            m_pRenderer->ParameterRotateAdjust((y - m_PreviousY) * 0.001f, (x - m_PreviousX) * -0.001f, 0);
    }
    m_PreviousX = x;
    m_PreviousY = y;
}

void SAMvcViewFrmDisplay::OnMouseWheel(int delta)
{
    if (m_TouchEmulation || m_LeftDown || m_MiddleDown)
        return;
    std::lock_guard<std::mutex> guard(m_RendererLock);
    if (!m_pRenderer)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::OnMouseWheel failed! NULL == m_pRenderer\n");
        return;
    }
    m_pRenderer->ParameterScaleAdjust(delta > 0 ? 0.01f : -0.01f);
}

void SAMvcViewFrmDisplay::TouchContactLift(bool send)
{
    if (!m_TouchContactDown)
        return;
    m_TouchContactDown = false;
    if (send)
        PrivateTouchEventSend(SA_TOUCHEVENTF_MOVE | SA_TOUCHEVENTF_UP, 1, true,
                              static_cast<int32_t>(m_TouchContactLast.x()),
                              static_cast<int32_t>(m_TouchContactLast.y()));
}

void SAMvcViewFrmDisplay::PrivateTouchEventSend(uint32_t touchFlags, uint8_t absolute, bool inside, int32_t x,
                                                int32_t y)
{
    SAInputTouchRecord record;
    {
        std::lock_guard<std::mutex> guard(m_RendererLock);
        if (!m_pRenderer)
        {
            SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::PrivateTouchEventSend failed! NULL == m_pRenderer\n");
            return;
        }
        float width = 0, height = 0;
        m_pRenderer->WindowSizeGet(&width, &height);
        if (width == 0 || height == 0)
        {
            SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::PrivateTouchEventSend failed! WindowSize == zero\n");
            return;
        }
        float target[2] = {0, 0}, size[2] = {0, 0};
        if (!m_pRenderer->ScreenClientToTarget(static_cast<float>(x), static_cast<float>(y), target, size) ||
            !inside)
        {
            SALog(SA_LOG_FAILURE,
                  "SAMvcViewFrmDisplay::PrivateTouchEventSend failed! m_pRenderer->ScreenClientToTarget\n");
            touchFlags = SA_TOUCHEVENTF_MOVE | SA_TOUCHEVENTF_UP;
        }
        record.x = static_cast<int32_t>(size[0] / width * target[0]);
        record.y = static_cast<int32_t>(size[1] / height * target[1]);
        record.resolutionWidth = static_cast<int32_t>(size[0]);
        record.resolutionHeight = static_cast<int32_t>(size[1]);
        record.touchFlags = touchFlags;
        record.absolute = absolute;
    }
    if (m_pFrameTarget == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::PrivateTouchEventSend AfxGetMainWnd failed!\n");
        return;
    }
    m_pFrameTarget->Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_CLIENT_INPUT_TOUCH,
                         reinterpret_cast<intptr_t>(&record));
}

bool SAMvcViewFrmDisplay::RendererPictureCenterGet(float* x, float* y)
{
    std::lock_guard<std::mutex> guard(m_RendererLock);
    if (!m_pRenderer)
        return false;
    m_pRenderer->PictureCenterGet(x, y);
    return true;
}

bool SAMvcViewFrmDisplay::RendererClientToTarget(float x, float y, float result[2], float size[2])
{
    std::lock_guard<std::mutex> guard(m_RendererLock);
    return m_pRenderer && m_pRenderer->ScreenClientToTarget(x, y, result, size);
}
