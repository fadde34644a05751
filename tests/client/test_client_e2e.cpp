// End-to-end: the real server client, the state machine and the console
// frame against the real quillmere-peer on loopback addresses. Each case
// binds its own 127.0.0.x so that ctest -j can run them side by side.
#include "ClientTestHarness.h"
#include "tests/peer/PeerTestProcess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>

#include "settings/SASettings.h"

namespace
{
struct PeerRun
{
    ClientTestStore store;
    PeerTestProcess peer;
    std::string record;

    bool Start(uint32_t n, std::vector<std::string> extra)
    {
        record = store.DirGet() + "/record.jsonl";
        std::vector<std::string> args = {"--bind",      "127.0.0." + std::to_string(n),
                                         "--size",      "320x240",
                                         "--fps",       "200",
                                         "--fragments", "2",
                                         "--record",    record,
                                         "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        return peer.Start(args);
    }
    std::string Record() { return ClientTestFileRead(record); }
};
} // namespace

TEST(ClientEndToEnd, UserConnectReachesDisplayOnAndUserDisconnectSendsReasonZero)
{
    PeerRun run;
    ASSERT_TRUE(run.Start(51, {}));
    ClientTestHarness viewer;
    viewer.UserConnect(ClientTestLoopback(51));
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_ON));
    EXPECT_EQ(viewer.Histories(), "1-3-4-|0-3-6-");
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.FramesAcknowledged() >= 20; }));

    viewer.Event(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0);
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_DISCONNECTED));
    ASSERT_TRUE(
        ClientTestWaitFor([&] { return run.Record().find("\"type\":\"Disconnect\"") != std::string::npos; }));
    std::string record = run.Record();
    EXPECT_NE(record.find("\"type\":\"Disconnect\",\"reason\":0"), std::string::npos) << record;
    EXPECT_NE(record.find("\"type\":\"FrameAcknowledge\""), std::string::npos);
    // The connect request carried this viewer's instance identifier.
    EXPECT_NE(record.find("{0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9}"), std::string::npos);

    std::vector<std::string> boxes = viewer.m_Frame.BoxesGet();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Disconnected|Disconnected manually\n\nConnected time: 00:00:", 0), 0u)
        << boxes[0];
}

TEST(ClientEndToEnd, StreamResetWithReplyRequestOneGetsExactlyOneReply)
{
    PeerRun run;
    ASSERT_TRUE(run.Start(52, {"--scenario", "reset@5:1,reset@10:0,reset@15:0"}));
    ClientTestHarness viewer;
    viewer.UserConnect(ClientTestLoopback(52));
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_ON));
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.FramesAcknowledged() >= 25; }));
    viewer.Event(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0);
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_DISCONNECTED));
    ASSERT_TRUE(
        ClientTestWaitFor([&] { return run.Record().find("\"type\":\"Disconnect\"") != std::string::npos; }));

    std::string record = run.Record();
    EXPECT_EQ(ClientTestCount(record, "\"type\":\"StreamReset\""), 1u) << record;
    EXPECT_NE(record.find("\"type\":\"StreamReset\",\"replyRequest\":2"), std::string::npos);
    // Each reset restarted fragment counting, and so did the receiver's end.
    EXPECT_GE(viewer.FragmentResets(), 4u);
}

class ClientServerDisconnect : public testing::TestWithParam<std::pair<int, std::string>>
{
};

TEST_P(ClientServerDisconnect, ShowsTheReasonsBox)
{
    const int reason = GetParam().first;
    const uint32_t n = 60 + static_cast<uint32_t>(reason);
    PeerRun run;
    ASSERT_TRUE(run.Start(n, {"--scenario", "disconnect@8:" + std::to_string(reason)}));
    ClientTestHarness viewer;
    viewer.UserConnect(ClientTestLoopback(n));
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_ON));
    ASSERT_TRUE(ClientTestWaitFor([&] { return !viewer.m_Frame.BoxesGet().empty(); }));
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_DISCONNECTED));
    std::vector<std::string> boxes = viewer.m_Frame.BoxesGet();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind(GetParam().second, 0), 0u) << boxes[0];
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, ClientServerDisconnect,
    testing::Values(
        std::make_pair(
            0, std::string("Disconnected by server|Graceful disconnect by server\n\nConnected time: 00:00:")),
        std::make_pair(
            1,
            std::string("Disconnected by server|Error - Render graphics adapter (GPU) ran out of memory on "
                        "server side\nTo fix, reboot the quillmere primary machine.")),
        std::make_pair(
            3, std::string("Disconnected by server|Error - Hardware encoding initialization failed on server "
                           "side\n\nPlease consider switching to Software Encoding in "
                           "Settings->Quality/Performance.")),
        std::make_pair(
            4, std::string("Disconnected by server|Error - Hardware encoding failed on server side\n\nPlease "
                           "consider switching to Software Encoding in Settings->Quality/Performance.")),
        std::make_pair(7, std::string("Disconnected|Disconnected manually\n\nConnected time: 00:00:"))));

TEST(ClientEndToEnd, ConnectionEndingWithinFifteenSecondsShowsTheHistoriesAfterwardsTheTime)
{
    PeerRun run;
    ASSERT_TRUE(run.Start(71, {}));
    {
        ClientTestHarness viewer;
        viewer.UserConnect(ClientTestLoopback(71));
        ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_ON));
        // The end of a connection that must not be retried. (The receiver's
        // own end then raises event 4, which takes state 0 on to 2.)
        viewer.Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF, 0);
        ASSERT_TRUE(ClientTestWaitFor([&] { return !viewer.m_Frame.BoxesGet().empty(); }));
        std::vector<std::string> boxes = viewer.m_Frame.BoxesGet();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(
            boxes[0].rfind("Disconnected|Disconnected by server error\n\nError Code: 1-3-4-\n\nError Info: "
                           "0-3-6-\n\nConnected time: 00:00:",
                           0),
            0u)
            << boxes[0];
    }
    {
        ClientTestHarness viewer;
        viewer.UserConnect(ClientTestLoopback(71));
        ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_ON));
        viewer.m_Frame.m_ClockOffset = 3600000 + 15000; // an hour and a quarter minute later
        viewer.Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF, 0);
        ASSERT_TRUE(ClientTestWaitFor([&] { return !viewer.m_Frame.BoxesGet().empty(); }));
        std::vector<std::string> boxes = viewer.m_Frame.BoxesGet();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].rfind("Disconnected|Disconnected by server\n\nConnected time: 01:00:1", 0), 0u)
            << boxes[0];
    }
}

TEST(ClientEndToEnd, ConnectWhereNothingListensEndsDisconnectedWithUnableToConnect)
{
    ClientTestStore store;
    ClientTestHarness viewer;
    viewer.UserConnect(ClientTestLoopback(72));
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_DISCONNECTED));
    ASSERT_TRUE(ClientTestWaitFor([&] { return !viewer.m_Frame.BoxesGet().empty(); }));
    std::vector<std::string> boxes = viewer.m_Frame.BoxesGet();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Connection failure|Unable to connect!");
}

TEST(ClientEndToEnd, ClosingTheSocketFromTheWindowThreadEndsTheReceiver)
{
    PeerRun run;
    ASSERT_TRUE(run.Start(73, {}));
    ClientTestHarness viewer;
    viewer.UserConnect(ClientTestLoopback(73));
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_ON));
    uint64_t resetsBefore = viewer.FragmentResets();
    // What the receiver's stop request does: close the display socket.
    viewer.m_Loop.Invoke([&] { viewer.m_Client.ConnectionClose(); });
    // The receiver's exit appends the fragment-reset marker and raises event
    // 4: a lost connection, so the machine starts reconnecting.
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.FragmentResets() > resetsBefore; }));
    ASSERT_TRUE(ClientTestWaitFor(
        [&]
        {
            std::string h = viewer.Histories();
            return h.find("2-") != std::string::npos;
        }));
    // The reconnect may already have succeeded (the peer still listens).
    const std::string histories = viewer.Histories();
    const std::string states = histories.substr(0, histories.find('|'));
    const std::string events = histories.substr(histories.find('|') + 1);
    EXPECT_EQ(states.rfind("1-3-4-2-", 0), 0u) << histories;
    EXPECT_EQ(events.rfind("0-3-6-4-", 0), 0u) << histories;
}

namespace
{
// Forwards to the real client and notes every connect attempt's address.
class ClientTestSpy : public SANetClientControl
{
public:
    explicit ClientTestSpy(SANetClientControl& real) : m_Real(real) {}
    void Connect(uint32_t address) override
    {
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Connects.push_back(address);
        }
        m_Real.Connect(address);
    }
    bool Start(const std::string& id) override { return m_Real.Start(id); }
    bool Transmit(const SAPacketHeader& header) override { return m_Real.Transmit(header); }
    void ConnectionStop() override { m_Real.ConnectionStop(); }
    bool EventCurrentCheck(intptr_t tag) const override { return m_Real.EventCurrentCheck(tag); }
    bool AudioConnect(uint32_t a, const std::string& id, int32_t f) override
    {
        return m_Real.AudioConnect(a, id, f);
    }
    void AudioDisconnect() override { m_Real.AudioDisconnect(); }
    uint32_t ServerAddressGet() const override { return m_Real.ServerAddressGet(); }
    int32_t LastDisconnectReasonGet() const override { return m_Real.LastDisconnectReasonGet(); }
    std::vector<uint32_t> ConnectsGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Connects;
    }

private:
    SANetClientControl& m_Real;
    std::mutex m_Lock;
    std::vector<uint32_t> m_Connects;
};
} // namespace

TEST(ClientEndToEnd, LostConnectionRotatesThroughTheStoredAddressesWithAutoConnect)
{
    const uint32_t a = ClientTestLoopback(81), b = ClientTestLoopback(82), c = ClientTestLoopback(83);
    ClientTestStore store;
    auto peer = std::make_unique<PeerTestProcess>();
    // Stored list [A, B]: each insert goes to the front.
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(1, "127.0.0.82"));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(1, "127.0.0.81"));
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(1));
    ASSERT_TRUE(peer->Start({"--bind", "127.0.0.83", "--size", "320x240", "--fps", "100", "--quiet"}));

    ClientTestHarness viewer;
    ClientTestSpy spy(viewer.m_Client);
    viewer.m_Loop.Invoke([&] { viewer.m_Frame.ClientSet(&spy); });
    viewer.UserConnect(c);
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_ON));

    // Killed: the connection is lost without a word. The kill runs on the
    // window thread, so the viewer reacts only once the peer is gone: while
    // the kernel tears the dead process down it may close the connection
    // before the listener, and an immediate retry in between would still be
    // accepted by the dying listener.
    viewer.m_Loop.Invoke([&] { peer.reset(); });
    ASSERT_TRUE(ClientTestWaitFor([&] { return spy.ConnectsGet().size() >= 3; }, 30));
    EXPECT_EQ(viewer.StatusText().rfind("Disconnected - Reconnecting to 127.0.0.", 0), 0u)
        << viewer.StatusText();
    ASSERT_TRUE(ClientTestWaitFor([&] { return spy.ConnectsGet().size() >= 6; }, 30));
    viewer.Event(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0);
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_DISCONNECTED));

    std::vector<uint32_t> connects = spy.ConnectsGet();
    connects.resize(6);
    // The user's connect, the immediate retry to the lost server, then the
    // rotation through [A, B, C].
    EXPECT_EQ(connects, (std::vector<uint32_t>{c, c, a, b, c, a}));
}

// Acknowledgements keep coming from the previous connection's frames while
// the machine reconnects: on every connection the server must still see the
// connect request first.
TEST(ClientEndToEnd, EveryConnectionOfAReconnectStormBeginsWithItsConnectRequest)
{
    PeerRun run;
    ASSERT_TRUE(run.Start(75, {"--size", "64x32", "--fps", "0", "--fragments", "1"}));
    ClientTestHarness viewer;
    viewer.UserConnect(ClientTestLoopback(75));
    for (int i = 0; i < 40; ++i)
    {
        ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_ON)) << viewer.Histories();
        const uint64_t acknowledged = viewer.FramesAcknowledged();
        ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.FramesAcknowledged() > acknowledged + 20; }));
        // Each connection seems to have lived a second, so that the next is
        // made at once, while acknowledgements are still on their way.
        viewer.m_Frame.m_ClockOffset += 1000;
        viewer.Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    }
    ASSERT_TRUE(viewer.WaitState(SA_FSTM_STATE_CONNECTED_DISPLAY_ON));

    std::istringstream lines(run.Record());
    std::set<std::string> seen;
    size_t connections = 0;
    // The peer is still writing: a last line without its end is not whole yet.
    for (std::string line; std::getline(lines, line) && !lines.eof();)
    {
        const std::string conn = line.substr(0, line.find(','));
        if (!seen.insert(conn).second)
            continue;
        ++connections;
        EXPECT_NE(line.find("\"type\":\"ConnectRequest\""), std::string::npos) << line;
    }
    EXPECT_GE(connections, 41u);
}
