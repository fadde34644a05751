#pragma once
// Touch input of the display view: the points of each touch event become
// touch records sent to the frame (through the display view's
// PrivateTouchEventSend, which maps them onto the server screen).
// Touch counts only while registered (a connection is active and
// "TouchSettings" is not 2, touch off).
//
// Threads: GUI thread only. The display view is borrowed and outlives this
// object (the frame owns both and destroys this object first).
#include <QPointF>

#include <cstdint>
#include <functional>
#include <map>

class QTouchEvent;
class SAMvcViewFrmDisplay;

class SAInputTouch
{
public:
    // modeGet: the frame's touch mode ("TouchSettings"); stateGet: the
    // connection state.
    SAInputTouch(SAMvcViewFrmDisplay* view, std::function<int32_t()> modeGet,
                 std::function<int32_t()> stateGet);

    // A connection begins: registers unless the mode is 2. False when the
    // mode keeps touch off.
    bool Initialize();
    // Back in state 0.
    void Uninitialize();
    bool RegisteredGet() const { return m_Registered; }

    // One touch event of the display view's window; true when it was
    // handled (and must not reach anything else).
    bool GetInputFromWmTouch(const QTouchEvent* event);

private:
    SAMvcViewFrmDisplay* m_pView;
    std::function<int32_t()> m_ModeGet;
    std::function<int32_t()> m_StateGet;
    bool m_Registered = false;
    // The contacts down, by id, at their last place on the screen: a
    // cancelled sequence (the compositor taking it over for a gesture of
    // its own) names none of its points, and its contacts are lifted here.
    std::map<int, QPointF> m_Contacts;
};
