#include "core/PSThreadTaskQueue.h"

#include "core/PSExceptionGuard.h"
#include "core/PSSpinWait.h"
#include "core/PSTaskAsyncBase.h"
#include "core/PSTaskQueue.h"
#include "core/PSTime.h"
#include "core/SALog.h"

#include <algorithm>

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
    // Whether the next job may come within a spin. A stream faster than its
    // decoders keeps the pauses short, and the spin often catches the next
    // job; one paced by its sender (60 fps, each worker a job a frame)
    // pauses for most of a frame, where every spin only burnt its whole
    // length, a fifth of what a 1080p YUV frame costs. So the worker spins
    // only while its last pause was short, and while its spins catch jobs:
    // the bands of such a frame come a few spin lengths apart, too far for
    // a spin, and only one spin in five caught its band at 1080p60 YUV.
    bool spin = true;
    int spinScore = PS_SPIN_SCORE_MAX;
    uint32_t pausesUnspun = 0;
    while (!m_Exit)
    {
        // Idle first, then the looks for a job: a job queued after the last
        // drain but before the flag was up found no idle worker to wake, and
        // is seen here instead of waiting for the next submission. The looks
        // go on for a short spin, since the next frame's jobs usually come
        // sooner than a sleeping thread could be woken. A job seen while this
        // worker is still unclaimed is taken without the event; once a
        // submitter has claimed it, that submitter's wake-up is consumed
        // below.
        m_Idle.store(true);
        const uint64_t idleBegin = PSTimeNanoseconds();
        bool claimed = false;
        const auto looked = [&] { return (claimed = !m_Idle.load()) || owner->PrivateTaskPendingGet(); };
        if (spin && (spinScore > 0 || ++pausesUnspun % PS_SPIN_PROBE_EVERY == 0))
        {
            owner->m_Spins.fetch_add(1, std::memory_order_relaxed);
            if (PSSpinWait(looked, PS_SPIN_WAIT_US))
                spinScore = std::min(spinScore + 1, PS_SPIN_SCORE_MAX);
            else
                spinScore = std::max(spinScore - 1, 0);
        }
        else
            looked();
        bool mine = !claimed && owner->PrivateTaskPendingGet();
        if (mine)
        {
            bool idle = true;
            mine = m_Idle.compare_exchange_strong(idle, false);
        }
        if (!mine && !owner->PrivateTaskPendingGet())
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
        spin = PSTimeNanoseconds() - idleBegin < PS_SPIN_PAUSE_US * 1000ULL;
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
