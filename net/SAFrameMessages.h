#pragma once
// The application window messages that the frame's non-UI half handles or
// sends, and the message target through which it reaches its own window.
#if __has_include("core/SAMessageTarget.h")
#include "core/SAMessageTarget.h"
#else
#include <cstdint>
constexpr uint32_t SA_WM_APP = 0x8000;
// A window that receives numbered messages: Post queues and returns at once,
// Send runs the handler on the window thread and waits for its result (a
// direct call when made on the window thread).
class SAMessageTarget
{
public:
    virtual ~SAMessageTarget() = default;
    virtual bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    virtual intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};
#endif

#include <cstdint>

// wParam = event, lParam = event parameter.
constexpr uint32_t SA_WM_APP_FSTM_EVENT = SA_WM_APP + 10;
// wParam = event, lParam = previous state (low 16 bits) | new state (high 16 bits).
constexpr uint32_t SA_WM_APP_FSTM_STATE_CHANGED = SA_WM_APP + 11;
// Status bar refresh; no parameters.
constexpr uint32_t SA_WM_APP_STATUS_REFRESH = SA_WM_APP + 12;
// The server asked for a StreamReset reply; no parameters.
constexpr uint32_t SA_WM_APP_STREAM_RESET_REPLY = SA_WM_APP + 21;
// A paced reconnect attempt is due; wParam = the attempt's generation.
constexpr uint32_t SA_WM_APP_RECONNECT_DUE = SA_WM_APP + 23;
