// The decode slots: never more holders than slots, and a freed slot goes to
// the waiter with the most work, whether it still spins or already sleeps.
// Run under ThreadSanitizer.
#include "pipeline/SADecodeSlots.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
bool WaitersReach(const SADecodeSlots& slots, uint32_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (slots.WaitingGet() != count)
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}
} // namespace

TEST(SADecodeSlots, NeverMoreHoldersThanSlots)
{
    for (uint32_t count : {1u, 2u, 3u})
    {
        SADecodeSlots slots(count);
        std::atomic<int> holders{0};
        std::atomic<int> most{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t)
            threads.emplace_back(
                [&, t]
                {
                    for (int i = 0; i < 300; ++i)
                    {
                        slots.Acquire(static_cast<uint64_t>((t * 7 + i) % 5));
                        const int now = holders.fetch_add(1) + 1;
                        int seen = most.load();
                        while (now > seen && !most.compare_exchange_weak(seen, now))
                        {
                        }
                        if (i % 3 == 0)
                            std::this_thread::sleep_for(std::chrono::microseconds(50));
                        holders.fetch_sub(1);
                        slots.Release();
                    }
                });
        for (std::thread& t : threads)
            t.join();
        EXPECT_EQ(most.load(), static_cast<int>(count)) << count << " slots";
        EXPECT_EQ(slots.WaitingGet(), 0u);
    }
}

// Work 1, 5, 3 and another 5 wait while both slots are held; each release
// must hand its slot to the largest remaining (the earlier of equals). The
// waiters sleep long past their spin before the first release, and the
// next releases come while the chosen ones may still spin.
TEST(SADecodeSlots, FreedSlotGoesToTheLargestWaiter)
{
    for (auto pause : {std::chrono::milliseconds(20), std::chrono::milliseconds(0)})
    {
        SADecodeSlots slots(2);
        slots.Acquire(0);
        slots.Acquire(0);
        std::mutex lock;
        std::vector<int> order;
        std::vector<std::thread> waiters;
        const uint64_t work[] = {1, 5, 3, 5};
        for (int i = 0; i < 4; ++i)
        {
            waiters.emplace_back(
                [&, i]
                {
                    slots.Acquire(work[i]);
                    std::lock_guard<std::mutex> guard(lock);
                    order.push_back(i);
                });
            // Arrival order decides between equals: wait until this one queued.
            ASSERT_TRUE(WaitersReach(slots, static_cast<uint32_t>(i + 1)));
        }
        std::this_thread::sleep_for(pause);
        for (uint32_t released = 1; released <= 4; ++released)
        {
            slots.Release();
            ASSERT_TRUE(WaitersReach(slots, 4 - released));
            // The chosen waiter holds its slot until the end: only one slot
            // freed, so exactly one more has come through.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            for (;;)
            {
                {
                    std::lock_guard<std::mutex> guard(lock);
                    if (order.size() == released)
                        break;
                }
                ASSERT_LT(std::chrono::steady_clock::now(), deadline);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        for (std::thread& t : waiters)
            t.join();
        EXPECT_EQ(order, (std::vector<int>{1, 3, 2, 0}));
        // The last two chosen give their slots back; both can be taken again.
        slots.Release();
        slots.Release();
        slots.Acquire(0);
        slots.Acquire(0);
        EXPECT_EQ(slots.WaitingGet(), 0u);
    }
}
