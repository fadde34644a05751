#include "core/PSEvent.h"
#include "core/PSMemory.h"
#include "core/PSTime.h"
#include "core/SALog.h"
#include "core/SAUtilAddress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace
{
struct LogCapture
{
    std::mutex lock;
    std::vector<std::string> lines;
    int id;
    LogCapture()
    {
        id = SALogSinkAdd(
            [this](uint32_t, std::string_view line)
            {
                std::lock_guard<std::mutex> guard(lock);
                lines.emplace_back(line);
            });
    }
    ~LogCapture() { SALogSinkRemove(id); }
};
} // namespace

TEST(SALog, MaskFiltersCategoriesAndLinesAreCutAtTheBuffer)
{
    uint32_t saved = SALogMaskGet();
    SALogMaskSet(SA_LOG_MASK_DEFAULT);
    LogCapture capture;
    SALog(SA_LOG_FAILURE, "failure %d\n", 1);
    SALog(SA_LOG_RENDER, "render trace\n");           // 0x2 is not in 0x121
    SALog(SA_LOG_FSTM, "state machine %s\n", "line"); // 0x20 is
    SALog(SA_LOG_ALWAYS, "always\n");
    std::string longText(10000, 'x');
    SALog(SA_LOG_FAILURE, "%s", longText.c_str());
    SALogMaskSet(saved);

    ASSERT_EQ(capture.lines.size(), 4u);
    EXPECT_EQ(capture.lines[0], "failure 1\n");
    EXPECT_EQ(capture.lines[1], "state machine line\n");
    EXPECT_EQ(capture.lines[2], "always\n");
    EXPECT_EQ(capture.lines[3].size(), SA_LOG_BUFFER_CHARS - 1);
}

TEST(PSEvent, AutoResetReleasesOneWaitAndManualResetStays)
{
    PSEvent autoEvent(false, false);
    EXPECT_EQ(autoEvent.Wait(0), PS_WAIT_TIMEOUT);
    autoEvent.Set();
    EXPECT_EQ(autoEvent.Wait(0), PS_WAIT_OBJECT_0);
    EXPECT_EQ(autoEvent.Wait(0), PS_WAIT_TIMEOUT);

    PSEvent manual(true, true);
    EXPECT_EQ(manual.Wait(0), PS_WAIT_OBJECT_0);
    EXPECT_EQ(manual.Wait(0), PS_WAIT_OBJECT_0);
    manual.Reset();
    EXPECT_EQ(manual.Wait(10), PS_WAIT_TIMEOUT);
}

TEST(PSEvent, WaitAnyPrefersTheLowestIndexAndWakesAcrossThreads)
{
    PSEvent stop(false, false), update(false, false);
    PSEvent* both[] = {&stop, &update};
    stop.Set();
    update.Set();
    EXPECT_EQ(PSEvent::WaitAny(both, 2, 0), PS_WAIT_OBJECT_0);
    EXPECT_EQ(PSEvent::WaitAny(both, 2, 0), PS_WAIT_OBJECT_0 + 1);
    EXPECT_EQ(PSEvent::WaitAny(both, 2, 0), PS_WAIT_TIMEOUT);

    std::atomic<uint32_t> result{999};
    std::thread waiter([&] { result = PSEvent::WaitAny(both, 2, PS_INFINITE); });
    PSTimeSleep(20);
    update.Set();
    waiter.join();
    EXPECT_EQ(result.load(), PS_WAIT_OBJECT_0 + 1);

    uint64_t before = PSTimeTickCount64();
    EXPECT_EQ(PSEvent::WaitAny(both, 2, 50), PS_WAIT_TIMEOUT);
    EXPECT_GE(PSTimeTickCount64() - before, 45u);
}

TEST(SAUtilAddress, ConvertsHostOrderAddressesBothWays)
{
    EXPECT_EQ(SAUtilAddressText(0x7F000001), "127.0.0.1");
    EXPECT_EQ(SAUtilAddressText(0xC0A80114), "192.168.1.20");
    uint32_t address = 1;
    EXPECT_TRUE(SAUtilAddressParse("10.0.0.5", address));
    EXPECT_EQ(address, 0x0A000005u);
    EXPECT_FALSE(SAUtilAddressParse("not an address", address));
    EXPECT_EQ(address, 0u);
    EXPECT_FALSE(SAUtilAddressParse("10.0.0.256", address));
}

#if defined(__GLIBC__)
// A packet-sized block taken and freed on a worker thread must come from the
// heap and stay there: a mapping of its own, or a heap handed back on free,
// costs a page fault per page for every packet that follows.
TEST(PSMemory, LargeBlocksOfAWorkerComeFromTheHeapAndStayThere)
{
    PSMemoryLargeBlocksKeep();
    std::thread worker(
        []
        {
            constexpr size_t BLOCK = size_t(24) << 20;
            const struct mallinfo2 before = mallinfo2();
            auto* block = static_cast<volatile char*>(std::malloc(BLOCK));
            ASSERT_NE(block, nullptr);
            block[0] = 1;
            block[BLOCK - 1] = 1;
            const struct mallinfo2 held = mallinfo2();
            std::free(const_cast<char*>(block));
            const struct mallinfo2 after = mallinfo2();
            EXPECT_EQ(held.hblks, before.hblks) << "the block was mapped on its own";
            EXPECT_GE(after.arena, held.arena) << "the heap was given back on free";
        });
    worker.join();
}
#endif
