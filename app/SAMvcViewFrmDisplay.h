#pragma once
// The display view: shows the remote screen through the renderer it owns.
//
// The picture is drawn into a native GL window (SADisplayWindow) that sits
// in this widget through a window container. All GL work happens on the
// frame buffer processor thread (ResolutionSet, Present), with a context of
// its own on that thread (PSRendererSurfaceQt), so that presenting never
// waits for the GUI thread.
//
// Threads:
// - ResolutionSet, Present, DecodeTargetGet: processor thread. It is the
//   only thread that replaces m_pRenderer while it runs, and it reads the
//   pointer without the lock; it takes m_RendererLock to change it.
// - Everything else: GUI thread; reads of m_pRenderer there take
//   m_RendererLock. RendererClose runs once the processor thread has ended.
// - Closing: a GL context can only be made current on the thread it belongs
//   to, so the GUI thread cannot release GL objects made on the processor
//   thread. RendererRelease (GUI thread, before the processor is stopped)
//   asks the processor thread to do it at its next ResolutionSet or Present
//   and waits; from then on those calls do no GL work.
// - Hiding: the window container hides the native window when the view (or
//   the frame) is hidden, and on Wayland that destroys the surface the
//   processor thread may be swapping into. The container's hide is caught
//   first (eventFilter) and waits until the processor thread is out of the
//   window (PSRendererSurfaceQt::WindowShownSet); a present while the window
//   is hidden draws but shows nothing.
// Lifetime: the frame's message target and the queue are borrowed and
// outlive the view.
#include "app/SAQtMessageTarget.h"
#include "core/PSEvent.h"
#include "pipeline/SADisplayView.h"
#include "render/PSRendererBase.h"

#include <QWidget>
#include <QWindow>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class PSRendererSurfaceQt;
class QLabel;
class QMouseEvent;
class QWheelEvent;
class SAInputTouch;
class SAQueueScreenUpdates;

// The native window the renderer draws into. It only reports its size,
// exposure and the end of its native surface; it paints nothing itself.
class SADisplayWindow : public QWindow
{
public:
    SADisplayWindow();
    std::function<void()> m_OnExpose;
    std::function<void(int, int)> m_OnResize; // device pixels
    std::function<void()> m_OnSurfaceDestroy; // before the native surface goes

protected:
    bool event(QEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

class SAMvcViewFrmDisplay : public QWidget, public SADisplayView
{
public:
    SAMvcViewFrmDisplay(SAMessageTarget* frameTarget, SAQueueScreenUpdates* queue, QWidget* parent = nullptr);
    ~SAMvcViewFrmDisplay() override;

    // SADisplayView (processor thread)
    bool ResolutionSet(int32_t width, int32_t height, bool allowFull) override;
    void Present(int32_t count) override;
    uint64_t PresentUploadNsGet() override;
    SADecodeTarget* DecodeTargetGet() override;
    SAMessageTarget* MessageTargetGet() override { return &m_Target; }
    // False while no renderer works on the GL context (frames then go
    // unacknowledged; the view says so at the next status refresh).
    bool PictureShowableGet() override { return m_PictureShowable.load(); }
    // Releases decoder threads blocked in a Send to the view (closing).
    void MessageTargetClose() { m_Target.Close(); }

    // Makes the renderers instead of the GL ones (full: the mode asked for).
    // Set before the processor first asks for a resolution; used by tests
    // that need a renderer with a controlled clock.
    using RendererFactory = std::function<std::unique_ptr<PSRendererBase>(bool full)>;
    void RendererFactorySet(RendererFactory factory) { m_RendererFactory = std::move(factory); }

    // GUI thread
    void OnAppOneTimeInitialization();
    // Also puts the view's "cannot show" text up or takes it down.
    PSRendererStatus RendererStatusGet();
    void RendererStatusClear();
    // Before the processor thread is stopped (it must be running): has that
    // thread release the renderer's GL objects and the GL context, and waits
    // until it has (a guard of a few seconds, logged when it runs out).
    void RendererRelease();
    // WM_CLOSE of the view: releases the renderer (processor stopped).
    void RendererClose();
    bool RendererExistsGet();
    // "full" or "areas" or "" (tests, screenshots).
    const char* RendererKindGet();
    QWindow* WindowGet() const { return m_pWindow; }
    QWidget* ContainerGet() const { return m_pContainer; }
    // The H.264 error box was shown.
    bool H264ErrorShownGet() const { return m_H264ErrorShown; }
    // Frames presented with count > 0 since start.
    uint64_t FramesPresentedGet() const { return m_FramesPresented.load(); }

    // Input (GUI thread). Mouse events of the window move and tilt the
    // picture; a click on the picture asks the frame for mouse capture
    // (WM_APP+16), a click beside it puts the picture back in place. With
    // touch emulation on, the left button sends touch events instead.
    void TouchEmulationSet(bool on) { m_TouchEmulation = on; }
    bool TouchEmulationGet() const { return m_TouchEmulation; }
    // Lifts an emulated contact that is still down (`send`: tell the server,
    // else only forget it). Emulation can end while the left button is held,
    // and the release then never reaches this view as a touch.
    void TouchContactLift(bool send);
    // Touch events of the window go to `touch` (borrowed; the frame owns
    // it and clears it before destroying it).
    void InputTouchSet(SAInputTouch* touch) { m_pInputTouch = touch; }
    bool FrameTargetAvailableGet() const { return m_pFrameTarget != nullptr; }
    // One touch point in client pixels, sent to the frame as a touch record
    // mapped onto the server screen; a point that misses the picture, or
    // lies outside the window (inside false), is sent as lifted (flags 5).
    // Called by SAInputTouch and by the touch emulation.
    void PrivateTouchEventSend(uint32_t touchFlags, uint8_t absolute, bool inside, int32_t x, int32_t y);
    // The renderer's picture geometry (tests); false without a renderer.
    bool RendererPictureCenterGet(float* x, float* y);
    bool RendererClientToTarget(float x, float y, float result[2], float size[2]);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<PSRendererBase> PrivateRendererInitialize(int32_t width, int32_t height, bool full,
                                                              bool mode);
    intptr_t PrivateMessageHandle(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void OnAppH264Error(intptr_t kind);
    // Processor thread: the release RendererRelease asked for (once).
    void PrivateRenderThreadRelease();
    bool PrivateMouseEvent(QEvent* event);
    void OnLButtonDown(const QPointF& point);
    void OnLButtonUp(const QPointF& point);
    void OnLButtonDblClk(const QPointF& point);
    void OnMouseMove(const QPointF& point, bool leftDown);
    void OnMouseWheel(int delta);
    QPointF PrivateClientPoint(const QPointF& windowPoint) const;

    SAMessageTarget* m_pFrameTarget;
    SAQueueScreenUpdates* m_pQueue;
    SAQtMessageTarget m_Target;
    SADisplayWindow* m_pWindow;
    QWidget* m_pContainer;
    std::unique_ptr<PSRendererSurfaceQt> m_pSurface;
    RendererFactory m_RendererFactory;

    std::mutex m_RendererLock;
    std::unique_ptr<PSRendererBase> m_pRenderer;     // see Threads above
    std::unique_ptr<SADecodeTarget> m_pDecodeTarget; // follows m_pRenderer
    bool m_RendererFull = false;                     // guarded by m_RendererLock
    bool m_RendererModeWanted = true;                // processor thread only
    std::atomic<bool> m_ReleaseRequested{false};     // set by the GUI thread
    bool m_Released = false;                         // processor thread only
    PSEvent m_ReleasedEvent{true, false};            // set by the processor thread

    std::atomic<bool> m_PictureShowable{true}; // written by the processor thread
    QLabel* m_pUnshowable = nullptr;           // GUI thread; made when first needed
    bool m_StatusValid = false;
    bool m_H264ErrorShown = false;
    std::atomic<uint64_t> m_FramesPresented{0};

    // Mouse state (GUI thread).
    SAInputTouch* m_pInputTouch = nullptr;
    bool m_TouchEmulation = false;
    bool m_TouchContactDown = false;
    QPointF m_TouchContactLast;
    bool m_Moved = false;
    bool m_LeftDown = false;
    bool m_MiddleDown = false;
    bool m_RightDown = false;
    float m_PreviousX = 0;
    float m_PreviousY = 0;
};
