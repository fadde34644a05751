#pragma once
// One worker thread of a PSTaskQueue. With nothing to do it spins briefly
// (PS_SPIN_WAIT_US) while its jobs come often (PS_SPIN_PAUSE_US) and its
// spins catch them (PS_SPIN_SCORE_MAX), then sleeps on its wake-up event; on
// every wake-up it takes the oldest pending job of its queue, runs it under a
// PSExceptionGuard and takes the next, until none is left. The exit flag is
// looked at only between wake-ups: the worker ends after the wake-up that
// follows setting it.
//
// Threads: Start and ExitRequest from the queue's owner thread; Run on the
// worker thread; IdleWakeUp from any thread submitting a job. m_Exit,
// m_Idle and m_pOwner are atomics; the wake-up event is thread-safe by
// itself.
#include "core/PSEvent.h"
#include "core/PSThreadBase.h"

#include <atomic>

class PSTaskQueue;

class PSThreadTaskQueue : public PSThreadBase
{
public:
    PSThreadTaskQueue();
    ~PSThreadTaskQueue() override;

    using PSThreadBase::Start;
    // Sets the owner (borrowed; the queue owns this worker), clears the exit
    // flag, then starts the thread.
    bool Start(PSTaskQueue* owner);

    // Sets the exit flag and signals the wake-up event.
    void ExitRequest();
    // Signals the wake-up event (a job was queued).
    void WakeUp() { m_WakeUp.Set(); }
    // Wakes the worker if it is asleep with nothing to do, and says whether it
    // did; a worker claimed this way counts as busy until it sleeps again.
    bool IdleWakeUp()
    {
        bool idle = true;
        if (!m_Idle.compare_exchange_strong(idle, false))
            return false;
        m_WakeUp.Set();
        return true;
    }

protected:
    void Run() override;

private:
    PSEvent m_WakeUp{false, false};
    std::atomic<bool> m_Exit{false};
    // Set while the worker sleeps, or is about to, with no job to run.
    std::atomic<bool> m_Idle{false};
    std::atomic<PSTaskQueue*> m_pOwner{nullptr};
};
