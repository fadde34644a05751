#include "core/PSThreadTaskQueue.h"

#include "core/PSExceptionGuard.h"
#include "core/PSTaskAsyncBase.h"
#include "core/PSTaskQueue.h"
#include "core/SALog.h"

PSThreadTaskQueue::PSThreadTaskQueue() = default;

PSThreadTaskQueue::~PSThreadTaskQueue() = default;

bool PSThreadTaskQueue::Start(PSTaskQueue* owner)
{
    m_pOwner = owner;
    m_Exit = false;
    return PSThreadBase::Start();
}

void PSThreadTaskQueue::ExitRequest()
{
    m_Exit = true;
    m_WakeUp.Set();
}

void PSThreadTaskQueue::Run()
{
    int threadId = static_cast<int>(ThreadIdGet());
    SALog(SA_LOG_THREAD, "PSThreadTaskQueue::Run starting (%d)...\n", threadId);
    PrioritySet(PS_THREAD_PRIORITY_TIME_CRITICAL);

    PSTaskQueue* owner = m_pOwner.load();
    PSTaskQueue::PrivateWorkerEnter(owner);
    while (!m_Exit)
    {
        // Idle first, then one more look: a job queued after the last drain
        // but before the flag was up found no idle worker to wake, and is
        // seen here instead of waiting for the next submission.
        m_Idle.store(true);
        if (!owner->PrivateTaskPendingGet())
        {
            uint32_t result = m_WakeUp.Wait(PS_INFINITE);
            if (result != PS_WAIT_OBJECT_0)
            {
                SALog(SA_LOG_FAILURE, "PSThreadTaskQueue::Run failed! Unexpected dwWaitRet:%d\n",
                      static_cast<int>(result));
                continue;
            }
            m_WakeUp.Reset();
        }
        m_Idle.store(false);
        while (PSTaskAsyncBase* task = owner->PrivateTaskTake())
        {
            // The job may delete itself inside OnExecute: it is not touched afterwards.
            PSExceptionGuard::Run("PSThreadTaskQueue::Run", [task] { task->OnExecute(); });
            owner->PrivateTaskDone();
        }
    }
    PSTaskQueue::PrivateWorkerEnter(nullptr);

    SALog(SA_LOG_THREAD, "PSThreadTaskQueue::Run exiting (%d)...\n", threadId);
}
