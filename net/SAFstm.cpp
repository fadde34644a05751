#include "net/SAFstm.h"

#include "core/SALog.h"
#include "net/SAFrameBase.h"
#include "net/SAFstmActions.h"

namespace
{
const char* const STATE_NAMES[SA_FSTM_STATE_COUNT] = {
    "SA_FSTM_STATE_DISCONNECTED",
    "SA_FSTM_STATE_UNCONNECTED_CONNECTING_SERVER",
    "SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER",
    "SA_FSTM_STATE_CONNECTED_DISPLAY_OFF",
    "SA_FSTM_STATE_CONNECTED_DISPLAY_ON",
    "SA_FSTM_STATE_DISCONNECTING_SERVER",
    "SA_FSTM_STATE_CONNECTED_FULLSCREEN",
};

const char* const STATE_NAME_TEXTS[SA_FSTM_STATE_COUNT] = {
    "Disconnected ",          "Connecting Server... ", "Reconnecting Server... ", "Connected - Display OFF",
    "Connected - Display ON", "Disconnecting...",      "Connected - Fullscreen",
};

const char* const EVENT_NAMES[SA_FSTM_EVENT_COUNT] = {
    "SA_FSTM_EVENT_MENU_CONNECT_SERVER",
    "SA_FSTM_EVENT_MENU_AUTO_CONNECT_SERVER",
    "SA_FSTM_EVENT_MENU_DISCONNECT_SERVER",
    "SA_FSTM_EVENT_SERVER_CONNECTED",
    "SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON",
    "SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF",
    "SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_ON",
    "SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_OFF",
    "SA_FSTM_EVENT_SERVER_POWER_SUSPEND",
    "SA_FSTM_EVENT_CLIENT_INPUT_MOUSE",
    "SA_FSTM_EVENT_CLIENT_INPUT_KEYBOARD",
    "SA_FSTM_EVENT_CLIENT_INPUT_TOUCH",
    "SA_FSTM_EVENT_CLIENT_DISPLAY_ORIENTATION_CHANGED",
    "SA_FSTM_EVENT_CLIENT_FULLSCREEN_ON",
    "SA_FSTM_EVENT_CLIENT_FULLSCREEN_OFF",
    "SA_FSTM_EVENT_TIMER",
};
} // namespace

SAFstm::SAFstm()
{
    for (int32_t s = 0; s < SA_FSTM_STATE_COUNT; ++s)
    {
        m_States[s].name = STATE_NAME_TEXTS[s];
        for (int32_t e = 0; e < SA_FSTM_EVENT_COUNT; ++e)
            m_States[s].transitions[e] = SAFstmTransition{nullptr, s};
    }

    m_States[SA_FSTM_STATE_DISCONNECTED].onEnter = SAFstmState_OnEnterDisconnected;
    m_States[SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER].onEnter = SAFstmState_OnEnterReconnectingServer;
    m_States[SA_FSTM_STATE_CONNECTED_DISPLAY_OFF].onEnter = SAFstmState_OnEnterConnectedDisplayOff;
    m_States[SA_FSTM_STATE_DISCONNECTING_SERVER].onEnter = SAFstmState_OnEnterDisconnectingServer;
    m_States[SA_FSTM_STATE_CONNECTED_FULLSCREEN].onEnter = SAFstmState_OnEnterConnectedFullscreen;

    // 0 Disconnected
    PrivateCellSet(0, SA_FSTM_EVENT_MENU_CONNECT_SERVER, SAFstmEvent_State00_OnMenuConnectServer, 1);
    PrivateCellSet(0, SA_FSTM_EVENT_MENU_AUTO_CONNECT_SERVER, SAFstmEvent_State00_OnMenuAutoConnectServer, 2);
    PrivateCellSet(0, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, nullptr, 2);
    // 1 Connecting
    PrivateCellSet(1, SA_FSTM_EVENT_SERVER_CONNECTED, SAFstmEvent_State0102_OnServerConnected, 3);
    PrivateCellSet(1, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, nullptr, 0);
    PrivateCellSet(1, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF, nullptr, 0);
    // 2 Reconnecting
    PrivateCellSet(2, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, SAFstmEvent_State020304_OnMenuDisconnectServer,
                   5);
    PrivateCellSet(2, SA_FSTM_EVENT_SERVER_CONNECTED, SAFstmEvent_State0102_OnServerConnected, 3);
    PrivateCellSet(2, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON,
                   SAFstmEvent_State02_OnServerDisconnected, 2);
    PrivateCellSet(2, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF,
                   SAFstmEvent_State02_OnServerDisconnected, 2);
    // 3 Connected, display off
    PrivateCellSet(3, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, SAFstmEvent_State020304_OnMenuDisconnectServer,
                   5);
    PrivateCellSet(3, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON,
                   SAFstmEvent_State0304_OnServerDisconnectedReconnectOn, 2);
    PrivateCellSet(3, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF,
                   SAFstmEvent_State0304_OnServerDisconnectedReconnectOff, 0);
    PrivateCellSet(3, SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_ON,
                   SAFstmEvent_State03_OnServerDisplayVisibilityOn, 4);
    PrivateCellSet(3, SA_FSTM_EVENT_CLIENT_INPUT_MOUSE, SAFstmEvent_State030406_OnClientInputMouse, 3);
    PrivateCellSet(3, SA_FSTM_EVENT_CLIENT_INPUT_KEYBOARD, SAFstmEvent_State030406_OnClientInputKeyboard, 3);
    PrivateCellSet(3, SA_FSTM_EVENT_CLIENT_INPUT_TOUCH, SAFstmEvent_State050608_OnHookInputTouch, 3);
    // 4 Connected, display on
    PrivateCellSet(4, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, SAFstmEvent_State020304_OnMenuDisconnectServer,
                   5);
    PrivateCellSet(4, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON,
                   SAFstmEvent_State0304_OnServerDisconnectedReconnectOn, 2);
    PrivateCellSet(4, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF,
                   SAFstmEvent_State0304_OnServerDisconnectedReconnectOff, 0);
    PrivateCellSet(4, SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_OFF, nullptr, 3);
    PrivateCellSet(4, SA_FSTM_EVENT_CLIENT_INPUT_MOUSE, SAFstmEvent_State030406_OnClientInputMouse, 4);
    PrivateCellSet(4, SA_FSTM_EVENT_CLIENT_INPUT_KEYBOARD, SAFstmEvent_State030406_OnClientInputKeyboard, 4);
    PrivateCellSet(4, SA_FSTM_EVENT_CLIENT_INPUT_TOUCH, SAFstmEvent_State050608_OnHookInputTouch, 4);
    PrivateCellSet(4, SA_FSTM_EVENT_CLIENT_DISPLAY_ORIENTATION_CHANGED,
                   SAFstmEvent_State0406_OnClientDisplayOrientationChanged, 4);
    PrivateCellSet(4, SA_FSTM_EVENT_CLIENT_FULLSCREEN_ON, nullptr, 6);
    // 5 Disconnecting
    PrivateCellSet(5, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, nullptr, 0);
    PrivateCellSet(5, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF, nullptr, 0);
    // 6 Connected, full screen
    PrivateCellSet(6, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, SAFstmEvent_State06_OnMenuDisconnectServer, 5);
    PrivateCellSet(6, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON,
                   SAFstmEvent_State06_OnServerDisconnectedReconnectOn, 2);
    PrivateCellSet(6, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF,
                   SAFstmEvent_State06_OnServerDisconnectedReconnectOff, 0);
    PrivateCellSet(6, SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_OFF,
                   SAFstmEvent_State06_OnServerDisplayVisibilityOff, 3);
    PrivateCellSet(6, SA_FSTM_EVENT_CLIENT_INPUT_MOUSE, SAFstmEvent_State030406_OnClientInputMouse, 6);
    PrivateCellSet(6, SA_FSTM_EVENT_CLIENT_INPUT_KEYBOARD, SAFstmEvent_State030406_OnClientInputKeyboard, 6);
    PrivateCellSet(6, SA_FSTM_EVENT_CLIENT_INPUT_TOUCH, SAFstmEvent_State050608_OnHookInputTouch, 6);
    PrivateCellSet(6, SA_FSTM_EVENT_CLIENT_DISPLAY_ORIENTATION_CHANGED,
                   SAFstmEvent_State0406_OnClientDisplayOrientationChanged, 6);
    PrivateCellSet(6, SA_FSTM_EVENT_CLIENT_FULLSCREEN_OFF, SAFstmEvent_State06_OnClientFullscreenOff, 4);

    m_CurrentState = SA_FSTM_STATE_DISCONNECTED;
    SALog(SA_LOG_FSTM, "SAFstm::SAFstm Count states:%d Current state initial:%d\n", SA_FSTM_STATE_COUNT,
          m_CurrentState);
}

SAFstm::~SAFstm() = default;

void SAFstm::PrivateCellSet(int32_t state, int32_t event, SAFstmAction action, int32_t next)
{
    m_States[state].transitions[event] = SAFstmTransition{action, next};
}

const char* SAFstm::StateNameGet(int32_t state)
{
    if (state < 0 || state >= SA_FSTM_STATE_COUNT)
        return "SA_FSTM_STATE_ invalid";
    return STATE_NAMES[state];
}

const char* SAFstm::EventNameGet(int32_t event)
{
    if (event < 0 || event >= SA_FSTM_EVENT_COUNT)
        return "SA_FSTM_EVENT_ invalid";
    return EVENT_NAMES[event];
}

bool SAFstm::CurrentStateSet(int32_t state)
{
    if (state < 0 || state >= SA_FSTM_STATE_COUNT)
    {
        SALog(SA_LOG_FAILURE, "SAFstm::CurrentStateSet failed! invalid state:%d\n", state);
        return false;
    }
    m_CurrentState = state;
    return true;
}

void SAFstm::StateEnter(int32_t state, SAFstmEventData data, int32_t previousState, int32_t event)
{
    if (state < 0 || state >= SA_FSTM_STATE_COUNT)
    {
        SALog(SA_LOG_FAILURE, "SAFstm::StateEnter failed! invalid state:%d\n", state);
        return;
    }
    if (m_States[state].onEnter)
        m_States[state].onEnter(std::move(data), previousState, event);
}

void SAFstm::ProcessEvent(int32_t event, SAFstmEventData data)
{
    SALog(SA_LOG_FSTM, "SAFstm::ProcessEvent Event:%d %s\n", event, EventNameGet(event));

    // A connection that the machine has stopped may still report its end or
    // a connect that completed meanwhile; acted on, such an event would move
    // the machine as if it concerned the connection of now.
    if ((event == SA_FSTM_EVENT_SERVER_CONNECTED ||
         event == SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON) &&
        data.client && !data.client->EventCurrentCheck(data.param))
    {
        SALog(SA_LOG_FSTM, "SAFstm::ProcessEvent Event:%d of an ended connection dropped\n", event);
        return;
    }

    const int32_t previous = m_CurrentState;
    // An unknown event (a stray message parameter) has no cell: it is logged
    // like an ignored one and leaves everything as it is.
    SAFstmTransition cell{nullptr, previous};
    if (event >= 0 && event < SA_FSTM_EVENT_COUNT)
        cell = m_States[previous].transitions[event];

    if (cell.action)
        cell.action(data);

    SALog(SA_LOG_FSTM, "SAFstm::ProcessEvent State:%d %s ==>> %d %s\n", previous, StateNameGet(previous),
          cell.next, StateNameGet(cell.next));
    m_CurrentState = cell.next;

    if (cell.next == previous)
        return;

    if (m_States[cell.next].onEnter)
        m_States[cell.next].onEnter(data, previous, event);

    if (!data.frame)
    {
        SALog(SA_LOG_FAILURE, "SAFstm::ProcessEvent failed! NULL == data.frame\n");
        return;
    }
    const intptr_t lParam = static_cast<intptr_t>((static_cast<uint32_t>(previous) & 0xFFFF) |
                                                  ((static_cast<uint32_t>(cell.next) & 0xFFFF) << 16));
    data.frame->MessageTargetGet().Send(SA_WM_APP_FSTM_STATE_CHANGED, static_cast<uintptr_t>(event), lParam);
}
