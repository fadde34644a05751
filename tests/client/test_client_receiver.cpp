// The display receiver against a scripted server on loopback: statistics
// rings, fragment counting and the dispatch of every header type.
#include "ClientTestHarness.h"
#include "tests/net/NetTestHeap.h"
#include "tests/net/NetTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include <sys/socket.h>

namespace
{
// A client driven without the state machine: the loop starts the receiver as
// soon as the connection is up and remembers every message.
class ReceiverHarness
{
public:
    // autoStart: the client's Start follows the connected event at once.
    explicit ReceiverHarness(bool autoStart = true)
        : m_AutoStart(autoStart),
          m_Loop([this](uint32_t m, uintptr_t w, intptr_t l) { return PrivateDispatch(m, w, l); }),
          m_Queue(&m_Loop), m_Client(&m_Queue, &m_Loop)
    {
        m_Loop.Start();
    }
    ~ReceiverHarness()
    {
        m_Loop.Invoke([this] { m_Client.ConnectionStop(); });
        m_Loop.Stop();
        m_Client.ReceiverJoin();
    }
    std::vector<std::pair<uint32_t, uintptr_t>> Messages()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Messages;
    }
    bool WaitHeaders(uint64_t count)
    {
        return ClientTestWaitFor([&] { return m_Client.StatisticsGet().m_HeadersReceived >= count; });
    }
    // Whether the client has raised the state machine event `event`.
    bool HasEvent(uintptr_t event)
    {
        for (auto& m : Messages())
            if (m.first == SA_WM_APP_FSTM_EVENT && m.second == event)
                return true;
        return false;
    }
    bool WaitEvent(uintptr_t event)
    {
        return ClientTestWaitFor([&] { return HasEvent(event); });
    }
    uint32_t RingIndex() { return m_Client.StatisticsGet().m_RingIndex; }
    // The header is counted before its payload is read and the frame's slot
    // filled, so a completed frame is awaited by its slot index.
    bool WaitRingIndex(uint32_t index)
    {
        return ClientTestWaitFor([&] { return RingIndex() == index; });
    }

    bool m_AutoStart;
    SAMessageLoop m_Loop;
    SAQueueScreenUpdates m_Queue;
    SANetClient m_Client;

private:
    intptr_t PrivateDispatch(uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Messages.emplace_back(message, wParam);
        }
        if (m_AutoStart && message == SA_WM_APP_FSTM_EVENT && wParam == SA_FSTM_EVENT_SERVER_CONNECTED)
            m_Client.Start("{00000000-0000-4000-8000-000000000000}");
        return 0;
    }
    std::mutex m_Lock;
    std::vector<std::pair<uint32_t, uintptr_t>> m_Messages;
};

void SendAll(int fd, const void* data, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0)
    {
        ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        ASSERT_GT(n, 0);
        p += n;
        size -= static_cast<size_t>(n);
    }
}

void FrameSend(int fd, int16_t countFragments, uint32_t fourFragments, uint32_t payload)
{
    SAPacketHeader h;
    h.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
    h.ByteCountSet(payload);
    SAFrameBufferInfo info;
    info.ScreenWidth = 64;
    info.ScreenHeight = 32;
    info.PitchInBytes = 256;
    info.ColorFormat = 22;
    info.Right = 64;
    info.Bottom = 32;
    info.CompressionType = 0;
    info.CountFragments = countFragments;
    info.FourFragments = fourFragments;
    SAPacketFrameBufferEncode(h, info);
    SendAll(fd, h.m_Bytes, sizeof(h.m_Bytes));
    std::vector<uint8_t> body(payload, 0x5A);
    if (payload > 0)
        SendAll(fd, body.data(), body.size());
}

// A whole-screen raw frame of width x height, its payload all `fill`; false
// once the viewer is gone.
bool RawFrameSend(int fd, int32_t width, int32_t height, uint8_t fill)
{
    SAPacketHeader h;
    h.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
    SAFrameBufferInfo info;
    info.ScreenWidth = width;
    info.ScreenHeight = height;
    info.PitchInBytes = width * 4;
    info.ColorFormat = 22;
    info.CountFragments = 1;
    SAPacketFrameBufferEncode(h, info);
    std::vector<uint8_t> packet(SA_PACKET_HEADER_SIZE + size_t(width) * height * 4, fill);
    h.ByteCountSet(static_cast<uint32_t>(packet.size() - SA_PACKET_HEADER_SIZE));
    std::memcpy(packet.data(), h.m_Bytes, SA_PACKET_HEADER_SIZE);
    for (size_t at = 0; at < packet.size();)
    {
        ssize_t n = send(fd, packet.data() + at, packet.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

void HeaderSend(int fd, const SAPacketHeader& h)
{
    SendAll(fd, h.m_Bytes, sizeof(h.m_Bytes));
}

} // namespace

TEST(ClientReceiver, RingsFillOneSlotPerFrameAndWrapAfter120)
{
    ClientTestStore store;
    NetTestListener listener(ClientTestLoopback(91));
    ASSERT_TRUE(listener.Ok());
    ReceiverHarness viewer;
    uint32_t start = viewer.RingIndex();
    viewer.m_Loop.Invoke([&] { viewer.m_Client.Connect(ClientTestLoopback(91)); });
    int fd = listener.ViewerAccept();
    ASSERT_GE(fd, 0);

    // The status bar's address panes: both ends with their ports.
    SANetStatisticsSnapshot snapshot = viewer.m_Client.StatisticsGet();
    EXPECT_EQ(snapshot.m_AddressRemote, ClientTestLoopback(91));
    EXPECT_EQ(snapshot.m_PortRemote, SA_NET_SERVER_PORT);
    EXPECT_NE(snapshot.m_PortLocal, 0);
    EXPECT_EQ(snapshot.m_AddressLocal >> 24, 127u);

    // A frame of three fragments takes one slot, after its third fragment.
    FrameSend(fd, 3, 0, 64 * 4 * 32);
    FrameSend(fd, 3, 0, 100);
    ASSERT_TRUE(viewer.WaitHeaders(2));
    EXPECT_EQ(viewer.RingIndex(), start);
    FrameSend(fd, 3, 0, 200);
    ASSERT_TRUE(viewer.WaitRingIndex((start + 1) % 120));
    // The first fragment counts its payload, later ones header and payload.
    EXPECT_EQ(viewer.m_Client.StatisticsRingsGet().m_FrameBytesRing[start].load(), 64u * 4 * 32 + 228 + 328);

    // CountFragments 0 with FourFragments set: four packets to a frame.
    for (int i = 0; i < 3; ++i)
        FrameSend(fd, 0, 1, 16);
    ASSERT_TRUE(viewer.WaitHeaders(6));
    EXPECT_EQ(viewer.RingIndex(), (start + 1) % 120);
    FrameSend(fd, 0, 1, 16);
    ASSERT_TRUE(viewer.WaitRingIndex((start + 2) % 120));

    // 118 single-packet frames bring the index from 2 round to 0, one more to 1.
    for (int i = 0; i < 118; ++i)
        FrameSend(fd, 1, 0, 0);
    ASSERT_TRUE(viewer.WaitHeaders(125));
    ASSERT_TRUE(viewer.WaitRingIndex((start + 120) % 120));
    FrameSend(fd, 0, 0, 0);
    ASSERT_TRUE(viewer.WaitRingIndex((start + 121) % 120));
    EXPECT_EQ(viewer.m_Client.StatisticsGet().m_HeadersReceived, 126u);
    close(fd);
}

TEST(ClientReceiver, DispatchesHeaderOnlyTypesAndSkipsInvalidHeadersInStep)
{
    ClientTestStore store;
    NetTestListener listener(ClientTestLoopback(92));
    ASSERT_TRUE(listener.Ok());
    ReceiverHarness viewer;
    viewer.m_Loop.Invoke([&] { viewer.m_Client.Connect(ClientTestLoopback(92)); });
    int fd = listener.ViewerAccept();
    ASSERT_GE(fd, 0);

    SAPacketHeader visible;
    visible.HeaderTypeSet(SA_HEADER_VISIBILITY);
    visible.S32Set(SAWire::VISIBILITY_IS_VISIBLE, 0);
    HeaderSend(fd, visible);
    // An invalid header: its announced payload is not skipped, so the next
    // 128 bytes are read as the next header.
    SAPacketHeader invalid;
    invalid.HeaderTypeSet(SA_HEADER_VISIBILITY);
    invalid.ByteCountSet(128);
    HeaderSend(fd, invalid);
    SAPacketHeader reset;
    reset.HeaderTypeSet(SA_HEADER_STREAM_RESET);
    reset.U32Set(SAWire::STREAM_RESET_REPLY_REQUEST, 1);
    HeaderSend(fd, reset); // read as the next header after the invalid one
    // Audio data on the display connection is read completely and dropped.
    SAPacketHeader audio;
    audio.HeaderTypeSet(SA_HEADER_AUDIO_DATA);
    audio.ByteCountSet(4096);
    HeaderSend(fd, audio);
    std::vector<uint8_t> samples(4096, 0x11);
    SendAll(fd, samples.data(), samples.size());
    HeaderSend(fd, SAPacketDisconnect(3));
    ASSERT_TRUE(viewer.WaitHeaders(5));
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.m_Client.LastDisconnectReasonGet() == 3; }));
    // The reason is stored before the disconnect event goes out.
    ASSERT_TRUE(viewer.WaitEvent(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER));

    std::vector<std::pair<uint32_t, uintptr_t>> events;
    for (auto& m : viewer.Messages())
        if (m.first == SA_WM_APP_FSTM_EVENT || m.first == SA_WM_APP_STREAM_RESET_REPLY)
            events.push_back(m);
    std::vector<std::pair<uint32_t, uintptr_t>> expected = {
        {SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_CONNECTED},
        {SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_OFF},
        {SA_WM_APP_STREAM_RESET_REPLY, 0},
        {SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER},
    };
    EXPECT_EQ(events, expected);
    EXPECT_TRUE(viewer.m_Queue.IsEmpty() == false); // the reset marker
    close(fd);
    // The server closing ends the receiver, which raises event 4.
    ASSERT_TRUE(viewer.WaitEvent(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON));
}

TEST(ClientReceiver, QueuedDisconnectReachesAServerBeforeTheSocketCloses)
{
    ClientTestStore store;
    NetTestListener listener(ClientTestLoopback(93));
    ASSERT_TRUE(listener.Ok());
    ReceiverHarness viewer;
    viewer.m_Loop.Invoke([&] { viewer.m_Client.Connect(ClientTestLoopback(93)); });
    int fd = listener.ViewerAccept();
    ASSERT_GE(fd, 0);
    // The user's disconnect: the packet is queued, then the connection stops
    // at once on the same thread.
    viewer.m_Loop.Invoke(
        [&]
        {
            viewer.m_Client.Transmit(SAPacketDisconnect(0));
            viewer.m_Client.ConnectionStop();
        });
    uint8_t header[SA_PACKET_HEADER_SIZE];
    size_t got = 0;
    while (got < sizeof(header))
    {
        ssize_t n = recv(fd, header + got, sizeof(header) - got, 0);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ASSERT_EQ(got, sizeof(header));
    SAPacketHeader h = SAPacketHeader::FromBytes(header);
    EXPECT_EQ(h.HeaderTypeGet(), static_cast<uint32_t>(SA_HEADER_DISCONNECT));
    EXPECT_EQ(h.S32Get(SAWire::DISCONNECT_REASON), 0);
    close(fd);
}

TEST(ClientReceiver, AFrameOutOfBoundsIsReadPastAndAPayloadNoBufferMayHoldEndsTheConnection)
{
    ClientTestStore store;
    NetTestListener listener(ClientTestLoopback(94));
    ASSERT_TRUE(listener.Ok());
    ReceiverHarness viewer;
    viewer.m_Loop.Invoke([&] { viewer.m_Client.Connect(ClientTestLoopback(94)); });
    int fd = listener.ViewerAccept();
    ASSERT_GE(fd, 0);

    // A good frame sets the size the stream goes on at.
    FrameSend(fd, 1, 0, 64 * 32 * 4);
    // A frame whose screen is larger than any display (the protocol's own
    // rules let it pass) is refused, but its payload is read past: the
    // Disconnect header hidden in it must not be acted on.
    SAPacketHeader hostile;
    hostile.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
    SAFrameBufferInfo info;
    info.ScreenWidth = 20000;
    info.ScreenHeight = 20000;
    info.PitchInBytes = 256;
    info.Right = 64;
    info.Bottom = 32;
    info.CountFragments = 1;
    SAPacketFrameBufferEncode(hostile, info);
    const SAPacketHeader disguised = SAPacketDisconnect(7);
    std::vector<uint8_t> payload(40000, 0);
    std::memcpy(payload.data(), disguised.m_Bytes, sizeof(disguised.m_Bytes));
    hostile.ByteCountSet(static_cast<uint32_t>(payload.size()));
    HeaderSend(fd, hostile);
    SendAll(fd, payload.data(), payload.size());
    // Sides within bounds, but more pixels than the 8K UHD area.
    info.ScreenWidth = 8192;
    info.ScreenHeight = 4320;
    SAPacketFrameBufferEncode(hostile, info);
    HeaderSend(fd, hostile);
    SendAll(fd, payload.data(), payload.size());
    // The next packet is found where the server put it.
    FrameSend(fd, 1, 0, 64 * 32 * 4);
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.m_Queue.CountGet() >= 4; }));
    ASSERT_EQ(viewer.m_Queue.Take().m_PacketSize, SA_PACKET_HEADER_SIZE + 64 * 32 * 4);
    // A refused frame still goes on to the processor, as a header without
    // its payload, so that it is acknowledged like every frame the server
    // sent: a server waiting for that acknowledgement would stall for good.
    // It carries the last good screen, so the viewer is not resized to it.
    for (int refusedFrame = 0; refusedFrame < 2; ++refusedFrame)
    {
        SAScreenUpdate refused = viewer.m_Queue.Take();
        ASSERT_EQ(refused.m_Kind, SAScreenUpdateKind::Packet);
        ASSERT_EQ(refused.m_PacketSize, SA_PACKET_HEADER_SIZE);
        const SAPacketHeader passed = SAPacketHeader::FromBytes(refused.m_pPacket.get());
        EXPECT_EQ(passed.HeaderTypeGet(), static_cast<uint32_t>(SA_HEADER_FRAME_BUFFER));
        EXPECT_EQ(passed.ByteCountGet(), 0u);
        EXPECT_EQ(SAPacketFrameBufferDecode(passed).ScreenWidth, 64);
        EXPECT_EQ(SAPacketFrameBufferDecode(passed).ScreenHeight, 32);
    }
    SAScreenUpdate entry = viewer.m_Queue.Take();
    ASSERT_EQ(entry.m_Kind, SAScreenUpdateKind::Packet);
    ASSERT_EQ(entry.m_PacketSize, SA_PACKET_HEADER_SIZE + 64 * 32 * 4);
    EXPECT_EQ(SAPacketFrameBufferDecode(SAPacketHeader::FromBytes(entry.m_pPacket.get())).ScreenWidth, 64);
    EXPECT_EQ(entry.m_pPacket[SA_PACKET_HEADER_SIZE], 0x5A);
    EXPECT_EQ(viewer.m_Client.LastDisconnectReasonGet(), -1);

    // Audio data announcing more than header and payload could ever hold in
    // 32 bits cannot be followed: the connection ends (event 4), with no
    // disconnect echoed from bytes that were never a header.
    SAPacketHeader huge;
    huge.HeaderTypeSet(SA_HEADER_AUDIO_DATA);
    huge.ByteCountSet(SA_PACKET_BYTE_COUNT_LIMIT);
    HeaderSend(fd, huge);
    ASSERT_TRUE(viewer.WaitEvent(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON));
    EXPECT_FALSE(viewer.HasEvent(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER));
    close(fd);
}

// A payload the viewer does not keep is read past in pieces, never held
// whole, whatever its header announces; the stream goes on behind it.
TEST(ClientReceiver, APayloadTheViewerDropsIsReadPastWithoutBeingHeld)
{
    ClientTestStore store;
    NetTestListener listener(ClientTestLoopback(96));
    ASSERT_TRUE(listener.Ok());
    ReceiverHarness viewer;
    viewer.m_Loop.Invoke([&] { viewer.m_Client.Connect(ClientTestLoopback(96)); });
    int fd = listener.ViewerAccept();
    ASSERT_GE(fd, 0);

    const size_t announced = size_t(256) << 20;
    SAPacketHeader audio;
    audio.HeaderTypeSet(SA_HEADER_AUDIO_DATA);
    audio.ByteCountSet(static_cast<uint32_t>(announced));
    std::vector<uint8_t> chunk(size_t(1) << 20, 0x11);
    const int64_t before = static_cast<int64_t>(NetTestHeapHeldGet());
    HeaderSend(fd, audio);
    // A quarter of it: far more than the sockets buffer, so the receiver is
    // in the middle of the payload now.
    for (size_t sent = 0; sent < announced / 4; sent += chunk.size())
        SendAll(fd, chunk.data(), chunk.size());
    EXPECT_LT(static_cast<int64_t>(NetTestHeapHeldGet()) - before, int64_t(16) << 20);
    for (size_t sent = announced / 4; sent < announced; sent += chunk.size())
        SendAll(fd, chunk.data(), chunk.size());

    FrameSend(fd, 1, 0, 64 * 32 * 4);
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.m_Queue.CountGet() >= 1; }));
    SAScreenUpdate entry = viewer.m_Queue.Take();
    ASSERT_EQ(entry.m_PacketSize, SA_PACKET_HEADER_SIZE + 64 * 32 * 4);
    EXPECT_EQ(entry.m_pPacket[SA_PACKET_HEADER_SIZE], 0x5A);
    EXPECT_FALSE(viewer.HasEvent(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON));
    close(fd);
}

// A server that sends faster than the viewer draws fills the update queue up
// to its byte bound and no further: the receiver stops reading and TCP holds
// the server back. Nothing is dropped, and a stop still ends a receiver that
// waits for room.
TEST(ClientReceiver, AFullUpdateQueueHoldsTheServerBackLosesNothingAndLetsAStopThrough)
{
    ClientTestStore store;
    NetTestListener listener(ClientTestLoopback(97));
    ASSERT_TRUE(listener.Ok());
    ReceiverHarness viewer;
    viewer.m_Loop.Invoke([&] { viewer.m_Client.Connect(ClientTestLoopback(97)); });
    int fd = listener.ViewerAccept();
    ASSERT_GE(fd, 0);

    // 4 MiB frames, with nothing taking them from the queue at first.
    constexpr int FRAMES = 48;
    const size_t packet = SA_PACKET_HEADER_SIZE + size_t(1024) * 1024 * 4;
    const size_t most = (size_t(64) << 20) / packet; // what the queue's 64 MiB hold
    std::atomic<int> sent{0};
    std::thread server(
        [&]
        {
            while (sent.load() < 2 * FRAMES &&
                   RawFrameSend(fd, 1024, 1024, static_cast<uint8_t>(sent.load())))
                sent++;
        });
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.m_Queue.CountGet() >= most; }));
    EXPECT_FALSE(ClientTestWaitFor([&] { return viewer.m_Queue.CountGet() > most; }, 1));
    EXPECT_LT(sent.load(), FRAMES);

    for (int frame = 0; frame < FRAMES; ++frame)
    {
        ASSERT_TRUE(ClientTestWaitFor([&] { return !viewer.m_Queue.IsEmpty(); })) << frame;
        SAScreenUpdate entry = viewer.m_Queue.Take();
        ASSERT_EQ(entry.m_PacketSize, packet);
        ASSERT_EQ(entry.m_pPacket[SA_PACKET_HEADER_SIZE], static_cast<uint8_t>(frame));
        ASSERT_EQ(entry.m_pPacket[packet - 1], static_cast<uint8_t>(frame));
    }

    // Full again: the stop must not wait for room that never comes.
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.m_Queue.CountGet() >= most; }));
    viewer.m_Loop.Invoke([&] { viewer.m_Client.ConnectionStop(); });
    EXPECT_TRUE(viewer.WaitEvent(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON));
    server.join();
    close(fd);
}

// Between the TCP connection and the connect request the processor may still
// acknowledge frames of the previous connection, and the user may move the
// mouse: none of it may reach the new server before the request.
TEST(ClientReceiver, NothingPrecedesTheConnectRequestOnANewConnection)
{
    ClientTestStore store;
    NetTestListener listener(ClientTestLoopback(95));
    ASSERT_TRUE(listener.Ok());
    ReceiverHarness viewer(false);
    viewer.m_Loop.Invoke([&] { viewer.m_Client.Connect(ClientTestLoopback(95)); });
    int fd = listener.Accept();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(viewer.WaitEvent(SA_FSTM_EVENT_SERVER_CONNECTED));
    EXPECT_FALSE(viewer.m_Client.Transmit(SAPacketFrameAcknowledge()));
    viewer.m_Loop.Invoke([&] { viewer.m_Client.Start("{00000000-0000-4000-8000-000000000000}"); });
    EXPECT_TRUE(viewer.m_Client.Transmit(SAPacketFrameAcknowledge()));

    std::vector<uint8_t> got(SA_CONNECT_REQUEST_SIZE + SA_PACKET_HEADER_SIZE);
    size_t have = 0;
    while (have < got.size())
    {
        ssize_t n = recv(fd, got.data() + have, got.size() - have, 0);
        ASSERT_GT(n, 0);
        have += static_cast<size_t>(n);
    }
    const SAPacketHeader first = SAPacketHeader::FromBytes(got.data());
    EXPECT_EQ(first.HeaderTypeGet(), 0u);
    EXPECT_EQ(first.ByteCountGet(), SA_CONNECT_REQUEST_PAYLOAD_SIZE);
    const SAPacketHeader second = SAPacketHeader::FromBytes(got.data() + SA_CONNECT_REQUEST_SIZE);
    EXPECT_EQ(second.HeaderTypeGet(), static_cast<uint32_t>(SA_HEADER_FRAME_ACKNOWLEDGE));
    close(fd);
}
