#include "core/SAMessageLoop.h"

#include "core/SALog.h"

SAMessageLoop::SAMessageLoop(Handler handler) : m_Handler(std::move(handler)) {}

SAMessageLoop::~SAMessageLoop()
{
    Stop();
}

bool SAMessageLoop::Start()
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_State != State::Idle)
        {
            SALog(SA_LOG_FAILURE, "SAMessageLoop::Start failed! Already running\n");
            return false;
        }
    }
    // A loop that quit by itself leaves its ended thread to be joined here.
    if (m_Thread.joinable())
        m_Thread.join();
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_State = State::Running;
    }
    try
    {
        m_Thread = std::thread(&SAMessageLoop::PrivateLoop, this);
    }
    catch (const std::system_error& error)
    {
        SALog(SA_LOG_FAILURE, "SAMessageLoop::Start pthread_create failed! LastError %d\n",
              error.code().value());
        std::lock_guard<std::mutex> guard(m_Lock);
        m_State = State::Idle;
        return false;
    }
    return true;
}

void SAMessageLoop::Stop()
{
    Quit();
    if (m_Thread.joinable() && m_Thread.get_id() != std::this_thread::get_id())
        m_Thread.join();
}

bool SAMessageLoop::RunOnCurrentThread()
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_State != State::Idle)
        {
            SALog(SA_LOG_FAILURE, "SAMessageLoop::RunOnCurrentThread failed! Already running\n");
            return false;
        }
        m_State = State::Running;
    }
    PrivateLoop();
    return true;
}

void SAMessageLoop::Quit()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_State == State::Running)
    {
        m_State = State::Quitting;
        m_Wake.notify_all();
    }
}

bool SAMessageLoop::IsLoopThread() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_State != State::Idle && m_LoopThread == std::this_thread::get_id();
}

bool SAMessageLoop::Post(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_State != State::Running)
        return false;
    m_Queue.push_back(Entry{message, wParam, lParam, nullptr, nullptr});
    m_Wake.notify_one();
    return true;
}

intptr_t SAMessageLoop::Send(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (IsLoopThread())
        return PrivateDispatch(Entry{message, wParam, lParam, nullptr, nullptr});
    intptr_t result = 0;
    PrivateQueueAndWait(Entry{message, wParam, lParam, nullptr, nullptr}, &result);
    return result;
}

bool SAMessageLoop::Invoke(const std::function<void()>& closure)
{
    if (IsLoopThread())
    {
        closure();
        return true;
    }
    intptr_t ignored = 0;
    return PrivateQueueAndWait(Entry{0, 0, 0, nullptr, &closure}, &ignored);
}

bool SAMessageLoop::PrivateQueueAndWait(Entry entry, intptr_t* pResult)
{
    Reply reply;
    entry.pReply = &reply;
    std::unique_lock<std::mutex> guard(m_Lock);
    if (m_State != State::Running)
        return false;
    m_Queue.push_back(entry);
    m_Wake.notify_one();
    // The loop answers every entry it took, and whatever is left when it
    // ends is answered with 0 (not done), so this wait always ends.
    m_Replied.wait(guard, [&] { return reply.done; });
    *pResult = reply.result;
    return entry.pClosure == nullptr || reply.result != 0;
}

intptr_t SAMessageLoop::PrivateDispatch(const Entry& entry)
{
    try
    {
        if (entry.pClosure != nullptr)
        {
            (*entry.pClosure)();
            return 1;
        }
        return m_Handler ? m_Handler(entry.message, entry.wParam, entry.lParam) : 0;
    }
    catch (...)
    {
        SALog(SA_LOG_FAILURE, "SAMessageLoop::PrivateDispatch failed! Exception\n");
        return 0;
    }
}

void SAMessageLoop::PrivateLoop()
{
    std::unique_lock<std::mutex> guard(m_Lock);
    m_LoopThread = std::this_thread::get_id();
    for (;;)
    {
        m_Wake.wait(guard, [&] { return !m_Queue.empty() || m_State == State::Quitting; });
        if (m_Queue.empty())
            break; // quitting and everything queued before is handled
        Entry entry = m_Queue.front();
        m_Queue.pop_front();
        guard.unlock();
        intptr_t result = PrivateDispatch(entry);
        guard.lock();
        if (entry.pReply != nullptr)
        {
            entry.pReply->result = result;
            entry.pReply->done = true;
            m_Replied.notify_all();
        }
    }
    // Nothing can be queued once quitting, but answer anything left anyway
    // rather than leave a sender waiting forever.
    for (Entry& entry : m_Queue)
    {
        if (entry.pReply != nullptr)
        {
            entry.pReply->result = 0;
            entry.pReply->done = true;
        }
    }
    m_Queue.clear();
    m_Replied.notify_all();
    m_State = State::Idle;
    m_LoopThread = std::thread::id();
}
