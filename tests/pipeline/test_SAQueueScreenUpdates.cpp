// SAQueueScreenUpdates: order, markers, ownership, wake-up and notification,
// and concurrent appenders against one taker (run under ThreadSanitizer).
#include "core/PSEvent.h"
#include "net/SAQueueScreenUpdates.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
// Records every post. When given a queue it calls back into it from Post,
// which only works when the queue posts with its lock released.
class RecordingTarget : public SAMessageTarget
{
public:
    explicit RecordingTarget(SAQueueScreenUpdates* queue = nullptr) : m_pQueue(queue) {}
    bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override
    {
        if (m_pQueue)
            m_SeenCount = m_pQueue->CountGet();
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Posts.push_back({message, wParam, lParam});
        return true;
    }
    intptr_t Send(uint32_t, uintptr_t, intptr_t) override { return 0; }

    struct Posted
    {
        uint32_t Message;
        uintptr_t WParam;
        intptr_t LParam;
    };
    std::mutex m_Lock;
    std::vector<Posted> m_Posts;
    SAQueueScreenUpdates* m_pQueue;
    std::atomic<size_t> m_SeenCount{0};
};

std::unique_ptr<uint8_t[]> Block(uint32_t tag, size_t size = 136)
{
    std::unique_ptr<uint8_t[]> block(new uint8_t[size]());
    std::memcpy(block.get(), &tag, sizeof(tag));
    return block;
}

uint32_t TagGet(const SAScreenUpdate& entry)
{
    uint32_t tag = 0;
    std::memcpy(&tag, entry.m_pPacket.get(), sizeof(tag));
    return tag;
}
} // namespace

TEST(SAQueueScreenUpdates, EntriesComeOutInOrderWithTheirMarkersAndBlocks)
{
    RecordingTarget target;
    SAQueueScreenUpdates queue(&target);
    EXPECT_EQ(queue.Take().m_Kind, SAScreenUpdateKind::None);
    EXPECT_TRUE(queue.IsEmpty());

    std::unique_ptr<uint8_t[]> first = Block(1);
    const uint8_t* firstAddress = first.get();
    EXPECT_TRUE(queue.PacketAppend(std::move(first), 136));
    queue.RepaintAppend();
    EXPECT_TRUE(queue.PacketAppend(Block(2, 300), 300));
    queue.FragmentResetAppend();
    EXPECT_TRUE(queue.PacketAppend(Block(3), 136));
    EXPECT_EQ(queue.CountGet(), 5u);

    SAScreenUpdate e = queue.Take();
    ASSERT_EQ(e.m_Kind, SAScreenUpdateKind::Packet);
    EXPECT_EQ(e.m_pPacket.get(), firstAddress); // the block itself travels, not a copy
    EXPECT_EQ(e.m_PacketSize, 136u);
    EXPECT_EQ(queue.Take().m_Kind, SAScreenUpdateKind::Repaint);
    e = queue.Take();
    ASSERT_EQ(e.m_Kind, SAScreenUpdateKind::Packet);
    EXPECT_EQ(TagGet(e), 2u);
    EXPECT_EQ(e.m_PacketSize, 300u);
    EXPECT_EQ(queue.Take().m_Kind, SAScreenUpdateKind::FragmentReset);
    e = queue.Take();
    EXPECT_EQ(TagGet(e), 3u);
    EXPECT_EQ(queue.Take().m_Kind, SAScreenUpdateKind::None);
    EXPECT_EQ(queue.Take().m_Kind, SAScreenUpdateKind::None);

    // The marker values are those of the original pointer-sized entries.
    EXPECT_EQ(uintptr_t(SAScreenUpdateKind::Repaint), 1u);
    EXPECT_EQ(uintptr_t(SAScreenUpdateKind::FragmentReset), 2u);

    // One status refresh per append, nothing for takes.
    ASSERT_EQ(target.m_Posts.size(), 5u);
    for (const auto& p : target.m_Posts)
    {
        EXPECT_EQ(p.Message, 0x800Cu);
        EXPECT_EQ(p.WParam, 0u);
        EXPECT_EQ(p.LParam, 0);
    }
}

TEST(SAQueueScreenUpdates, NullBlockIsRefused)
{
    RecordingTarget target;
    SAQueueScreenUpdates queue(&target);
    EXPECT_FALSE(queue.PacketAppend(nullptr, 128));
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_TRUE(target.m_Posts.empty());
}

TEST(SAQueueScreenUpdates, DestroyingTheQueueFreesTheBlocksItHolds)
{
    // LeakSanitizer (address build) reports any block left behind.
    SAQueueScreenUpdates queue(nullptr);
    for (uint32_t i = 0; i < 20; ++i)
        queue.PacketAppend(Block(i, 1000 + i), 1000 + i);
    queue.RepaintAppend();
    EXPECT_EQ(queue.CountGet(), 21u);
}

TEST(SAQueueScreenUpdates, WakeEventIsSetPerAppendAndOnRegistrationWhenEntriesWait)
{
    SAQueueScreenUpdates queue(nullptr);
    PSEvent wake(false, false);

    // Before a processor registers, appends wake nobody ...
    queue.RepaintAppend();
    EXPECT_EQ(wake.Wait(0), PS_WAIT_TIMEOUT);
    // ... and registering with entries waiting wakes it at once.
    queue.WakeEventSet(&wake);
    EXPECT_EQ(wake.Wait(0), PS_WAIT_OBJECT_0);
    EXPECT_EQ(queue.Take().m_Kind, SAScreenUpdateKind::Repaint);

    // Registering on an empty queue does not.
    queue.WakeEventSet(&wake);
    EXPECT_EQ(wake.Wait(0), PS_WAIT_TIMEOUT);

    queue.FragmentResetAppend();
    EXPECT_EQ(wake.Wait(0), PS_WAIT_OBJECT_0);
    queue.PacketAppend(Block(1), 136);
    EXPECT_EQ(wake.Wait(0), PS_WAIT_OBJECT_0);

    queue.WakeEventSet(nullptr);
    queue.RepaintAppend();
    EXPECT_EQ(wake.Wait(0), PS_WAIT_TIMEOUT);
}

TEST(SAQueueScreenUpdates, NotificationIsPostedWithTheLockReleased)
{
    // The target reads the queue from inside Post: with the lock still held
    // this would deadlock. It sees the entry already appended.
    SAQueueScreenUpdates* queuePointer = nullptr;
    RecordingTarget target;
    SAQueueScreenUpdates queue(&target);
    queuePointer = &queue;
    target.m_pQueue = queuePointer;
    queue.RepaintAppend();
    EXPECT_EQ(target.m_SeenCount.load(), 1u);
    queue.PacketAppend(Block(1), 136);
    EXPECT_EQ(target.m_SeenCount.load(), 2u);
}

TEST(SAQueueScreenUpdates, ConcurrentAppendersAndOneTakerLoseNothingAndKeepEachOrder)
{
    constexpr uint32_t PRODUCERS = 4;
    constexpr uint32_t PER_PRODUCER = 2000;
    RecordingTarget target;
    SAQueueScreenUpdates queue(&target);
    PSEvent wake(false, false);
    PSEvent done(true, false);
    queue.WakeEventSet(&wake);

    // The taker drains the queue per wake-up, as the processor does.
    std::vector<uint32_t> next(PRODUCERS, 0);
    uint32_t packets = 0, markers = 0;
    bool inOrder = true;
    std::thread taker(
        [&]
        {
            PSEvent* events[2] = {&done, &wake};
            for (;;)
            {
                const uint32_t r = PSEvent::WaitAny(events, 2, PS_INFINITE);
                for (SAScreenUpdate e = queue.Take(); e.m_Kind != SAScreenUpdateKind::None; e = queue.Take())
                {
                    if (e.m_Kind != SAScreenUpdateKind::Packet)
                    {
                        ++markers;
                        continue;
                    }
                    const uint32_t tag = TagGet(e);
                    const uint32_t producer = tag >> 24, sequence = tag & 0xFFFFFF;
                    if (producer >= PRODUCERS || sequence != next[producer])
                        inOrder = false;
                    else
                        ++next[producer];
                    ++packets;
                }
                if (r == PS_WAIT_OBJECT_0 && queue.IsEmpty())
                    return;
            }
        });

    std::vector<std::thread> producers;
    for (uint32_t p = 0; p < PRODUCERS; ++p)
        producers.emplace_back(
            [&queue, p]
            {
                for (uint32_t i = 0; i < PER_PRODUCER; ++i)
                {
                    queue.PacketAppend(Block((p << 24) | i), 136);
                    if (i % 100 == 0)
                        p % 2 ? queue.RepaintAppend() : queue.FragmentResetAppend();
                }
            });
    for (std::thread& t : producers)
        t.join();
    done.Set();
    taker.join();

    EXPECT_TRUE(inOrder);
    EXPECT_EQ(packets, PRODUCERS * PER_PRODUCER);
    EXPECT_EQ(markers, PRODUCERS * PER_PRODUCER / 100);
    for (uint32_t p = 0; p < PRODUCERS; ++p)
        EXPECT_EQ(next[p], PER_PRODUCER);
    std::lock_guard<std::mutex> guard(target.m_Lock);
    EXPECT_EQ(target.m_Posts.size(), size_t(PRODUCERS * PER_PRODUCER + markers));
}
