#pragma once
// A pool of N worker threads running one-shot jobs (PSTaskAsyncBase) in
// submission order: every submission wakes one idle worker (busy ones come
// back for more when they finish; an idle one spins briefly before it sleeps
// and takes a job that comes meanwhile without being woken) and each takes
// the oldest pending job, so jobs start in order and up to N run at once.
// With N = 1 jobs run strictly one after another (the transmit queues rely on it
// for the order of packets on the wire); the decoder queue has N = 4.
//
// Lifecycle: created stopped; Start starts the workers; Stop runs every job
// queued before it, refuses new ones, then ends the workers; Start may follow
// again. Jobs submitted while stopped (before the first Start, or after a
// failed Start) are kept and run after the next successful Start.
//
// Ownership: jobs are borrowed (see PSTaskAsyncBase). A refused job gets
// OnRefused instead of OnExecute so a self-owned job can free itself.
//
// Threads and locks: m_Lock guards m_Pending, m_Outstanding, m_Stopping and
// m_Running; it is held only while one job is added, taken or finished. The
// idle event (manual reset) is signalled whenever no job is outstanding; it is
// set and reset under the lock so that it always matches the count. The
// workers' wake-up events are signalled outside the lock. TaskSubmit may be
// called from any thread, jobs included. Start and Stop are called by the
// owner, never from a job of the same queue (Stop would wait for itself: it
// logs and returns instead).
//
// Destruction: owners Stop before destroying. The destructor stops the queue
// anyway (logging a line if it was still running) so that no worker outlives
// it and no pending job is lost without OnRefused.
#include "core/PSEvent.h"
#include "core/PSThreadTaskQueue.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

class PSTaskAsyncBase;

// How long an idle worker spins before it sleeps.
constexpr uint32_t PS_SPIN_WAIT_US = 100;
// An idle worker spins only after a pause shorter than this: jobs that come
// this often (a stream decoded as fast as it comes) are often caught by the
// spin, while a stream paced by its sender leaves each worker idle for most
// of a frame.
constexpr uint32_t PS_SPIN_PAUSE_US = 4000;
// Nor does it spin while its spins have mostly missed: jobs a few spin
// lengths apart (the bands of a frame received no faster than they decode)
// come too seldom for a spin, though more often than PS_SPIN_PAUSE_US. A
// catch counts one up, a miss one down, to at most PS_SPIN_SCORE_MAX; at zero
// only every PS_SPIN_PROBE_EVERY-th pause spins, to notice when jobs come
// often again.
constexpr int PS_SPIN_SCORE_MAX = 8;
constexpr uint32_t PS_SPIN_PROBE_EVERY = 8;

class PSTaskQueue
{
public:
    explicit PSTaskQueue(uint32_t workerCount);
    virtual ~PSTaskQueue();
    PSTaskQueue(const PSTaskQueue&) = delete;
    PSTaskQueue& operator=(const PSTaskQueue&) = delete;

    // Starts every worker. On the first failure ("PSTaskQueue::Start failed!\n")
    // ends all workers again and returns false. A queue with no workers
    // starts successfully and runs nothing.
    bool Start();

    // Queues a job (borrowed) and wakes the workers. While the queue is
    // stopping the job is dropped without running and gets OnRefused.
    void TaskSubmit(PSTaskAsyncBase* task);

    // Refuses new jobs, waits until every job queued before has run, then
    // ends all workers. A queue whose workers are not running (never started,
    // failed Start, no workers) cannot run its pending jobs: they get
    // OnRefused instead of a wait that would never end. With discardPending
    // only the jobs already running are waited for; every pending one gets
    // OnRefused (a connection that is closed has nothing left to send).
    void Stop(bool discardPending = false);

    // Signalled whenever no job is outstanding (borrowed; lives as long as
    // the queue). The frame buffer processor waits on it between frames.
    PSEvent& IdleEventGet() { return m_IdleEvent; }
    // Whether no job is outstanding, without a lock: for a short poll
    // before waiting on the idle event.
    bool IdleGet() const { return m_OutstandingCount.load(std::memory_order_acquire) <= 0; }
    // Jobs submitted and not yet finished, without a lock (a snapshot).
    int32_t OutstandingGet() const { return m_OutstandingCount.load(std::memory_order_acquire); }

    uint32_t WorkerCountGet() const { return m_WorkerCount; }
    // How often an idle worker has spun before it slept (a diagnostic: a
    // paced stream should see next to none).
    uint64_t SpinsGet() const { return m_Spins.load(std::memory_order_relaxed); }

private:
    friend class PSThreadTaskQueue;

    // Worker side: the oldest pending job (taken out) or nullptr.
    PSTaskAsyncBase* PrivateTaskTake();
    // Whether a job waits to be taken (no lock: a worker polls it while it
    // spins before sleeping).
    bool PrivateTaskPendingGet() const { return m_PendingCount.load(std::memory_order_acquire) > 0; }
    // Worker side: one job has finished.
    void PrivateTaskDone();
    // Worker side: marks the calling thread as a worker of queue (or none).
    static void PrivateWorkerEnter(PSTaskQueue* queue);
    void PrivateWorkersEnd();
    // Under m_Lock: copies the pending count into its atomic.
    void PrivatePendingPublish();
    // Under m_Lock: copies the outstanding count into its atomic.
    void PrivateOutstandingPublish();

    std::vector<std::unique_ptr<PSThreadTaskQueue>> m_Workers;
    uint32_t m_WorkerCount = 0;
    PSEvent m_IdleEvent{true, true};

    std::mutex m_Lock;
    std::deque<PSTaskAsyncBase*> m_Pending; // guarded by m_Lock
    int32_t m_Outstanding = 0;              // guarded by m_Lock
    // Copy of the pending count, written under m_Lock, read without it by
    // workers that spin.
    std::atomic<int32_t> m_PendingCount{0};
    std::atomic<int32_t> m_OutstandingCount{0}; // copy of m_Outstanding, as above
    std::atomic<uint64_t> m_Spins{0};
    bool m_Stopping = false; // guarded by m_Lock
    bool m_Running = false;  // guarded by m_Lock
};
