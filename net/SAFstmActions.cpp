#include "net/SAFstmActions.h"

#include "core/PSTime.h"
#include "core/SALog.h"
#include "core/SAUtilAddress.h"
#include "net/SAFrameBase.h"
#include "net/SAInputRecord.h"
#include "net/SANetClientControl.h"
#include "net/SANetHostRecord.h"
#include "settings/SASettings.h"

#include <arpa/inet.h>
#include <cinttypes>
#include <cstdio>

namespace
{
bool PrivateDataCheck(const SAFstmEventData& data, const char* method)
{
    if (!data.frame)
    {
        SALog(SA_LOG_FAILURE, "%s failed! NULL == data.frame\n", method);
        return false;
    }
    if (!data.client)
    {
        SALog(SA_LOG_FAILURE, "%s failed! NULL == data.client\n", method);
        return false;
    }
    return true;
}

// Audio disconnect, receiver stop, transmit queue stop (in the client), and
// no paced attempt left behind.
void PrivateConnectionStop(const SAFstmEventData& data)
{
    data.frame->ReconnectCancel();
    data.client->ConnectionStop();
}

// Lines 1 and 2 shown, line 3 hidden, text view in front.
void PrivateLinesShow(SAFrameBase& frame)
{
    frame.StatusLineShow(1, true);
    frame.StatusLineShow(2, true);
    frame.StatusLineShow(3, false);
    frame.ViewSwitch(SAFrameView::TEXT);
}

void PrivateMenuConnect(const SAFstmEventData& data, const char* line1, const char* method)
{
    if (!PrivateDataCheck(data, method))
        return;
    const auto* record = reinterpret_cast<const SANetHostRecord*>(data.param);
    if (!record)
    {
        // Nothing to connect to: end the attempt the way a failed connect does.
        SALog(SA_LOG_FAILURE, "%s failed! NULL == data.param\n", method);
        data.frame->MessageTargetGet().Post(SA_WM_APP_FSTM_EVENT,
                                            SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, 0);
        return;
    }
    data.frame->ConnectStart(record->Address);
    data.frame->StatusLineTextSet(1, line1);
    data.frame->StatusLineTextSet(2, SAUtilAddressText(record->Address));
    PrivateLinesShow(*data.frame);
}

// Attempts are at least a second apart: after a failed attempt, and after a
// connection lost soon after its attempt (a server that accepts and closes
// at once would otherwise be connected to hundreds of times a second). A
// connection that lived longer is followed at once.
void PrivateReconnectAttempt(const SAFstmEventData& data)
{
    PrivateConnectionStop(data);
    // The server of the current connection is the one its attempt went to,
    // made or not: a first attempt that failed (an automatic connect to a
    // server still starting) has no remote address to reconnect to, and
    // after a connect to another server failed, the last one made is not
    // the one the user asked for.
    uint32_t address = data.frame->ConnectAddressGet();
    if (address == 0)
        address = data.client->ServerAddressGet();
    if (SASettings::AutoConnectSettingGet() == SA_SETTINGS_AUTO_CONNECT_IP_LIST)
    {
        uint32_t listed = 0;
        if (data.frame->ReconnectAddressNext(listed) && listed != 0)
            address = listed;
    }
    data.frame->ReconnectPaced(address);
}

void PrivateDisconnect(const SAFstmEventData& data, const char* method)
{
    if (!data.client->Transmit(SAPacketDisconnect(static_cast<int32_t>(data.param))))
        SALog(SA_LOG_FAILURE, "%s failed! Transmit\n", method);
    PrivateConnectionStop(data);
    // The Disconnecting state ends with event 4. After the stop no event of
    // the connection counts any more: not its receiver's end, not a connect
    // that succeeded or failed meanwhile, and a paced attempt never starts.
    // So the stop's own end is raised here, whatever was or was not in
    // flight; otherwise the machine could stay in Disconnecting for good.
    data.frame->MessageTargetGet().Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON,
                                        0);
}

void PrivateInputTransmit(const SAFstmEventData& data, const SAPacketHeader& header, const char* method)
{
    if (!data.client->Transmit(header))
        SALog(SA_LOG_FAILURE, "%s failed! Transmit\n", method);
    data.frame->MessageTargetGet().Post(SA_WM_APP_STATUS_REFRESH, 0, 0);
}
} // namespace

std::string SAFstmTimeTextGet(int64_t milliseconds)
{
    const int64_t seconds = milliseconds <= 0 ? 0 : (milliseconds + 999) / 1000;
    char text[64];
    std::snprintf(text, sizeof(text), "%02" PRId64 ":%02" PRId64 ":%02" PRId64, seconds / 3600,
                  (seconds / 60) % 60, seconds % 60);
    return text;
}

void SAFstmEvent_State00_OnMenuConnectServer(SAFstmEventData data)
{
    PrivateMenuConnect(data, "Connecting to ", "SAFstmEvent_State00_OnMenuConnectServer");
}

void SAFstmEvent_State00_OnMenuAutoConnectServer(SAFstmEventData data)
{
    PrivateMenuConnect(data, "Auto-connecting to ", "SAFstmEvent_State00_OnMenuAutoConnectServer");
}

void SAFstmEvent_State0102_OnServerConnected(SAFstmEventData data)
{
    if (!PrivateDataCheck(data, "SAFstmEvent_State0102_OnServerConnected"))
        return;
    const uint32_t address = data.client->ServerAddressGet();
    const int32_t features = data.frame->ServerFeatureSupportBitmapGet(htonl(address));
    // A failed start raises the disconnect event by itself.
    if (!data.client->Start(data.instanceId))
        SALog(SA_LOG_FAILURE, "SAFstmEvent_State0102_OnServerConnected failed! Start\n");
    if (data.frame->AudioEnabledGet())
        data.client->AudioConnect(address, data.instanceId, features);
}

void SAFstmEvent_State020304_OnMenuDisconnectServer(SAFstmEventData data)
{
    if (!PrivateDataCheck(data, "SAFstmEvent_State020304_OnMenuDisconnectServer"))
        return;
    PrivateDisconnect(data, "SAFstmEvent_State020304_OnMenuDisconnectServer");
}

void SAFstmEvent_State02_OnServerDisconnected(SAFstmEventData data)
{
    if (!PrivateDataCheck(data, "SAFstmEvent_State02_OnServerDisconnected"))
        return;
    PrivateReconnectAttempt(data);
}

void SAFstmEvent_State0304_OnServerDisconnectedReconnectOn(SAFstmEventData data)
{
    if (!PrivateDataCheck(data, "SAFstmEvent_State0304_OnServerDisconnectedReconnectOn"))
        return;
    PrivateReconnectAttempt(data);
}

void SAFstmEvent_State0304_OnServerDisconnectedReconnectOff(SAFstmEventData data)
{
    if (!PrivateDataCheck(data, "SAFstmEvent_State0304_OnServerDisconnectedReconnectOff"))
        return;
    PrivateConnectionStop(data);
}

void SAFstmEvent_State03_OnServerDisplayVisibilityOn(SAFstmEventData data)
{
    if (!data.frame)
    {
        SALog(SA_LOG_FAILURE, "SAFstmEvent_State03_OnServerDisplayVisibilityOn failed! NULL == data.frame\n");
        return;
    }
    data.frame->ViewSwitch(SAFrameView::DISPLAY);
}

void SAFstmEvent_State030406_OnClientInputMouse(SAFstmEventData data)
{
    const auto* record = reinterpret_cast<const SAInputMouseRecord*>(data.param);
    if (!record || !data.client || !data.frame)
    {
        SALog(SA_LOG_FAILURE, "SAFstmEvent_State030406_OnClientInputMouse failed!\n");
        return;
    }
    const uint32_t moved = (record->lLastX != 0 || record->lLastY != 0) ? 0x0001 : 0;
    uint32_t buttonFlags = (static_cast<uint32_t>(record->usButtonFlags & 0x3F) << 1) | moved;
    uint32_t buttonData = 0;
    if (record->usButtonFlags & SA_RI_MOUSE_WHEEL)
    {
        buttonFlags |= 0x0800;
        buttonData = record->usButtonData;
    }
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_INPUT_MOUSE);
    header.S32Set(SAWire::MOUSE_X, record->lLastX);
    header.S32Set(SAWire::MOUSE_Y, record->lLastY);
    header.U32Set(SAWire::MOUSE_BUTTON_DATA, buttonData);
    header.U32Set(SAWire::MOUSE_BUTTON_FLAGS, buttonFlags);
    header.U32Set(SAWire::MOUSE_FLAGS, 0);
    SALog(SA_LOG_INPUT, "MOUSE: (%d,%d) Flags:0x%x ButtonFlags:0x%x ButtonData:0x%x\n", record->lLastX,
          record->lLastY, 0u, buttonFlags, buttonData);
    PrivateInputTransmit(data, header, "SAFstmEvent_State030406_OnClientInputMouse");
}

void SAFstmEvent_State030406_OnClientInputKeyboard(SAFstmEventData data)
{
    const auto* record = reinterpret_cast<const SAInputKeyboardRecord*>(data.param);
    if (!record || !data.client || !data.frame)
    {
        SALog(SA_LOG_FAILURE, "SAFstmEvent_State030406_OnClientInputKeyboard failed!\n");
        return;
    }
    const uint32_t vkCode = record->vkCode & 0xFFFF;
    const uint32_t scanCode = record->scanCode & 0xFFFF;
    const uint32_t flags = (record->flags & SA_LLKHF_EXTENDED) | ((record->flags & SA_LLKHF_UP) ? 0x2 : 0);
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_INPUT_KEYBOARD);
    header.U32Set(SAWire::KEY_VKEY_CODE, vkCode);
    header.U32Set(SAWire::KEY_SCAN_CODE, scanCode);
    header.U32Set(SAWire::KEY_FLAGS, flags);
    SALog(SA_LOG_INPUT, "KEYBOARD: ScanCode:0x%x VKeyCode:0x%x Flags:0x%x\n", scanCode, vkCode, flags);
    PrivateInputTransmit(data, header, "SAFstmEvent_State030406_OnClientInputKeyboard");
}

void SAFstmEvent_State050608_OnHookInputTouch(SAFstmEventData data)
{
    const auto* record = reinterpret_cast<const SAInputTouchRecord*>(data.param);
    if (!record || !data.client || !data.frame)
    {
        SALog(SA_LOG_FAILURE, "SAFstmEvent_State050608_OnHookInputTouch failed!\n");
        return;
    }
    const uint32_t flags = (record->absolute != 0 ? 0x1 : 0) | (record->touchFlags & SA_TOUCHEVENTF_DOWN) |
                           (record->touchFlags & SA_TOUCHEVENTF_UP);
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_INPUT_TOUCH);
    header.S32Set(SAWire::TOUCH_X, record->x);
    header.S32Set(SAWire::TOUCH_Y, record->y);
    header.S32Set(SAWire::TOUCH_RESOLUTION_WIDTH, record->resolutionWidth);
    header.S32Set(SAWire::TOUCH_RESOLUTION_HEIGHT, record->resolutionHeight);
    header.U32Set(SAWire::TOUCH_FLAGS, flags);
    header.U32Set(SAWire::TOUCH_TIME_MS, PSTimeGetTime());
    SALog(SA_LOG_INPUT, "TOUCH INPUT:%d;%d Flags:0x%x Resolution:%d;%d\n", record->x, record->y, flags,
          record->resolutionWidth, record->resolutionHeight);
    PrivateInputTransmit(data, header, "SAFstmEvent_State050608_OnHookInputTouch");
}

void SAFstmEvent_State0406_OnClientDisplayOrientationChanged(SAFstmEventData data) {}

void SAFstmEvent_State06_OnClientFullscreenOff(SAFstmEventData data)
{
    if (!data.frame)
    {
        SALog(SA_LOG_FAILURE, "SAFstmEvent_State06_OnClientFullscreenOff failed! NULL == data.frame\n");
        return;
    }
    data.frame->FullScreenExit();
}

void SAFstmEvent_State06_OnServerDisplayVisibilityOff(SAFstmEventData data)
{
    if (!data.frame)
    {
        SALog(SA_LOG_FAILURE,
              "SAFstmEvent_State06_OnServerDisplayVisibilityOff failed! NULL == data.frame\n");
        return;
    }
    data.frame->FullScreenExit();
}

void SAFstmEvent_State06_OnMenuDisconnectServer(SAFstmEventData data)
{
    if (!PrivateDataCheck(data, "SAFstmEvent_State06_OnMenuDisconnectServer"))
        return;
    data.frame->FullScreenExit();
    PrivateDisconnect(data, "SAFstmEvent_State06_OnMenuDisconnectServer");
}

void SAFstmEvent_State06_OnServerDisconnectedReconnectOn(SAFstmEventData data)
{
    if (!PrivateDataCheck(data, "SAFstmEvent_State06_OnServerDisconnectedReconnectOn"))
        return;
    data.frame->FullScreenExit();
    PrivateReconnectAttempt(data);
}

void SAFstmEvent_State06_OnServerDisconnectedReconnectOff(SAFstmEventData data)
{
    if (!PrivateDataCheck(data, "SAFstmEvent_State06_OnServerDisconnectedReconnectOff"))
        return;
    data.frame->FullScreenExit();
    PrivateConnectionStop(data);
}

void SAFstmState_OnEnterReconnectingServer(SAFstmEventData data, int32_t previousState, int32_t event)
{
    if (!PrivateDataCheck(data, "SAFstmState_OnEnterReconnectingServer"))
        return;
    SAFrameBase& frame = *data.frame;
    uint32_t address = data.client->ServerAddressGet();
    if (event == SA_FSTM_EVENT_SERVER_POWER_SUSPEND)
    {
        frame.StatusLineTextSet(1, "Powersave -  Reconnecting to ");
        frame.StatusLineTextSet(2, SAUtilAddressText(address));
    }
    else if (event == SA_FSTM_EVENT_MENU_AUTO_CONNECT_SERVER)
    {
        // The auto-connect action already wrote line 1 and started the connect.
        const auto* record = reinterpret_cast<const SANetHostRecord*>(data.param);
        address = record ? record->Address : 0;
    }
    else
    {
        frame.StatusLineTextSet(1, "Disconnected - Reconnecting to ");
        frame.StatusLineTextSet(2, SAUtilAddressText(address));
    }
    frame.ReconnectAddressListRebuild(address);
    frame.StatusLineTextSet(2, SAUtilAddressText(address));
    PrivateLinesShow(frame);
}

void SAFstmState_OnEnterConnectedDisplayOff(SAFstmEventData data, int32_t previousState, int32_t event)
{
    if (!data.frame)
    {
        SALog(SA_LOG_FAILURE, "SAFstmState_OnEnterConnectedDisplayOff failed! NULL == data.frame\n");
        return;
    }
    data.frame->StatusLineTextSet(1, "Connected - Display OFF");
    data.frame->StatusLineShow(1, true);
    data.frame->StatusLineShow(2, false);
    data.frame->StatusLineShow(3, false);
    data.frame->ViewSwitch(SAFrameView::TEXT);
}

void SAFstmState_OnEnterDisconnectingServer(SAFstmEventData data, int32_t previousState, int32_t event)
{
    if (!PrivateDataCheck(data, "SAFstmState_OnEnterDisconnectingServer"))
        return;
    SAFrameBase& frame = *data.frame;
    const uint32_t address = data.client->ServerAddressGet();
    frame.StatusLineTextSet(1, address != 0 ? "Disconnecting from " : "Disconnecting... ");
    frame.StatusLineTextSet(2, SAUtilAddressText(address));
    frame.StatusLineShow(1, true);
    frame.StatusLineShow(2, address != 0);
    frame.StatusLineShow(3, false);
    frame.ViewSwitch(SAFrameView::TEXT);
    frame.DisconnectingWait();
}

void SAFstmState_OnEnterConnectedFullscreen(SAFstmEventData data, int32_t previousState, int32_t event)
{
    if (!data.frame)
    {
        SALog(SA_LOG_FAILURE, "SAFstmState_OnEnterConnectedFullscreen failed! NULL == data.frame\n");
        return;
    }
    data.frame->FullScreenEnter();
}

void SAFstmState_OnEnterDisconnected(SAFstmEventData data, int32_t previousState, int32_t event)
{
    if (!PrivateDataCheck(data, "SAFstmState_OnEnterDisconnected"))
        return;
    SAFrameBase& frame = *data.frame;
    frame.ViewSwitch(SAFrameView::CONNECT);

    const int64_t elapsed = frame.ConnectionElapsedTake();
    const std::string timeText = SAFstmTimeTextGet(elapsed);

    switch (previousState)
    {
    case SA_FSTM_STATE_UNCONNECTED_CONNECTING_SERVER:
        frame.MessageBoxShow("Unable to connect!", "Connection failure");
        break;
    case SA_FSTM_STATE_CONNECTED_DISPLAY_OFF:
    case SA_FSTM_STATE_CONNECTED_DISPLAY_ON:
    case SA_FSTM_STATE_CONNECTED_FULLSCREEN:
        if (elapsed > 15000)
            frame.MessageBoxShow("Disconnected by server\n\nConnected time: " + timeText, "Disconnected");
        else
            frame.MessageBoxShow("Disconnected by server error\n\nError Code: " + frame.StateHistoryGet() +
                                     "\n\nError Info: " + frame.EventHistoryGet() +
                                     "\n\nConnected time: " + timeText,
                                 "Disconnected");
        break;
    case SA_FSTM_STATE_DISCONNECTING_SERVER:
        switch (data.client->LastDisconnectReasonGet())
        {
        case 0:
            frame.MessageBoxShow("Graceful disconnect by server\n\nConnected time: " + timeText,
                                 "Disconnected by server");
            break;
        case 1:
            frame.MessageBoxShow(
                "Error - Render graphics adapter (GPU) ran out of memory on server side\nTo fix, "
                "reboot the quillmere primary machine.",
                "Disconnected by server");
            break;
        case 3:
            frame.MessageBoxShow(
                "Error - Hardware encoding initialization failed on server side\n\nPlease consider "
                "switching to Software Encoding in Settings->Quality/Performance.",
                "Disconnected by server");
            break;
        case 4:
            frame.MessageBoxShow(
                "Error - Hardware encoding failed on server side\n\nPlease consider switching to "
                "Software Encoding in Settings->Quality/Performance.",
                "Disconnected by server");
            break;
        default:
            frame.MessageBoxShow("Disconnected manually\n\nConnected time: " + timeText, "Disconnected");
            break;
        }
        break;
    default:
        break;
    }

    PrivateConnectionStop(data);
}
