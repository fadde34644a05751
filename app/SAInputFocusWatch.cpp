#include "app/SAInputFocusWatch.h"

#include "core/SALog.h"
#include "core/SAMessageTarget.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

SAInputFocusWatch::SAInputFocusWatch(SAMessageTarget* frameTarget, QWidget* frame, QWindow* displayWindow)
    : m_pFrameTarget(frameTarget), m_pFrame(frame), m_pDisplayWindow(displayWindow)
{
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow*) { PrivateChangeNoted(); });
    PrivateChangeNoted();
}

bool SAInputFocusWatch::ViewHasFocusCompute() const
{
    QWindow* focusWindow = QGuiApplication::focusWindow();
    if (focusWindow == nullptr)
        return false;
    if (focusWindow == m_pDisplayWindow)
        return true;
    return m_pFrame != nullptr && focusWindow == m_pFrame->windowHandle();
}

void SAInputFocusWatch::PrivateChangeNoted()
{
    if (m_Pending)
        return;
    m_Pending = true;
    QMetaObject::invokeMethod(
        this, [this] { PrivateEvaluate(); }, Qt::QueuedConnection);
}

void SAInputFocusWatch::PrivateEvaluate()
{
    m_Pending = false;
    const bool hasFocus = ViewHasFocusCompute();
    if (hasFocus == m_Reported)
        return;
    m_Reported = hasFocus;
    if (m_pFrameTarget == nullptr)
    {
        SALog(SA_LOG_FAILURE, hasFocus ? "SAMvcViewFrmDisplay::OnSetFocus AfxGetMainWnd failed!\n"
                                       : "SAMvcViewFrmDisplay::OnKillFocus AfxGetMainWnd failed!\n");
        return;
    }
    m_pFrameTarget->Send(hasFocus ? SA_WM_APP_VIEW_FOCUS_SET : SA_WM_APP_VIEW_FOCUS_KILL, 0, 0);
}
