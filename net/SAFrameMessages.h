#pragma once
// The frame's own message beyond the numbered application messages of
// core/SAMessageTarget.h.
#include "core/SAMessageTarget.h"

#include <cstdint>

// A paced reconnect attempt is due (posted by the frame's reconnect timer);
// wParam = the attempt's generation, lParam 0.
constexpr uint32_t SA_WM_APP_RECONNECT_DUE = SA_WM_APP + 23;

// The audio connection could not be made or started; the frame shows the
// audio failure box. Posted by the audio worker threads, which never touch
// the UI themselves. wParam and lParam 0.
constexpr uint32_t SA_WM_APP_AUDIO_FAILURE = SA_WM_APP + 24;
