// SAMessageLoop as a SAMessageTarget: posting, sending, nesting, ending.
#include "SATestLogCapture.h"
#include "core/PSEvent.h"
#include "core/SAMessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
constexpr uint32_t MSG_RECORD = SA_WM_APP + 100;
constexpr uint32_t MSG_ADD = SA_WM_APP + 101;
constexpr uint32_t MSG_NESTED = SA_WM_APP + 102;
constexpr uint32_t MSG_QUIT = SA_WM_APP + 103;
constexpr uint32_t MSG_BLOCK = SA_WM_APP + 104;
constexpr uint32_t MSG_THROW = SA_WM_APP + 105;

// The state the handler owns; touched only on the loop thread, read by the
// test after an Invoke or Stop (both order the accesses).
struct HandlerState
{
    std::vector<std::pair<uintptr_t, intptr_t>> records;
    std::atomic<int> wrongThread{0};
    PSEvent blockEntered{true, false};
    PSEvent blockRelease{true, false};
};

SAMessageLoop::Handler HandlerMake(HandlerState& state, SAMessageLoop*& self)
{
    return [&state, &self](uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t
    {
        if (self != nullptr && !self->IsLoopThread())
            ++state.wrongThread;
        switch (message)
        {
        case MSG_RECORD:
            state.records.emplace_back(wParam, lParam);
            return 1;
        case MSG_ADD:
            return static_cast<intptr_t>(wParam) + lParam;
        case MSG_NESTED:
            // A send on the loop thread runs the handler at once.
            return self->Send(MSG_ADD, wParam, lParam) * 10 + static_cast<intptr_t>(state.records.size());
        case MSG_QUIT:
            self->Quit();
            return 5;
        case MSG_BLOCK:
            state.blockEntered.Set();
            state.blockRelease.Wait(PS_INFINITE);
            return 9;
        case MSG_THROW:
            throw std::runtime_error("handler failed");
        default:
            return -1;
        }
    };
}

struct LoopFixture
{
    HandlerState state;
    SAMessageLoop* self = nullptr;
    SAMessageLoop loop{HandlerMake(state, self)};
    LoopFixture() { self = &loop; }
};
} // namespace

TEST(SAMessageLoop, MessageNumbersMatchTheOriginalWindowMessages)
{
    EXPECT_EQ(SA_WM_APP_ONE_TIME_INITIALIZATION, 0x8001u);
    EXPECT_EQ(SA_WM_APP_HOST_RESOLVED, 0x8009u);
    EXPECT_EQ(SA_WM_APP_FSTM_EVENT, 0x800Au);
    EXPECT_EQ(SA_WM_APP_FSTM_STATE_CHANGED, 0x800Bu);
    EXPECT_EQ(SA_WM_APP_STATUS_REFRESH, 0x800Cu);
    EXPECT_EQ(SA_WM_APP_REPAINT, 0x8012u);
    EXPECT_EQ(SA_WM_APP_PRESENT, 0x8013u);
    EXPECT_EQ(SA_WM_APP_AUTO_CONNECT_START, 0x8014u);
    EXPECT_EQ(SA_WM_APP_STREAM_RESET_REPLY, 0x8015u);
    EXPECT_EQ(SA_WM_APP_H264_ERROR, 0x8016u);
}

TEST(SAMessageLoop, PostedMessagesArriveInOrderOnTheLoopThread)
{
    LoopFixture f;
    ASSERT_TRUE(f.loop.Start());
    for (uintptr_t i = 0; i < 1000; ++i)
        ASSERT_TRUE(f.loop.Post(MSG_RECORD, i, -static_cast<intptr_t>(i)));
    bool invoked = f.loop.Invoke([&] { EXPECT_TRUE(f.loop.IsLoopThread()); });
    EXPECT_TRUE(invoked);
    f.loop.Stop();
    ASSERT_EQ(f.state.records.size(), 1000u);
    for (uintptr_t i = 0; i < 1000; ++i)
    {
        EXPECT_EQ(f.state.records[i].first, i);
        EXPECT_EQ(f.state.records[i].second, -static_cast<intptr_t>(i));
    }
    EXPECT_EQ(f.state.wrongThread.load(), 0);
    EXPECT_FALSE(f.loop.IsLoopThread());
}

TEST(SAMessageLoop, SendFromAnotherThreadWaitsForTheHandlersResult)
{
    LoopFixture f;
    ASSERT_TRUE(f.loop.Start());
    f.loop.Post(MSG_RECORD, 1, 1);
    // Sent messages queue behind posted ones, like the posted record above.
    EXPECT_EQ(f.loop.Send(MSG_NESTED, 3, 4), 71);
    EXPECT_EQ(f.loop.Send(MSG_ADD, 40, 2), 42);
    std::thread other([&] { EXPECT_EQ(f.loop.Send(MSG_ADD, 5, 6), 11); });
    other.join();
    f.loop.Stop();
    EXPECT_EQ(f.state.wrongThread.load(), 0);
}

TEST(SAMessageLoop, SendWaitsWhileTheHandlerIsBusy)
{
    LoopFixture f;
    ASSERT_TRUE(f.loop.Start());
    ASSERT_TRUE(f.loop.Post(MSG_BLOCK, 0, 0));
    ASSERT_EQ(f.state.blockEntered.Wait(10000), PS_WAIT_OBJECT_0);
    std::atomic<intptr_t> result{0};
    std::atomic<bool> returned{false};
    std::thread sender(
        [&]
        {
            result = f.loop.Send(MSG_ADD, 1, 1);
            returned = true;
        });
    // The sender cannot have its answer while the loop is held up.
    EXPECT_FALSE(returned.load());
    f.state.blockRelease.Set();
    sender.join();
    EXPECT_EQ(result.load(), 2);
    f.loop.Stop();
}

TEST(SAMessageLoop, EndedOrNeverStartedLoopRefusesPromptly)
{
    LoopFixture f;
    EXPECT_FALSE(f.loop.Post(MSG_RECORD, 1, 1));
    EXPECT_EQ(f.loop.Send(MSG_ADD, 1, 1), 0);
    EXPECT_FALSE(f.loop.Invoke([] {}));

    ASSERT_TRUE(f.loop.Start());
    EXPECT_EQ(f.loop.Send(MSG_QUIT, 0, 0), 5); // the loop quits itself
    EXPECT_FALSE(f.loop.Post(MSG_RECORD, 2, 2));
    EXPECT_EQ(f.loop.Send(MSG_ADD, 1, 1), 0);
    f.loop.Stop();
    EXPECT_FALSE(f.loop.Post(MSG_RECORD, 3, 3));
    EXPECT_EQ(f.loop.Send(MSG_ADD, 1, 1), 0);
    EXPECT_TRUE(f.state.records.empty());

    // It can be started again.
    ASSERT_TRUE(f.loop.Start());
    EXPECT_EQ(f.loop.Send(MSG_ADD, 20, 1), 21);
    f.loop.Stop();
}

TEST(SAMessageLoop, MessagesQueuedBeforeStopAreHandledAndWaitingSendersAnswered)
{
    LoopFixture f;
    ASSERT_TRUE(f.loop.Start());
    ASSERT_TRUE(f.loop.Post(MSG_BLOCK, 0, 0));
    ASSERT_EQ(f.state.blockEntered.Wait(10000), PS_WAIT_OBJECT_0);
    ASSERT_TRUE(f.loop.Post(MSG_RECORD, 7, 7));

    std::vector<std::thread> senders;
    std::atomic<int> answered{0}, refused{0};
    for (int i = 0; i < 4; ++i)
        senders.emplace_back(
            [&]
            {
                intptr_t result = f.loop.Send(MSG_ADD, 2, 3);
                if (result == 5)
                    ++answered;
                else if (result == 0)
                    ++refused;
            });
    std::thread stopper([&] { f.loop.Stop(); });
    f.state.blockRelease.Set();
    for (auto& sender : senders)
        sender.join();
    stopper.join();
    EXPECT_EQ(answered.load() + refused.load(), 4);
    ASSERT_EQ(f.state.records.size(), 1u);
    EXPECT_EQ(f.state.records[0].first, 7u);
}

TEST(SAMessageLoop, ManyThreadsPostAndSendConcurrently)
{
    LoopFixture f;
    ASSERT_TRUE(f.loop.Start());
    constexpr int threads = 4, perThread = 500;
    std::atomic<int> wrongResults{0}, refusedPosts{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(
            [&, t]
            {
                for (int i = 0; i < perThread; ++i)
                {
                    if (!f.loop.Post(MSG_RECORD, static_cast<uintptr_t>(t), i))
                        ++refusedPosts;
                    if (f.loop.Send(MSG_ADD, static_cast<uintptr_t>(i), t) != i + t)
                        ++wrongResults;
                }
            });
    for (auto& worker : workers)
        worker.join();
    f.loop.Stop();
    EXPECT_EQ(wrongResults.load(), 0);
    EXPECT_EQ(refusedPosts.load(), 0);
    ASSERT_EQ(f.state.records.size(), static_cast<size_t>(threads * perThread));
    // Each poster's messages keep their order.
    int next[threads] = {};
    for (auto& [t, i] : f.state.records)
    {
        EXPECT_EQ(i, next[t]);
        next[t] = static_cast<int>(i) + 1;
    }
    EXPECT_EQ(f.state.wrongThread.load(), 0);
}

TEST(SAMessageLoop, RunOnCurrentThreadServesUntilQuit)
{
    LoopFixture f;
    std::thread feeder(
        [&]
        {
            // The loop may not run yet: retry until it takes messages.
            while (!f.loop.Post(MSG_RECORD, 1, 1))
                std::this_thread::yield();
            EXPECT_EQ(f.loop.Send(MSG_ADD, 2, 2), 4);
            EXPECT_TRUE(f.loop.Post(MSG_QUIT, 0, 0));
        });
    EXPECT_TRUE(f.loop.RunOnCurrentThread());
    feeder.join();
    EXPECT_EQ(f.state.records.size(), 1u);
    EXPECT_EQ(f.state.wrongThread.load(), 0);
    EXPECT_FALSE(f.loop.Post(MSG_RECORD, 1, 1));
}

TEST(SAMessageLoop, HandlerExceptionIsLoggedAndTheSendGetsZero)
{
    SATestLogCapture log;
    LoopFixture f;
    ASSERT_TRUE(f.loop.Start());
    EXPECT_EQ(f.loop.Send(MSG_THROW, 0, 0), 0);
    EXPECT_EQ(f.loop.Send(MSG_ADD, 1, 2), 3);
    f.loop.Stop();
    EXPECT_EQ(log.Count("SAMessageLoop::PrivateDispatch failed! Exception\n"), 1u);
}

TEST(SAMessageLoop, StartWhileRunningFails)
{
    SATestLogCapture log;
    LoopFixture f;
    ASSERT_TRUE(f.loop.Start());
    EXPECT_FALSE(f.loop.Start());
    EXPECT_FALSE(f.loop.RunOnCurrentThread());
    EXPECT_EQ(log.Count("SAMessageLoop::Start failed! Already running\n"), 1u);
    EXPECT_EQ(f.loop.Send(MSG_ADD, 1, 1), 2);
    f.loop.Stop();
}
