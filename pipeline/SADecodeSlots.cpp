#include "pipeline/SADecodeSlots.h"

#include "core/PSSpinWait.h"
#include "core/PSTaskQueue.h"

#include <algorithm>
#include <sched.h>
#include <thread>

SADecodeSlots::SADecodeSlots(uint32_t slots) : m_Free(std::max<uint32_t>(slots, 1)) {}

uint32_t SADecodeSlots::CoresGet()
{
    // The affinity mask, not the machine's count: a viewer confined to two
    // cores of a larger machine has two.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
    {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return static_cast<uint32_t>(count);
    }
    return std::max(std::thread::hardware_concurrency(), 1u);
}

void SADecodeSlots::Acquire(uint64_t work)
{
    Waiter self;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_Free > 0 && m_Waiters.empty())
        {
            --m_Free;
            return;
        }
        self.m_Work = work;
        self.m_Ticket = m_NextTicket++;
        m_Waiters.push_back(&self);
    }
    // A slot usually frees within a band's decode; a short spin saves the
    // wake-up when it frees sooner.
    if (PSSpinWait([&self] { return self.m_Granted.load(std::memory_order_acquire); }, PS_SPIN_WAIT_US))
        return;
    std::unique_lock<std::mutex> lock(m_Lock);
    self.m_Sleeping = true;
    m_Granted.wait(lock, [&self] { return self.m_Granted.load(std::memory_order_acquire); });
}

void SADecodeSlots::Release()
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_Waiters.empty())
        {
            ++m_Free;
            return;
        }
        auto next = std::max_element(m_Waiters.begin(), m_Waiters.end(),
                                     [](const Waiter* a, const Waiter* b)
                                     {
                                         if (a->m_Work != b->m_Work)
                                             return a->m_Work < b->m_Work;
                                         return a->m_Ticket > b->m_Ticket;
                                     });
        Waiter* chosen = *next;
        m_Waiters.erase(next);
        // The slot passes straight to the chosen waiter, so no newcomer can
        // take it in between. The waiter's record lives on its stack and
        // may be gone once m_Granted is set, so read m_Sleeping first.
        wake = chosen->m_Sleeping;
        chosen->m_Granted.store(true, std::memory_order_release);
    }
    if (wake)
        m_Granted.notify_all();
}

uint32_t SADecodeSlots::WaitingGet() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return static_cast<uint32_t>(m_Waiters.size());
}
