#include "net/SAFrameTimer.h"

#include "core/SALog.h"

#include <system_error>

SAFrameTimer::SAFrameTimer(Callback onDue) : m_OnDue(std::move(onDue)) {}

SAFrameTimer::~SAFrameTimer()
{
    Stop();
}

bool SAFrameTimer::Start(uint32_t delayMs, uintptr_t token)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_Stop)
        return false;
    if (!m_Thread.joinable())
    {
        try
        {
            m_Thread = std::thread(&SAFrameTimer::PrivateRun, this);
        }
        catch (const std::system_error& e)
        {
            SALog(SA_LOG_FAILURE, "SAFrameTimer::Start failed! std::thread %d\n", e.code().value());
            return false;
        }
    }
    m_Due = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
    m_Token = token;
    m_Pending = true;
    m_Wake.notify_one();
    return true;
}

void SAFrameTimer::Cancel()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Pending = false;
    m_Wake.notify_one();
}

void SAFrameTimer::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Stop = true;
        m_Pending = false;
        m_Wake.notify_one();
    }
    if (m_Thread.joinable() && m_Thread.get_id() != std::this_thread::get_id())
        m_Thread.join();
}

void SAFrameTimer::PrivateRun()
{
    std::unique_lock<std::mutex> lock(m_Lock);
    while (!m_Stop)
    {
        if (!m_Pending)
        {
            m_Wake.wait(lock);
            continue;
        }
        if (std::chrono::steady_clock::now() < m_Due)
        {
            m_Wake.wait_until(lock, m_Due);
            continue;
        }
        m_Pending = false;
        const uintptr_t token = m_Token;
        lock.unlock();
        m_OnDue(token);
        lock.lock();
    }
}
