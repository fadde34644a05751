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
// destructors of its stack frames do not run, locks it held stay held, and
// memory it was writing may be inconsistent. Jobs keep their state in objects
// that can be reused or discarded after such an abort (a decoder task frees
// its packet on its next use), never hold a lock across code that may fault,
// and own nothing on the stack that must be released.
//
// A fault on a thread that is not inside a guarded job goes to whatever
// handled the signal before (by default: the process ends with the signal,
// as it would without the guard). Guards nest; the innermost one catches.
//
// Thread-safety: Run may be called on any thread, concurrently.
#include <cstdint>
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

private:
    static bool PrivateRun(const char* methodName, void (*thunk)(void*), void* context, uint32_t* pCode);
};
