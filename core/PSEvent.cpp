#include "core/PSEvent.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace
{
std::mutex& PrivateLock()
{
    static std::mutex* lock = new std::mutex; // outlives static destructors of event owners
    return *lock;
}
} // namespace

PSEvent::PSEvent(bool manualReset, bool initialState) : m_ManualReset(manualReset), m_Signalled(initialState)
{
}

PSEvent::~PSEvent() = default;

void PSEvent::Set()
{
    std::lock_guard<std::mutex> guard(PrivateLock());
    m_Signalled = true;
    for (std::condition_variable* waiter : m_Waiters)
        waiter->notify_all();
}

void PSEvent::Reset()
{
    std::lock_guard<std::mutex> guard(PrivateLock());
    m_Signalled = false;
}

bool PSEvent::IsSet() const
{
    std::lock_guard<std::mutex> guard(PrivateLock());
    return m_Signalled;
}

uint32_t PSEvent::Wait(uint32_t timeoutMs)
{
    PSEvent* self = this;
    return WaitAny(&self, 1, timeoutMs);
}

uint32_t PSEvent::WaitAny(PSEvent* const* events, size_t count, uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> guard(PrivateLock());
    auto take = [&]() -> int
    {
        for (size_t i = 0; i < count; ++i)
        {
            if (events[i]->m_Signalled)
            {
                if (!events[i]->m_ManualReset)
                    events[i]->m_Signalled = false;
                return static_cast<int>(i);
            }
        }
        return -1;
    };

    int index = take();
    if (index >= 0)
        return PS_WAIT_OBJECT_0 + static_cast<uint32_t>(index);
    if (timeoutMs == 0)
        return PS_WAIT_TIMEOUT;

    std::condition_variable waiter;
    for (size_t i = 0; i < count; ++i)
        events[i]->m_Waiters.push_back(&waiter);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((index = take()) < 0)
    {
        if (timeoutMs == PS_INFINITE)
            waiter.wait(guard);
        else if (waiter.wait_until(guard, deadline) == std::cv_status::timeout)
        {
            index = take();
            break;
        }
    }

    for (size_t i = 0; i < count; ++i)
    {
        auto& list = events[i]->m_Waiters;
        list.erase(std::find(list.begin(), list.end(), &waiter));
    }
    return index >= 0 ? PS_WAIT_OBJECT_0 + static_cast<uint32_t>(index) : PS_WAIT_TIMEOUT;
}
