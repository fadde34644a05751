// The lifetime of a display connection: a stop always ends, a backlog cannot
// hold the window thread, and nothing of an ended connection reaches the
// next one or an object already gone. Loopback addresses 127.0.0.161 ..
// 127.0.0.169 and a private network namespace.
#include "ClientTestHarness.h"
#include "pipeline/SAMvcModel.h"
#include "render/SADisplayViewOffscreen.h"
#include "tests/net/NetTestUtil.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <sched.h>
#include <sys/wait.h>

namespace
{
const char* const ID = "{00000000-0000-4000-8000-000000000000}";

// Auto-connect to `address` (state 2, a connect job in flight); `between`
// runs on the window thread before the user's disconnect is handled there.
bool DisconnectWhileReconnecting(uint32_t address, const std::function<void()>& between)
{
    ClientTestHarness viewer;
    SANetHostRecord record;
    record.Address = address;
    viewer.m_Loop.Invoke(
        [&]
        {
            viewer.m_Frame.OnAppFstmEvent(SA_FSTM_EVENT_MENU_AUTO_CONNECT_SERVER,
                                          reinterpret_cast<intptr_t>(&record));
            between();
            viewer.m_Frame.OnAppFstmEvent(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0);
        });
    return viewer.WaitState(SA_FSTM_STATE_DISCONNECTED, 10);
}

// A window thread busy elsewhere: posts are noted, sends wait for Release.
class HeldTarget : public SAMessageTarget
{
public:
    bool Post(uint32_t message, uintptr_t wParam, intptr_t) override
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Events += message == SA_WM_APP_FSTM_EVENT ? std::to_string(wParam) : "";
        return true;
    }
    intptr_t Send(uint32_t, uintptr_t, intptr_t) override
    {
        std::unique_lock<std::mutex> guard(m_Lock);
        ++m_Held;
        m_Released.wait(guard, [&] { return m_Release; });
        return 0;
    }
    void Release()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Release = true;
        m_Released.notify_all();
    }
    std::string Events()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Events;
    }
    int Held()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Held;
    }

private:
    std::mutex m_Lock;
    std::condition_variable m_Released;
    bool m_Release = false;
    int m_Held = 0;
    std::string m_Events; // state machine events posted, in order
};

// Connects `client` to a listener, starts it and holds its receiver in the
// send of a Visibility event. Returns the server's end.
int ConnectAndHoldReceiver(SANetClient& client, HeldTarget& target, NetTestListener& listener,
                           uint32_t address)
{
    client.Connect(address);
    int fd = listener.Accept();
    if (fd < 0 || !ClientTestWaitFor([&] { return target.Events() == "3"; }) || !client.Start(ID))
        return -1;
    uint8_t request[SA_CONNECT_REQUEST_SIZE];
    for (size_t got = 0; got < sizeof(request);)
    {
        ssize_t n = recv(fd, request + got, sizeof(request) - got, 0);
        if (n <= 0)
            return -1;
        got += static_cast<size_t>(n);
    }
    SAPacketHeader visible;
    visible.HeaderTypeSet(SA_HEADER_VISIBILITY);
    visible.S32Set(SAWire::VISIBILITY_IS_VISIBLE, 1);
    send(fd, visible.m_Bytes, sizeof(visible.m_Bytes), MSG_NOSIGNAL);
    return ClientTestWaitFor([&] { return target.Held() == 1; }) ? fd : -1;
}
} // namespace

TEST(ClientStop, UserDisconnectWhileReconnectingEndsDisconnectedWhateverTheConnectDoes)
{
    ClientTestStore store;
    {
        // A lost connection seen in state 0 moves to 2 with nothing in flight.
        ClientTestHarness viewer;
        viewer.Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
        ASSERT_EQ(viewer.State(), SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER);
        viewer.Event(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER);
        EXPECT_TRUE(viewer.WaitState(SA_FSTM_STATE_DISCONNECTED, 10)) << viewer.Histories();
    }
    // The connect succeeds first: its event arrives behind the stop.
    NetTestListener listener(ClientTestLoopback(161));
    ASSERT_TRUE(listener.Ok());
    int fd = -1;
    EXPECT_TRUE(DisconnectWhileReconnecting(ClientTestLoopback(161),
                                            [&]
                                            {
                                                fd = listener.Accept();
                                                PSTimeSleep(100);
                                            }));
    close(fd);
    // The connect is refused (nothing listens).
    EXPECT_TRUE(DisconnectWhileReconnecting(ClientTestLoopback(162), [] { PSTimeSleep(100); }));
}

TEST(ClientStop, UserDisconnectEndsAConnectWhoseSynIsNeverAnswered)
{
    // A private network: a veth pair and a neighbour that does not exist, so
    // the SYN leaves and nothing ever answers. The child process runs the
    // viewer there and reports through its exit status.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            _exit(77);
        if (std::system("ip link set lo up && ip link add qm0 type veth peer name qm1 && "
                        "ip addr add 10.77.0.1/24 dev qm0 && ip link set qm0 up && ip link set qm1 up && "
                        "ip neigh add 10.77.0.2 lladdr 02:00:00:00:00:02 dev qm0 nud permanent") != 0)
            _exit(77);
        bool ended = false;
        {
            ClientTestStore store;
            ended = DisconnectWhileReconnecting(0x0A4D0002u, [] { PSTimeSleep(100); });
        }
        _exit(ended ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private network namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ClientStop, ABacklogIsDroppedSilentlyAtTheStopAndBoundedWhileTheServerStopsReading)
{
    ClientTestStore store;
    NetTestListener listener(ClientTestLoopback(163), 4, 4096);
    ASSERT_TRUE(listener.Ok());
    ClientTestHarness viewer;
    viewer.UserConnect(ClientTestLoopback(163));
    int fd = listener.ViewerAccept();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_OFF));

    // The server stops reading: input queues up behind a blocked send.
    const uint32_t queued = SANetClient::TRANSMIT_BACKLOG_LIMIT / 4 * 3;
    for (uint32_t i = 0; i < queued; ++i)
        ASSERT_TRUE(viewer.m_Client.Transmit(SAPacketFrameAcknowledge()));
    PSTimeSleep(100);
    ASSERT_LT(viewer.m_Client.StatisticsGet().m_PacketsSent + 1000, queued);
    {
        NetTestLogCapture log;
        viewer.Event(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER);
        EXPECT_LE(log.Count("SATaskQueuedNetTransmit::OnExecute"), 1u);
    }
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_DISCONNECTED));
    close(fd);

    // Beyond the bound the connection counts as lost, and the machine
    // reconnects.
    viewer.UserConnect(ClientTestLoopback(163));
    fd = listener.ViewerAccept();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_OFF));
    const uint64_t sentBefore = viewer.m_Client.StatisticsGet().m_PacketsSent;
    uint64_t accepted = 0;
    while (accepted < 2 * SANetClient::TRANSMIT_BACKLOG_LIMIT &&
           viewer.m_Client.Transmit(SAPacketFrameAcknowledge()))
        ++accepted;
    const uint64_t sent = viewer.m_Client.StatisticsGet().m_PacketsSent - sentBefore;
    EXPECT_LE(accepted, SANetClient::TRANSMIT_BACKLOG_LIMIT + sent + 1);
    EXPECT_TRUE(ClientTestWaitFor([&] { return viewer.Histories().find("2-") != std::string::npos; }))
        << viewer.Histories();
    close(fd);
}

TEST(ClientStop, NothingOfAnEndedConnectionTouchesTheNext)
{
    ClientTestStore store;
    NetTestListener listener(ClientTestLoopback(164));
    ASSERT_TRUE(listener.Ok());
    HeldTarget target;
    SAQueueScreenUpdates queue(nullptr);
    SANetClient client(&queue, &target);
    int first = ConnectAndHoldReceiver(client, target, listener, ClientTestLoopback(164));
    ASSERT_GE(first, 0);

    // The window thread ends the connection and makes the next one while
    // the old receiver is still held in its send.
    client.ConnectionStop();
    client.Connect(ClientTestLoopback(164));
    int second = listener.Accept();
    ASSERT_GE(second, 0);
    ASSERT_TRUE(ClientTestWaitFor([&] { return target.Events() == "33"; })) << target.Events();

    // Let go, the old receiver finds its own connection closed and ends.
    target.Release();
    EXPECT_TRUE(ClientTestWaitFor([&] { return target.Events() == "334"; }, 5)) << target.Events();
    client.ReceiverJoin();
    uint8_t byte;
    EXPECT_EQ(recv(second, &byte, 1, MSG_DONTWAIT), -1) << "the next connection was closed";
    EXPECT_TRUE(client.Start(ID));
    SAPacketHeader visible;
    visible.HeaderTypeSet(SA_HEADER_VISIBILITY);
    visible.S32Set(SAWire::VISIBILITY_IS_VISIBLE, 0);
    send(second, visible.m_Bytes, sizeof(visible.m_Bytes), MSG_NOSIGNAL);
    EXPECT_TRUE(ClientTestWaitFor([&] { return client.StatisticsGet().m_HeadersReceived >= 2; }));
    client.ConnectionStop();
    client.ReceiverJoin();
    close(first);
    close(second);
}

// The frame's close: the connection stops, the processor stops and goes,
// and only then does a late receiver append its reset marker.
TEST(ClientStop, CloseSequenceLeavesALateReceiverNothingFreedToTouch)
{
    ClientTestStore store;
    NetTestListener listener(ClientTestLoopback(165));
    ASSERT_TRUE(listener.Ok());
    HeldTarget target;
    SAQueueScreenUpdates queue(&target);
    SANetClient client(&queue, &target);
    auto view = std::make_unique<SADisplayViewOffscreen>(SADisplayViewOffscreen::Kind::Cpu, nullptr, 64, 32);
    auto model = std::make_unique<SAMvcModel>(&queue, &client, view.get());
    ASSERT_TRUE(model->Initialize());
    int fd = ConnectAndHoldReceiver(client, target, listener, ClientTestLoopback(165));
    ASSERT_GE(fd, 0);

    client.ConnectionStop();
    model->Uninitialize();
    model.reset();
    view.reset();
    target.Release();
    EXPECT_TRUE(ClientTestWaitFor([&] { return target.Events() == "34"; })) << target.Events();
    client.ReceiverJoin();
    EXPECT_EQ(queue.CountGet(), 1u); // the reset marker
    close(fd);
}
