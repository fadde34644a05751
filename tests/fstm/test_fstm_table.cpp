// Every cell of the connection state table: which action ran (seen through
// the recording client and frame), the next state, whether the entry action
// ran and whether WM_APP+11 was sent.
#include "SAFstmRecording.h"
#include "net/SAInputRecord.h"
#include "net/SANetHostRecord.h"
#include "settings/SASettings.h"

#include <gtest/gtest.h>
#include <map>
#include <utility>

namespace
{
const uint32_t SERVER = 0x0A000003; // 10.0.0.3, the current connection
const uint32_t PICKED = 0x0A000009; // 10.0.0.9, the record of a connect event
const char* const ID = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";

using Calls = std::vector<std::string>;

struct Cell
{
    Calls action;
    int32_t next;
};

Calls Join(Calls a, const Calls& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What each transition action does with the fakes of this test (server
// 10.0.0.3, audio off, no auto-connect list, parameter 0 for event 2).
const Calls CONNECT = {
    "Connect 10.0.0.9", "Line1=Connecting to ", "Line2=10.0.0.9", "Show1", "Show2", "Hide3", "View=text"};
const Calls AUTO_CONNECT = {
    "Connect 10.0.0.9", "Line1=Auto-connecting to ", "Line2=10.0.0.9", "Show1", "Show2", "Hide3",
    "View=text"};
const Calls SERVER_CONNECTED = {"Feature 0x300000a", std::string("Start ") + ID};
// The stop raises its own end: nothing of the stopped connection counts.
const Calls DISCONNECT = {"Transmit 8:0", "ConnectionStop", "Post 0x800a 4"};
const Calls RECONNECT = {"ConnectionStop", "Connect 10.0.0.3"};
const Calls STOP = {"ConnectionStop"};
const Calls DISPLAY = {"View=display"};
const Calls MOUSE = {"Transmit 10", "Post 0x800c 0"};
const Calls KEYBOARD = {"Transmit 11", "Post 0x800c 0"};
const Calls TOUCH = {"Transmit 12", "Post 0x800c 0"};
const Calls FS_EXIT = {"FullScreenExit"};

std::map<std::pair<int32_t, int32_t>, Cell> ExpectedTable()
{
    std::map<std::pair<int32_t, int32_t>, Cell> t;
    t[{0, 0}] = {CONNECT, 1};
    t[{0, 1}] = {AUTO_CONNECT, 2};
    t[{0, 4}] = {{}, 2};
    t[{1, 3}] = {SERVER_CONNECTED, 3};
    t[{1, 4}] = {{}, 0};
    t[{1, 5}] = {{}, 0};
    t[{2, 2}] = {DISCONNECT, 5};
    t[{2, 3}] = {SERVER_CONNECTED, 3};
    t[{2, 4}] = {RECONNECT, 2};
    t[{2, 5}] = {RECONNECT, 2};
    t[{3, 2}] = {DISCONNECT, 5};
    t[{3, 4}] = {RECONNECT, 2};
    t[{3, 5}] = {STOP, 0};
    t[{3, 6}] = {DISPLAY, 4};
    t[{3, 9}] = {MOUSE, 3};
    t[{3, 10}] = {KEYBOARD, 3};
    t[{3, 11}] = {TOUCH, 3};
    t[{4, 2}] = {DISCONNECT, 5};
    t[{4, 4}] = {RECONNECT, 2};
    t[{4, 5}] = {STOP, 0};
    t[{4, 7}] = {{}, 3};
    t[{4, 9}] = {MOUSE, 4};
    t[{4, 10}] = {KEYBOARD, 4};
    t[{4, 11}] = {TOUCH, 4};
    t[{4, 12}] = {{}, 4};
    t[{4, 13}] = {{}, 6};
    t[{5, 4}] = {{}, 0};
    t[{5, 5}] = {{}, 0};
    t[{6, 2}] = {Join(FS_EXIT, DISCONNECT), 5};
    t[{6, 4}] = {Join(FS_EXIT, RECONNECT), 2};
    t[{6, 5}] = {Join(FS_EXIT, STOP), 0};
    t[{6, 7}] = {FS_EXIT, 3};
    t[{6, 9}] = {MOUSE, 6};
    t[{6, 10}] = {KEYBOARD, 6};
    t[{6, 11}] = {TOUCH, 6};
    t[{6, 12}] = {{}, 6};
    t[{6, 14}] = {FS_EXIT, 4};
    return t;
}

// What the entry action of `next` does after `previous` on `event`.
Calls ExpectedEntry(int32_t next, int32_t previous, int32_t event)
{
    switch (next)
    {
    case 0:
    {
        Calls c = {"View=connect"};
        if (previous == 1)
            c.push_back("Box Connection failure|Unable to connect!");
        else if (previous == 3 || previous == 4 || previous == 6)
            c.push_back(
                "Box Disconnected|Disconnected by server error\n\nError Code: \n\nError Info: \n\nConnected "
                "time: 00:00:00");
        else if (previous == 5)
            c.push_back("Box Disconnected|Disconnected manually\n\nConnected time: 00:00:00");
        c.push_back("ConnectionStop");
        return c;
    }
    case 2:
        if (event == 1)
            return {"Line2=10.0.0.9", "Show1", "Show2", "Hide3", "View=text"};
        return {"Line1=Disconnected - Reconnecting to ",
                "Line2=10.0.0.3",
                "Line2=10.0.0.3",
                "Show1",
                "Show2",
                "Hide3",
                "View=text"};
    case 3:
        return {"Line1=Connected - Display OFF", "Show1", "Hide2", "Hide3", "View=text"};
    case 5:
        return {
            "Line1=Disconnecting from ", "Line2=10.0.0.3", "Show1", "Show2", "Hide3", "View=text", "Wait"};
    case 6:
        return {"FullScreenEnter"};
    default:
        return {};
    }
}

class SAFstmTableTest : public ::testing::TestWithParam<int32_t>
{
protected:
    void SetUp() override
    {
        SASettings::Clear(); // false on a store that holds nothing yet
        m_Record.Address = PICKED;
        m_Mouse.lLastX = 3;
        m_Keyboard.vkCode = 0x41;
        m_Touch.touchFlags = SA_TOUCHEVENTF_DOWN;
    }

    intptr_t ParamFor(int32_t event)
    {
        switch (event)
        {
        case 0:
        case 1:
            return reinterpret_cast<intptr_t>(&m_Record);
        case 9:
            return reinterpret_cast<intptr_t>(&m_Mouse);
        case 10:
            return reinterpret_cast<intptr_t>(&m_Keyboard);
        case 11:
            return reinterpret_cast<intptr_t>(&m_Touch);
        default:
            return 0;
        }
    }

    SANetHostRecord m_Record;
    SAInputMouseRecord m_Mouse;
    SAInputKeyboardRecord m_Keyboard;
    SAInputTouchRecord m_Touch;
};

TEST_P(SAFstmTableTest, EveryEventInThisStateDoesWhatItsCellSays)
{
    const int32_t state = GetParam();
    const auto table = ExpectedTable();
    std::vector<int32_t> events;
    for (int32_t e = 0; e < SA_FSTM_EVENT_COUNT; ++e)
        events.push_back(e);
    events.push_back(16);
    events.push_back(-1);
    events.push_back(1000);

    for (int32_t event : events)
    {
        SCOPED_TRACE("state " + std::to_string(state) + " event " + std::to_string(event));
        SAJournal journal;
        SARecordingClient client(journal);
        client.m_ServerAddress = SERVER;
        SARecordingTarget target(journal);
        SARecordingFrame frame(target, client, journal);
        ASSERT_TRUE(frame.FstmGet().CurrentStateSet(state));
        SALogCapture capture(&journal);

        target.Send(SA_WM_APP_FSTM_EVENT, static_cast<uintptr_t>(event), ParamFor(event));

        Cell expected{{}, state};
        const auto found = table.find({state, event});
        if (found != table.end())
            expected = found->second;

        EXPECT_EQ(frame.FstmStateGet(), expected.next);

        // journal: "Send 0x800a e", action calls, "|", entry calls, "WM11 ...", reactions
        ASSERT_GE(journal.size(), 2u);
        EXPECT_EQ(journal[0], "Send 0x800a " + std::to_string(static_cast<uintptr_t>(event)));
        size_t i = 1;
        Calls action;
        for (; i < journal.size() && journal[i] != "|"; ++i)
            action.push_back(journal[i]);
        ASSERT_LT(i, journal.size()) << "no state line logged";
        EXPECT_EQ(action, expected.action);

        Calls rest(journal.begin() + static_cast<long>(i) + 1, journal.end());
        if (expected.next == state)
        {
            EXPECT_TRUE(rest.empty()) << "entry action or notification on an unchanged state";
            continue;
        }
        Calls entry;
        size_t k = 0;
        for (; k < rest.size() && rest[k].rfind("WM11 ", 0) != 0; ++k)
            entry.push_back(rest[k]);
        EXPECT_EQ(entry, ExpectedEntry(expected.next, state, event));
        ASSERT_LT(k, rest.size()) << "no WM_APP+11";
        EXPECT_EQ(rest[k], "WM11 " + std::to_string(event) + ":" + std::to_string(state) + ">" +
                               std::to_string(expected.next));
        // Exactly one notification per step (no nested step here: full
        // screen upon connect is off).
        for (size_t m = k + 1; m < rest.size(); ++m)
            EXPECT_NE(rest[m].rfind("WM11 ", 0), 0u) << rest[m];
    }
}

INSTANTIATE_TEST_SUITE_P(AllStates, SAFstmTableTest, ::testing::Range(0, SA_FSTM_STATE_COUNT));

TEST(SAFstmTableShape, StatesHaveTheirNameTextsAndEntryActionsWhereTheTableGivesThem)
{
    SAFstm fstm;
    const char* const texts[] = {"Disconnected ",           "Connecting Server... ",
                                 "Reconnecting Server... ", "Connected - Display OFF",
                                 "Connected - Display ON",  "Disconnecting...",
                                 "Connected - Fullscreen"};
    const bool hasEntry[] = {true, false, true, true, false, true, true};
    for (int32_t s = 0; s < SA_FSTM_STATE_COUNT; ++s)
    {
        EXPECT_EQ(fstm.StateGet(s).name, texts[s]);
        EXPECT_EQ(fstm.StateGet(s).onEnter != nullptr, hasEntry[s]) << s;
    }
    EXPECT_EQ(fstm.CurrentStateGet(), 0);
    EXPECT_FALSE(fstm.CurrentStateSet(7));
    EXPECT_FALSE(fstm.CurrentStateSet(-1));
    EXPECT_EQ(fstm.CurrentStateGet(), 0);
}
} // namespace
