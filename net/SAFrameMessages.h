#pragma once
// The frame's own message beyond the numbered application messages of
// core/SAMessageTarget.h.
#include "core/SAMessageTarget.h"

#include <cstdint>

// A paced reconnect attempt is due (posted by the frame's reconnect timer);
// wParam = the attempt's generation, lParam 0.
constexpr uint32_t SA_WM_APP_RECONNECT_DUE = SA_WM_APP + 23;
