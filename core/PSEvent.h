#pragma once
// Auto- and manual-reset events with the wait results of the original
// platform: PS_WAIT_OBJECT_0 + index when signalled, PS_WAIT_TIMEOUT (258)
// when the time-out passed. An auto-reset event releases one waiter and
// resets itself; a manual-reset event stays signalled until Reset.
//
// All events share one process-wide lock, which keeps wait-any over several
// events simple and race-free. Events are set a few times per frame, so the
// shared lock is never hot.
#include <condition_variable>
#include <cstdint>
#include <vector>

constexpr uint32_t PS_INFINITE = 0xFFFFFFFF;
constexpr uint32_t PS_WAIT_OBJECT_0 = 0;
constexpr uint32_t PS_WAIT_TIMEOUT = 258;

class PSEvent
{
public:
    PSEvent(bool manualReset, bool initialState);
    ~PSEvent();
    PSEvent(const PSEvent&) = delete;
    PSEvent& operator=(const PSEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // PS_WAIT_OBJECT_0 or PS_WAIT_TIMEOUT.
    uint32_t Wait(uint32_t timeoutMs);

    // Waits until one of the events is signalled; the lowest index wins when
    // several are. Returns PS_WAIT_OBJECT_0 + index or PS_WAIT_TIMEOUT.
    static uint32_t WaitAny(PSEvent* const* events, size_t count, uint32_t timeoutMs);

private:
    bool m_ManualReset;
    bool m_Signalled;
    std::vector<std::condition_variable*> m_Waiters; // guarded by the shared lock
};
