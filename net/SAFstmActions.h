#pragma once
// The transition and entry actions of the connection state machine. Each
// is named after the states and the event of its table cells. They run on
// the window thread inside SAFstm::ProcessEvent.
#include "net/SAFstmEventData.h"

#include <cstdint>
#include <string>

void SAFstmEvent_State00_OnMenuConnectServer(SAFstmEventData data);
void SAFstmEvent_State00_OnMenuAutoConnectServer(SAFstmEventData data);
void SAFstmEvent_State0102_OnServerConnected(SAFstmEventData data);
void SAFstmEvent_State020304_OnMenuDisconnectServer(SAFstmEventData data);
void SAFstmEvent_State02_OnServerDisconnected(SAFstmEventData data);
void SAFstmEvent_State0304_OnServerDisconnectedReconnectOn(SAFstmEventData data);
void SAFstmEvent_State0304_OnServerDisconnectedReconnectOff(SAFstmEventData data);
void SAFstmEvent_State03_OnServerDisplayVisibilityOn(SAFstmEventData data);
void SAFstmEvent_State030406_OnClientInputMouse(SAFstmEventData data);
void SAFstmEvent_State030406_OnClientInputKeyboard(SAFstmEventData data);
void SAFstmEvent_State050608_OnHookInputTouch(SAFstmEventData data);
void SAFstmEvent_State0406_OnClientDisplayOrientationChanged(SAFstmEventData data);
void SAFstmEvent_State06_OnClientFullscreenOff(SAFstmEventData data);
void SAFstmEvent_State06_OnServerDisplayVisibilityOff(SAFstmEventData data);
void SAFstmEvent_State06_OnMenuDisconnectServer(SAFstmEventData data);
void SAFstmEvent_State06_OnServerDisconnectedReconnectOn(SAFstmEventData data);
void SAFstmEvent_State06_OnServerDisconnectedReconnectOff(SAFstmEventData data);

void SAFstmState_OnEnterDisconnected(SAFstmEventData data, int32_t previousState, int32_t event);
void SAFstmState_OnEnterReconnectingServer(SAFstmEventData data, int32_t previousState, int32_t event);
void SAFstmState_OnEnterConnectedDisplayOff(SAFstmEventData data, int32_t previousState, int32_t event);
void SAFstmState_OnEnterDisconnectingServer(SAFstmEventData data, int32_t previousState, int32_t event);
void SAFstmState_OnEnterConnectedFullscreen(SAFstmEventData data, int32_t previousState, int32_t event);

// Connected time as "hh:mm:ss": "00:00:00" for 0 (and for a negative
// count), otherwise whole seconds rounded up; hours are not limited to two
// digits.
std::string SAFstmTimeTextGet(int64_t milliseconds);
