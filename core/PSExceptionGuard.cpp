#include "core/PSExceptionGuard.h"

#include "core/PSExceptionCode.h"
#include "core/SALog.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cxxabi.h>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace
{
// What a job holds and a fault must give back.
struct GuardCleanup
{
    void (*volatile cleanup)(void*);
    void* volatile object;
};

// One armed guard of the current thread. Lives on the stack of PrivateRun,
// which the jump back returns to, so the cleanups recorded here outlive the
// abandoned job's own frames. Volatile: written by the job between the
// sigsetjmp and the jump, read after it.
struct GuardFrame
{
    sigjmp_buf jump;
    volatile uint32_t code;
    GuardFrame* previous;
    volatile uint32_t cleanupCount;
    GuardCleanup cleanups[PS_EXCEPTION_GUARD_CLEANUPS];
};

// Plain thread-locals (no constructor), so the signal handler may read them.
thread_local GuardFrame* t_pGuard = nullptr;
thread_local uintptr_t t_StackLow = 0;

constexpr int s_Signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr size_t s_SignalCount = sizeof(s_Signals) / sizeof(s_Signals[0]);
struct sigaction s_Previous[s_SignalCount];

// A fault this far below (or a little above) the lowest address of the
// thread's stack is the stack running into its guard area.
constexpr uintptr_t s_StackOverflowBelow = 1024 * 1024;
constexpr uintptr_t s_StackOverflowAbove = 64 * 1024;

// The handler of a stack overflow cannot run on the exhausted stack, so every
// thread that runs a guarded job gets an alternate signal stack of its own.
// Released when the thread ends.
class AltStack
{
public:
    AltStack()
    {
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0)
            return; // someone (a sanitizer runtime, for instance) already gave this thread one
        m_Size = std::max<size_t>(static_cast<size_t>(SIGSTKSZ), 64 * 1024);
        void* memory = mmap(nullptr, m_Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
        {
            SALog(SA_LOG_FAILURE, "PSExceptionGuard::Run mmap failed! LastError %d\n", errno);
            return;
        }
        stack_t stack{};
        stack.ss_sp = memory;
        stack.ss_size = m_Size;
        if (sigaltstack(&stack, nullptr) != 0)
        {
            SALog(SA_LOG_FAILURE, "PSExceptionGuard::Run sigaltstack failed! LastError %d\n", errno);
            munmap(memory, m_Size);
            return;
        }
        m_pMemory = memory;
    }
    ~AltStack()
    {
        if (m_pMemory == nullptr)
            return;
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == m_pMemory)
        {
            stack_t disable{};
            disable.ss_flags = SS_DISABLE;
            sigaltstack(&disable, nullptr);
        }
        munmap(m_pMemory, m_Size);
    }
    AltStack(const AltStack&) = delete;
    AltStack& operator=(const AltStack&) = delete;

private:
    void* m_pMemory = nullptr;
    size_t m_Size = 0;
};

void PrivateThreadPrepare()
{
    static thread_local AltStack t_AltStack;
    (void)t_AltStack;
    if (t_StackLow != 0)
        return;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0)
        return;
    void* low = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attributes, &low, &size) == 0)
        t_StackLow = reinterpret_cast<uintptr_t>(low);
    pthread_attr_destroy(&attributes);
}

// The code the original platform raises for the same fault.
uint32_t PrivateCodeFromSignal(int signalNumber, const siginfo_t* info)
{
    switch (signalNumber)
    {
    case SIGSEGV:
    {
        uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
        uintptr_t low = t_StackLow;
        if (low != 0 && address + s_StackOverflowBelow >= low && address < low + s_StackOverflowAbove)
            return PS_EXCEPTION_STACK_OVERFLOW;
        return PS_EXCEPTION_ACCESS_VIOLATION;
    }
    case SIGBUS:
        return info->si_code == BUS_ADRALN ? PS_EXCEPTION_DATATYPE_MISALIGNMENT : PS_EXCEPTION_IN_PAGE_ERROR;
    case SIGFPE:
        switch (info->si_code)
        {
        case FPE_INTDIV:
            return PS_EXCEPTION_INT_DIVIDE_BY_ZERO;
        case FPE_INTOVF:
            return PS_EXCEPTION_INT_OVERFLOW;
        case FPE_FLTDIV:
            return PS_EXCEPTION_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF:
            return PS_EXCEPTION_FLT_OVERFLOW;
        case FPE_FLTUND:
            return PS_EXCEPTION_FLT_UNDERFLOW;
        case FPE_FLTRES:
            return PS_EXCEPTION_FLT_INEXACT_RESULT;
        case FPE_FLTSUB:
            return PS_EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
        default:
            return PS_STATUS_FLOAT_INVALID_OPERATION;
        }
    case SIGILL:
        return (info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG)
                   ? PS_EXCEPTION_PRIV_INSTRUCTION
                   : PS_EXCEPTION_ILLEGAL_INSTRUCTION;
    default:
        return 0;
    }
}

void PrivateSignalHandler(int signalNumber, siginfo_t* info, void* context)
{
    // Raised by the kernel for the faulting instruction, or by raise() on
    // this very thread; a signal sent by another process is no fault of the job.
    bool own = info->si_code > 0 || (info->si_code == SI_TKILL && info->si_pid == getpid());
    GuardFrame* frame = t_pGuard;
    if (frame != nullptr && own)
    {
        frame->code = PrivateCodeFromSignal(signalNumber, info);
        siglongjmp(frame->jump, 1);
    }

    // Not ours: hand it to whoever handled it before us.
    size_t index = 0;
    while (index < s_SignalCount && s_Signals[index] != signalNumber)
        ++index;
    if (index == s_SignalCount)
        return;
    const struct sigaction& previous = s_Previous[index];
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr)
    {
        previous.sa_sigaction(signalNumber, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr)
    {
        previous.sa_handler(signalNumber);
        return;
    }
    // Default action: the faulting instruction runs again on return and ends
    // the process; a raised signal has to be raised again.
    struct sigaction fallback
    {
    };
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signalNumber, &fallback, nullptr);
    if (info->si_code <= 0)
        raise(signalNumber);
}

bool s_HandlersInstalled = false;
} // namespace

bool PSExceptionGuard::HandlersInstall()
{
    static std::once_flag once;
    std::call_once(once,
                   []
                   {
                       bool ok = true;
                       for (size_t i = 0; i < s_SignalCount; ++i)
                       {
                           struct sigaction action
                           {
                           };
                           action.sa_sigaction = PrivateSignalHandler;
                           action.sa_flags = SA_SIGINFO | SA_ONSTACK;
                           sigemptyset(&action.sa_mask);
                           if (sigaction(s_Signals[i], &action, &s_Previous[i]) != 0)
                           {
                               SALog(SA_LOG_FAILURE,
                                     "PSExceptionGuard::HandlersInstall sigaction failed! LastError %d\n",
                                     errno);
                               ok = false;
                           }
                       }
                       s_HandlersInstalled = ok;
                   });
    return s_HandlersInstalled;
}

PSExceptionGuard::CleanupToken PSExceptionGuard::CleanupPush(void (*cleanup)(void*), void* object)
{
    CleanupToken token;
    GuardFrame* frame = t_pGuard;
    if (frame == nullptr)
        return token;
    const uint32_t index = frame->cleanupCount;
    if (index >= PS_EXCEPTION_GUARD_CLEANUPS)
    {
        SALog(SA_LOG_FAILURE, "PSExceptionGuard::CleanupPush failed! more than %u held at once\n",
              PS_EXCEPTION_GUARD_CLEANUPS);
        return token;
    }
    frame->cleanups[index].object = object;
    frame->cleanups[index].cleanup = cleanup;
    frame->cleanupCount = index + 1;
    token.m_pFrame = frame;
    token.m_Index = index + 1;
    return token;
}

void PSExceptionGuard::CleanupPop(CleanupToken& token)
{
    GuardFrame* frame = static_cast<GuardFrame*>(token.m_pFrame);
    const uint32_t index = token.m_Index;
    token = CleanupToken{};
    if (frame == nullptr || index == 0)
        return;
    // Usually the newest one; one withdrawn out of order leaves a hole that
    // goes once the entries above it have gone.
    frame->cleanups[index - 1].cleanup = nullptr;
    uint32_t count = frame->cleanupCount;
    while (count > 0 && frame->cleanups[count - 1].cleanup == nullptr)
        --count;
    frame->cleanupCount = count;
}

namespace
{
// The abandoned job's cleanups, newest first, with the guard already
// disarmed (a cleanup that faults is the outer guard's).
void PrivateCleanupsRun(GuardFrame& frame)
{
    for (uint32_t i = frame.cleanupCount; i > 0; --i)
    {
        void (*cleanup)(void*) = frame.cleanups[i - 1].cleanup;
        if (cleanup != nullptr)
            cleanup(frame.cleanups[i - 1].object);
    }
    frame.cleanupCount = 0;
}
} // namespace

bool PSExceptionGuard::PrivateRun(const char* methodName, void (*thunk)(void*), void* context,
                                  uint32_t* pCode)
{
    HandlersInstall();
    PrivateThreadPrepare();

    GuardFrame frame;
    frame.code = 0;
    frame.previous = t_pGuard;
    frame.cleanupCount = 0;
    if (sigsetjmp(frame.jump, 1) == 0)
    {
        t_pGuard = &frame;
        try
        {
            thunk(context);
        }
        catch (abi::__forced_unwind&)
        {
            t_pGuard = frame.previous; // thread cancellation must unwind on
            throw;
        }
        catch (...)
        {
            // Unwinding released what the job held in scopes; what it held
            // across calls is given back here.
            t_pGuard = frame.previous;
            PrivateCleanupsRun(frame);
            SALog(SA_LOG_FAILURE, "%s failed! Exception\n", methodName);
            if (pCode != nullptr)
                *pCode = 0;
            return false;
        }
        t_pGuard = frame.previous;
        if (pCode != nullptr)
            *pCode = 0;
        return true;
    }

    // Back from the signal handler: the job is abandoned, and what it held
    // goes back first.
    t_pGuard = frame.previous;
    PrivateCleanupsRun(frame);
    uint32_t code = frame.code;
    SALog(SA_LOG_FAILURE, "%s failed! Exception\n", methodName);
    PSExceptionCodeLog(code);
    if (pCode != nullptr)
        *pCode = code;
    return false;
}
