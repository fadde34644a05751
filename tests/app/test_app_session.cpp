// The frame's session notifications over D-Bus, on a private bus: the test
// starts its own dbus-daemon, points the system and the session bus at it
// (DBUS_SYSTEM_BUS_ADDRESS, DBUS_SESSION_BUS_ADDRESS) before anything uses
// D-Bus, and plays logind and the screensaver on it with stand-in objects of
// its own. The viewer talks to a real peer on loopback meanwhile.
#include "AppTestMain.h"
#include "AppTestUtil.h"
#include "app/SAFrameSessionWatch.h"
#include "core/SAUtilAddress.h"
#include "settings/SASettings.h"
#include "tests/core/SATestLogCapture.h"
#include "tests/peer/PeerTestProcess.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QThread>
#include <filesystem>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
const char* const LOGIN1 = "org.freedesktop.login1";
const char* const SCREENSAVER = "org.freedesktop.ScreenSaver";
const char* const OWN_SESSION = "/org/freedesktop/login1/session/c1";
const char* const OTHER_SESSION = "/org/freedesktop/login1/session/c2";
constexpr uint32_t COOKIE = 4242;

// The private bus: a dbus-daemon with no service activation, so nothing on
// the machine is started by a call to a name the test has not taken.
class PrivateBus
{
public:
    bool Start()
    {
        char folder[] = "/tmp/qm-session-bus.XXXXXX";
        if (mkdtemp(folder) == nullptr)
            return false;
        m_Folder = folder;
        const std::string config = m_Folder + "/bus.conf";
        std::ofstream(config)
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:dir="
            << m_Folder
            << "</listen><auth>EXTERNAL</auth>"
               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return false;
        m_Pid = fork();
        if (m_Pid == 0)
        {
            dup2(out[1], 1);
            const std::string option = "--config-file=" + config;
            execlp("dbus-daemon", "dbus-daemon", option.c_str(), "--nofork", "--nopidfile", "--print-address",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        // The address line (a hang guard of 20 s, not a timing check).
        std::string line;
        pollfd wait{out[0], POLLIN, 0};
        char c = 0;
        while (poll(&wait, 1, 20000) == 1 && read(out[0], &c, 1) == 1 && c != '\n')
            line.push_back(c);
        close(out[0]);
        m_Address = line;
        return !m_Address.empty();
    }
    ~PrivateBus()
    {
        if (m_Pid > 0)
        {
            kill(m_Pid, SIGTERM);
            int status = 0;
            waitpid(m_Pid, &status, 0);
        }
        if (!m_Folder.empty())
        {
            std::error_code error;
            std::filesystem::remove_all(m_Folder, error);
        }
    }
    const std::string& AddressGet() const { return m_Address; }

private:
    pid_t m_Pid = -1;
    std::string m_Folder;
    std::string m_Address;
};

PrivateBus* g_Bus = nullptr;

// Stand-in for logind's manager and the screensaver: answers
// GetSessionByPID with OWN_SESSION, the screensaver's Inhibit with COOKIE,
// logind's Inhibit with one end of a pipe whose other end tells whether the
// viewer still holds it, and records the calls. It lives on a thread of its own, because the viewer
// waits for the screensaver's answer on the GUI thread.
class FakeServices : public QDBusVirtualObject
{
public:
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.member();
        QDBusMessage reply;
        if (member == QLatin1String("GetSessionByPID") && m_OutsideSessions)
            reply = message.createErrorReply(QStringLiteral("org.freedesktop.login1.NoSessionForPID"),
                                             QStringLiteral("PID does not belong to any known session"));
        else if (member == QLatin1String("GetSessionByPID") || member == QLatin1String("GetSession"))
            reply =
                message.createReply(QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(OWN_SESSION))));
        else if (member == QLatin1String("Inhibit") &&
                 message.path().startsWith(QLatin1String("/org/freedesktop/login1")))
        {
            int ends[2];
            if (pipe2(ends, O_CLOEXEC) != 0)
                return false;
            reply = message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[1])));
            close(ends[1]);
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Delays.push_back(ends[0]);
        }
        else if (member == QLatin1String("Inhibit"))
            reply = message.createReply(QVariant::fromValue(COOKIE));
        else if (member == QLatin1String("UnInhibit"))
            reply = message.createReply();
        else
            return false;
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            std::string call = member.toStdString() + "(";
            for (const QVariant& argument : message.arguments())
                call += argument.toString().toStdString() + ";";
            m_Calls.push_back(call + ")");
        }
        connection.send(reply);
        return true;
    }
    std::vector<std::string> CallsGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Calls;
    }
    // How many sleep delay locks the viewer holds now.
    int DelaysHeldGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        int held = 0;
        for (int end : m_Delays)
        {
            pollfd closed{end, POLLIN, 0};
            held += poll(&closed, 1, 0) == 0 ? 1 : 0;
        }
        return held;
    }
    ~FakeServices() override
    {
        for (int end : m_Delays)
            close(end);
    }

    // As for a program a desktop starts in a scope of the user's service
    // manager: in no session of its own.
    std::atomic<bool> m_OutsideSessions{false};

private:
    std::mutex m_Lock;
    std::vector<std::string> m_Calls;
    std::vector<int> m_Delays;
};

class AppSessionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SASettings::Clear();
        ASSERT_NE(g_Bus, nullptr);
        m_Thread.start();
        m_Services.moveToThread(&m_Thread);
        m_Connection = QDBusConnection::connectToBus(QString::fromStdString(g_Bus->AddressGet()),
                                                     QStringLiteral("fake-services"));
        ASSERT_TRUE(m_Connection.isConnected());
        ASSERT_TRUE(m_Connection.registerService(QString::fromLatin1(LOGIN1)));
        ASSERT_TRUE(m_Connection.registerService(QString::fromLatin1(SCREENSAVER)));
        ASSERT_TRUE(
            m_Connection.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &m_Services));
        ASSERT_TRUE(
            m_Connection.registerVirtualObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &m_Services));
    }
    void TearDown() override
    {
        m_Connection.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
        m_Connection.unregisterObject(QStringLiteral("/org/freedesktop/ScreenSaver"));
        m_Connection.unregisterService(QString::fromLatin1(LOGIN1));
        m_Connection.unregisterService(QString::fromLatin1(SCREENSAVER));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-services"));
        m_Thread.quit();
        m_Thread.wait();
    }
    void Emit(const char* path, const char* interface, const char* name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            QString::fromLatin1(path), QString::fromLatin1(interface), QString::fromLatin1(name));
        signal.setArguments(arguments);
        ASSERT_TRUE(m_Connection.send(signal));
    }
    void SleepPrepare(bool start)
    {
        Emit("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", {start});
    }
    void Lock(const char* session) { Emit(session, "org.freedesktop.login1.Session", "Lock", {}); }

    QThread m_Thread;
    FakeServices m_Services;
    QDBusConnection m_Connection{QString()};
};

uint32_t Address(const char* text)
{
    uint32_t address = 0;
    SAUtilAddressParse(text, address);
    return address;
}

const char* const LOCKED_LINE = "CMainFrame: session locked, mouse capture left\n";
} // namespace

TEST_F(AppSessionTest, SuspendDisconnectsAndOnlyThisSessionsLockIsFollowed)
{
    AppTestMessageBoxWatcher boxes;
    SATestLogCapture log;
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start(
        {"--bind", "127.0.0.117", "--codec", "raw", "--size", "320x240", "--fps", "10", "--quiet"}));
    frame->ConnectRequest(Address("127.0.0.117"));
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }));
    const std::vector<std::string> calls = m_Services.CallsGet();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0],
              "Inhibit(sleep;quillmere-viewer;Telling the server before the machine sleeps;delay;)");
    EXPECT_EQ(calls[1], "GetSessionByPID(" + std::to_string(getpid()) + ";)");
    EXPECT_EQ(m_Services.DelaysHeldGet(), 1);

    // Signals of one sender arrive in order: once this session's Lock has
    // been seen, everything sent before it has been handled.
    SleepPrepare(false); // resuming: nothing to do
    Lock(OTHER_SESSION); // another user's session
    Lock(OWN_SESSION);
    ASSERT_TRUE(AppTestWaitFor([&] { return log.Count(LOCKED_LINE) >= 1; }));
    AppTestSpin(100);
    EXPECT_EQ(log.Count(LOCKED_LINE), 1u);
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_ON);

    // About to suspend: the disconnect event, as the menu's Disconnect,
    // and only then is the machine let go to sleep.
    SleepPrepare(true);
    ASSERT_TRUE(AppTestWaitFor([&] { return m_Services.DelaysHeldGet() == 0; }));
    EXPECT_EQ(log.Count("SAFstm::ProcessEvent Event:2 SA_FSTM_EVENT_MENU_DISCONNECT_SERVER\n"), 1u);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_DISCONNECTED; }));
    bool throughDisconnecting = false;
    for (const std::string& line : log.Lines())
        if (line.rfind("SAFstm::ProcessEvent State:4 ", 0) == 0 && line.find("==>> 5 ") != std::string::npos)
            throughDisconnecting = true;
    EXPECT_TRUE(throughDisconnecting);
    // Awake again: the next suspend is waited for as well.
    SleepPrepare(false);
    EXPECT_TRUE(AppTestWaitFor([&] { return m_Services.DelaysHeldGet() == 1; }));
    frame->close();
}

TEST_F(AppSessionTest, AViewerInNoSessionFollowsTheLockOfTheUsersGraphicalSession)
{
    m_Services.m_OutsideSessions = true;
    SATestLogCapture log;
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(AppTestWaitFor([&] { return m_Services.CallsGet().size() >= 3; }));
    EXPECT_EQ(m_Services.CallsGet()[2], "GetSession(auto;)");
    // Sent by the same sender as the answer, so it comes after it.
    Lock(OWN_SESSION);
    EXPECT_TRUE(AppTestWaitFor([&] { return log.Count(LOCKED_LINE) == 1; }));
    frame->close();
}

TEST_F(AppSessionTest, KeepMonitorActiveInhibitsTheScreenSaverWhileConnected)
{
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_KEEP_MONITOR_ACTIVE_ENABLE, true));
    AppTestMessageBoxWatcher boxes;
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    EXPECT_FALSE(frame->KeepAwakeHeldGet());
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start(
        {"--bind", "127.0.0.118", "--codec", "raw", "--size", "320x240", "--fps", "10", "--quiet"}));
    frame->ConnectRequest(Address("127.0.0.118"));
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }));
    EXPECT_TRUE(frame->KeepAwakeHeldGet());
    frame->ActionGet(ID_FILE_DISCONNECT)->trigger();
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_DISCONNECTED; }));
    EXPECT_FALSE(frame->KeepAwakeHeldGet());
    std::vector<std::string> screenSaver;
    for (const std::string& call : m_Services.CallsGet())
        if (call.rfind("GetSessionByPID", 0) != 0 && call.rfind("Inhibit(sleep;", 0) != 0)
            screenSaver.push_back(call);
    const std::vector<std::string> expected = {"Inhibit(quillmere-viewer;Showing a remote screen;)",
                                               "UnInhibit(" + std::to_string(COOKIE) + ";)"};
    EXPECT_EQ(screenSaver, expected);
    frame->close();
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    PrivateBus bus;
    if (!bus.Start())
    {
        std::fprintf(stderr, "test_app_session: dbus-daemon did not start\n");
        return 1;
    }
    g_Bus = &bus;
    // Before anything in this process opens a bus.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.AddressGet().c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.AddressGet().c_str(), 1);
    CquillmereApp::SurfaceFormatDefaultSet();
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    g_Bus = nullptr;
    return result;
}
