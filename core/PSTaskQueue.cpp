#include "core/PSTaskQueue.h"

#include "core/PSTaskAsyncBase.h"
#include "core/SALog.h"

#include <new>

namespace
{
thread_local PSTaskQueue* t_pWorkerOf = nullptr;
}

PSTaskQueue::PSTaskQueue(uint32_t workerCount)
{
    try
    {
        m_Workers.reserve(workerCount);
        for (uint32_t i = 0; i < workerCount; ++i)
            m_Workers.push_back(std::make_unique<PSThreadTaskQueue>());
        m_WorkerCount = workerCount;
    }
    catch (const std::bad_alloc&)
    {
        SALog(SA_LOG_FAILURE, "PSTaskQueue::PSTaskQueue failed! No memory (1)\n");
        m_Workers.clear();
        m_WorkerCount = 0;
    }
}

PSTaskQueue::~PSTaskQueue()
{
    bool running = false;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        running = m_Running;
    }
    // Owners stop their queues first. Workers left running would use this
    // queue after it is gone, and pending jobs would never be released, so
    // the queue stops itself here: queued jobs run (or, without running
    // workers, are refused) and the workers end.
    if (running)
        SALog(SA_LOG_FAILURE, "PSTaskQueue::~PSTaskQueue failed! Still running, stopping it\n");
    Stop();
}

void PSTaskQueue::PrivateWorkerEnter(PSTaskQueue* queue)
{
    t_pWorkerOf = queue;
}

void PSTaskQueue::PrivateWorkersEnd()
{
    for (auto& worker : m_Workers)
    {
        worker->ExitRequest();
        worker->Wait(PS_INFINITE);
        worker->Close();
    }
}

bool PSTaskQueue::Start()
{
    for (auto& worker : m_Workers)
    {
        if (!worker->Start(this))
        {
            SALog(SA_LOG_FAILURE, "PSTaskQueue::Start failed!\n");
            PrivateWorkersEnd();
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Stopping = false;
            m_Running = false;
            return false;
        }
    }

    bool pending = false;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Stopping = false;
        m_Running = !m_Workers.empty();
        pending = !m_Pending.empty();
    }
    // Jobs queued while stopped are run now.
    if (pending)
    {
        for (auto& worker : m_Workers)
            worker->WakeUp();
    }
    return true;
}

void PSTaskQueue::TaskSubmit(PSTaskAsyncBase* task)
{
    if (task == nullptr)
    {
        SALog(SA_LOG_FAILURE, "PSTaskQueue::TaskSubmit failed! NULL == pTask\n");
        return;
    }
    {
        std::unique_lock<std::mutex> guard(m_Lock);
        if (m_Stopping)
        {
            if (m_Outstanding <= 0)
                m_IdleEvent.Set();
            guard.unlock();
            task->OnRefused();
            return;
        }
        ++m_Outstanding;
        m_IdleEvent.Reset();
        m_Pending.push_back(task);
        PrivatePendingPublish();
        PrivateOutstandingPublish();
    }
    // One sleeping worker per job: a busy one takes the job when it finishes
    // its own, and waking every worker for every job had them all race for
    // it, most to find nothing (four thread switches a job on two cores).
    for (auto& worker : m_Workers)
        if (worker->IdleWakeUp())
            break;
}

void PSTaskQueue::PrivatePendingPublish()
{
    m_PendingCount.store(static_cast<int32_t>(m_Pending.size()), std::memory_order_release);
}

void PSTaskQueue::PrivateOutstandingPublish()
{
    m_OutstandingCount.store(m_Outstanding, std::memory_order_release);
}

void PSTaskQueue::Stop(bool discardPending)
{
    if (t_pWorkerOf == this)
    {
        SALog(SA_LOG_FAILURE, "PSTaskQueue::Stop failed! Called from its own worker\n");
        return;
    }

    std::deque<PSTaskAsyncBase*> refused;
    bool running = false;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Stopping = true;
        running = m_Running;
        if (!running || discardPending)
        {
            refused.swap(m_Pending);
            m_Outstanding -= static_cast<int32_t>(refused.size());
            PrivatePendingPublish();
            PrivateOutstandingPublish();
            if (m_Outstanding <= 0)
                m_IdleEvent.Set();
        }
    }
    for (PSTaskAsyncBase* task : refused)
        task->OnRefused();

    if (running)
        m_IdleEvent.Wait(PS_INFINITE);
    PrivateWorkersEnd();

    std::lock_guard<std::mutex> guard(m_Lock);
    m_Running = false;
}

PSTaskAsyncBase* PSTaskQueue::PrivateTaskTake()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_Pending.empty())
        return nullptr;
    PSTaskAsyncBase* task = m_Pending.front();
    m_Pending.pop_front();
    PrivatePendingPublish();
    return task;
}

void PSTaskQueue::PrivateTaskDone()
{
    // Signalled under the lock: set outside it, a late Set could override the
    // Reset of a submission that came in between and report idle too early.
    std::lock_guard<std::mutex> guard(m_Lock);
    if (--m_Outstanding <= 0)
        m_IdleEvent.Set();
    PrivateOutstandingPublish();
}
