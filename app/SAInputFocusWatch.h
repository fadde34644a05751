#pragma once
// Tells the frame when one of its views gets or loses the keyboard focus
// (WM_APP+14 and WM_APP+15): the full keyboard hook exists only while a
// view has it, and losing it ends mouse capture.
//
// A view has the focus when the frame's window is the focus window (the
// views are all it holds that takes the focus; the menu bar holds it only
// while the menus are worked with the keyboard, which is no loss of focus),
// or when the display view's own native window is the focus window. Focus moves arrive as several steps
// (the old window loses it, then the new one gets it); they are looked at
// together once the event loop has delivered them, so a step in between
// sends nothing.
//
// Threads: GUI thread only. The frame's message target, the frame window
// and the display window are borrowed; the frame owns them all
// and destroys this object first.
#include <QObject>

class QWidget;
class QWindow;
class SAMessageTarget;

class SAInputFocusWatch : public QObject
{
public:
    SAInputFocusWatch(SAMessageTarget* frameTarget, QWidget* frame, QWindow* displayWindow);

    // Whether a view has the focus now.
    bool ViewHasFocusCompute() const;
    // The value last reported to the frame.
    bool ViewHasFocusGet() const { return m_Reported; }

private:
    void PrivateChangeNoted();
    void PrivateEvaluate();

    SAMessageTarget* m_pFrameTarget;
    QWidget* m_pFrame;
    QWindow* m_pDisplayWindow;
    bool m_Reported = false;
    bool m_Pending = false;
};
