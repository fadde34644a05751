// The frame's reconnect timer thread: it fires with the token of the last
// Start, a later Start replaces an earlier one, and Stop ends the thread
// with nothing fired afterwards.
#include "core/PSEvent.h"
#include "net/SAFrameTimer.h"

#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace
{
struct SATimerRecord
{
    std::mutex lock;
    std::vector<uintptr_t> tokens;
    PSEvent fired{false, false};
};

TEST(SAFrameTimer, FiresWithTheTokenOfTheLatestStart)
{
    SATimerRecord record;
    SAFrameTimer timer(
        [&](uintptr_t token)
        {
            {
                std::lock_guard<std::mutex> lock(record.lock);
                record.tokens.push_back(token);
            }
            record.fired.Set();
        });
    ASSERT_TRUE(timer.Start(600000, 1)); // replaced before it could ever fire
    ASSERT_TRUE(timer.Start(1, 2));
    ASSERT_EQ(record.fired.Wait(10000), PS_WAIT_OBJECT_0);
    ASSERT_TRUE(timer.Start(1, 3));
    ASSERT_EQ(record.fired.Wait(10000), PS_WAIT_OBJECT_0);
    timer.Stop();
    std::lock_guard<std::mutex> lock(record.lock);
    EXPECT_EQ(record.tokens, std::vector<uintptr_t>({2, 3}));
}

TEST(SAFrameTimer, StopEndsAPendingWaitAndRefusesNewStarts)
{
    SATimerRecord record;
    SAFrameTimer timer(
        [&](uintptr_t token)
        {
            std::lock_guard<std::mutex> lock(record.lock);
            record.tokens.push_back(token);
        });
    ASSERT_TRUE(timer.Start(600000, 7));
    timer.Cancel();
    ASSERT_TRUE(timer.Start(600000, 8));
    timer.Stop(); // must not wait for the ten minutes
    EXPECT_FALSE(timer.Start(1, 9));
    std::lock_guard<std::mutex> lock(record.lock);
    EXPECT_TRUE(record.tokens.empty());
}
} // namespace
