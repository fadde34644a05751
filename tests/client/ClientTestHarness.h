#pragma once
// A headless viewer for end-to-end tests: a message loop as the window
// thread, the console frame (recording its message boxes), the real server
// client and the screen update queue. A small consumer thread stands in for
// the frame buffer processor: it drains the queue and acknowledges every
// completed frame, so the peer's flow control keeps streaming.
#include "core/PSTime.h"
#include "core/SALog.h"
#include "core/SAMessageLoop.h"
#include "net/SAFrameConsole.h"
#include "net/SANetClient.h"
#include "net/SANetHostRecord.h"
#include "net/SAQueueScreenUpdates.h"
#include "tests/core/SATestWait.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

// Host-order 127.0.0.n.
inline uint32_t ClientTestLoopback(uint32_t n)
{
    return 0x7F000000u | n;
}

// A whole file as bytes ("" when it cannot be read).
inline std::string ClientTestFileRead(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// How often `what` occurs in `text`, overlaps included.
inline size_t ClientTestCount(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

inline bool ClientTestWaitFor(const std::function<bool()>& pred, int seconds = 20)
{
    return SATestWaitFor(pred, seconds);
}

class ClientTestFrame : public SAFrameConsole
{
public:
    ClientTestFrame(SAMessageTarget& target, SANetClientControl* client, std::ostream& out)
        : SAFrameConsole(target, client, out)
    {
    }

    void MessageBoxShow(const std::string& text, const std::string& title) override
    {
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Boxes.push_back(title + "|" + text);
        }
        SAFrameConsole::MessageBoxShow(text, title);
    }
    void DisconnectingWait() override { PSTimeSleep(50); }
    uint64_t ClockGet() const override { return SAFrameConsole::ClockGet() + m_ClockOffset.load(); }

    std::vector<std::string> BoxesGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Boxes;
    }

    std::atomic<uint64_t> m_ClockOffset{0};

private:
    std::mutex m_Lock;
    std::vector<std::string> m_Boxes;
};

class ClientTestHarness
{
public:
    explicit ClientTestHarness(bool acknowledge = true)
        : m_Loop([this](uint32_t m, uintptr_t w, intptr_t l) { return PrivateDispatch(m, w, l); }),
          m_Queue(&m_Loop), m_Client(&m_Queue, &m_Loop), m_Frame(m_Loop, &m_Client, m_Out),
          m_Acknowledge(acknowledge)
    {
        m_Frame.InstanceIdSet("{0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9}");
        m_Loop.Start();
        m_Loop.Invoke([this] { m_Frame.FstmStart(); });
        m_Consumer = std::thread([this] { PrivateConsume(); });
    }

    ~ClientTestHarness()
    {
        m_Loop.Invoke(
            [this]
            {
                if (m_Frame.FstmStateGet() != SA_FSTM_STATE_DISCONNECTED)
                    m_Client.ConnectionStop();
                m_Frame.ReconnectTimerStop();
            });
        m_Stop = true;
        m_Wake.Set();
        m_Consumer.join();
        m_Loop.Stop();
        m_Client.ReceiverJoin();
    }

    // Raises a state machine event the way the connect view and menus do.
    void Event(int32_t event, intptr_t param = 0) { m_Loop.Send(SA_WM_APP_FSTM_EVENT, event, param); }

    void UserConnect(uint32_t hostOrderAddress)
    {
        m_Record.Address = hostOrderAddress;
        Event(SA_FSTM_EVENT_MENU_CONNECT_SERVER, reinterpret_cast<intptr_t>(&m_Record));
    }

    int32_t State()
    {
        int32_t state = -1;
        m_Loop.Invoke([&] { state = m_Frame.FstmStateGet(); });
        return state;
    }
    bool WaitState(int32_t state, int seconds = 20)
    {
        return ClientTestWaitFor([&] { return State() == state; }, seconds);
    }
    std::string Histories()
    {
        std::string text;
        m_Loop.Invoke([&] { text = m_Frame.StateHistoryGet() + "|" + m_Frame.EventHistoryGet(); });
        return text;
    }
    std::string StatusText()
    {
        std::string text;
        m_Loop.Invoke([&] { text = m_Frame.StatusTextGet(); });
        return text;
    }

    uint64_t FramesAcknowledged() const { return m_FramesAcknowledged.load(); }
    uint64_t FragmentResets() const { return m_FragmentResets.load(); }
    std::vector<uint32_t> MessagesSeen()
    {
        std::lock_guard<std::mutex> guard(m_MessagesLock);
        return m_Messages;
    }

    SAMessageLoop m_Loop;
    std::ostringstream m_Out; // written on the loop thread only
    SAQueueScreenUpdates m_Queue;
    SANetClient m_Client;
    ClientTestFrame m_Frame;
    SANetHostRecord m_Record;

private:
    intptr_t PrivateDispatch(uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        {
            std::lock_guard<std::mutex> guard(m_MessagesLock);
            m_Messages.push_back(message);
        }
        intptr_t result = 0;
        m_Frame.AppMessageHandle(message, wParam, lParam, result);
        return result;
    }

    void PrivateConsume()
    {
        m_Queue.WakeEventSet(&m_Wake);
        uint32_t counter = 0;
        while (!m_Stop.load())
        {
            m_Wake.Wait(50);
            for (;;)
            {
                SAScreenUpdate entry = m_Queue.Take();
                if (entry.m_Kind == SAScreenUpdateKind::None)
                    break;
                if (entry.m_Kind == SAScreenUpdateKind::FragmentReset)
                {
                    counter = 0;
                    m_FragmentResets++;
                    continue;
                }
                if (entry.m_Kind != SAScreenUpdateKind::Packet)
                    continue;
                int32_t n = SAPacketFrameBufferDecode(SAPacketHeader::FromBytes(entry.m_pPacket.get()))
                                .FragmentCount();
                uint32_t index = n > 0 ? counter % static_cast<uint32_t>(n) : 0;
                ++counter;
                if (n > 0 && index == static_cast<uint32_t>(n) - 1)
                {
                    m_FramesAcknowledged++;
                    if (m_Acknowledge)
                        m_Client.Transmit(SAPacketFrameAcknowledge());
                }
            }
        }
        m_Queue.WakeEventSet(nullptr);
    }

    bool m_Acknowledge;
    PSEvent m_Wake{false, false};
    std::atomic<bool> m_Stop{false};
    std::atomic<uint64_t> m_FramesAcknowledged{0};
    std::atomic<uint64_t> m_FragmentResets{0};
    std::thread m_Consumer;
    std::mutex m_MessagesLock;
    std::vector<uint32_t> m_Messages;
};

// A temporary settings store for one test.
class ClientTestStore
{
public:
    ClientTestStore()
    {
        char pattern[] = "/tmp/qm-client-test.XXXXXX";
        m_Dir = mkdtemp(pattern);
        setenv("XDG_CONFIG_HOME", (m_Dir + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (m_Dir + "/runtime").c_str(), 1);
        std::string runtime = m_Dir + "/runtime";
        mkdir(runtime.c_str(), 0700);
    }
    ~ClientTestStore()
    {
        std::string command = "rm -rf '" + m_Dir + "'";
        int ignored = std::system(command.c_str());
        (void)ignored;
    }
    const std::string& DirGet() const { return m_Dir; }

private:
    std::string m_Dir;
};
