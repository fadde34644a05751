// Whole connection stories through the frame's messages: texts and message
// boxes, the connected-time rule with the histories, reconnect address
// rotation against a real settings store, paced retries, full screen upon
// connect, input packets and the machine's log lines.
#include "SAFstmRecording.h"
#include "net/SAFstmActions.h"
#include "net/SAInputRecord.h"
#include "net/SANetHostRecord.h"
#include "settings/SASettings.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace
{
const uint32_t A = 0x0A000001; // 10.0.0.1
const uint32_t B = 0x0A000002; // 10.0.0.2
const uint32_t C = 0x0A000003; // 10.0.0.3

class SAFstmFlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SASettings::Clear(); // false on a store that holds nothing yet
        m_Client.m_ServerAddress = C;
        m_Record.Address = C;
    }

    void Event(int32_t event, intptr_t param = 0)
    {
        m_Target.Send(SA_WM_APP_FSTM_EVENT, static_cast<uintptr_t>(event), param);
    }
    // The user picks the server and it reaches Display ON.
    void ConnectToDisplayOn()
    {
        Event(SA_FSTM_EVENT_MENU_CONNECT_SERVER, reinterpret_cast<intptr_t>(&m_Record));
        Event(SA_FSTM_EVENT_SERVER_CONNECTED);
        Event(SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_ON);
        ASSERT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_ON);
    }
    size_t Count(const std::string& entry) const
    {
        return std::count(m_Journal.begin(), m_Journal.end(), entry);
    }

    SAJournal m_Journal;
    SARecordingClient m_Client{m_Journal};
    SARecordingTarget m_Target{m_Journal};
    SARecordingFrame m_Frame{m_Target, m_Client, m_Journal};
    SANetHostRecord m_Record;
};

TEST(SAFstmTimeText, RoundsUpToWholeSecondsAndDoesNotLimitHours)
{
    EXPECT_EQ(SAFstmTimeTextGet(0), "00:00:00");
    EXPECT_EQ(SAFstmTimeTextGet(1), "00:00:01");
    EXPECT_EQ(SAFstmTimeTextGet(999), "00:00:01");
    EXPECT_EQ(SAFstmTimeTextGet(1000), "00:00:01");
    EXPECT_EQ(SAFstmTimeTextGet(1001), "00:00:02");
    EXPECT_EQ(SAFstmTimeTextGet(59999), "00:01:00");
    EXPECT_EQ(SAFstmTimeTextGet(3600000), "01:00:00");
    EXPECT_EQ(SAFstmTimeTextGet(3723000), "01:02:03");
    EXPECT_EQ(SAFstmTimeTextGet(int64_t(100) * 3600000), "100:00:00");
    EXPECT_EQ(SAFstmTimeTextGet(-5), "00:00:00");
}

TEST_F(SAFstmFlowTest, UserConnectToDisplayOnLeavesTheHistoriesAndAnEarlyEndShowsThem)
{
    m_Frame.m_Now = 1000000;
    ConnectToDisplayOn();
    EXPECT_EQ(m_Frame.StateHistoryGet(), "1-3-4-");
    EXPECT_EQ(m_Frame.EventHistoryGet(), "0-3-6-");
    EXPECT_EQ(m_Frame.ConnectionStartTimeGet(), 1000000u);

    m_Frame.m_Now += 15000; // not more than 15000 ms
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
    ASSERT_EQ(m_Frame.m_Boxes.size(), 1u);
    EXPECT_EQ(m_Frame.m_Boxes[0],
              "Disconnected|Disconnected by server error\n\nError Code: 1-3-4-\n\nError Info: "
              "0-3-6-\n\nConnected time: 00:00:15");
    // Emptied on reaching state 0; the start time is taken.
    EXPECT_EQ(m_Frame.StateHistoryGet(), "");
    EXPECT_EQ(m_Frame.EventHistoryGet(), "");
    EXPECT_EQ(m_Frame.ConnectionStartTimeGet(), 0u);
}

TEST_F(SAFstmFlowTest, ALongConnectionEndedByTheServerShowsOnlyTheConnectedTime)
{
    m_Frame.m_Now = 1000000;
    ConnectToDisplayOn();
    m_Frame.m_Now += 15001;
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF);
    ASSERT_EQ(m_Frame.m_Boxes.size(), 1u);
    EXPECT_EQ(m_Frame.m_Boxes[0], "Disconnected|Disconnected by server\n\nConnected time: 00:00:16");
}

TEST_F(SAFstmFlowTest, ConnectedTimeCountsFromTheFirstArrivalInDisplayOff)
{
    m_Frame.m_Now = 2000000;
    ConnectToDisplayOn();
    m_Frame.m_Now += 5000;
    Event(SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_OFF); // back in 3: no new stamp
    EXPECT_EQ(m_Frame.ConnectionStartTimeGet(), 2000000u);
    EXPECT_EQ(m_Frame.StateHistoryGet(), "1-3-4-3-");
    m_Frame.m_Now += 3599000 - 5000;
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF);
    ASSERT_EQ(m_Frame.m_Boxes.size(), 1u);
    EXPECT_EQ(m_Frame.m_Boxes[0], "Disconnected|Disconnected by server\n\nConnected time: 00:59:59");
}

TEST_F(SAFstmFlowTest, ConnectFailureShowsUnableToConnectAndReturnsToDisconnected)
{
    Event(SA_FSTM_EVENT_MENU_CONNECT_SERVER, reinterpret_cast<intptr_t>(&m_Record));
    EXPECT_EQ(m_Frame.m_Lines[0], "Connecting to ");
    EXPECT_EQ(m_Frame.m_Lines[1], "10.0.0.3");
    Event(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER); // a connect in progress cannot be cancelled
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_UNCONNECTED_CONNECTING_SERVER);
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
    ASSERT_EQ(m_Frame.m_Boxes.size(), 1u);
    EXPECT_EQ(m_Frame.m_Boxes[0], "Connection failure|Unable to connect!");
    EXPECT_EQ(m_Client.m_Connects, std::vector<uint32_t>({C}));
    EXPECT_EQ(m_Frame.ViewGet(), SAFrameView::CONNECT);
}

// After a user disconnect, the box depends on the reason the server gave.
TEST_F(SAFstmFlowTest, DisconnectedEntryAfterDisconnectingShowsTheServersReason)
{
    struct Case
    {
        int32_t reason;
        const char* box;
    };
    const Case cases[] = {
        {0, "Disconnected by server|Graceful disconnect by server\n\nConnected time: 00:00:21"},
        {1, "Disconnected by server|Error - Render graphics adapter (GPU) ran out of memory on server "
            "side\nTo fix, "
            "reboot the quillmere primary machine."},
        {3, "Disconnected by server|Error - Hardware encoding initialization failed on server side\n\nPlease "
            "consider switching to Software Encoding in Settings->Quality/Performance."},
        {4, "Disconnected by server|Error - Hardware encoding failed on server side\n\nPlease consider "
            "switching to "
            "Software Encoding in Settings->Quality/Performance."},
        {2, "Disconnected|Disconnected manually\n\nConnected time: 00:00:21"},
        {7, "Disconnected|Disconnected manually\n\nConnected time: 00:00:21"},
        {-1, "Disconnected|Disconnected manually\n\nConnected time: 00:00:21"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.reason);
        m_Frame.m_Boxes.clear();
        m_Client.m_Transmitted.clear();
        m_Frame.m_Now = 7000000;
        ConnectToDisplayOn();
        m_Frame.m_Now += 20500;
        // The receiver raises event 2 with the server's reason (or the user
        // with 0) and the machine passes it on in its own Disconnect packet.
        m_Client.m_LastReason = c.reason;
        Event(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, c.reason);
        EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_DISCONNECTING_SERVER);
        ASSERT_EQ(m_Client.m_Transmitted.size(), 1u);
        EXPECT_EQ(m_Client.m_Transmitted[0].HeaderTypeGet(), 8u);
        EXPECT_EQ(m_Client.m_Transmitted[0].S32Get(SAWire::DISCONNECT_REASON), c.reason);
        EXPECT_EQ(m_Frame.m_Lines[0], "Disconnecting from ");
        EXPECT_EQ(m_Frame.m_Lines[1], "10.0.0.3");
        EXPECT_TRUE(m_Frame.m_LineVisible[1]);
        EXPECT_TRUE(m_Frame.m_Boxes.empty());
        // The receiver ends and raises event 4.
        Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
        EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
        ASSERT_EQ(m_Frame.m_Boxes.size(), 1u);
        EXPECT_EQ(m_Frame.m_Boxes[0], c.box);
    }
}

TEST_F(SAFstmFlowTest, DisconnectingWithoutAKnownServerHidesTheAddressLine)
{
    m_Client.m_ServerAddress = 0;
    ASSERT_TRUE(m_Frame.FstmGet().CurrentStateSet(SA_FSTM_STATE_CONNECTED_DISPLAY_OFF));
    Event(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER);
    EXPECT_EQ(m_Frame.m_Lines[0], "Disconnecting... ");
    EXPECT_TRUE(m_Frame.m_LineVisible[0]);
    EXPECT_FALSE(m_Frame.m_LineVisible[1]);
    EXPECT_FALSE(m_Frame.m_LineVisible[2]);
    EXPECT_EQ(Count("Wait"), 1u);
}

TEST_F(SAFstmFlowTest, LostConnectionInStateDisconnectedOnlyShowsReconnectingWithoutConnecting)
{
    m_Frame.FstmStart();
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER);
    EXPECT_EQ(m_Frame.m_Lines[0], "Disconnected - Reconnecting to ");
    EXPECT_EQ(m_Frame.m_Lines[1], "10.0.0.3");
    EXPECT_TRUE(m_Client.m_Connects.empty());
    EXPECT_EQ(m_Frame.ViewGet(), SAFrameView::TEXT);
}

TEST_F(SAFstmFlowTest, PowerSuspendEntryTextKeepsItsTwoBlanks)
{
    // No raiser in this system, but the entry action still tests for it.
    SAFstmEventData data{&m_Client, 0, "id", &m_Frame};
    m_Frame.FstmGet().StateEnter(SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER, data, 3,
                                 SA_FSTM_EVENT_SERVER_POWER_SUSPEND);
    EXPECT_EQ(m_Frame.m_Lines[0], "Powersave -  Reconnecting to ");
    EXPECT_EQ(m_Frame.m_Lines[1], "10.0.0.3");
}

TEST_F(SAFstmFlowTest, AutoConnectGoesToReconnectingWithItsOwnLineAndTheRecordsAddress)
{
    m_Client.m_ServerAddress = 0; // nothing connected before
    m_Record.Address = B;
    Event(SA_FSTM_EVENT_MENU_AUTO_CONNECT_SERVER, reinterpret_cast<intptr_t>(&m_Record));
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER);
    EXPECT_EQ(m_Frame.m_Lines[0], "Auto-connecting to ");
    EXPECT_EQ(m_Frame.m_Lines[1], "10.0.0.2");
    EXPECT_EQ(m_Client.m_Connects, std::vector<uint32_t>({B}));
    EXPECT_EQ(m_Frame.ReconnectAddressListGet(), std::vector<uint32_t>({B}));
    // Its connect fails (the server is still starting): the retries go to
    // the record's server, though no connection was made to take it from.
    m_Frame.m_Now += 2000;
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    EXPECT_EQ(m_Client.m_Connects, std::vector<uint32_t>({B, B}));
    Event(SA_FSTM_EVENT_SERVER_CONNECTED);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_OFF);
}

TEST_F(SAFstmFlowTest, ConnectEventWithoutARecordEndsLikeAFailedConnect)
{
    SALogCapture capture;
    Event(SA_FSTM_EVENT_MENU_CONNECT_SERVER, 0);
    EXPECT_TRUE(m_Client.m_Connects.empty());
    EXPECT_TRUE(capture.Contains("SAFstmEvent_State00_OnMenuConnectServer failed! NULL == data.param"));
    m_Target.Pump();
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
    ASSERT_EQ(m_Frame.m_Boxes.size(), 1u);
    EXPECT_EQ(m_Frame.m_Boxes[0], "Connection failure|Unable to connect!");
}

// Attempts with AutoConnectSetting 1 and stored [A, B] after losing C.
TEST_F(SAFstmFlowTest, ReconnectRotatesThroughTheStoredAddressesAndTheLostServer)
{
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.0.0.2"));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.0.0.1"));
    ConnectToDisplayOn();
    m_Client.m_Connects.clear();
    m_Frame.m_Now += 60000; // the connection lived a minute

    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER);
    EXPECT_EQ(m_Frame.ReconnectAddressListGet(), std::vector<uint32_t>({A, B, C}));
    for (int attempt = 0; attempt < 4; ++attempt)
    {
        m_Frame.m_Now += 10; // each attempt fails at once
        Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
        ASSERT_TRUE(m_Frame.ReconnectPendingGet());
        m_Frame.m_Now += m_Frame.m_TimerDelays.back();
        m_Frame.TimerFire();
    }
    EXPECT_EQ(m_Client.m_Connects, std::vector<uint32_t>({C, A, B, C, A}));
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER);
    EXPECT_EQ(m_Frame.m_Lines[0], "Disconnected - Reconnecting to ");
    EXPECT_EQ(m_Frame.m_Lines[1], "10.0.0.3");
}

// An automatic connect at start-up took A from stored [A, B] and rotated the
// list; the connection it made (to C here) is lost: the first attempt goes
// on with the list where the start left it.
TEST_F(SAFstmFlowTest, ReconnectGoesOnThroughTheListTheAutomaticConnectRotated)
{
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.0.0.2"));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.0.0.1"));
    m_Frame.ReconnectAddressListRebuild(0);
    uint32_t started = 0;
    ASSERT_TRUE(m_Frame.ReconnectAddressNext(started));
    EXPECT_EQ(started, A);
    ConnectToDisplayOn();
    m_Client.m_Connects.clear();
    m_Frame.m_Now += 60000; // the connection lived a minute

    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    EXPECT_EQ(m_Client.m_Connects, std::vector<uint32_t>({B}));
    EXPECT_EQ(m_Frame.ReconnectAddressListGet(), std::vector<uint32_t>({A, B, C}));
}

TEST_F(SAFstmFlowTest, ReconnectWithAnyOtherSettingAlwaysGoesToTheLostServer)
{
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_HOST_NAME));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.0.0.1"));
    ConnectToDisplayOn();
    m_Client.m_Connects.clear();
    m_Frame.m_Now += 60000; // the connection lived a minute
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        m_Frame.m_Now += 2000; // slow failures: no waiting needed
        Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    }
    EXPECT_EQ(m_Client.m_Connects, std::vector<uint32_t>({C, C, C, C}));
    EXPECT_TRUE(m_Frame.m_TimerDelays.empty());
}

TEST_F(SAFstmFlowTest, RetriesAfterTheFirstArePacedToOneASecondWithoutBlocking)
{
    ConnectToDisplayOn();
    m_Client.m_Connects.clear();
    m_Frame.m_Now = 9000000;
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON); // lost: immediate attempt
    EXPECT_EQ(m_Client.m_Connects.size(), 1u);
    EXPECT_TRUE(m_Frame.m_TimerDelays.empty());

    m_Frame.m_Now += 3; // refused at once
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    EXPECT_EQ(m_Client.m_Connects.size(), 1u) << "a refused connect must not be retried at once";
    ASSERT_EQ(m_Frame.m_TimerDelays, std::vector<uint32_t>({997}));

    m_Frame.m_Now += 997;
    m_Frame.TimerFire();
    EXPECT_EQ(m_Client.m_Connects.size(), 2u);
    EXPECT_FALSE(m_Frame.ReconnectPendingGet());
    m_Frame.TimerFire(); // a second expiry of the same attempt does nothing
    EXPECT_EQ(m_Client.m_Connects.size(), 2u);

    m_Frame.m_Now += 400;
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    EXPECT_EQ(m_Frame.m_TimerDelays.back(), 600u);
    m_Frame.m_Now += 600;
    m_Frame.TimerFire();
    EXPECT_EQ(m_Client.m_Connects.size(), 3u);

    // An attempt that took its time (a connect time-out) is followed at once.
    m_Frame.m_Now += 21000;
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    EXPECT_EQ(m_Client.m_Connects.size(), 4u);
    EXPECT_EQ(m_Frame.m_TimerDelays.size(), 2u);

    // A server that accepts and closes at once: a connection lost soon after
    // its attempt is paced too, or the viewer spins on it hundreds of times a
    // second.
    for (int32_t state : {SA_FSTM_STATE_CONNECTED_DISPLAY_ON, SA_FSTM_STATE_CONNECTED_DISPLAY_OFF})
    {
        const size_t connects = m_Client.m_Connects.size();
        Event(SA_FSTM_EVENT_SERVER_CONNECTED);
        if (state == SA_FSTM_STATE_CONNECTED_DISPLAY_ON)
            Event(SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_ON);
        ASSERT_EQ(m_Frame.FstmStateGet(), state);
        m_Frame.m_Now += 10;
        Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
        EXPECT_EQ(m_Client.m_Connects.size(), connects) << state;
        EXPECT_EQ(m_Frame.m_TimerDelays.back(), 990u) << state;
        m_Frame.m_Now += 990;
        m_Frame.TimerFire();
        EXPECT_EQ(m_Client.m_Connects.size(), connects + 1) << state;
    }
}

TEST_F(SAFstmFlowTest, AUserDisconnectCancelsThePendingAttempt)
{
    ConnectToDisplayOn();
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    m_Frame.m_Now += 1;
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    ASSERT_TRUE(m_Frame.ReconnectPendingGet());
    const size_t connects = m_Client.m_Connects.size();

    Event(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_DISCONNECTING_SERVER);
    EXPECT_FALSE(m_Frame.ReconnectPendingGet());
    EXPECT_FALSE(m_Frame.m_TimerArmed);
    m_Frame.m_Now += 5000;
    m_Frame.TimerFire(); // arrives late: dropped
    EXPECT_EQ(m_Client.m_Connects.size(), connects);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_DISCONNECTING_SERVER);
}

TEST_F(SAFstmFlowTest, ASuccessfulConnectWhileAnAttemptIsPendingDropsIt)
{
    ConnectToDisplayOn();
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    m_Frame.m_Now += 1;
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON);
    ASSERT_TRUE(m_Frame.ReconnectPendingGet());
    Event(SA_FSTM_EVENT_SERVER_CONNECTED);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_OFF);
    EXPECT_FALSE(m_Frame.ReconnectPendingGet());
}

TEST_F(SAFstmFlowTest, FullScreenRequestIsIgnoredWithoutDisplayAndInFullScreen)
{
    ASSERT_TRUE(m_Frame.FstmGet().CurrentStateSet(SA_FSTM_STATE_CONNECTED_DISPLAY_OFF));
    Event(SA_FSTM_EVENT_CLIENT_FULLSCREEN_ON);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_OFF);
    EXPECT_EQ(Count("FullScreenEnter"), 0u);
    ASSERT_TRUE(m_Frame.FstmGet().CurrentStateSet(SA_FSTM_STATE_CONNECTED_DISPLAY_ON));
    Event(SA_FSTM_EVENT_CLIENT_FULLSCREEN_ON);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_CONNECTED_FULLSCREEN);
    EXPECT_EQ(Count("FullScreenEnter"), 1u);
    Event(SA_FSTM_EVENT_CLIENT_FULLSCREEN_ON);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_CONNECTED_FULLSCREEN);
    EXPECT_EQ(Count("FullScreenEnter"), 1u);
}

TEST_F(SAFstmFlowTest, FullScreenUponConnectNestsOneStepAndNotAfterLeavingFullScreen)
{
    m_Frame.FullScreenUponConnectSet(true);
    Event(SA_FSTM_EVENT_MENU_CONNECT_SERVER, reinterpret_cast<intptr_t>(&m_Record));
    Event(SA_FSTM_EVENT_SERVER_CONNECTED);
    m_Journal.clear();
    {
        SALogCapture capture(&m_Journal);
        Event(SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_ON);
    }
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_CONNECTED_FULLSCREEN);
    const SAJournal expected = {"Send 0x800a 6",   "View=display", "|", "WM11 6:3>4", "Send 0x800a 13", "|",
                                "FullScreenEnter", "WM11 13:4>6"};
    EXPECT_EQ(m_Journal, expected);
    EXPECT_EQ(m_Frame.StateHistoryGet(), "1-3-4-6-");
    EXPECT_EQ(m_Frame.EventHistoryGet(), "0-3-6-13-");

    // ESC: back to 4, and no automatic return to full screen.
    Event(SA_FSTM_EVENT_CLIENT_FULLSCREEN_OFF);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_ON);
    EXPECT_EQ(Count("FullScreenExit"), 1u);
    EXPECT_EQ(Count("FullScreenEnter"), 1u);
}

TEST_F(SAFstmFlowTest, ServerConnectedStartsWithTheInstanceIdAndOpensAudioWithTheServersFeatures)
{
    m_Frame.AudioEnabledSet(true);
    m_Frame.m_Features = 8;
    Event(SA_FSTM_EVENT_MENU_CONNECT_SERVER, reinterpret_cast<intptr_t>(&m_Record));
    m_Journal.clear();
    Event(SA_FSTM_EVENT_SERVER_CONNECTED);
    const SAJournal head(m_Journal.begin(), m_Journal.begin() + 4);
    const SAJournal expected = {"Send 0x800a 3", "Feature 0x300000a",
                                "Start {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}",
                                "AudioConnect 10.0.0.3 {0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0} 8"};
    EXPECT_EQ(head, expected);
}

TEST_F(SAFstmFlowTest, InputRecordsBecomePacketsAndAStatusRefreshIsPosted)
{
    ASSERT_TRUE(m_Frame.FstmGet().CurrentStateSet(SA_FSTM_STATE_CONNECTED_DISPLAY_ON));
    SALogCapture capture;

    SAInputMouseRecord mouse;
    mouse.lLastX = -4;
    mouse.lLastY = 7;
    mouse.usButtonFlags = SA_RI_MOUSE_LEFT_BUTTON_DOWN | SA_RI_MOUSE_MIDDLE_BUTTON_UP | SA_RI_MOUSE_WHEEL;
    mouse.usButtonData = 0xFF88; // -120 as the record carries it
    Event(SA_FSTM_EVENT_CLIENT_INPUT_MOUSE, reinterpret_cast<intptr_t>(&mouse));

    SAInputMouseRecord still;
    still.usButtonFlags = SA_RI_MOUSE_RIGHT_BUTTON_UP;
    still.usButtonData = 0x55; // no wheel: not sent
    Event(SA_FSTM_EVENT_CLIENT_INPUT_MOUSE, reinterpret_cast<intptr_t>(&still));

    SAInputKeyboardRecord key;
    key.vkCode = 0x1A5;
    key.scanCode = 0x10038;
    key.flags = SA_LLKHF_EXTENDED | SA_LLKHF_UP | 0x20;
    Event(SA_FSTM_EVENT_CLIENT_INPUT_KEYBOARD, reinterpret_cast<intptr_t>(&key));

    SAInputTouchRecord touch;
    touch.x = 640;
    touch.y = 360;
    touch.resolutionWidth = 1920;
    touch.resolutionHeight = 1080;
    touch.touchFlags = SA_TOUCHEVENTF_MOVE | SA_TOUCHEVENTF_UP;
    touch.absolute = 1;
    Event(SA_FSTM_EVENT_CLIENT_INPUT_TOUCH, reinterpret_cast<intptr_t>(&touch));

    // Every byte of the four headers, from the wire tables written out as
    // literal offsets (u32, little-endian): the encoder's own offset names
    // are not used, so a wrong one shows. Bytes not listed are 0, except
    // the touch packet's time (offset 28), which is the clock's.
    const struct
    {
        size_t Packet, Offset;
        uint32_t Value;
    } fields[] = {
        {0, 0, 10},     {0, 8, static_cast<uint32_t>(-4)},
        {0, 12, 7},     {0, 16, 0xFF88},
        {0, 20, 0x843}, // moved, left down, middle up, wheel
        {1, 0, 10},     {1, 20, 0x10},
        {2, 0, 11},     {2, 8, 0x1A5},
        {2, 12, 0x38},  {2, 16, 0x3},
        {3, 0, 12},     {3, 8, 640},
        {3, 12, 360},   {3, 16, 1920},
        {3, 20, 1080},  {3, 24, 0x5},
    };
    ASSERT_EQ(m_Client.m_Transmitted.size(), 4u);
    for (size_t packet = 0; packet < 4; ++packet)
    {
        uint8_t expected[SA_PACKET_HEADER_SIZE] = {};
        for (const auto& field : fields)
            for (size_t i = 0; field.Packet == packet && i < 4; ++i)
                expected[field.Offset + i] = static_cast<uint8_t>(field.Value >> (8 * i));
        const uint8_t* sent = m_Client.m_Transmitted[packet].m_Bytes;
        for (size_t offset = 0; offset < SA_PACKET_HEADER_SIZE; ++offset)
        {
            if (packet == 3 && offset >= 28 && offset < 32)
                continue;
            EXPECT_EQ(int{sent[offset]}, int{expected[offset]})
                << "packet " << packet << " offset " << offset;
        }
    }

    EXPECT_EQ(m_Target.m_Posted.size(), 4u);
    for (const auto& posted : m_Target.m_Posted)
        EXPECT_EQ(posted.message, SA_WM_APP_STATUS_REFRESH);

    EXPECT_TRUE(capture.Contains("MOUSE: (-4,7) Flags:0x0 ButtonFlags:0x843 ButtonData:0xff88\n"));
    EXPECT_TRUE(capture.Contains("KEYBOARD: ScanCode:0x38 VKeyCode:0x1a5 Flags:0x3\n"));
    EXPECT_TRUE(capture.Contains("TOUCH INPUT:640;360 Flags:0x5 Resolution:1920;1080\n"));
}

TEST_F(SAFstmFlowTest, TouchInDisplayOffIsSentWithoutAbsoluteBitWhenTheRecordSaysSo)
{
    ASSERT_TRUE(m_Frame.FstmGet().CurrentStateSet(SA_FSTM_STATE_CONNECTED_DISPLAY_OFF));
    SAInputTouchRecord touch;
    touch.touchFlags = SA_TOUCHEVENTF_DOWN;
    touch.absolute = 0;
    Event(SA_FSTM_EVENT_CLIENT_INPUT_TOUCH, reinterpret_cast<intptr_t>(&touch));
    ASSERT_EQ(m_Client.m_Transmitted.size(), 1u);
    EXPECT_EQ(m_Client.m_Transmitted[0].U32Get(SAWire::TOUCH_FLAGS), 0x2u);
}

TEST_F(SAFstmFlowTest, InputEventsWithoutARecordAreLoggedAndSendNothing)
{
    ASSERT_TRUE(m_Frame.FstmGet().CurrentStateSet(SA_FSTM_STATE_CONNECTED_FULLSCREEN));
    SALogCapture capture;
    Event(SA_FSTM_EVENT_CLIENT_INPUT_MOUSE, 0);
    Event(SA_FSTM_EVENT_CLIENT_INPUT_KEYBOARD, 0);
    Event(SA_FSTM_EVENT_CLIENT_INPUT_TOUCH, 0);
    EXPECT_TRUE(m_Client.m_Transmitted.empty());
    EXPECT_TRUE(m_Target.m_Posted.empty());
    EXPECT_TRUE(capture.Contains("SAFstmEvent_State030406_OnClientInputMouse failed!\n"));
    EXPECT_TRUE(capture.Contains("SAFstmEvent_State030406_OnClientInputKeyboard failed!\n"));
    EXPECT_TRUE(capture.Contains("SAFstmEvent_State050608_OnHookInputTouch failed!\n"));
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_CONNECTED_FULLSCREEN);
}

TEST_F(SAFstmFlowTest, LogLinesNameEventsAndStatesAndInvalidValues)
{
    SALogCapture capture;
    SAFstm fstm;
    EXPECT_TRUE(capture.Contains("SAFstm::SAFstm Count states:7 Current state initial:0\n"));
    Event(SA_FSTM_EVENT_MENU_CONNECT_SERVER, reinterpret_cast<intptr_t>(&m_Record));
    EXPECT_TRUE(capture.Contains("SAFstm::ProcessEvent Event:0 SA_FSTM_EVENT_MENU_CONNECT_SERVER\n"));
    EXPECT_TRUE(capture.Contains("SAFstm::ProcessEvent State:0 SA_FSTM_STATE_DISCONNECTED ==>> 1 "
                                 "SA_FSTM_STATE_UNCONNECTED_CONNECTING_SERVER\n"));
    Event(SA_FSTM_EVENT_TIMER, 10000);
    EXPECT_TRUE(capture.Contains("SAFstm::ProcessEvent Event:15 SA_FSTM_EVENT_TIMER\n"));
    EXPECT_TRUE(
        capture.Contains("SAFstm::ProcessEvent State:1 SA_FSTM_STATE_UNCONNECTED_CONNECTING_SERVER ==>> 1 "
                         "SA_FSTM_STATE_UNCONNECTED_CONNECTING_SERVER\n"));
    Event(16);
    EXPECT_TRUE(capture.Contains("SAFstm::ProcessEvent Event:16 SA_FSTM_EVENT_ invalid\n"));
    EXPECT_EQ(std::string(SAFstm::StateNameGet(7)), "SA_FSTM_STATE_ invalid");
    EXPECT_EQ(std::string(SAFstm::StateNameGet(6)), "SA_FSTM_STATE_CONNECTED_FULLSCREEN");
    EXPECT_EQ(std::string(SAFstm::EventNameGet(-1)), "SA_FSTM_EVENT_ invalid");
    EXPECT_EQ(std::string(SAFstm::EventNameGet(12)), "SA_FSTM_EVENT_CLIENT_DISPLAY_ORIENTATION_CHANGED");
}
} // namespace
