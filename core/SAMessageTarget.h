#pragma once
// The one way worker threads reach the user interface: numbered application
// messages posted or sent to a target (the main frame, a view, a dialog).
// The numbers are those of the original window messages, so that log lines
// and traces read the same.
//
// Semantics every implementation keeps:
//   Post  queues the message and returns at once; false when the target no
//         longer takes messages (the poster then still owns whatever lParam
//         points to).
//   Send  runs the handler on the target's thread and returns its result,
//         waiting for it when called from another thread. On the target's own
//         thread the handler runs at once (nested sends work). A target that
//         has ended, or ends while the sender waits, makes Send return 0
//         without hanging.
// Implementations: SAMessageLoop (a headless loop thread, tools and tests)
// and the application's Qt objects.
//
// Deadlock rule: a handler must never Send to a thread that may be waiting in
// a Send to this target at the same time.
#include <cstdint>

constexpr uint32_t SA_WM_APP = 0x8000;
// frame and each view: one-time initialisation
constexpr uint32_t SA_WM_APP_ONE_TIME_INITIALIZATION = SA_WM_APP + 1;
// connect view: discovery replies are waiting in the received list
constexpr uint32_t SA_WM_APP_DISCOVERY_HOST_INTERFACE_FOUND = SA_WM_APP + 2;
// connect view: one discovery cycle is done
constexpr uint32_t SA_WM_APP_DISCOVERY_CYCLE_DONE = SA_WM_APP + 3;
// connect view: the name resolution thread resolved the host
constexpr uint32_t SA_WM_APP_NAME_RESOLVED = SA_WM_APP + 4;
// connect view: start name resolution (posted by the progress dialog)
constexpr uint32_t SA_WM_APP_NAME_RESOLUTION_START = SA_WM_APP + 5;
// connect view: stop name resolution (sent by the progress dialog)
constexpr uint32_t SA_WM_APP_NAME_RESOLUTION_STOP = SA_WM_APP + 6;
// connect view: search for the looked-up host (add it to the unicast targets)
constexpr uint32_t SA_WM_APP_HOST_SEARCH_START = SA_WM_APP + 7;
// connect view: stop searching for the looked-up host
constexpr uint32_t SA_WM_APP_HOST_SEARCH_STOP = SA_WM_APP + 8;
// progress dialog: the host was resolved (wParam: the connect view's host info)
constexpr uint32_t SA_WM_APP_HOST_RESOLVED = SA_WM_APP + 9;
// frame: state machine event (wParam: event, lParam: its parameter)
constexpr uint32_t SA_WM_APP_FSTM_EVENT = SA_WM_APP + 10;
// frame: the state changed (wParam: event, lParam: previous and next state)
constexpr uint32_t SA_WM_APP_FSTM_STATE_CHANGED = SA_WM_APP + 11;
// frame: refresh the status bar
constexpr uint32_t SA_WM_APP_STATUS_REFRESH = SA_WM_APP + 12;
// frame: the full-screen X button was clicked
constexpr uint32_t SA_WM_APP_FULLSCREEN_CLOSE_CLICKED = SA_WM_APP + 13;
// frame: a view got the focus
constexpr uint32_t SA_WM_APP_VIEW_FOCUS_SET = SA_WM_APP + 14;
// frame: a view lost the focus
constexpr uint32_t SA_WM_APP_VIEW_FOCUS_KILL = SA_WM_APP + 15;
// frame: enter mouse capture
constexpr uint32_t SA_WM_APP_MOUSE_CAPTURE_ENTER = SA_WM_APP + 16;
// frame: leave mouse capture
constexpr uint32_t SA_WM_APP_MOUSE_CAPTURE_LEAVE = SA_WM_APP + 17;
// frame: push a repaint request into the screen update queue
constexpr uint32_t SA_WM_APP_REPAINT = SA_WM_APP + 18;
// frame: a frame is about to be presented
constexpr uint32_t SA_WM_APP_PRESENT = SA_WM_APP + 19;
// connect view: start automatic connection
constexpr uint32_t SA_WM_APP_AUTO_CONNECT_START = SA_WM_APP + 20;
// frame: the server asks for a stream reset reply
constexpr uint32_t SA_WM_APP_STREAM_RESET_REPLY = SA_WM_APP + 21;
// display view: H.264 decoder error (wParam 0, lParam: kind)
constexpr uint32_t SA_WM_APP_H264_ERROR = SA_WM_APP + 22;

class SAMessageTarget
{
public:
    virtual ~SAMessageTarget();
    virtual bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    virtual intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};
