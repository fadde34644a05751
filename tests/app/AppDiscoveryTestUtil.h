#pragma once
// Helpers of the connect view tests (test_app_discovery_*). Every test process moves itself into
// the private network of DiscoveryTestNetwork before Qt starts, and adds
// addresses of its own there:
//
//   qm0: 10.77.0.1 (the viewer's first address), 10.77.0.2 (peer alpha),
//        10.77.0.5 (test responders), 10.77.5.1 and 10.77.6.1 (peers that
//        broadcasts never reach: their subnets have no interface of the
//        viewer, so only a targeted search finds them)
//   qm2: 10.77.1.1 (the viewer's second address), 10.77.1.2 (peer beta),
//        10.77.1.5 (test responders)
//
// So the viewer's discovery broadcasts on 10.77.0.255 and 10.77.1.255 and
// nothing leaves the namespace.
#include "app/CMainFrame.h"
#include "app/CquillmereApp.h"
#include "app/SAMvcViewFrmConnect.h"
#include "app/SAWndCtrlTreeView.h"
#include "core/SALog.h"
#include "net/SANetHostRecord.h"
#include "net/SANetProtocol.h"
#include "net/SANetSocketMessage.h"
#include "tests/app/AppTestUtil.h"
#include "tests/discovery/DiscoveryTestNetwork.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace AppDiscoveryTest
{
inline bool NetworkExtend()
{
    const std::vector<std::vector<std::string>> commands = {
        {"ip", "addr", "add", "10.77.0.5/24", "brd", "+", "dev", "qm0"},
        {"ip", "addr", "add", "10.77.1.5/24", "brd", "+", "dev", "qm2"},
        {"ip", "addr", "add", "10.77.5.1/24", "brd", "+", "dev", "qm0"},
        {"ip", "addr", "add", "10.77.6.1/24", "brd", "+", "dev", "qm0"},
    };
    for (const auto& command : commands)
        if (!DiscoveryTestNetwork::CommandRun(command))
            return false;
    return true;
}

// The tree as text lines: computers as "name", connections as "  address".
inline std::vector<std::string> TreeLines(QTreeWidget* tree)
{
    std::vector<std::string> lines;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
    {
        QTreeWidgetItem* computer = tree->topLevelItem(i);
        lines.push_back(computer->text(0).toStdString());
        for (int j = 0; j < computer->childCount(); ++j)
            lines.push_back("  " + computer->child(j)->text(0).toStdString());
    }
    return lines;
}

// Counts the log lines that contain a text, of every category, while it lives.
class LogCounter
{
public:
    LogCounter() : m_SavedMask(SALogMaskGet())
    {
        SALogMaskSet(0xFFFFFFFF);
        m_Id = SALogSinkAdd(
            [this](uint32_t, std::string_view line)
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                for (auto& [text, count] : m_Counts)
                    if (line.find(text) != std::string_view::npos)
                        ++count;
            });
    }
    ~LogCounter()
    {
        SALogSinkRemove(m_Id);
        SALogMaskSet(m_SavedMask);
    }
    void Watch(const std::string& text)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Counts.emplace(text, 0);
    }
    size_t CountGet(const std::string& text)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        auto found = m_Counts.find(text);
        return found == m_Counts.end() ? 0 : found->second;
    }

private:
    uint32_t m_SavedMask;
    int m_Id = -1;
    std::mutex m_Lock;
    std::map<std::string, size_t> m_Counts; // guarded by m_Lock
};

// A discovery server of the test's own: answers each request that reaches
// address (unicast) or its broadcast address with a reply record from
// address, carrying a name and a feature bitmap the test may change. The
// number of replies can be limited, so a test knows exactly which replies
// the viewer gets.
class Responder
{
public:
    Responder(const char* address, const char* broadcast, const std::string& name, uint32_t features)
        : m_Name(name), m_Features(features)
    {
        m_Unicast = PrivateOpen(address);
        m_Broadcast = PrivateOpen(broadcast);
        m_Bound = m_Unicast >= 0 && m_Broadcast >= 0 && pipe(m_Wake) == 0;
        if (m_Bound)
            m_Thread = std::thread([this] { PrivateLoop(); });
    }
    ~Responder()
    {
        if (m_Thread.joinable())
        {
            char byte = 1;
            ssize_t ignored = write(m_Wake[1], &byte, 1);
            (void)ignored;
            m_Thread.join();
            close(m_Wake[0]);
            close(m_Wake[1]);
        }
        if (m_Unicast >= 0)
            close(m_Unicast);
        if (m_Broadcast >= 0)
            close(m_Broadcast);
    }
    bool IsBound() const { return m_Bound; }
    // -1: every request is answered; n >= 0: the next n requests only.
    void RepliesAllow(int count) { m_Budget.store(count); }
    void FeaturesSet(uint32_t features) { m_Features.store(features); }
    size_t RepliesSentGet() const { return m_Sent.load(); }

private:
    static int PrivateOpen(const char* address)
    {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = htons(SA_NET_SERVER_PORT);
        inet_pton(AF_INET, address, &local.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0)
        {
            close(fd);
            return -1;
        }
        return fd;
    }

    void PrivateLoop()
    {
        for (;;)
        {
            pollfd fds[3] = {{m_Unicast, POLLIN, 0}, {m_Broadcast, POLLIN, 0}, {m_Wake[0], POLLIN, 0}};
            if (poll(fds, 3, -1) < 0 || fds[2].revents != 0)
                return;
            for (int i = 0; i < 2; ++i)
            {
                if (fds[i].revents == 0)
                    continue;
                uint8_t request[2048];
                sockaddr_in from = {};
                socklen_t size = sizeof(from);
                ssize_t got = recvfrom(fds[i].fd, request, sizeof(request), 0,
                                       reinterpret_cast<sockaddr*>(&from), &size);
                if (got != static_cast<ssize_t>(SA_NET_DISCOVERY_REQUEST_SIZE))
                    continue;
                int budget = m_Budget.load();
                while (budget > 0 && !m_Budget.compare_exchange_weak(budget, budget - 1))
                {
                }
                if (budget == 0)
                    continue;
                SANetHostRecord record;
                record.HostNameSet(m_Name);
                record.FeatureBitmap = m_Features.load();
                uint8_t reply[SA_NET_HOST_RECORD_SIZE];
                record.Encode(reply);
                if (sendto(m_Unicast, reply, sizeof(reply), 0, reinterpret_cast<sockaddr*>(&from),
                           sizeof(from)) == static_cast<ssize_t>(sizeof(reply)))
                    ++m_Sent;
            }
        }
    }

    std::string m_Name;
    std::atomic<uint32_t> m_Features;
    std::atomic<int> m_Budget{-1};
    std::atomic<size_t> m_Sent{0};
    int m_Unicast = -1;
    int m_Broadcast = -1;
    int m_Wake[2] = {-1, -1};
    bool m_Bound = false;
    std::thread m_Thread;
};

// Drives modal dialogs from the GUI loop: the steps run one after the other
// from a timer, which also fires inside the dialogs' own loops. A step
// returns true when it is done. A step must not block: anything that opens a
// modal dialog is queued (Later). If a step is not done within the guard
// time, every open dialog is rejected so the test cannot hang, and Failed
// reports it.
class ModalScript
{
public:
    ModalScript()
    {
        m_Timer.setInterval(20);
        QObject::connect(&m_Timer, &QTimer::timeout, [this] { PrivateTick(); });
        m_Timer.start();
    }
    void Then(std::function<bool()> step) { m_Steps.push_back(std::move(step)); }
    bool DoneGet() const { return m_Steps.empty(); }
    bool FailedGet() const { return m_Failed; }
    // Runs action from the GUI loop once the current step has returned.
    static void Later(std::function<void()> action) { QTimer::singleShot(0, std::move(action)); }

    // The visible top-level dialog of type T, or nullptr.
    template <typename T> static T* DialogFind()
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
        {
            auto* dialog = qobject_cast<T*>(widget);
            if (dialog != nullptr && dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }

private:
    void PrivateTick()
    {
        if (m_Steps.empty())
        {
            m_Started = false;
            return;
        }
        if (!m_Started)
        {
            m_Started = true;
            m_StepStart = std::chrono::steady_clock::now();
        }
        if (m_Steps.front()())
        {
            m_Steps.pop_front();
            m_Started = false;
            return;
        }
        if (std::chrono::steady_clock::now() - m_StepStart > std::chrono::seconds(30))
        {
            m_Failed = true;
            m_Steps.clear();
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QDialog*>(widget); dialog != nullptr && dialog->isVisible())
                    dialog->reject();
        }
    }

    QTimer m_Timer;
    std::deque<std::function<bool()>> m_Steps;
    bool m_Started = false;
    bool m_Failed = false;
    std::chrono::steady_clock::time_point m_StepStart;
};
} // namespace AppDiscoveryTest

#define QM_APP_DISCOVERY_TEST_MAIN()                                                                         \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        testing::InitGoogleTest(&argc, argv);                                                                \
        DiscoveryTestNetwork::Setup();                                                                       \
        if (DiscoveryTestNetwork::Ready() && !AppDiscoveryTest::NetworkExtend())                             \
        {                                                                                                    \
            DiscoveryTestNetwork::Ready() = false;                                                           \
            DiscoveryTestNetwork::SkipReason() = "cannot add the test's addresses";                          \
        }                                                                                                    \
        if (!DiscoveryTestNetwork::Ready())                                                                  \
            std::fprintf(stderr, "connect view tests skipped: %s\n",                                         \
                         DiscoveryTestNetwork::SkipReason().c_str());                                        \
        CquillmereApp::SurfaceFormatDefaultSet();                                                            \
        QApplication application(argc, argv);                                                                \
        return RUN_ALL_TESTS();                                                                              \
    }
