// The frame's own reactions: WM_APP+11 (histories, connection flag, start
// time, UI hooks), WM_APP+21, the one-time start of the machine, the host
// record layout, the console frame, and the paced reconnect through the real
// timer thread and a real message loop.
#include "SAFstmRecording.h"
#include "core/PSEvent.h"
#include "core/SAMessageLoop.h"
#include "net/SAFrameConsole.h"
#include "net/SANetHostRecord.h"
#include "settings/SASettings.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>

namespace
{
const uint32_t C = 0x0A000003;

class SAFrameReactionTest : public ::testing::Test
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

    SAJournal m_Journal;
    SARecordingClient m_Client{m_Journal};
    SARecordingTarget m_Target{m_Journal};
    SARecordingFrame m_Frame{m_Target, m_Client, m_Journal};
    SANetHostRecord m_Record;
};

TEST_F(SAFrameReactionTest, OneTimeStartShowsTheConnectViewWithoutBoxOrNotification)
{
    m_Frame.ViewSwitch(SAFrameView::TEXT);
    m_Frame.m_Hooks.clear();
    m_Journal.clear();
    m_Frame.FstmStart();
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
    EXPECT_EQ(m_Journal, SAJournal({"View=connect", "ConnectionStop"}));
    EXPECT_EQ(m_Frame.m_Hooks, std::vector<std::string>({"Discovery resume"}));
    EXPECT_TRUE(m_Frame.m_Boxes.empty());
}

TEST_F(SAFrameReactionTest, ViewSwitchPausesDiscoveryWhenLeavingTheConnectView)
{
    m_Frame.ViewSwitch(SAFrameView::TEXT);
    m_Frame.ViewSwitch(SAFrameView::DISPLAY);
    m_Frame.ViewSwitch(SAFrameView::CONNECT);
    m_Frame.ViewSwitch(SAFrameView::CONNECT);
    EXPECT_EQ(m_Frame.m_Hooks, std::vector<std::string>({"Discovery suspend", "Discovery resume",
                                                         "Discovery suspend", "Discovery resume"}));
}

TEST_F(SAFrameReactionTest, ConnectionBeginAndEndDriveTheUiHooksInOrder)
{
    m_Frame.KeepMonitorActiveSet(true);
    m_Frame.m_Now = 4242;
    Event(SA_FSTM_EVENT_MENU_CONNECT_SERVER, reinterpret_cast<intptr_t>(&m_Record));
    EXPECT_TRUE(m_Frame.ConnectionActiveGet());
    Event(SA_FSTM_EVENT_SERVER_CONNECTED);
    EXPECT_EQ(m_Frame.ConnectionStartTimeGet(), 4242u);
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF);
    EXPECT_FALSE(m_Frame.ConnectionActiveGet());
    std::vector<std::string> hooks;
    for (const auto& h : m_Frame.m_Hooks)
        if (h.rfind("Discovery", 0) != 0)
            hooks.push_back(h);
    EXPECT_EQ(hooks,
              std::vector<std::string>({"ConnectionBegin", "RendererStatusClear", "StatusIpPanes",
                                        "KeepAwake on", "ConnectionEnd", "KeepAwake off", "StatusBarReset"}));
}

TEST_F(SAFrameReactionTest, KeepAwakeIsOnlyTouchedWhileTheSettingIsOn)
{
    Event(SA_FSTM_EVENT_MENU_CONNECT_SERVER, reinterpret_cast<intptr_t>(&m_Record));
    Event(SA_FSTM_EVENT_SERVER_CONNECTED);
    Event(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_OFF);
    for (const auto& h : m_Frame.m_Hooks)
        EXPECT_EQ(h.rfind("KeepAwake", 0), std::string::npos) << h;
}

TEST_F(SAFrameReactionTest, StateChangedMessageDecodesBothStatesFromItsParameter)
{
    // Sent by hand: previous 0 in the low half, new state 3 in the high half.
    m_Frame.m_Now = 777;
    m_Target.Send(SA_WM_APP_FSTM_STATE_CHANGED, 3, (3 << 16) | 0);
    EXPECT_EQ(m_Frame.StateHistoryGet(), "3-");
    EXPECT_EQ(m_Frame.EventHistoryGet(), "3-");
    EXPECT_TRUE(m_Frame.ConnectionActiveGet());
    EXPECT_EQ(m_Frame.ConnectionStartTimeGet(), 777u);
}

TEST_F(SAFrameReactionTest, StreamResetRequestIsAnsweredWithOneReply)
{
    intptr_t result = -1;
    ASSERT_TRUE(m_Frame.AppMessageHandle(SA_WM_APP_STREAM_RESET_REPLY, 0, 0, result));
    EXPECT_EQ(result, 0);
    ASSERT_EQ(m_Client.m_Transmitted.size(), 1u);
    const SAPacketHeader& h = m_Client.m_Transmitted[0];
    EXPECT_EQ(h.HeaderTypeGet(), 1u);
    EXPECT_EQ(h.ByteCountGet(), 0u);
    EXPECT_EQ(h.U32Get(8), 0u);
    EXPECT_EQ(h.U32Get(SAWire::STREAM_RESET_REPLY_REQUEST), 2u);
    EXPECT_FALSE(m_Frame.AppMessageHandle(SA_WM_APP_STATUS_REFRESH, 0, 0, result));
}

TEST_F(SAFrameReactionTest, AnEventParameterBeyondInt32DoesNotWrapOntoARealEvent)
{
    ASSERT_TRUE(m_Frame.FstmGet().CurrentStateSet(SA_FSTM_STATE_CONNECTED_DISPLAY_OFF));
    m_Target.Send(SA_WM_APP_FSTM_EVENT, (uintptr_t(1) << 32) | SA_FSTM_EVENT_SERVER_DISPLAY_VISIBILITY_ON, 0);
    EXPECT_EQ(m_Frame.FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_OFF);
    EXPECT_EQ(m_Frame.ViewGet(), SAFrameView::CONNECT);
}

TEST_F(SAFrameReactionTest, FlagsComeFromTheStoredSettings)
{
    m_Frame.FlagsFromSettingsRead();
    m_Frame.AudioEnabledFromSettingsRead();
    EXPECT_FALSE(m_Frame.FullScreenUponConnectGet());
    EXPECT_FALSE(m_Frame.KeepMonitorActiveGet());
    EXPECT_FALSE(m_Frame.AudioEnabledGet());

    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_FULL_SCREEN_UPON_CONNECT_ENABLE, true));
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_KEEP_MONITOR_ACTIVE_ENABLE, true));
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_MENU_AUDIO_ENABLED, true));
    m_Frame.FlagsFromSettingsRead();
    m_Frame.AudioEnabledFromSettingsRead();
    EXPECT_TRUE(m_Frame.FullScreenUponConnectGet());
    EXPECT_TRUE(m_Frame.KeepMonitorActiveGet());
    EXPECT_TRUE(m_Frame.AudioEnabledGet());

    // Another viewer streams audio already.
    ASSERT_TRUE(SASettings::SettingsAudioOptionEnableSet(true));
    m_Frame.AudioEnabledFromSettingsRead();
    EXPECT_FALSE(m_Frame.AudioEnabledGet());
}

TEST(SANetHostRecordLayout, FieldsSitAtTheirOffsetsLittleEndianAndCarryTheRestUnchanged)
{
    uint8_t bytes[SA_NET_HOST_RECORD_SIZE];
    for (size_t i = 0; i < sizeof(bytes); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    const char16_t name[] = u"srv-\u00e9";
    for (size_t i = 0; i < 6; ++i)
    {
        bytes[2 * i] = static_cast<uint8_t>(name[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(name[i] >> 8);
    }
    bytes[254] = bytes[255] = 0; // the last unit of the name field is always the terminator
    const uint8_t address[] = {0x03, 0x00, 0x00, 0x0A}; // 10.0.0.3 in host order, little-endian
    std::memcpy(bytes + 256, address, 4);
    bytes[260] = 0x5C;
    bytes[261] = 0x6E; // 28252
    bytes[280] = 0x18;
    bytes[281] = bytes[282] = bytes[283] = 0;

    const SANetHostRecord record = SANetHostRecord::Decode(bytes);
    EXPECT_EQ(record.HostNameGet(), "srv-\xc3\xa9");
    EXPECT_EQ(record.Address, C);
    EXPECT_EQ(record.Port, 28252);
    EXPECT_EQ(record.FeatureBitmap, 0x18u);

    uint8_t again[SA_NET_HOST_RECORD_SIZE];
    std::memset(again, 0xEE, sizeof(again));
    record.Encode(again);
    EXPECT_EQ(std::memcmp(again, bytes, sizeof(bytes)), 0);
}

TEST(SANetHostRecordLayout, AnUnterminatedNameIsCutInsideItsField)
{
    uint8_t bytes[SA_NET_HOST_RECORD_SIZE] = {};
    for (size_t i = 0; i < 128; ++i)
        bytes[2 * i] = 'a';
    bytes[256] = 0x01; // the address right behind must not become part of the name
    const SANetHostRecord record = SANetHostRecord::Decode(bytes);
    EXPECT_EQ(record.HostNameGet(), std::string(127, 'a'));
    EXPECT_EQ(record.HostName[127], 0);
    EXPECT_EQ(record.Address, 1u);
}

TEST(SANetHostRecordLayout, SettingANameKeepsItInsideTheField)
{
    SANetHostRecord record;
    record.HostNameSet(std::string(300, 'b'));
    EXPECT_EQ(record.HostNameGet(), std::string(127, 'b'));
    record.HostNameSet("short");
    EXPECT_EQ(record.HostNameGet(), "short");
    EXPECT_EQ(record.HostName[5], 0);
    EXPECT_EQ(record.HostName[6], 0);
}

// The headless tool's frame on a real message loop: a refused reconnect is
// retried once the frame's timer thread posts the due message.
class SAFrameConsoleLoopTest : public ::testing::Test
{
protected:
    SAFrameConsoleLoopTest()
        : m_Loop(
              [this](uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t
              {
                  intptr_t result = 0;
                  if (m_pFrame)
                      m_pFrame->AppMessageHandle(message, wParam, lParam, result);
                  return result;
              })
    {
    }
    void SetUp() override { SASettings::Clear(); }

    SAMessageLoop m_Loop;
    SAFrameConsole* m_pFrame = nullptr;
};

// A client that counts connects and signals the second one.
class SACountingClient : public SARecordingClient
{
public:
    explicit SACountingClient(SAJournal& journal) : SARecordingClient(journal) {}
    void Connect(uint32_t address) override
    {
        SARecordingClient::Connect(address);
        if (++m_Count == 2)
            m_Second.Set();
    }
    std::atomic<int> m_Count{0};
    PSEvent m_Second{true, false};
};

TEST_F(SAFrameConsoleLoopTest, PacedRetryArrivesThroughTheTimerThreadAndPrintsTheStatus)
{
    SAJournal journal;
    SACountingClient client(journal);
    client.m_ServerAddress = C;
    std::ostringstream out;
    SAFrameConsole frame(m_Loop, &client, out);
    m_pFrame = &frame;
    ASSERT_TRUE(m_Loop.Start());

    ASSERT_TRUE(m_Loop.Invoke(
        [&]
        {
            frame.FstmStart();
            frame.FstmGet().CurrentStateSet(SA_FSTM_STATE_CONNECTED_DISPLAY_ON);
        }));
    m_Loop.Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, 0);
    m_Loop.Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, 0);
    // The second attempt waits for the timer; it must come without any help.
    ASSERT_EQ(client.m_Second.Wait(10000), PS_WAIT_OBJECT_0);
    m_Loop.Invoke(
        [&]
        {
            EXPECT_EQ(frame.FstmStateGet(), SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER);
            EXPECT_FALSE(frame.ReconnectPendingGet());
        });
    m_Loop.Stop();
    m_pFrame = nullptr;
    EXPECT_EQ(client.m_Count.load(), 2);
    EXPECT_EQ(client.m_Connects, std::vector<uint32_t>({C, C}));
    EXPECT_NE(out.str().find("Status: Disconnected - Reconnecting to 10.0.0.3\n"), std::string::npos)
        << out.str();
}

TEST(SAFrameConsoleOutput, PrintsStatusOnceBoxesAndViews)
{
    SAJournal journal;
    SARecordingClient client(journal);
    client.m_ServerAddress = C;
    SARecordingTarget target(journal);
    std::ostringstream out;
    SAFrameConsole frame(target, &client, out);
    frame.ServerFeatureSet(C, 8);
    EXPECT_EQ(frame.ServerFeatureSupportBitmapGet(htonl(C)), 8);
    EXPECT_EQ(frame.ServerFeatureSupportBitmapGet(htonl(C + 1)), 0);

    frame.FstmStart();
    SANetHostRecord record;
    record.Address = C;
    frame.OnAppFstmEvent(SA_FSTM_EVENT_MENU_CONNECT_SERVER, reinterpret_cast<intptr_t>(&record));
    frame.OnAppFstmEvent(SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, 0);
    EXPECT_EQ(out.str(), "Status: Connecting to 10.0.0.3\n"
                         "View: connect\n"
                         "Connection failure: Unable to connect!\n");
}
} // namespace
