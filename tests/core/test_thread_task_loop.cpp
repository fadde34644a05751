// PSThreadTaskLoop with PSTaskAsyncLooped: entry, steps, exit, stop and the
// rules for starting again.
#include "SATestLogCapture.h"
#include "core/PSEvent.h"
#include "core/PSThreadTaskLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace
{
// A looped task that counts its calls. Each step waits for its wake event
// (set by StopRequest or the test) and ends the loop once stop was requested
// or the step budget is used up.
class TaskCounting : public PSTaskAsyncLooped
{
public:
    bool m_EntryResult = true;
    int m_StepBudget = 1000000;
    std::atomic<bool> m_StepsWait{false};
    std::atomic<int> m_Entries{0}, m_Steps{0}, m_Exits{0}, m_StopRequests{0};
    std::atomic<bool> m_Stop{false};
    PSEvent m_Wake{false, false};
    PSEvent m_Running{true, false};
    PSEvent m_ExitEntered{true, false};
    PSEvent m_ExitRelease{true, true};

    bool OnEntry() override
    {
        ++m_Entries;
        return m_EntryResult;
    }
    bool OnExecute() override
    {
        int step = ++m_Steps;
        m_Running.Set();
        if (m_StepsWait)
            m_Wake.Wait(PS_INFINITE);
        return !m_Stop && step < m_StepBudget;
    }
    void OnExit() override
    {
        ++m_Exits;
        m_ExitEntered.Set();
        m_ExitRelease.Wait(PS_INFINITE);
    }
    void StopRequest() override
    {
        ++m_StopRequests;
        m_Stop = true;
        m_Wake.Set();
    }
};
} // namespace

TEST(PSThreadTaskLoop, RunsEntryStepsExitOnceAndLogsStartAndEnd)
{
    SATestLogCapture log;
    PSThreadTaskLoop loop;
    TaskCounting task;
    task.m_StepBudget = 5;
    ASSERT_TRUE(loop.Start(&task));
    ASSERT_TRUE(loop.Wait(PS_INFINITE));
    EXPECT_EQ(task.m_Entries.load(), 1);
    EXPECT_EQ(task.m_Steps.load(), 5);
    EXPECT_EQ(task.m_Exits.load(), 1);
    EXPECT_EQ(loop.TaskGet(), nullptr);

    int id = static_cast<int>(loop.ThreadIdGet());
    EXPECT_EQ(log.CountWithCategory("PSThreadTaskLoop::Run ID:" + std::to_string(id) + " starting...\n",
                                    SA_LOG_THREAD),
              1u);
    EXPECT_EQ(log.CountWithCategory("PSThreadTaskLoop::Run ID:" + std::to_string(id) + " exiting...\n",
                                    SA_LOG_THREAD),
              1u);
}

TEST(PSThreadTaskLoop, EntryRefusedStillGivesExactlyOneExit)
{
    PSThreadTaskLoop loop;
    TaskCounting task;
    task.m_EntryResult = false;
    ASSERT_TRUE(loop.Start(&task));
    ASSERT_TRUE(loop.Wait(PS_INFINITE));
    EXPECT_EQ(task.m_Entries.load(), 1);
    EXPECT_EQ(task.m_Steps.load(), 0);
    EXPECT_EQ(task.m_Exits.load(), 1);
    EXPECT_EQ(loop.TaskGet(), nullptr);
}

TEST(PSThreadTaskLoop, StartWhileRunningFailsAndLeavesTheRunningLoopAlone)
{
    SATestLogCapture log;
    PSThreadTaskLoop loop;
    TaskCounting first, second;
    first.m_StepsWait = true;
    ASSERT_TRUE(loop.Start(&first));
    ASSERT_EQ(first.m_Running.Wait(10000), PS_WAIT_OBJECT_0);

    EXPECT_FALSE(loop.Start(&second));
    EXPECT_EQ(log.Count("PSThreadTaskLoop::Start failed! Already running... (this should never happen)\n"),
              1u);
    EXPECT_EQ(loop.TaskGet(), &first);
    EXPECT_EQ(second.m_Entries.load(), 0);
    EXPECT_EQ(second.m_Exits.load(), 0);

    // The first loop is still alive: it takes further steps and stops on request.
    first.m_Wake.Set();
    first.m_Wake.Set();
    loop.Stop();
    EXPECT_EQ(first.m_StopRequests.load(), 1);
    EXPECT_EQ(first.m_Exits.load(), 1);
    EXPECT_GE(first.m_Steps.load(), 1);
    EXPECT_EQ(loop.TaskGet(), nullptr);
}

TEST(PSThreadTaskLoop, RestartAfterEndedThreadWhoseHandleWasNeverClosed)
{
    SATestLogCapture log;
    PSThreadTaskLoop loop;
    TaskCounting task;
    task.m_StepBudget = 2;
    ASSERT_TRUE(loop.Start(&task));
    ASSERT_TRUE(loop.Wait(PS_INFINITE)); // ended, handle still stored

    ASSERT_TRUE(loop.Start(&task)); // first attempt refused, old handle closed, second attempt runs
    ASSERT_TRUE(loop.Wait(PS_INFINITE));
    EXPECT_EQ(task.m_Entries.load(), 2);
    EXPECT_EQ(task.m_Exits.load(), 2);
    EXPECT_EQ(log.Count("PSThreadTaskLoop::Start failed! Previous instance not uninitialized properly\n"),
              0u);
    EXPECT_EQ(log.Count("PSThreadTaskLoop::Start failed! Already running... (this should never happen)\n"),
              0u);
    EXPECT_EQ(log.Count("PSThreadBase::Wait WaitForSingleObject failed! dwWaitResult 258\n"), 0u);
}

TEST(PSThreadTaskLoop, StartWhilePreviousThreadIsStillInItsExitFails)
{
    SATestLogCapture log;
    PSThreadTaskLoop loop;
    TaskCounting task;
    task.m_StepBudget = 1;
    task.m_ExitRelease.Reset();
    ASSERT_TRUE(loop.Start(&task));
    ASSERT_EQ(task.m_ExitEntered.Wait(10000), PS_WAIT_OBJECT_0);

    // The loop is idle (no current task) but its thread has not ended.
    EXPECT_EQ(loop.TaskGet(), nullptr);
    TaskCounting next;
    EXPECT_FALSE(loop.Start(&next));
    EXPECT_EQ(log.Count("PSThreadBase::Wait WaitForSingleObject failed! dwWaitResult 258\n"), 1u);
    EXPECT_EQ(log.Count("PSThreadTaskLoop::Start failed! Previous instance not uninitialized properly\n"),
              1u);
    EXPECT_EQ(loop.TaskGet(), nullptr);
    EXPECT_EQ(next.m_Entries.load(), 0);

    task.m_ExitRelease.Set();
    ASSERT_TRUE(loop.Wait(PS_INFINITE));
    next.m_StepBudget = 1;
    ASSERT_TRUE(loop.Start(&next));
    ASSERT_TRUE(loop.Wait(PS_INFINITE));
    EXPECT_EQ(next.m_Entries.load(), 1);
    EXPECT_EQ(next.m_Exits.load(), 1);
    EXPECT_EQ(task.m_Exits.load(), 1);
}

TEST(PSThreadTaskLoop, WaitZeroOnRunningLoopLogsTimeout)
{
    SATestLogCapture log;
    PSThreadTaskLoop loop;
    TaskCounting task;
    task.m_StepsWait = true;
    ASSERT_TRUE(loop.Start(&task));
    ASSERT_EQ(task.m_Running.Wait(10000), PS_WAIT_OBJECT_0);
    EXPECT_FALSE(loop.Wait(0));
    EXPECT_EQ(log.Count("PSThreadBase::Wait WaitForSingleObject failed! dwWaitResult 258\n"), 1u);
    loop.Stop();
    EXPECT_TRUE(loop.Wait(0));
}

TEST(PSThreadTaskLoop, StopOnIdleLoopDoesNothingAndRepeatedCyclesWork)
{
    PSThreadTaskLoop loop;
    TaskCounting task;
    loop.Stop(); // never started: nothing to request, nothing to wait for
    EXPECT_EQ(task.m_StopRequests.load(), 0);
    task.m_StepsWait = true;
    for (int cycle = 1; cycle <= 10; ++cycle)
    {
        task.m_Stop = false;
        task.m_Running.Reset();
        ASSERT_TRUE(loop.Start(&task));
        ASSERT_EQ(task.m_Running.Wait(10000), PS_WAIT_OBJECT_0);
        loop.Stop();
        EXPECT_EQ(task.m_Exits.load(), cycle);
        EXPECT_EQ(task.m_StopRequests.load(), cycle);
    }
}

TEST(PSThreadTaskLoop, DestroyingARunningLoopStopsItFirst)
{
    SATestLogCapture log;
    TaskCounting task; // outlives the loop, as a member of the loop's owner would
    {
        PSThreadTaskLoop loop;
        task.m_StepsWait = true;
        ASSERT_TRUE(loop.Start(&task));
        ASSERT_EQ(task.m_Running.Wait(10000), PS_WAIT_OBJECT_0);
    }
    EXPECT_EQ(task.m_StopRequests.load(), 1);
    EXPECT_EQ(task.m_Exits.load(), 1);
    EXPECT_EQ(log.Count("PSThreadTaskLoop::~PSThreadTaskLoop failed! Still running, stopping it\n"), 1u);
}
