#pragma once
// Runs a job so that a hardware fault inside it becomes a logged, caught
// failure instead of the end of the process. Used by the task queue workers
// around every job and by the frame buffer processor around every pass.
//
// A synchronous SIGSEGV, SIGBUS, SIGFPE or SIGILL raised on the calling
// thread while its job runs is caught by a process-wide handler, which jumps
// back (siglongjmp) to the guard. The guard then logs
//     "<methodName> failed! Exception\n"
// followed by the name of the equivalent exception code (PSExceptionCode.h),
// e.g. "EXCEPTION_ACCESS_VIOLATION\n", and returns false. A stack overflow is
// caught too: the handler runs on an alternate signal stack that the guard
// installs once per thread, and is reported as EXCEPTION_STACK_OVERFLOW.
// A C++ exception leaving the job logs the first line only.
//
// Contract of an aborted job: the job is abandoned where it faulted. The
// destructors of its stack frames do not run and memory it was writing may be
// inconsistent. Jobs keep their state in objects that can be reused or
// discarded after such an abort (a decoder task frees its packet on its next
// use) and own nothing on the stack that must be released. Whatever a job
// holds that others wait for (a lock, a reservation) it registers with the
// guard while it holds it (CleanupPush / PSExceptionGuardCleanup /
// PSExceptionGuardLock): after a fault the guard runs the registered
// cleanups of the abandoned job, newest first, on the job's thread, before it
// logs and returns. Outside a guarded job registering does nothing.
//
// A fault on a thread that is not inside a guarded job goes to whatever
// handled the signal before (by default: the process ends with the signal,
// as it would without the guard). Guards nest; the innermost one catches.
//
// Thread-safety: Run may be called on any thread, concurrently.
#include <cstdint>
#include <mutex>
#include <type_traits>
#include <utility>

class PSExceptionGuard
{
public:
    // Runs job() on the calling thread. Returns true when it returned
    // normally; false when a fault or an exception ended it (logged). When
    // pCode is given it receives the exception code, or 0 for a normal return
    // or a C++ exception.
    template <typename Fn> static bool Run(const char* methodName, Fn&& job, uint32_t* pCode = nullptr)
    {
        using Job = std::remove_reference_t<Fn>;
        return PrivateRun(
            methodName, [](void* context) { (*static_cast<Job*>(context))(); },
            const_cast<void*>(static_cast<const void*>(&job)), pCode);
    }

    // Installs the process-wide fault handlers (done by the first Run as
    // well). Returns false when sigaction failed (logged).
    static bool HandlersInstall();

    // A registered cleanup; empty when nothing was registered.
    struct CleanupToken
    {
        void* m_pFrame = nullptr;
        uint32_t m_Index = 0;
    };
    // Registers cleanup(object) with the innermost guard running on this
    // thread, to be run if its job faults before CleanupPop(token). At most
    // PS_EXCEPTION_GUARD_CLEANUPS at a time per guard (more are logged and
    // not registered).
    static CleanupToken CleanupPush(void (*cleanup)(void*), void* object);
    // Withdraws it (on the thread that pushed it); an empty token does nothing.
    static void CleanupPop(CleanupToken& token);

private:
    static bool PrivateRun(const char* methodName, void (*thunk)(void*), void* context, uint32_t* pCode);
};

constexpr uint32_t PS_EXCEPTION_GUARD_CLEANUPS = 16;

// Runs cleanup(object) if the guarded job faults while this scope is alive.
class PSExceptionGuardCleanup
{
public:
    PSExceptionGuardCleanup(void (*cleanup)(void*), void* object)
        : m_Token(PSExceptionGuard::CleanupPush(cleanup, object))
    {
    }
    ~PSExceptionGuardCleanup() { PSExceptionGuard::CleanupPop(m_Token); }
    PSExceptionGuardCleanup(const PSExceptionGuardCleanup&) = delete;
    PSExceptionGuardCleanup& operator=(const PSExceptionGuardCleanup&) = delete;

private:
    PSExceptionGuard::CleanupToken m_Token;
};

// A lock_guard whose mutex a fault inside the guarded job unlocks as well:
// for locks held across code that may fault (a graphics driver, a codec).
class PSExceptionGuardLock
{
public:
    explicit PSExceptionGuardLock(std::mutex& mutex) : m_Mutex(mutex)
    {
        m_Mutex.lock();
        m_Token = PSExceptionGuard::CleanupPush(&PrivateUnlock, &m_Mutex);
    }
    ~PSExceptionGuardLock()
    {
        PSExceptionGuard::CleanupPop(m_Token);
        m_Mutex.unlock();
    }
    PSExceptionGuardLock(const PSExceptionGuardLock&) = delete;
    PSExceptionGuardLock& operator=(const PSExceptionGuardLock&) = delete;

    // For a lock taken by other means (a unique_lock a condition variable
    // waits on): the cleanup that unlocks it.
    static void PrivateUnlock(void* mutex) { static_cast<std::mutex*>(mutex)->unlock(); }

private:
    std::mutex& m_Mutex;
    PSExceptionGuard::CleanupToken m_Token;
};
