#pragma once
// The connection state machine: 7 states, 16 events, one fixed table. Each
// step runs the cell's transition action, moves to the cell's next state
// and, when the state changed, runs the new state's entry action and sends
// WM_APP+11 to the frame (wParam = event, lParam = previous state in the low
// 16 bits, new state in the high 16 bits).
//
// Threads: lives in the frame and runs only on the window thread. Actions
// may re-enter ProcessEvent through a Send to the frame; the nested step
// completes before the outer one returns.
#include "net/SAFstmEventData.h"
#include "net/SAFstmState.h"

#include <cstdint>

class SAFstm
{
public:
    SAFstm();
    virtual ~SAFstm();

    // One step. Event values outside 0..15 are logged and change nothing, and
    // so do events 3 and 4 of a connection that was stopped since.
    void ProcessEvent(int32_t event, SAFstmEventData data);

    int32_t CurrentStateGet() const { return m_CurrentState; }
    // Used by the frame's one-time initialisation (state 0). Values outside
    // 0..6 are refused and logged.
    bool CurrentStateSet(int32_t state);
    // Runs the entry action of `state` (if it has one) without a transition.
    void StateEnter(int32_t state, SAFstmEventData data, int32_t previousState, int32_t event);

    const SAFstmState& StateGet(int32_t state) const { return m_States[state]; }

    // Names used in log lines ("SA_FSTM_STATE_DISCONNECTED", ...); values
    // out of range give "SA_FSTM_STATE_ invalid" / "SA_FSTM_EVENT_ invalid".
    static const char* StateNameGet(int32_t state);
    static const char* EventNameGet(int32_t event);

private:
    void PrivateCellSet(int32_t state, int32_t event, SAFstmAction action, int32_t next);

    SAFstmState m_States[SA_FSTM_STATE_COUNT];
    int32_t m_CurrentState = SA_FSTM_STATE_DISCONNECTED;
};
