#pragma once
// One state of the connection state machine: its entry action, its 16
// transition cells indexed by event value, and its name text.
#include "net/SAFstmEventData.h"

#include <cstdint>
#include <string>

// A transition action; runs while the machine still holds the old state.
using SAFstmAction = void (*)(SAFstmEventData data);
// An entry action; runs after the machine moved to its state.
using SAFstmEntryAction = void (*)(SAFstmEventData data, int32_t previousState, int32_t event);

struct SAFstmTransition
{
    SAFstmAction action = nullptr;
    int32_t next = 0;
};

class SAFstmState
{
public:
    virtual ~SAFstmState() = default;

    SAFstmEntryAction onEnter = nullptr;
    SAFstmTransition transitions[SA_FSTM_EVENT_COUNT] = {};
    // Kept with its trailing blanks; no window shows it.
    std::string name;
};
