// PSTaskQueue with its PSThreadTaskQueue workers: order, parallelism, stop,
// refusal, restart.
#include "SATestJobs.h"
#include "SATestLogCapture.h"
#include "core/PSEvent.h"
#include "core/PSTaskQueue.h"
#include "core/PSTime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(PSTaskQueue, OneWorkerRunsJobsStrictlyInSubmissionOrder)
{
    SATestJobTally tally;
    {
        PSTaskQueue queue(1);
        ASSERT_TRUE(queue.Start());
        for (int i = 0; i < 500; ++i)
            queue.TaskSubmit(new SATestJobSelfOwned(tally, i));
        queue.Stop();
    }
    ASSERT_EQ(tally.executed.load(), 500);
    EXPECT_EQ(tally.destroyed.load(), 500);
    EXPECT_EQ(tally.insideMax.load(), 1);
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(tally.order[static_cast<size_t>(i)], i);
}

TEST(PSTaskQueue, SubmissionsFromSeveralThreadsKeepEachThreadsOrderOnOneWorker)
{
    SATestJobTally tally;
    PSTaskQueue queue(1);
    ASSERT_TRUE(queue.Start());
    std::vector<std::thread> submitters;
    for (int t = 0; t < 4; ++t)
        submitters.emplace_back(
            [&, t]
            {
                for (int i = 0; i < 200; ++i)
                    queue.TaskSubmit(new SATestJobSelfOwned(tally, t * 1000 + i));
            });
    for (auto& submitter : submitters)
        submitter.join();
    queue.Stop();
    ASSERT_EQ(tally.executed.load(), 800);
    int last[4] = {-1, -1, -1, -1};
    for (int index : tally.order)
    {
        int t = index / 1000, i = index % 1000;
        EXPECT_GT(i, last[t]);
        last[t] = i;
    }
}

TEST(PSTaskQueue, FourWorkersRunUpToFourJobsAtOnce)
{
    SATestJobTally tally;
    PSEvent allInside(true, false);
    PSTaskQueue queue(4);
    ASSERT_TRUE(queue.Start());
    // The first four jobs wait until all four are inside at the same time;
    // with fewer than four workers this could never happen.
    for (int i = 0; i < 4; ++i)
        queue.TaskSubmit(new SATestJobSelfOwned(tally, i,
                                                [&]
                                                {
                                                    if (tally.inside.load() == 4)
                                                        allInside.Set();
                                                    allInside.Wait(20000);
                                                }));
    for (int i = 4; i < 40; ++i)
        queue.TaskSubmit(new SATestJobSelfOwned(tally, i));
    EXPECT_EQ(allInside.Wait(20000), PS_WAIT_OBJECT_0);
    queue.Stop();
    EXPECT_EQ(tally.executed.load(), 40);
    EXPECT_EQ(tally.insideMax.load(), 4);
    EXPECT_EQ(tally.destroyed.load(), 40);
}

// A worker is woken only when it sleeps with nothing to do; one that is just
// falling asleep as a job comes in must still see that job. One worker and
// one submitter that waits for each job before the next make that moment
// come round at every job; a lost wake-up leaves a job waiting for good.
// An idle worker spins a while before it sleeps, so every other job comes
// after a pause that sweeps across the end of that spin: just before, just
// as and just after the worker gives up spinning.
TEST(PSTaskQueue, EveryJobRunsWhileTheWorkerKeepsFallingAsleep)
{
    SATestJobTally tally;
    PSTaskQueue queue(1);
    ASSERT_TRUE(queue.Start());
    int stuck = 0;
    for (int i = 0; i < 20000 && stuck == 0; ++i)
    {
        if (i % 2 == 0)
        {
            // Up to 20 us either side of the spin's end, in steps of 250 ns.
            const uint64_t pause =
                PS_SPIN_WAIT_US * 1000ULL - 20000 + static_cast<uint64_t>((i / 2) % 161) * 250;
            const uint64_t until = PSTimeNanoseconds() + pause;
            while (PSTimeNanoseconds() < until)
                std::this_thread::yield();
        }
        PSEvent done(true, false);
        queue.TaskSubmit(new SATestJobSelfOwned(tally, i, [&] { done.Set(); }));
        if (done.Wait(20000) != PS_WAIT_OBJECT_0)
            ++stuck;
    }
    EXPECT_EQ(stuck, 0);
    queue.Stop();
    EXPECT_EQ(tally.executed.load(), 20000);
}

// An idle worker spins briefly for the next job only while jobs come often:
// one submitted as soon as the last is done is caught by the spin, while
// jobs paced by their sender (a frame's bands every few milliseconds) leave
// the worker idle far longer, and a spin after each would only burn CPU.
TEST(PSTaskQueue, WorkersSpinForTheNextJobOnlyWhileJobsComeOften)
{
    SATestJobTally tally;
    PSTaskQueue queue(1);
    ASSERT_TRUE(queue.Start());
    const auto runOne = [&](int i)
    {
        PSEvent done(true, false);
        queue.TaskSubmit(new SATestJobSelfOwned(tally, i, [&] { done.Set(); }));
        return done.Wait(20000) == PS_WAIT_OBJECT_0;
    };
    for (int i = 0; i < 30; ++i)
    {
        PSTimeSleep(PS_SPIN_PAUSE_US / 1000 + 2);
        ASSERT_TRUE(runOne(i));
    }
    // The one spin allowed: the worker's first, before any pause was seen.
    EXPECT_LE(queue.SpinsGet(), 1u);
    // Jobs a fraction of a spin apart: the worker goes idle between them.
    const uint64_t paced = queue.SpinsGet();
    // The submitter watches for each job's end instead of sleeping on it: a
    // wake-up in a busy virtual machine can take longer than a spin, which
    // would space the jobs wider than asked.
    const auto runSpaced = [&](int first, uint64_t apartNs)
    {
        for (int i = first; i < first + 200; ++i)
        {
            const uint64_t until = PSTimeNanoseconds() + apartNs;
            while (PSTimeNanoseconds() < until)
                std::this_thread::yield();
            PSEvent done(true, false);
            queue.TaskSubmit(new SATestJobSelfOwned(tally, i, [&] { done.Set(); }));
            const uint64_t deadline = PSTimeNanoseconds() + 20000000000ULL;
            while (done.Wait(0) != PS_WAIT_OBJECT_0)
            {
                ASSERT_LT(PSTimeNanoseconds(), deadline);
                std::this_thread::yield();
            }
        }
    };
    runSpaced(30, PS_SPIN_WAIT_US * 1000ULL / 4);
    EXPECT_GE(queue.SpinsGet() - paced, 150u);
    // Jobs a few spins apart but well within PS_SPIN_PAUSE_US: the spins
    // miss, so after a few the worker mostly sleeps at once.
    const uint64_t missing = queue.SpinsGet();
    runSpaced(230, PS_SPIN_WAIT_US * 3000ULL);
    EXPECT_LE(queue.SpinsGet() - missing, 200u / PS_SPIN_PROBE_EVERY + PS_SPIN_SCORE_MAX + 20);
    // And once they come often again, it spins again.
    const uint64_t again = queue.SpinsGet();
    runSpaced(430, PS_SPIN_WAIT_US * 1000ULL / 4);
    EXPECT_GE(queue.SpinsGet() - again, 150u);
    queue.Stop();
}

TEST(PSTaskQueue, IdleEventFollowsOutstandingJobs)
{
    SATestJobTally tally;
    PSEvent release(true, false);
    PSTaskQueue queue(4);
    EXPECT_EQ(queue.IdleEventGet().Wait(0), PS_WAIT_OBJECT_0);
    ASSERT_TRUE(queue.Start());
    for (int i = 0; i < 8; ++i)
        queue.TaskSubmit(new SATestJobSelfOwned(tally, i, [&] { release.Wait(PS_INFINITE); }));
    EXPECT_EQ(queue.IdleEventGet().Wait(0), PS_WAIT_TIMEOUT);
    release.Set();
    EXPECT_EQ(queue.IdleEventGet().Wait(PS_INFINITE), PS_WAIT_OBJECT_0);
    EXPECT_EQ(tally.executed.load(), 8);
    queue.Stop();
}

// The frame buffer processor presents as soon as the idle event comes: it
// must not come while any job of the frame still runs, with jobs that end at
// once, while other workers still spin for more, or long after they sleep.
TEST(PSTaskQueue, IdleEventComesOnlyWhenEveryJobHasFinished)
{
    SATestJobTally tally;
    PSTaskQueue queue(4);
    ASSERT_TRUE(queue.Start());
    const uint32_t lengthsUs[] = {0, 20, PS_SPIN_WAIT_US / 2, PS_SPIN_WAIT_US * 2, 3000};
    int submitted = 0;
    int early = 0;
    for (int round = 0; round < 400; ++round)
    {
        for (int j = 0; j < 4; ++j)
        {
            const uint32_t us =
                lengthsUs[static_cast<size_t>(round + j * 3) % 5] * static_cast<uint32_t>(j == 3);
            queue.TaskSubmit(new SATestJobSelfOwned(tally, submitted++,
                                                    [us]
                                                    {
                                                        const uint64_t until =
                                                            PSTimeNanoseconds() + us * 1000ULL;
                                                        while (PSTimeNanoseconds() < until)
                                                            std::this_thread::yield();
                                                    }));
        }
        queue.IdleEventGet().Wait(PS_INFINITE);
        if (tally.executed.load() != submitted)
            ++early;
    }
    EXPECT_EQ(early, 0);
    queue.Stop();
}

TEST(PSTaskQueue, StopRunsQueuedJobsFirstAndRefusesLaterOnes)
{
    SATestLogCapture log;
    SATestJobTally tally;
    PSEvent release(true, false);
    PSTaskQueue queue(1);
    ASSERT_TRUE(queue.Start());
    queue.TaskSubmit(new SATestJobSelfOwned(tally, 0, [&] { release.Wait(PS_INFINITE); }));
    for (int i = 1; i <= 10; ++i)
        queue.TaskSubmit(new SATestJobSelfOwned(tally, i));

    std::atomic<bool> stopped{false};
    std::thread stopper(
        [&]
        {
            queue.Stop();
            stopped = true;
        });
    // Probe until a submission is refused: from then on Stop has begun.
    int accepted = 0;
    for (;;)
    {
        int refusedBefore = tally.refused.load();
        queue.TaskSubmit(new SATestJobSelfOwned(tally, 100 + accepted));
        if (tally.refused.load() != refusedBefore)
            break; // refused synchronously, inside TaskSubmit
        ++accepted;
        PSTimeSleep(1);
    }
    EXPECT_FALSE(stopped.load()); // the first job still holds the worker
    EXPECT_EQ(tally.executed.load(), 0);
    release.Set();
    stopper.join();

    EXPECT_EQ(tally.executed.load(), 11 + accepted);
    EXPECT_EQ(tally.refused.load(), 1);
    EXPECT_EQ(tally.destroyed.load(), 12 + accepted);
    // Jobs queued before Stop ran in order.
    for (int i = 0; i <= 10; ++i)
        EXPECT_EQ(tally.order[static_cast<size_t>(i)], i);

    // Still stopping after Stop: refused and freed at once, never run.
    queue.TaskSubmit(new SATestJobSelfOwned(tally, 999));
    EXPECT_EQ(tally.refused.load(), 2);
    EXPECT_EQ(tally.destroyed.load(), 13 + accepted);
    EXPECT_EQ(tally.executed.load(), 11 + accepted);
}

TEST(PSTaskQueue, QueueRestartedAfterStopRunsJobsAgain)
{
    SATestLogCapture log;
    SATestJobTally tally;
    PSTaskQueue queue(2);
    for (int round = 1; round <= 5; ++round)
    {
        ASSERT_TRUE(queue.Start());
        for (int i = 0; i < 20; ++i)
            queue.TaskSubmit(new SATestJobSelfOwned(tally, i));
        queue.Stop();
        EXPECT_EQ(tally.executed.load(), 20 * round);
    }
    EXPECT_EQ(tally.refused.load(), 0);
    EXPECT_EQ(log.CountWithCategory("PSTaskQueue::Start failed!\n", SA_LOG_FAILURE), 0u);
}

TEST(PSTaskQueue, JobsSubmittedBeforeStartRunAfterIt)
{
    SATestJobTally tally;
    PSTaskQueue queue(1);
    for (int i = 0; i < 5; ++i)
        queue.TaskSubmit(new SATestJobSelfOwned(tally, i));
    EXPECT_EQ(queue.IdleEventGet().Wait(0), PS_WAIT_TIMEOUT);
    ASSERT_TRUE(queue.Start());
    queue.Stop();
    EXPECT_EQ(tally.executed.load(), 5);
}

TEST(PSTaskQueue, StartWhileRunningFailsAndEndsTheWorkersUntilTheNextStart)
{
    SATestLogCapture log;
    SATestJobTally tally;
    PSTaskQueue queue(1);
    ASSERT_TRUE(queue.Start());
    EXPECT_FALSE(queue.Start());
    EXPECT_EQ(log.CountWithCategory("PSTaskQueue::Start failed!\n", SA_LOG_FAILURE), 1u);
    size_t exiting = 0;
    for (const std::string& line : log.Lines())
        exiting += line.rfind("PSThreadTaskQueue::Run exiting (", 0) == 0 ? 1 : 0;
    EXPECT_EQ(exiting, 1u); // the running worker was ended by the failed Start

    // The worker has ended: a job is queued but nothing runs it.
    queue.TaskSubmit(new SATestJobSelfOwned(tally, 0));
    EXPECT_EQ(queue.IdleEventGet().Wait(0), PS_WAIT_TIMEOUT);
    EXPECT_EQ(tally.executed.load(), 0);

    ASSERT_TRUE(queue.Start());
    queue.Stop();
    EXPECT_EQ(tally.executed.load(), 1);
}

TEST(PSTaskQueue, WorkersLogStartAndEndWithTheirThreadIds)
{
    SATestLogCapture log;
    PSTaskQueue queue(2);
    ASSERT_TRUE(queue.Start());
    queue.Stop();
    size_t starting = 0, exiting = 0;
    for (const std::string& line : log.Lines())
    {
        starting += line.rfind("PSThreadTaskQueue::Run starting (", 0) == 0 ? 1 : 0;
        exiting += line.rfind("PSThreadTaskQueue::Run exiting (", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(starting, 2u);
    EXPECT_EQ(exiting, 2u);
}

TEST(PSTaskQueue, NoWorkersStartsRunsNothingAndStopRefusesWhatWasQueued)
{
    SATestJobTally tally;
    PSTaskQueue queue(0);
    EXPECT_EQ(queue.WorkerCountGet(), 0u);
    ASSERT_TRUE(queue.Start());
    for (int i = 0; i < 3; ++i)
        queue.TaskSubmit(new SATestJobSelfOwned(tally, i));
    EXPECT_EQ(tally.executed.load(), 0);
    queue.Stop(); // would wait forever for jobs no worker can run
    EXPECT_EQ(tally.executed.load(), 0);
    EXPECT_EQ(tally.refused.load(), 3);
    EXPECT_EQ(tally.destroyed.load(), 3);
    EXPECT_EQ(queue.IdleEventGet().Wait(0), PS_WAIT_OBJECT_0);
}

TEST(PSTaskQueue, StopOnNeverStartedQueueRefusesPendingJobs)
{
    SATestJobTally tally;
    PSTaskQueue queue(1);
    queue.TaskSubmit(new SATestJobSelfOwned(tally, 0));
    queue.Stop();
    EXPECT_EQ(tally.refused.load(), 1);
    EXPECT_EQ(tally.destroyed.load(), 1);
    // A later Start clears the stopping flag and the queue works normally.
    ASSERT_TRUE(queue.Start());
    queue.TaskSubmit(new SATestJobSelfOwned(tally, 1));
    queue.Stop();
    EXPECT_EQ(tally.executed.load(), 1);
}

TEST(PSTaskQueue, JobsMaySubmitFurtherJobsToTheirOwnQueue)
{
    SATestLogCapture log;
    SATestJobTally tally;
    PSTaskQueue queue(4);
    ASSERT_TRUE(queue.Start());
    for (int i = 0; i < 10; ++i)
        queue.TaskSubmit(
            new SATestJobSelfOwned(tally, i,
                                   [&, i]
                                   {
                                       queue.TaskSubmit(new SATestJobSelfOwned(tally, 100 + i));
                                       queue.Stop(); // refused on a worker: it would wait for itself
                                   }));
    queue.Stop();
    EXPECT_EQ(tally.executed.load() + tally.refused.load(), 20);
    EXPECT_EQ(tally.destroyed.load(), 20);
    EXPECT_EQ(log.Count("PSTaskQueue::Stop failed! Called from its own worker\n"), 10u);
}

TEST(PSTaskQueue, DestroyingARunningQueueStopsItSoQueuedJobsRunAndWorkersEnd)
{
    SATestLogCapture log;
    SATestJobTally tally;
    {
        PSTaskQueue queue(2);
        ASSERT_TRUE(queue.Start());
        for (int i = 0; i < 10; ++i)
            queue.TaskSubmit(new SATestJobSelfOwned(tally, i));
    }
    EXPECT_EQ(tally.executed.load(), 10);
    EXPECT_EQ(tally.destroyed.load(), 10);
    EXPECT_EQ(log.Count("PSTaskQueue::~PSTaskQueue failed! Still running, stopping it\n"), 1u);
}

TEST(PSTaskQueue, DestroyingANeverStartedQueueRefusesItsPendingJobs)
{
    SATestLogCapture log;
    SATestJobTally tally;
    {
        PSTaskQueue queue(1);
        queue.TaskSubmit(new SATestJobSelfOwned(tally, 0));
    }
    EXPECT_EQ(tally.executed.load(), 0);
    EXPECT_EQ(tally.refused.load(), 1);
    EXPECT_EQ(tally.destroyed.load(), 1);
    EXPECT_EQ(log.Count("PSTaskQueue::~PSTaskQueue failed! Still running, stopping it\n"), 0u);
}
