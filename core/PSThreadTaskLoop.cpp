#include "core/PSThreadTaskLoop.h"

#include "core/PSEvent.h"
#include "core/SALog.h"

PSThreadTaskLoop::PSThreadTaskLoop() = default;

PSThreadTaskLoop::~PSThreadTaskLoop()
{
    // Owners stop their loops first; a loop still running here would go on
    // using this object, so it is stopped the regular way before it goes.
    if (m_pTask.load() != nullptr && !IsCurrentThread())
    {
        SALog(SA_LOG_FAILURE, "PSThreadTaskLoop::~PSThreadTaskLoop failed! Still running, stopping it\n");
        Stop();
    }
}

bool PSThreadTaskLoop::Start(PSTaskAsyncLooped* task)
{
    PSTaskAsyncLooped* expected = nullptr;
    if (!m_pTask.compare_exchange_strong(expected, task))
    {
        SALog(SA_LOG_FAILURE,
              "PSThreadTaskLoop::Start failed! Already running... (this should never happen)\n");
        return false;
    }
    if (PSThreadBase::Start())
        return true;

    // As a rule the handle of an earlier, ended thread is still stored.
    Close();
    if (PSThreadBase::Start())
        return true;

    SALog(SA_LOG_FAILURE, "PSThreadTaskLoop::Start failed! Previous instance not uninitialized properly\n");
    m_pTask.exchange(nullptr);
    return false;
}

void PSThreadTaskLoop::Stop()
{
    if (PSTaskAsyncLooped* task = m_pTask.load())
        task->StopRequest();
    if (IsCurrentThread())
        return; // the loop ends by itself once the current step returns
    Wait(PS_INFINITE);
}

void PSThreadTaskLoop::Run()
{
    int threadId = static_cast<int>(ThreadIdGet());
    SALog(SA_LOG_THREAD, "PSThreadTaskLoop::Run ID:%d starting...\n", threadId);

    PSTaskAsyncLooped* task = m_pTask.load();
    if (task != nullptr && task->OnEntry())
    {
        while ((task = m_pTask.load()) != nullptr && task->OnExecute())
        {
        }
    }

    if (PSTaskAsyncLooped* old = m_pTask.exchange(nullptr))
        old->OnExit();

    SALog(SA_LOG_THREAD, "PSThreadTaskLoop::Run ID:%d exiting...\n", threadId);
}
