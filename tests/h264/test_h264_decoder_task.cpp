// H.264 through a whole decoder task (SATaskQueuedDecoder) as the frame
// buffer processor runs it: pictures reach the view's target, and a decoding
// error reaches the view as exactly one WM_APP+22 message with kind 2, sent
// (the task waits for the view), never posted. And what any task holds once
// its packet is decoded.
#include "H264TestSupport.h"

#include "core/SAMessageTarget.h"
#include "peer/PeerFrameSynth.h"
#include "pipeline/SADisplayView.h"
#include "pipeline/SATaskQueuedDecoder.h"
#include "tests/net/NetTestHeap.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
class RecordingTarget : public SAMessageTarget
{
public:
    bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override
    {
        m_Posted.push_back({message, wParam, lParam});
        return true;
    }
    intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override
    {
        m_Sent.push_back({message, wParam, lParam});
        return 0;
    }
    struct Message
    {
        uint32_t Message;
        uintptr_t WParam;
        intptr_t LParam;
    };
    std::vector<Message> m_Posted, m_Sent;
};

class TestView : public SADisplayView
{
public:
    TestView(int32_t width, int32_t height) : m_Frame(width, height) {}
    bool ResolutionSet(int32_t, int32_t, bool) override { return true; }
    void Present(int32_t) override {}
    SADecodeTarget* DecodeTargetGet() override { return &m_Frame; }
    SAMessageTarget* MessageTargetGet() override { return &m_Messages; }

    TestFrame m_Frame;
    RecordingTarget m_Messages;
};

SAScreenUpdate UpdateMake(const std::vector<uint8_t>& accessUnit, int32_t width, int32_t height)
{
    TestPacket packet = H264TestPacket(accessUnit, width, height);
    SAScreenUpdate update;
    update.m_Kind = SAScreenUpdateKind::Packet;
    update.m_pPacket = std::move(packet.Bytes);
    update.m_PacketSize = packet.Size;
    return update;
}
} // namespace

TEST(H264DecoderTask, CorruptedPacketSendsOneDecodingErrorToTheView)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(320, 240, 0, 24, 80, 12);
    TestView view(320, 240);
    SATaskQueuedDecoder task(&view);
    int decoded = 0;
    for (const H264TestUnit& unit : units)
    {
        std::vector<uint8_t> au = unit.AccessUnit;
        if (unit.FrameNumber == 5)
            std::fill(au.begin() + 5, au.end(), 0xFF);
        task.BusySet();
        task.PacketSet(UpdateMake(au, 320, 240), 0, view.DecodeTargetGet());
        if (task.OnExecute())
        {
            ++decoded;
            uint32_t stamp = 0;
            ASSERT_TRUE(PeerFrameStampRead(view.m_Frame.Data(), 320, 240, 1280, 4, stamp));
            EXPECT_EQ(stamp, unit.FrameNumber);
        }
        EXPECT_FALSE(task.BusyGet());
    }
    ASSERT_EQ(view.m_Messages.m_Sent.size(), 1u);
    EXPECT_EQ(view.m_Messages.m_Sent[0].Message, SA_WM_APP + 22);
    EXPECT_EQ(view.m_Messages.m_Sent[0].WParam, 0u);
    EXPECT_EQ(view.m_Messages.m_Sent[0].LParam, 2);
    EXPECT_TRUE(view.m_Messages.m_Posted.empty());
    // Frames 0..4 and the second GOP from its IDR on.
    EXPECT_GE(decoded, 5 + 12);
}

// An access unit that comes while the view has no renderer still feeds the
// decoder: the pictures after it refer to it.
TEST(H264DecoderTask, AccessUnitWithoutARendererKeepsTheReferenceChain)
{
    const std::vector<H264TestUnit> units = H264TestStreamEncode(320, 240, 0, 6, 80, 30);
    TestView view(320, 240);
    SATaskQueuedDecoder task(&view);
    for (const H264TestUnit& unit : units)
    {
        task.BusySet();
        const bool rendererThere = unit.FrameNumber >= 2;
        task.PacketSet(UpdateMake(unit.AccessUnit, 320, 240), 0,
                       rendererThere ? view.DecodeTargetGet() : nullptr);
        EXPECT_EQ(task.OnExecute(), rendererThere) << unit.FrameNumber;
        uint32_t stamp = 0;
        if (!rendererThere)
            continue;
        ASSERT_TRUE(PeerFrameStampRead(view.m_Frame.Data(), 320, 240, 1280, 4, stamp));
        EXPECT_EQ(stamp, unit.FrameNumber);
    }
    EXPECT_TRUE(view.m_Messages.m_Sent.empty());
}

// A task lets go of its packet once it is decoded: at a still picture the four
// tasks would otherwise hold four fragments of the largest screen for good.
TEST(H264DecoderTask, APacketIsFreedOnceDecoded)
{
    const int32_t side = 4096; // 64 MiB of raw pixels
    TestView view(320, 240);
    SATaskQueuedDecoder task(&view);
    TestPacketFields fields;
    fields.ScreenWidth = fields.ScreenHeight = fields.Right = fields.Bottom = side;
    fields.PitchInBytes = side * 4;
    TestPacket packet = TestPacketBuild(fields, std::vector<uint8_t>(size_t(side) * side * 4, 0x55));
    SAScreenUpdate update;
    update.m_Kind = SAScreenUpdateKind::Packet;
    update.m_pPacket = std::move(packet.Bytes);
    update.m_PacketSize = packet.Size;
    const int64_t before = static_cast<int64_t>(NetTestHeapHeldGet());
    task.BusySet();
    task.PacketSet(std::move(update), 0, nullptr);
    task.OnExecute();
    EXPECT_LT(static_cast<int64_t>(NetTestHeapHeldGet()) - before, -(int64_t(60) << 20));
}
