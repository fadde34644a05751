#pragma once
// States, events and the per-event record of the connection state machine.
// The values are fixed: they travel as WM_APP+10 parameters and appear in
// log lines and in the connection histories shown to the user.
#include <cstdint>
#include <string>

class SANetClientControl;
class SAFrameBase;

constexpr int32_t SA_FSTM_STATE_DISCONNECTED = 0;
constexpr int32_t SA_FSTM_STATE_UNCONNECTED_CONNECTING_SERVER = 1;
constexpr int32_t SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER = 2;
constexpr int32_t SA_FSTM_STATE_CONNECTED_DISPLAY_OFF = 3;
constexpr int32_t SA_FSTM_STATE_CONNECTED_DISPLAY_ON = 4;
constexpr int32_t SA_FSTM_STATE_DISCONNECTING_SERVER = 5;
constexpr int32_t SA_FSTM_STATE_CONNECTED_FULLSCREEN = 6;
constexpr int32_t SA_FSTM_STATE_COUNT = 7;

constexpr int32_t SA_FSTM_EVENT_MENU_CONNECT_SERVER = 0;
constexpr int32_t SA_FSTM_EVENT_MENU_AUTO_CONNECT_SERVER = 1;
constexpr int32_t SA_FSTM_EVENT_MENU_DISCONNECT_SERVER = 2;
constexpr int32_t SA_FSTM_EVENT_SERVER_CONNECTED = 3;
constexpr int32_t SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON = 4;
constexpr int32_t SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF = 5;
constexpr int32_t SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_ON = 6;
constexpr int32_t SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_OFF = 7;
constexpr int32_t SA_FSTM_EVENT_SERVER_POWER_SUSPEND = 8;
constexpr int32_t SA_FSTM_EVENT_CLIENT_INPUT_MOUSE = 9;
constexpr int32_t SA_FSTM_EVENT_CLIENT_INPUT_KEYBOARD = 10;
constexpr int32_t SA_FSTM_EVENT_CLIENT_INPUT_TOUCH = 11;
constexpr int32_t SA_FSTM_EVENT_CLIENT_DISPLAY_ORIENTATION_CHANGED = 12;
constexpr int32_t SA_FSTM_EVENT_CLIENT_FULLSCREEN_ON = 13;
constexpr int32_t SA_FSTM_EVENT_CLIENT_FULLSCREEN_OFF = 14;
constexpr int32_t SA_FSTM_EVENT_TIMER = 15;
constexpr int32_t SA_FSTM_EVENT_COUNT = 16;
// Passed to the Disconnected entry action by the frame's one-time
// initialisation; it is no event of the table.
constexpr int32_t SA_FSTM_EVENT_INITIALIZE = 16;

// Handed by value to every action: each action owns its copy.
struct SAFstmEventData
{
    // The frame's server client; borrowed, the frame keeps it alive for its
    // whole life.
    SANetClientControl* client = nullptr;
    // lParam of WM_APP+10: a const SANetHostRecord* (events 0 and 1), a
    // const SAInputMouseRecord*, SAInputKeyboardRecord* or SAInputTouchRecord*
    // (events 9, 10, 11; valid for the duration of the step), a disconnect
    // reason code (event 2), or 0.
    intptr_t param = 0;
    // Copy of the viewer's instance identifier (braced GUID text).
    std::string instanceId;
    // The frame that runs the machine; borrowed.
    SAFrameBase* frame = nullptr;
};
