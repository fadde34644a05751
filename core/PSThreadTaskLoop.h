#pragma once
// Runs one PSTaskAsyncLooped on a thread of its own: OnEntry, then OnExecute
// while it returns true, then OnExit, exactly once per successful Start.
//
// The current task pointer is the only field shared between the starter, the
// loop thread and the stopper. It is non-null exactly while the loop is
// running and changes only by atomic compare-exchange (Start) and exchange
// (end of Run, failed Start), so OnExit runs at most once per start.
//
// Stopping is the owner's job, in this order: read the current task
// (TaskGet); if not null call its StopRequest; then Wait(PS_INFINITE). Stop()
// does exactly that. The handle of the ended thread stays stored and is
// retired by the next Start (or the destructor).
//
// Destruction: owners stop the loop first (the task, borrowed, must outlive
// the thread). A loop still running at destruction logs a line and is
// stopped as above before the object goes.
//
// Threads: Start, TaskGet, Stop from any thread other than the loop's own
// (Stop on the loop thread requests the stop and returns without waiting).
#include "core/PSTaskAsyncLooped.h"
#include "core/PSThreadBase.h"

#include <atomic>

class PSThreadTaskLoop : public PSThreadBase
{
public:
    PSThreadTaskLoop();
    ~PSThreadTaskLoop() override;

    using PSThreadBase::Start;
    // Starts the loop thread for task (borrowed; it must outlive the thread).
    // Fails, logging why, when a loop is running or the previous thread has
    // not ended yet.
    bool Start(PSTaskAsyncLooped* task);

    // The running task, or nullptr when idle.
    PSTaskAsyncLooped* TaskGet() const { return m_pTask.load(); }

    // StopRequest of the current task, if any, then wait for the thread.
    void Stop();

protected:
    void Run() override;

private:
    std::atomic<PSTaskAsyncLooped*> m_pTask{nullptr};
};
