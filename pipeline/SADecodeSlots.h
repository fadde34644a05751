#pragma once
// How many decoder tasks decode at once, and which goes next. A frame is
// presented only when its last fragment is decoded, so on a machine with
// fewer cores than decoder tasks the order matters: four bands time-sliced
// on two cores all end late, and the scheduler may leave the two largest
// on one core while the other idles at the frame's end. With one slot per
// core and each freed slot passed to the waiting fragment with the most
// work (its payload size), the largest bands start first and the cores
// stay busy until the frame is done. With at least as many cores as tasks
// every Acquire returns at once.
//
// Threads: Acquire and Release from the decoder workers; WaitingGet from any
// thread. m_Lock guards the waiter list and the free count.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class SADecodeSlots
{
public:
    // slots: decodes allowed at once (at least 1).
    explicit SADecodeSlots(uint32_t slots);

    // One slot per core the process may use, but never fewer than 1.
    static uint32_t CoresGet();

    // Blocks until this caller holds a slot. `work` ranks the waiters: the
    // largest gets the next freed slot (equal work: the earlier caller).
    void Acquire(uint64_t work);
    void Release();

    uint32_t WaitingGet() const;

private:
    struct Waiter
    {
        uint64_t m_Work;
        uint64_t m_Ticket;
        std::atomic<bool> m_Granted{false};
        bool m_Sleeping = false;
    };

    mutable std::mutex m_Lock;
    std::condition_variable m_Granted;
    std::vector<Waiter*> m_Waiters;
    uint32_t m_Free;
    uint64_t m_NextTicket = 0;
};
