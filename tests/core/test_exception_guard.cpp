// Faults inside guarded jobs: PSExceptionGuard on its own and inside the
// task queue workers. These tests provoke real SIGSEGV, SIGFPE, SIGILL and
// SIGBUS; they run with the sanitizers' own fault handlers switched off.
#include "SATestJobs.h"
#include "SATestLogCapture.h"
#include "core/PSExceptionCode.h"
#include "core/PSExceptionGuard.h"
#include "core/PSTaskQueue.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
// Kept out of the optimiser's and the undefined-behaviour checker's sight, so
// that the faults reach the processor as they would in a decoder bug.
volatile int s_Zero = 0;
volatile int s_DepthLimit = 1 << 30; // far beyond any stack
volatile int* volatile s_pNull = nullptr;
volatile int s_Sink = 0;

__attribute__((noipa, no_sanitize("undefined"))) void FaultDivideByZero()
{
    s_Sink = 100 / s_Zero;
}

__attribute__((noipa, no_sanitize("undefined"))) void FaultNullRead()
{
    s_Sink = *s_pNull;
}

__attribute__((noipa, no_sanitize("undefined"))) void FaultNullWrite()
{
    *s_pNull = 1;
}

__attribute__((noipa)) void FaultIllegalInstruction()
{
    __builtin_trap();
}

__attribute__((noipa, no_sanitize("address", "undefined"))) int FaultStackOverflow(int depth)
{
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    frame[sizeof(frame) - 1] = frame[0];
    if (depth >= s_DepthLimit)
        return 0;
    return FaultStackOverflow(depth + 1) + frame[sizeof(frame) - 1];
}

// A file mapped past its end: reading the page behind the end raises SIGBUS.
struct MappingPastEnd
{
    void* memory = MAP_FAILED;
    size_t size = 0;
    MappingPastEnd()
    {
        char path[] = "/tmp/qm-guard-XXXXXX";
        int fd = mkstemp(path);
        if (fd < 0)
            return;
        unlink(path);
        size = static_cast<size_t>(sysconf(_SC_PAGESIZE)) * 2;
        memory = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0); // the file is empty
        close(fd);
    }
    ~MappingPastEnd()
    {
        if (memory != MAP_FAILED)
            munmap(memory, size);
    }
};

__attribute__((noipa, no_sanitize("address", "undefined"))) int FaultBusRead(const void* memory)
{
    return *static_cast<const volatile char*>(memory);
}

struct GuardResult
{
    bool ok;
    uint32_t code;
};

template <typename Fn> GuardResult GuardRun(Fn&& job)
{
    uint32_t code = 0xFFFFFFFF;
    bool ok = PSExceptionGuard::Run("SATestGuard::Run", job, &code);
    return {ok, code};
}
} // namespace

TEST(PSExceptionCode, NamesUseTheStandardCodesAndUnknownCodesAreLoggedAsNumbers)
{
    EXPECT_STREQ(PSExceptionCodeNameGet(0xC0000005), "EXCEPTION_ACCESS_VIOLATION");
    EXPECT_STREQ(PSExceptionCodeNameGet(0xC0000094), "EXCEPTION_INT_DIVIDE_BY_ZERO");
    EXPECT_STREQ(PSExceptionCodeNameGet(0xC00000FD), "EXCEPTION_STACK_OVERFLOW");
    EXPECT_STREQ(PSExceptionCodeNameGet(0xC000001D), "EXCEPTION_ILLEGAL_INSTRUCTION");
    EXPECT_STREQ(PSExceptionCodeNameGet(0xC0000090), "STATUS_FLOAT_INVALID_OPERATION");
    EXPECT_STREQ(PSExceptionCodeNameGet(0x80000029), "STATUS_UNWIND_CONSOLIDATE");
    EXPECT_STREQ(PSExceptionCodeNameGet(0x80000002), "EXCEPTION_DATATYPE_MISALIGNMENT");
    EXPECT_EQ(PSExceptionCodeNameGet(0xC0000006), nullptr);
    EXPECT_EQ(PSExceptionCodeNameGet(0), nullptr);

    SATestLogCapture log;
    PSExceptionCodeLog(0xC0000096);
    PSExceptionCodeLog(0xC0000006);
    PSExceptionCodeLog(42);
    EXPECT_EQ(log.CountWithCategory("EXCEPTION_PRIV_INSTRUCTION\n", SA_LOG_FAILURE), 1u);
    EXPECT_EQ(log.CountWithCategory("EXCEPTION_XXX -1073741818 unknown\n", SA_LOG_FAILURE), 1u);
    EXPECT_EQ(log.CountWithCategory("EXCEPTION_XXX 42 unknown\n", SA_LOG_FAILURE), 1u);
}

TEST(PSExceptionGuard, NormalJobRunsAndLogsNothing)
{
    SATestLogCapture log;
    int value = 0;
    GuardResult result = GuardRun([&] { value = 7; });
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.code, 0u);
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(log.Lines().empty());
}

TEST(PSExceptionGuard, AccessViolationIsCaughtLoggedAndTheThreadGoesOn)
{
    SATestLogCapture log;
    for (int round = 0; round < 3; ++round)
    {
        GuardResult read = GuardRun([] { FaultNullRead(); });
        EXPECT_FALSE(read.ok);
        EXPECT_EQ(read.code, PS_EXCEPTION_ACCESS_VIOLATION);
        GuardResult write = GuardRun([] { FaultNullWrite(); });
        EXPECT_FALSE(write.ok);
        EXPECT_EQ(write.code, PS_EXCEPTION_ACCESS_VIOLATION);
    }
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 12u);
    for (size_t i = 0; i < lines.size(); i += 2)
    {
        EXPECT_EQ(lines[i], "SATestGuard::Run failed! Exception\n");
        EXPECT_EQ(lines[i + 1], "EXCEPTION_ACCESS_VIOLATION\n");
    }
    EXPECT_TRUE(GuardRun([] {}).ok);
}

TEST(PSExceptionGuard, IntegerDivisionByZeroIsCaught)
{
    SATestLogCapture log;
    GuardResult result = GuardRun([] { FaultDivideByZero(); });
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.code, PS_EXCEPTION_INT_DIVIDE_BY_ZERO);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"SATestGuard::Run failed! Exception\n",
                                                     "EXCEPTION_INT_DIVIDE_BY_ZERO\n"}));
}

TEST(PSExceptionGuard, IllegalInstructionIsCaught)
{
    SATestLogCapture log;
    GuardResult result = GuardRun([] { FaultIllegalInstruction(); });
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.code, PS_EXCEPTION_ILLEGAL_INSTRUCTION);
    EXPECT_EQ(log.Count("EXCEPTION_ILLEGAL_INSTRUCTION\n"), 1u);
}

TEST(PSExceptionGuard, BusErrorOnMappingPastTheFileEndIsCaughtAsInPageError)
{
    MappingPastEnd mapping;
    ASSERT_NE(mapping.memory, MAP_FAILED);
    SATestLogCapture log;
    GuardResult result = GuardRun([&] { FaultBusRead(mapping.memory); });
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.code, PS_EXCEPTION_IN_PAGE_ERROR);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"SATestGuard::Run failed! Exception\n",
                                                     "EXCEPTION_XXX -1073741818 unknown\n"}));
}

TEST(PSExceptionGuard, StackOverflowIsCaughtOnTheAlternateStack)
{
    SATestLogCapture log;
    // Twice on the same thread: the first overflow must not use up the
    // thread's ability to catch the next one.
    for (int round = 0; round < 2; ++round)
    {
        GuardResult result = GuardRun([] { FaultStackOverflow(0); });
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.code, PS_EXCEPTION_STACK_OVERFLOW);
    }
    EXPECT_EQ(log.Count("EXCEPTION_STACK_OVERFLOW\n"), 2u);

    // And on a thread of its own, which gets its own alternate stack.
    GuardResult onThread{true, 0};
    std::thread other([&] { onThread = GuardRun([] { FaultStackOverflow(0); }); });
    other.join();
    EXPECT_FALSE(onThread.ok);
    EXPECT_EQ(onThread.code, PS_EXCEPTION_STACK_OVERFLOW);
}

TEST(PSExceptionGuard, CppExceptionLogsTheFirstLineOnly)
{
    SATestLogCapture log;
    GuardResult result = GuardRun([] { throw std::runtime_error("job failed"); });
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.code, 0u);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"SATestGuard::Run failed! Exception\n"}));
}

TEST(PSExceptionGuard, InnermostGuardCatchesAndTheOuterJobContinues)
{
    SATestLogCapture log;
    bool innerOk = true;
    bool outerContinued = false;
    bool outerOk = PSExceptionGuard::Run("SATestGuard::Outer",
                                         [&]
                                         {
                                             innerOk = PSExceptionGuard::Run("SATestGuard::Inner",
                                                                             [] { FaultNullRead(); });
                                             outerContinued = true;
                                         });
    EXPECT_FALSE(innerOk);
    EXPECT_TRUE(outerContinued);
    EXPECT_TRUE(outerOk);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"SATestGuard::Inner failed! Exception\n",
                                                     "EXCEPTION_ACCESS_VIOLATION\n"}));

    // After the inner guard is gone, a fault in the outer job is the outer's.
    bool outerCaught = PSExceptionGuard::Run("SATestGuard::Outer",
                                             [&]
                                             {
                                                 PSExceptionGuard::Run("SATestGuard::Inner", [] {});
                                                 FaultDivideByZero();
                                             });
    EXPECT_FALSE(outerCaught);
    EXPECT_EQ(log.Count("SATestGuard::Outer failed! Exception\n"), 1u);
}

TEST(PSExceptionGuard, WhatTheAbandonedJobHeldIsGivenBackNewestFirst)
{
    SATestLogCapture log;
    std::mutex lock;
    std::vector<int> released;
    auto record = [](void* list) { static_cast<std::vector<int>*>(list)->push_back(1); };
    auto recordLast = [](void* list) { static_cast<std::vector<int>*>(list)->push_back(2); };
    bool outerHeld = false;
    EXPECT_TRUE(PSExceptionGuard::Run("SATestGuard::Outer",
                                      [&]
                                      {
                                          PSExceptionGuardLock outer(lock);
                                          // The inner job's fault gives back only what the inner job held.
                                          EXPECT_FALSE(PSExceptionGuard::Run(
                                              "SATestGuard::Inner",
                                              [&]
                                              {
                                                  PSExceptionGuard::CleanupToken withdrawn =
                                                      PSExceptionGuard::CleanupPush(recordLast, &released);
                                                  PSExceptionGuard::CleanupPush(record, &released);
                                                  PSExceptionGuard::CleanupPop(withdrawn);
                                                  PSExceptionGuard::CleanupPush(recordLast, &released);
                                                  FaultNullWrite();
                                              }));
                                          outerHeld = !lock.try_lock();
                                      }));
    EXPECT_TRUE(outerHeld);
    EXPECT_EQ(released, (std::vector<int>{2, 1}));
    // A lock held across the fault is free again for the next job.
    EXPECT_FALSE(GuardRun(
                     [&]
                     {
                         PSExceptionGuardLock held(lock);
                         FaultNullRead();
                     })
                     .ok);
    ASSERT_TRUE(lock.try_lock());
    lock.unlock();
    // So is one left behind by a C++ exception; outside a guard nothing is kept.
    released.clear();
    EXPECT_FALSE(GuardRun(
                     [&]
                     {
                         PSExceptionGuard::CleanupPush(record, &released);
                         throw std::runtime_error("job");
                     })
                     .ok);
    PSExceptionGuard::CleanupToken none = PSExceptionGuard::CleanupPush(record, &released);
    EXPECT_EQ(none.m_pFrame, nullptr);
    EXPECT_EQ(released, (std::vector<int>{1}));
}

TEST(PSExceptionGuardDeathTest, FaultOutsideAGuardedJobStillEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PSExceptionGuard::Run("SATestGuard::Run", [] {}); // handlers installed
            FaultNullRead();
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(
        {
            PSExceptionGuard::Run("SATestGuard::Run", [] {});
            FaultDivideByZero();
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGFPE), "");
}

TEST(PSThreadTaskQueue, FaultingJobsAreLoggedAndTheWorkerRunsTheNextJob)
{
    SATestLogCapture log;
    SATestJobTally tally;
    PSTaskQueue queue(1);
    ASSERT_TRUE(queue.Start());
    std::vector<std::unique_ptr<SATestJobBorrowed>> jobs;
    jobs.push_back(std::make_unique<SATestJobBorrowed>(tally, 0));
    jobs.push_back(std::make_unique<SATestJobBorrowed>(tally, 1, [] { FaultDivideByZero(); }));
    jobs.push_back(std::make_unique<SATestJobBorrowed>(tally, 2));
    jobs.push_back(std::make_unique<SATestJobBorrowed>(tally, 3, [] { FaultNullRead(); }));
    jobs.push_back(std::make_unique<SATestJobBorrowed>(tally, 4, [] { FaultStackOverflow(0); }));
    jobs.push_back(std::make_unique<SATestJobBorrowed>(tally, 5, [] { throw std::runtime_error("x"); }));
    jobs.push_back(std::make_unique<SATestJobBorrowed>(tally, 6));
    for (auto& job : jobs)
        queue.TaskSubmit(job.get());
    queue.Stop();

    // The aborted jobs never reached their end: the abandoned-job contract.
    // The others ran, all in order.
    EXPECT_EQ(tally.executed.load(), 3);
    EXPECT_EQ(tally.order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    int divide = log.Find("PSThreadTaskQueue::Run failed! Exception\n");
    ASSERT_GE(divide, 0);
    EXPECT_EQ(log.Find("EXCEPTION_INT_DIVIDE_BY_ZERO\n"), divide + 1);
    int access = log.Find("PSThreadTaskQueue::Run failed! Exception\n", static_cast<size_t>(divide + 1));
    ASSERT_GT(access, divide);
    EXPECT_EQ(log.Find("EXCEPTION_ACCESS_VIOLATION\n"), access + 1);
    int overflow = log.Find("PSThreadTaskQueue::Run failed! Exception\n", static_cast<size_t>(access + 1));
    ASSERT_GT(overflow, access);
    EXPECT_EQ(log.Find("EXCEPTION_STACK_OVERFLOW\n"), overflow + 1);
    EXPECT_EQ(log.CountWithCategory("PSThreadTaskQueue::Run failed! Exception\n", SA_LOG_FAILURE), 4u);
}

TEST(PSThreadTaskQueue, FaultsOnSeveralWorkersAtOnceAreEachCaught)
{
    SATestLogCapture log;
    SATestJobTally tally;
    PSTaskQueue queue(4);
    ASSERT_TRUE(queue.Start());
    std::vector<std::unique_ptr<SATestJobBorrowed>> jobs;
    for (int i = 0; i < 40; ++i)
    {
        if (i % 2 == 0)
            jobs.push_back(std::make_unique<SATestJobBorrowed>(tally, i, [] { FaultNullWrite(); }));
        else
            jobs.push_back(std::make_unique<SATestJobBorrowed>(tally, i));
    }
    for (auto& job : jobs)
        queue.TaskSubmit(job.get());
    queue.Stop();
    EXPECT_EQ(tally.executed.load(), 20);
    EXPECT_EQ(log.Count("PSThreadTaskQueue::Run failed! Exception\n"), 20u);
    EXPECT_EQ(log.Count("EXCEPTION_ACCESS_VIOLATION\n"), 20u);
}
