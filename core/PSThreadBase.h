#pragma once
// The common thread wrapper: one thread per Start, running the virtual Run,
// and a "handle" to that thread that can be waited on with a time-out from
// any thread and is retired explicitly by Close once the thread has ended.
//
// The handle is a shared state with a manual-reset event signalled as the
// very last step of the thread. Wait copies the handle under the lock (the
// duplicate) and waits on it outside the lock, so a waiter never blocks
// Close or Start on another thread. Close joins the ended thread and drops
// the handle. A Start while a handle is still stored fails: the previous
// thread, even when it has ended, must be retired by Close first.
//
// Threads:
//   - Start, Wait, Close, ThreadIdGet: any thread.
//   - Run: the new thread only.
// m_Lock guards m_pHandle and m_ThreadId, nothing else.
//
// Destruction: owners end and wait for the thread before destroying the
// object (Run may use the object until it returns). The destructor retires a
// stored handle; if the thread is somehow still running, it logs a line and
// waits for it rather than leave a thread behind that runs on freed memory
// (on the thread itself it lets the thread go on alone instead).
#include <cstdint>
#include <memory>
#include <mutex>

// Priorities of the original platform; PrioritySet maps them onto nice
// values of the calling thread.
constexpr int PS_THREAD_PRIORITY_IDLE = -15;
constexpr int PS_THREAD_PRIORITY_LOWEST = -2;
constexpr int PS_THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int PS_THREAD_PRIORITY_NORMAL = 0;
constexpr int PS_THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int PS_THREAD_PRIORITY_HIGHEST = 2;
constexpr int PS_THREAD_PRIORITY_TIME_CRITICAL = 15;

class PSThreadBase
{
public:
    PSThreadBase();
    virtual ~PSThreadBase();
    PSThreadBase(const PSThreadBase&) = delete;
    PSThreadBase& operator=(const PSThreadBase&) = delete;

    // Starts a new thread running Run. Fails (false) when a handle is still
    // stored. The check comes before the thread is created, so a refused
    // Start never creates (and never has to kill) a thread. The new thread
    // calls Run only after its handle and id are stored.
    virtual bool Start();

    // True when the thread ended within timeoutMs (PS_INFINITE: no limit).
    // False at once without a stored handle. A time-out (258) or any other
    // result logs "PSThreadBase::Wait WaitForSingleObject failed! dwWaitResult %d\n".
    // An infinite wait on the thread's own handle would never return: it logs
    // "PSThreadBase::Wait failed! Own thread\n" and returns false instead.
    bool Wait(uint32_t timeoutMs);

    // Retires the handle if Wait(0) reports the thread ended. Returns true
    // when no handle is stored afterwards.
    bool Close();

    // Id of the last started thread (the kernel thread id shown in log
    // prefixes), 0 before the first Start.
    uint32_t ThreadIdGet() const;

    // True when called on this object's running thread.
    bool IsCurrentThread() const;

    // Best effort: sets the calling thread's priority. A refusal (missing
    // privilege) is logged once per process and otherwise ignored.
    static bool PrioritySet(int priority);

protected:
    virtual void Run() = 0;

private:
    struct Handle;

    static void PrivateThreadMain(std::shared_ptr<Handle> handle, PSThreadBase* self);
    static void PrivateHandleRetire(std::shared_ptr<Handle>& handle);

    mutable std::mutex m_Lock;
    std::shared_ptr<Handle> m_pHandle; // guarded by m_Lock
    uint32_t m_ThreadId = 0;           // guarded by m_Lock
};
