#include "core/PSThreadBase.h"

#include "core/PSEvent.h"
#include "core/SALog.h"

#include <atomic>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <system_error>
#include <thread>
#include <unistd.h>

// Shared between the object, every Wait in progress (its "duplicate") and
// the thread itself, so that whichever lets go last frees it.
struct PSThreadBase::Handle
{
    PSEvent started{true, false}; // the thread knows its id
    PSEvent resume{true, false};  // the handle is stored: Run may begin
    PSEvent ended{true, false};   // Run has returned; set as the thread's last step
    std::atomic<uint32_t> threadId{0};
    std::thread::id id;
    std::thread thread; // joined or detached before the last reference goes
};

PSThreadBase::PSThreadBase() = default;

PSThreadBase::~PSThreadBase()
{
    std::shared_ptr<Handle> handle;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        handle = std::move(m_pHandle);
    }
    if (!handle)
        return;
    if (!handle->ended.IsSet() && handle->id != std::this_thread::get_id())
        SALog(SA_LOG_FAILURE, "PSThreadBase::~PSThreadBase failed! Thread %u still running, waiting for it\n",
              handle->threadId.load());
    PrivateHandleRetire(handle);
}

void PSThreadBase::PrivateThreadMain(std::shared_ptr<Handle> handle, PSThreadBase* self)
{
    handle->threadId = static_cast<uint32_t>(syscall(SYS_gettid));
    handle->started.Set();
    handle->resume.Wait(PS_INFINITE);
    self->Run();
    handle->ended.Set();
}

void PSThreadBase::PrivateHandleRetire(std::shared_ptr<Handle>& handle)
{
    if (handle->thread.joinable())
    {
        if (handle->id == std::this_thread::get_id())
            handle->thread.detach();
        else
            handle->thread.join();
    }
    handle.reset();
}

bool PSThreadBase::Start()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_pHandle)
        return false;

    auto handle = std::make_shared<Handle>();
    try
    {
        handle->thread = std::thread(&PSThreadBase::PrivateThreadMain, handle, this);
    }
    catch (const std::system_error& error)
    {
        SALog(SA_LOG_FAILURE, "PSThreadBase::Start pthread_create failed! LastError %d\n",
              error.code().value());
        return false;
    }
    handle->id = handle->thread.get_id();
    handle->started.Wait(PS_INFINITE);
    m_pHandle = handle;
    m_ThreadId = handle->threadId.load();
    handle->resume.Set();
    return true;
}

bool PSThreadBase::Wait(uint32_t timeoutMs)
{
    std::shared_ptr<Handle> handle;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        handle = m_pHandle;
    }
    if (!handle)
        return false;
    if (timeoutMs == PS_INFINITE && handle->id == std::this_thread::get_id())
    {
        SALog(SA_LOG_FAILURE, "PSThreadBase::Wait failed! Own thread\n");
        return false;
    }
    uint32_t result = handle->ended.Wait(timeoutMs);
    if (result == PS_WAIT_OBJECT_0)
        return true;
    SALog(SA_LOG_FAILURE, "PSThreadBase::Wait WaitForSingleObject failed! dwWaitResult %d\n",
          static_cast<int>(result));
    return false;
}

bool PSThreadBase::Close()
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (!m_pHandle)
            return true;
    }
    if (!Wait(0))
        return false;

    std::shared_ptr<Handle> handle;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        handle = std::move(m_pHandle);
    }
    if (!handle)
        return true; // another Close got there first
    try
    {
        PrivateHandleRetire(handle);
    }
    catch (const std::system_error& error)
    {
        SALog(SA_LOG_FAILURE, "PSThreadBase::Close pthread_join failed! LastError %d\n",
              error.code().value());
        std::lock_guard<std::mutex> guard(m_Lock);
        if (!m_pHandle)
            m_pHandle = std::move(handle);
        return false;
    }
    return true;
}

uint32_t PSThreadBase::ThreadIdGet() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_ThreadId;
}

bool PSThreadBase::IsCurrentThread() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_pHandle && m_pHandle->id == std::this_thread::get_id() && !m_pHandle->ended.IsSet();
}

bool PSThreadBase::PrioritySet(int priority)
{
    // The original priorities are relative to a normal process; nice values
    // of the single thread express the same without real-time scheduling,
    // which could starve the machine if a job spins.
    int niceValue = 0;
    if (priority >= PS_THREAD_PRIORITY_TIME_CRITICAL)
        niceValue = -10;
    else if (priority >= PS_THREAD_PRIORITY_HIGHEST)
        niceValue = -5;
    else if (priority >= PS_THREAD_PRIORITY_ABOVE_NORMAL)
        niceValue = -2;
    else if (priority >= PS_THREAD_PRIORITY_NORMAL)
        niceValue = 0;
    else if (priority >= PS_THREAD_PRIORITY_BELOW_NORMAL)
        niceValue = 2;
    else if (priority >= PS_THREAD_PRIORITY_LOWEST)
        niceValue = 5;
    else
        niceValue = 19;

    id_t threadId = static_cast<id_t>(syscall(SYS_gettid));
    if (setpriority(PRIO_PROCESS, threadId, niceValue) == 0)
        return true;
    static std::atomic<bool> s_Logged{false};
    if (!s_Logged.exchange(true))
        SALog(SA_LOG_FAILURE, "PSThreadBase::PrioritySet setpriority failed! LastError %d\n", errno);
    return false;
}
