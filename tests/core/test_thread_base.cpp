// PSThreadBase: start, wait with and without time-out, close, restart.
#include "SATestLogCapture.h"
#include "core/PSEvent.h"
#include "core/PSThreadBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
// Runs until released; records what it saw on its own thread.
class ThreadGated : public PSThreadBase
{
public:
    PSEvent m_Entered{true, false};
    PSEvent m_Release{true, false};
    std::atomic<int> m_Runs{0};
    std::atomic<uint32_t> m_SeenThreadId{0};
    std::atomic<uint32_t> m_StoredThreadId{0};
    std::atomic<int> m_SelfWaitResult{-1};
    std::atomic<bool> m_SelfIsCurrent{false};

protected:
    void Run() override
    {
        ++m_Runs;
        m_SeenThreadId = static_cast<uint32_t>(syscall(SYS_gettid));
        m_StoredThreadId = ThreadIdGet();
        m_SelfIsCurrent = IsCurrentThread();
        m_SelfWaitResult = Wait(PS_INFINITE) ? 1 : 0;
        m_Entered.Set();
        m_Release.Wait(PS_INFINITE);
    }
};
} // namespace

TEST(PSThreadBase, WaitWithoutThreadFailsSilentlyAndCloseHasNothingToDo)
{
    SATestLogCapture log;
    ThreadGated thread;
    EXPECT_FALSE(thread.Wait(0));
    EXPECT_FALSE(thread.Wait(PS_INFINITE));
    EXPECT_TRUE(thread.Close());
    EXPECT_EQ(thread.ThreadIdGet(), 0u);
    EXPECT_TRUE(log.Lines().empty());
}

TEST(PSThreadBase, RunSeesItsStoredIdAndAnInfiniteSelfWaitIsRefused)
{
    SATestLogCapture log;
    ThreadGated thread;
    ASSERT_TRUE(thread.Start());
    ASSERT_EQ(thread.m_Entered.Wait(10000), PS_WAIT_OBJECT_0);
    EXPECT_NE(thread.m_SeenThreadId.load(), 0u);
    EXPECT_EQ(thread.m_StoredThreadId.load(), thread.m_SeenThreadId.load());
    EXPECT_EQ(thread.ThreadIdGet(), thread.m_SeenThreadId.load());
    EXPECT_TRUE(thread.m_SelfIsCurrent.load());
    EXPECT_FALSE(thread.IsCurrentThread());
    EXPECT_EQ(thread.m_SelfWaitResult.load(), 0);
    EXPECT_EQ(log.Count("PSThreadBase::Wait failed! Own thread\n"), 1u);
    thread.m_Release.Set();
    EXPECT_TRUE(thread.Wait(PS_INFINITE));
}

TEST(PSThreadBase, WaitZeroOnRunningThreadLogsTimeoutAndCloseKeepsTheHandle)
{
    SATestLogCapture log;
    ThreadGated thread;
    ASSERT_TRUE(thread.Start());
    ASSERT_EQ(thread.m_Entered.Wait(10000), PS_WAIT_OBJECT_0);

    EXPECT_FALSE(thread.Wait(0));
    EXPECT_EQ(log.Count("PSThreadBase::Wait WaitForSingleObject failed! dwWaitResult 258\n"), 1u);
    EXPECT_FALSE(thread.Close()); // still running: the handle stays
    EXPECT_EQ(log.Count("PSThreadBase::Wait WaitForSingleObject failed! dwWaitResult 258\n"), 2u);
    EXPECT_FALSE(thread.Start());
    EXPECT_EQ(thread.m_Runs.load(), 1);

    thread.m_Release.Set();
    EXPECT_TRUE(thread.Wait(PS_INFINITE));
    EXPECT_TRUE(thread.Wait(0)); // an ended thread stays waitable until closed
}

TEST(PSThreadBase, EndedThreadMustBeClosedBeforeTheNextStart)
{
    SATestLogCapture log;
    ThreadGated thread;
    thread.m_Release.Set();
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(thread.Wait(PS_INFINITE));

    EXPECT_FALSE(thread.Start()); // handle of the ended thread still stored
    EXPECT_EQ(thread.m_Runs.load(), 1);
    EXPECT_TRUE(thread.Close());
    EXPECT_FALSE(thread.Wait(0)); // no handle any more
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.Wait(PS_INFINITE));
    EXPECT_EQ(thread.m_Runs.load(), 2);
    EXPECT_TRUE(thread.Close());
    EXPECT_EQ(log.Count("PSThreadBase::Wait WaitForSingleObject failed! dwWaitResult 258\n"), 0u);
}

TEST(PSThreadBase, ManyWaitersFromOtherThreadsAllSeeTheEnd)
{
    ThreadGated thread;
    ASSERT_TRUE(thread.Start());
    ASSERT_EQ(thread.m_Entered.Wait(10000), PS_WAIT_OBJECT_0);

    std::atomic<int> ended{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 6; ++i)
        waiters.emplace_back(
            [&]
            {
                if (thread.Wait(PS_INFINITE))
                    ++ended;
            });
    // A Close racing the waiters must not disturb them: it fails while running.
    EXPECT_FALSE(thread.Close());
    thread.m_Release.Set();
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(ended.load(), 6);
    EXPECT_TRUE(thread.Close());
}

TEST(PSThreadBase, DestroyingAnEndedUnclosedThreadReleasesIt)
{
    // Under ThreadSanitizer a thread that is never joined is reported as a leak.
    for (int i = 0; i < 20; ++i)
    {
        ThreadGated thread;
        thread.m_Release.Set();
        ASSERT_TRUE(thread.Start());
        ASSERT_TRUE(thread.Wait(PS_INFINITE));
    }
}

namespace
{
// Waits on an event that lives outside the object, so that it may keep
// running while the object is being destroyed.
class ThreadOutliving : public PSThreadBase
{
public:
    ThreadOutliving(PSEvent* entered, PSEvent* release) : m_pEntered(entered), m_pRelease(release) {}

protected:
    void Run() override
    {
        PSEvent* release = m_pRelease;
        m_pEntered->Set();
        release->Wait(PS_INFINITE); // no member is touched from here on
    }

private:
    PSEvent* m_pEntered;
    PSEvent* m_pRelease;
};
} // namespace

TEST(PSThreadBase, DestroyingWhileTheThreadRunsWaitsForItInsteadOfLeavingItBehind)
{
    PSEvent entered(true, false), release(true, false), destroyed(true, false);
    PSEvent logged(true, false);
    int sink = SALogSinkAdd(
        [&](uint32_t, std::string_view line)
        {
            if (line.rfind("PSThreadBase::~PSThreadBase failed! Thread ", 0) == 0)
                logged.Set();
        });
    std::thread releaser(
        [&]
        {
            // Release the thread only once the destructor has said it waits.
            EXPECT_EQ(logged.Wait(20000), PS_WAIT_OBJECT_0);
            EXPECT_EQ(destroyed.Wait(0), PS_WAIT_TIMEOUT);
            release.Set();
        });
    {
        auto thread = std::make_unique<ThreadOutliving>(&entered, &release);
        ASSERT_TRUE(thread->Start());
        ASSERT_EQ(entered.Wait(10000), PS_WAIT_OBJECT_0);
        thread.reset();
        destroyed.Set();
    }
    releaser.join();
    SALogSinkRemove(sink);
    EXPECT_EQ(release.Wait(0), PS_WAIT_OBJECT_0);
}

TEST(PSThreadBase, PrioritySetChangesOnlyTheCallingThreadOrLogsOnce)
{
    SATestLogCapture log;
    errno = 0;
    int mainBefore = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    std::atomic<int> raised{1000}, lowered{1000};
    std::atomic<bool> raisedOk{false}, loweredOk{false};
    std::thread worker(
        [&]
        {
            id_t self = static_cast<id_t>(syscall(SYS_gettid));
            raisedOk = PSThreadBase::PrioritySet(PS_THREAD_PRIORITY_TIME_CRITICAL);
            PSThreadBase::PrioritySet(PS_THREAD_PRIORITY_TIME_CRITICAL);
            raised = getpriority(PRIO_PROCESS, self);
            loweredOk = PSThreadBase::PrioritySet(PS_THREAD_PRIORITY_NORMAL);
            lowered = getpriority(PRIO_PROCESS, self);
        });
    worker.join();
    if (raisedOk)
    {
        EXPECT_LT(raised.load(), 0);
    }
    if (loweredOk)
    {
        EXPECT_EQ(lowered.load(), 0);
    }
    EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))), mainBefore);
    // Refused or not: at most one line for the whole process.
    size_t refusals = 0;
    for (const std::string& line : log.Lines())
        refusals += line.rfind("PSThreadBase::PrioritySet setpriority failed!", 0) == 0 ? 1 : 0;
    EXPECT_LE(refusals, 1u);
}
