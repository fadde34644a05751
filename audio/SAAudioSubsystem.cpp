#include "audio/SAAudioSubsystem.h"

#include "core/PSTime.h"
#include "core/SALog.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <system_error>
#include <thread>

namespace
{
// Guarded by SAAudioSubsystem::LockGet().
int s_References = 0;

// How often a waiting caller looks at its cancel flag.
constexpr uint64_t SA_AUDIO_CALL_CANCEL_POLL_MS = 20;

struct SAAudioCall
{
    std::function<void()> m_Call;
    std::function<void()> m_Abandoned;
    // Guarded by the thread's lock.
    bool m_Done = false;
    bool m_GaveUp = false;
};

struct SAAudioCallThread
{
    std::mutex m_Lock;
    std::condition_variable m_Work;
    std::condition_variable m_Answered;
    std::deque<std::shared_ptr<SAAudioCall>> m_Queue;
    bool m_Running = false;
    bool m_Busy = false;
    // A caller gave up waiting on the call under way: until it returns, the
    // sound server is taken as hung.
    bool m_Stuck = false;
};

// Never destroyed: a thread stuck in a sound server's call at exit still
// waits on it then.
SAAudioCallThread& SAAudioCallThreadGet()
{
    static auto* thread = new SAAudioCallThread();
    return *thread;
}

void SAAudioCallThreadRun(SAAudioCallThread& thread)
{
    std::unique_lock<std::mutex> lock(thread.m_Lock);
    for (;;)
    {
        thread.m_Work.wait(lock, [&] { return !thread.m_Queue.empty(); });
        std::shared_ptr<SAAudioCall> call = std::move(thread.m_Queue.front());
        thread.m_Queue.pop_front();
        thread.m_Busy = true;
        if (!call->m_GaveUp)
        {
            lock.unlock();
            call->m_Call();
            lock.lock();
        }
        call->m_Done = true;
        thread.m_Answered.notify_all();
        if (call->m_GaveUp && call->m_Abandoned)
        {
            lock.unlock();
            call->m_Abandoned();
            lock.lock();
        }
        thread.m_Busy = false;
        thread.m_Stuck = false;
    }
}
} // namespace

std::mutex& SAAudioSubsystem::LockGet()
{
    static std::mutex lock;
    return lock;
}

bool SAAudioSubsystem::AcquireLocked(std::string& error)
{
    if (s_References == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
    {
        error = SDL_GetError();
        return false;
    }
    ++s_References;
    return true;
}

void SAAudioSubsystem::ReleaseLocked()
{
    if (s_References <= 0)
        return;
    if (--s_References == 0)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void SAAudioSubsystem::ThreadCleanup()
{
    SDL_TLSCleanup();
}

bool SAAudioSubsystem::Call(std::function<void()> call, std::function<void()> abandoned, uint32_t timeoutMs,
                            const std::atomic<bool>* cancel)
{
    SAAudioCallThread& thread = SAAudioCallThreadGet();
    auto job = std::make_shared<SAAudioCall>();
    job->m_Call = std::move(call);
    job->m_Abandoned = std::move(abandoned);
    std::unique_lock<std::mutex> lock(thread.m_Lock);
    if (!thread.m_Running)
    {
        try
        {
            std::thread(SAAudioCallThreadRun, std::ref(thread)).detach();
        }
        catch (const std::system_error& error)
        {
            SALog(SA_LOG_FAILURE, "SAAudioSubsystem::Call failed! no thread: %s\n", error.what());
            return false;
        }
        thread.m_Running = true;
    }
    job->m_GaveUp = thread.m_Stuck;
    thread.m_Queue.push_back(job);
    thread.m_Work.notify_one();
    if (job->m_GaveUp)
        return false;
    uint64_t now = PSTimeTickCount64();
    const uint64_t deadline = now + timeoutMs;
    while (!job->m_Done)
    {
        if (cancel != nullptr && cancel->load())
        {
            job->m_GaveUp = true;
            return false;
        }
        if (now >= deadline)
        {
            job->m_GaveUp = true;
            thread.m_Stuck = thread.m_Busy;
            return false;
        }
        const uint64_t wait = std::min(deadline - now, SA_AUDIO_CALL_CANCEL_POLL_MS);
        thread.m_Answered.wait_for(lock, std::chrono::milliseconds(wait));
        now = PSTimeTickCount64();
    }
    return true;
}
