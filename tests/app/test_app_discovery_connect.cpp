// Automatic connect at start-up and the host lookup, with real peers, the
// viewer's real discovery and name resolution (a name server of the test's
// own inside the private network), and the Automatic Connect dialog.
#include "app/dialogs/SAWndDlgAutoConnect.h"
#include "app/dialogs/SAWndDlgLookup.h"
#include "app/dialogs/SAWndDlgProgressCancel.h"
#include "core/SAUtilAddress.h"
#include "settings/SARegistryList.h"
#include "settings/SASettings.h"
#include "tests/app/AppDiscoveryTestUtil.h"
#include "tests/discovery/DiscoveryTestNameServer.h"
#include "tests/discovery/DiscoveryTestPeer.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

using AppDiscoveryTest::LogCounter;
using AppDiscoveryTest::ModalScript;
using AppDiscoveryTest::TreeLines;

namespace
{
class AppDiscoveryConnectTest : public ::testing::Test
{
protected:
    void SetUp() override { SASettings::Clear(); }
};

// Records every title a progress dialog shows, and how many were opened.
class ProgressTitles : public QObject
{
public:
    ProgressTitles() { qApp->installEventFilter(this); }
    ~ProgressTitles() override { qApp->removeEventFilter(this); }
    std::vector<std::string> m_Titles;
    int m_Shown = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* dialog = qobject_cast<SAWndDlgProgressCancel*>(watched);
        if (dialog != nullptr &&
            (event->type() == QEvent::Show || event->type() == QEvent::WindowTitleChange))
        {
            if (event->type() == QEvent::Show)
                ++m_Shown;
            const std::string title = dialog->windowTitle().toStdString();
            if (m_Titles.empty() || m_Titles.back() != title)
                m_Titles.push_back(title);
        }
        return false;
    }
};

std::vector<std::string> ComboItems(QComboBox* combo)
{
    std::vector<std::string> items;
    for (int i = 0; i < combo->count(); ++i)
        items.push_back(combo->itemText(i).toStdString());
    return items;
}

template <typename T> T* Child(QWidget* parent, int id)
{
    return parent->findChild<T*>(QString::number(id));
}

bool HasLine(QTreeWidget* tree, const std::string& line)
{
    const auto lines = TreeLines(tree);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Opens the lookup dialog the way the user does, from the GUI loop.
void LookupOpen(CMainFrame& frame)
{
    SAMvcViewFrmConnect* view = frame.ConnectViewGet();
    ModalScript::Later([view] { view->LookupButtonGet()->click(); });
}
} // namespace

TEST_F(AppDiscoveryConnectTest, AddressModeWithAnEmptyListSwitchesItselfOffWithoutADialog)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    ProgressTitles progress;
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST));
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(
        AppTestWaitFor([] { return SASettings::AutoConnectSettingGet() == SA_SETTINGS_AUTO_CONNECT_OFF; }));
    EXPECT_EQ(progress.m_Shown, 0);
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
    frame->close();
}

TEST_F(AppDiscoveryConnectTest, AddressModeConnectsToTheFirstListedPeerWithoutAClick)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    AppTestMessageBoxWatcher boxes;
    ProgressTitles progress;
    DiscoveryTestPeer alpha;
    ASSERT_TRUE(alpha.Start({"--bind", "10.77.0.2", "--name", "alpha", "--features", "8", "--codec", "jpeg",
                             "--size", "320x240", "--fps", "10"}));
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST));
    // Stored most recent first: 10.77.0.2, then 10.77.9.9.
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.77.9.9"));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.77.0.2"));

    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }))
        << frame->StateHistoryGet();
    EXPECT_EQ(frame->StateHistoryGet().rfind("2-3-4-", 0), 0u) << frame->StateHistoryGet();
    EXPECT_EQ(progress.m_Shown, 1);
    EXPECT_EQ(progress.m_Titles, std::vector<std::string>{"Searching quillmere Server: 10.77.0.2"});
    uint32_t first = 0, second = 0;
    ASSERT_TRUE(SAUtilAddressParse("10.77.0.2", first) && SAUtilAddressParse("10.77.9.9", second));
    // The start took the first stored address off the frame's list; the
    // automatic connect it made then rebuilt that list as the stored
    // addresses followed by the server it went to.
    EXPECT_EQ(frame->ReconnectAddressListGet(), (std::vector<uint32_t>{first, second, first}));
    EXPECT_EQ(frame->ConnectViewGet()->ProgressDialogGet(), nullptr);
    EXPECT_EQ(frame->ConnectViewGet()->DiscoveryGet().ListGet().UnicastTargetCount(), 0u);
    EXPECT_EQ(SASettings::AutoConnectSettingGet(), SA_SETTINGS_AUTO_CONNECT_IP_LIST);
    EXPECT_TRUE(boxes.m_Texts.empty());
    frame->close();
}

TEST_F(AppDiscoveryConnectTest, AnAutomaticConnectToAServerAlreadyListedConnectsInsteadOfRefusingIt)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    AppTestMessageBoxWatcher boxes;
    DiscoveryTestPeer alpha;
    ASSERT_TRUE(alpha.Start(
        {"--bind", "10.77.0.2", "--name", "alpha", "--codec", "jpeg", "--size", "320x240", "--fps", "10"}));
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    SAMvcViewFrmConnect* view = frame->ConnectViewGet();
    ASSERT_TRUE(AppTestWaitFor([&] { return HasLine(view->TreeGet(), "  Connection: 10.77.0.2"); }));
    // Broadcast listed the server first, as it mostly does at start-up.
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.77.0.2"));
    view->MessageTargetGet()->Post(SA_WM_APP_AUTO_CONNECT_START, 0, 0);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }))
        << frame->StateHistoryGet() << testing::PrintToString(boxes.m_Texts);
    EXPECT_TRUE(boxes.m_Texts.empty()) << testing::PrintToString(boxes.m_Texts);
    frame->close();
}

TEST_F(AppDiscoveryConnectTest, AServerRequiringEncryptionIsNotAutoConnected)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    AppTestMessageBoxWatcher boxes;
    DiscoveryTestPeer secured;
    ASSERT_TRUE(secured.Start({"--bind", "10.77.1.2", "--name", "secured", "--features", "16"}));
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.77.1.2"));

    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(AppTestWaitFor([&] { return !boxes.m_Texts.empty(); }));
    EXPECT_EQ(boxes.m_Texts,
              std::vector<std::string>{
                  "Unable to Auto-connect!: This version of quillmere viewer does not support encryption."});
    AppTestSpin(100);
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
    EXPECT_EQ(frame->ConnectViewGet()->ProgressDialogGet(), nullptr);
    EXPECT_TRUE(HasLine(frame->ConnectViewGet()->TreeGet(), "  Connection: 10.77.1.2"));
    frame->close();
}

TEST_F(AppDiscoveryConnectTest, ASearchStartThatComesAfterItsCancelSearchesNothing)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.77.9.9"));
    ModalScript script;
    script.Then(
        [&]
        {
            auto* dialog = ModalScript::DialogFind<SAWndDlgProgressCancel>();
            if (dialog == nullptr || !dialog->SearchingGet())
                return false;
            Child<QPushButton>(dialog, SAWndDlgProgressCancel::IDC_CANCEL)->click();
            return true;
        });
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(AppTestWaitFor([&] { return script.DoneGet(); }));
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->ConnectViewGet()->ProgressDialogGet() == nullptr; }));
    // The dialog's posted start, had Cancel come before it was handled.
    frame->ConnectViewGet()->MessageTargetGet()->Send(SA_WM_APP_HOST_SEARCH_START, 0, 0);
    EXPECT_EQ(frame->ConnectViewGet()->DiscoveryGet().ListGet().UnicastTargetCount(), 0u);
    frame->close();
}

TEST_F(AppDiscoveryConnectTest, HostNameModeConnectsOnceTheNameResolves)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    DiscoveryTestNameServer names;
    ASSERT_TRUE(names.IsBound());
    ProgressTitles progress;
    DiscoveryTestPeer alpha;
    ASSERT_TRUE(alpha.Start(
        {"--bind", "10.77.0.2", "--name", "alpha", "--codec", "jpeg", "--size", "320x240", "--fps", "10"}));
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_HOST_NAME));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_HOST_NAME, "slow.alpha"));

    ModalScript script;
    script.Then(
        [&]
        {
            auto* dialog = ModalScript::DialogFind<SAWndDlgProgressCancel>();
            if (dialog == nullptr || !names.QueryHeldWait())
                return false;
            EXPECT_EQ(dialog->windowTitle().toStdString(), "Searching Network Name: slow.alpha");
            names.QueryHeldAnswer("10.77.0.2");
            return true;
        });
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }))
        << frame->StateHistoryGet();
    EXPECT_FALSE(script.FailedGet());
    EXPECT_EQ(frame->StateHistoryGet().rfind("2-3-4-", 0), 0u) << frame->StateHistoryGet();
    // The dialog was not told of the resolution: its title never changed.
    EXPECT_EQ(progress.m_Titles, std::vector<std::string>{"Searching Network Name: slow.alpha"});
    EXPECT_EQ(frame->ConnectViewGet()->DiscoveryGet().ListGet().UnicastTargetCount(), 0u);
    frame->close();
}

TEST_F(AppDiscoveryConnectTest, ANameThatNeverResolvesKeepsSearchingUntilCancel)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    DiscoveryTestNameServer names; // answers "no such name" at once
    ASSERT_TRUE(names.IsBound());
    LogCounter log;
    const std::string failed = "PSThreadNetNameResolution::Run SANetHostLookupByName failed!";
    const std::string ended = "PSThreadNetNameResolution::Run exit...";
    log.Watch(failed);
    log.Watch(ended);
    ProgressTitles progress;
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_HOST_NAME));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_HOST_NAME, "nosuch.qm"));

    ModalScript script;
    script.Then(
        [&]
        {
            auto* dialog = ModalScript::DialogFind<SAWndDlgProgressCancel>();
            if (dialog == nullptr || log.CountGet(failed) < 3)
                return false;
            EXPECT_EQ(dialog->windowTitle().toStdString(), "Searching Network Name: nosuch.qm");
            EXPECT_TRUE(dialog->SearchingGet());
            Child<QPushButton>(dialog, SAWndDlgProgressCancel::IDC_CANCEL)->click();
            return true;
        });
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(AppTestWaitFor([&] { return script.DoneGet(); }));
    EXPECT_FALSE(script.FailedGet());
    EXPECT_EQ(progress.m_Titles, std::vector<std::string>{"Searching Network Name: nosuch.qm"});
    EXPECT_EQ(frame->ConnectViewGet()->ProgressDialogGet(), nullptr);
    EXPECT_EQ(ModalScript::DialogFind<SAWndDlgProgressCancel>(), nullptr);
    // Cancel joined the resolution thread before it returned.
    EXPECT_EQ(log.CountGet(ended), 1u);
    EXPECT_EQ(frame->ConnectViewGet()->DiscoveryGet().ListGet().UnicastTargetCount(), 0u);
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
    // Cancelling abandons this run only.
    EXPECT_EQ(SASettings::AutoConnectSettingGet(), SA_SETTINGS_AUTO_CONNECT_HOST_NAME);
    frame->close();
}

TEST_F(AppDiscoveryConnectTest, LookupByAddressAndByNameListsTheServersAndRemembersThemOldestFirst)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    AppTestMessageBoxWatcher boxes;
    DiscoveryTestNameServer names;
    ASSERT_TRUE(names.IsBound());
    ProgressTitles progress;
    // On subnets the viewer does not broadcast to: only a lookup finds them.
    DiscoveryTestPeer hostA;
    DiscoveryTestPeer hostB;
    ASSERT_TRUE(hostA.Start({"--bind", "10.77.5.1", "--name", "hostA", "--features", "8"}));
    ASSERT_TRUE(hostB.Start({"--bind", "10.77.6.1", "--name", "hostB"}));
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    QTreeWidget* tree = frame->ConnectViewGet()->TreeGet();

    ModalScript script;
    script.Then([&] { return LookupOpen(*frame), true; });
    script.Then(
        [&]
        {
            auto* lookup = ModalScript::DialogFind<SAWndDlgLookup>();
            if (lookup == nullptr)
                return false;
            auto* combo = Child<QComboBox>(lookup, SAWndDlgLookup::IDC_COMBO_RECENT);
            EXPECT_EQ(combo->count(), 0);
            EXPECT_EQ(combo->placeholderText().toStdString(), "list is empty");
            // Left empty, the address is 0.0.0.0: nothing happens.
            Child<QPushButton>(lookup, SAWndDlgLookup::IDC_BUTTON_IPADDRESS)->click();
            EXPECT_TRUE(lookup->isVisible());
            Child<QLineEdit>(lookup, SAWndDlgLookup::IDC_IPADDRESS)->setText(QStringLiteral("10.77.5.1"));
            Child<QPushButton>(lookup, SAWndDlgLookup::IDC_BUTTON_IPADDRESS)->click();
            return true;
        });
    script.Then(
        [&] {
            return HasLine(tree, "  Connection: 10.77.5.1") && ModalScript::DialogFind<QDialog>() == nullptr;
        });
    script.Then([&] { return LookupOpen(*frame), true; });
    script.Then(
        [&]
        {
            auto* lookup = ModalScript::DialogFind<SAWndDlgLookup>();
            if (lookup == nullptr)
                return false;
            auto* combo = Child<QComboBox>(lookup, SAWndDlgLookup::IDC_COMBO_RECENT);
            EXPECT_EQ(ComboItems(combo), std::vector<std::string>{"hostA(10.77.5.1)"});
            EXPECT_EQ(combo->placeholderText().toStdString(), "recent input");
            auto* name = Child<QLineEdit>(lookup, SAWndDlgLookup::IDC_EDIT_HOSTNAME);
            EXPECT_EQ(name->maxLength(), 127);
            name->setText(QStringLiteral("slow.beta"));
            Child<QPushButton>(lookup, SAWndDlgLookup::IDC_BUTTON_HOSTNAME)->click();
            return true;
        });
    script.Then(
        [&]
        {
            auto* dialog = ModalScript::DialogFind<SAWndDlgProgressCancel>();
            if (dialog == nullptr || !names.QueryHeldWait())
                return false;
            names.QueryHeldAnswer("10.77.6.1");
            return true;
        });
    script.Then(
        [&] {
            return HasLine(tree, "  Connection: 10.77.6.1") && ModalScript::DialogFind<QDialog>() == nullptr;
        });
    script.Then([&] { return LookupOpen(*frame), true; });
    script.Then(
        [&]
        {
            auto* lookup = ModalScript::DialogFind<SAWndDlgLookup>();
            if (lookup == nullptr)
                return false;
            EXPECT_EQ(ComboItems(Child<QComboBox>(lookup, SAWndDlgLookup::IDC_COMBO_RECENT)),
                      (std::vector<std::string>{"hostA(10.77.5.1)", "hostB(10.77.6.1)"}));
            lookup->reject();
            return true;
        });
    ASSERT_TRUE(AppTestWaitFor([&] { return script.DoneGet(); }, 60000));
    EXPECT_FALSE(script.FailedGet());
    EXPECT_EQ(progress.m_Titles, (std::vector<std::string>{"Searching quillmere Server: 10.77.5.1",
                                                           "Searching Network Name: slow.beta",
                                                           "Searching quillmere Server: 10.77.6.1"}));
    EXPECT_EQ(TreeLines(tree), (std::vector<std::string>{"Computer Name: hostA", "  Connection: 10.77.5.1",
                                                         "Computer Name: hostB", "  Connection: 10.77.6.1"}));
    SARegistryList recent(SA_LOOKUP_HOST_INFO_LIST);
    std::vector<std::string> stored;
    std::string item;
    for (int32_t i = 0; recent.ItemRetrieve(i, item); ++i)
        stored.push_back(item);
    EXPECT_EQ(stored, (std::vector<std::string>{"hostB", "10.77.6.1", "hostA", "10.77.5.1"}));
    // A lookup finds; it does not connect.
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
    EXPECT_EQ(frame->ConnectViewGet()->DiscoveryGet().ListGet().UnicastTargetCount(), 0u);
    EXPECT_TRUE(boxes.m_Texts.empty());
    frame->close();
}

TEST_F(AppDiscoveryConnectTest, LookupRefusesAListedServerAndThisMachine)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    AppTestMessageBoxWatcher boxes;
    DiscoveryTestPeer hostA;
    ASSERT_TRUE(hostA.Start({"--bind", "10.77.5.1", "--name", "hostA"}));
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOCAL_HOST_CONNECTION_ENABLE, false));
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    QTreeWidget* tree = frame->ConnectViewGet()->TreeGet();
    auto lookupAddress = [&](const char* address)
    {
        auto* lookup = ModalScript::DialogFind<SAWndDlgLookup>();
        if (lookup == nullptr)
            return false;
        Child<QLineEdit>(lookup, SAWndDlgLookup::IDC_IPADDRESS)->setText(QString::fromLatin1(address));
        Child<QPushButton>(lookup, SAWndDlgLookup::IDC_BUTTON_IPADDRESS)->click();
        return true;
    };

    ModalScript script;
    script.Then([&] { return LookupOpen(*frame), true; });
    script.Then([&] { return lookupAddress("10.77.5.1"); });
    script.Then(
        [&] {
            return HasLine(tree, "  Connection: 10.77.5.1") && ModalScript::DialogFind<QDialog>() == nullptr;
        });
    // The same server again, picked from the recent list.
    script.Then([&] { return LookupOpen(*frame), true; });
    script.Then(
        [&]
        {
            auto* lookup = ModalScript::DialogFind<SAWndDlgLookup>();
            if (lookup == nullptr)
                return false;
            auto* combo = Child<QComboBox>(lookup, SAWndDlgLookup::IDC_COMBO_RECENT);
            combo->setCurrentIndex(0);
            Child<QPushButton>(lookup, SAWndDlgLookup::IDC_BUTTON_RECENT)->click();
            return true;
        });
    script.Then([&] { return boxes.m_Texts.size() == 1 && ModalScript::DialogFind<QDialog>() == nullptr; });
    // This machine's own address.
    script.Then([&] { return LookupOpen(*frame), true; });
    script.Then([&] { return lookupAddress("10.77.0.1"); });
    script.Then([&] { return boxes.m_Texts.size() == 2 && ModalScript::DialogFind<QDialog>() == nullptr; });
    ASSERT_TRUE(AppTestWaitFor([&] { return script.DoneGet(); }, 60000));
    EXPECT_FALSE(script.FailedGet());
    EXPECT_EQ(boxes.m_Texts, (std::vector<std::string>{"Error: Invalid Data: Entry already in the list",
                                                       "Error: Invalid entry: Local host"}));
    EXPECT_EQ(frame->ConnectViewGet()->ProgressDialogGet(), nullptr);
    EXPECT_EQ(frame->ConnectViewGet()->DiscoveryGet().ListGet().UnicastTargetCount(), 0u);
    EXPECT_EQ(TreeLines(tree), (std::vector<std::string>{"Computer Name: hostA", "  Connection: 10.77.5.1"}));
    frame->close();
}

TEST_F(AppDiscoveryConnectTest, AutomaticConnectDialogWritesAtOnceAndFinishesOnClose)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    AppTestMessageBoxWatcher boxes;
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    QAction* item = frame->ActionGet(ID_SETTINGS_AUTOMATIC_CONNECT);
    ASSERT_NE(item, nullptr);
    frame->MenusUpdate();
    ASSERT_TRUE(item->isEnabled());

    ModalScript script;
    script.Then([&] { return ModalScript::Later([item] { item->trigger(); }), true; });
    script.Then(
        [&]
        {
            auto* dialog = ModalScript::DialogFind<SAWndDlgAutoConnect>();
            if (dialog == nullptr)
                return false;
            auto* address = Child<QLineEdit>(dialog, SAWndDlgAutoConnect::IDC_IPADDRESS);
            auto* add = Child<QPushButton>(dialog, SAWndDlgAutoConnect::IDC_BUTTON_ADD);
            auto* list = Child<QListWidget>(dialog, SAWndDlgAutoConnect::IDC_LIST_IPADDRESS);
            EXPECT_TRUE(Child<QRadioButton>(dialog, SAWndDlgAutoConnect::IDC_RADIO_OFF)->isChecked());
            EXPECT_FALSE(address->isEnabled());
            Child<QRadioButton>(dialog, SAWndDlgAutoConnect::IDC_RADIO_IPADDRESS)->click();
            EXPECT_EQ(SASettings::AutoConnectSettingGet(), SA_SETTINGS_AUTO_CONNECT_IP_LIST);
            EXPECT_TRUE(address->isEnabled());
            for (const char* text : {"10.0.0.1", "10.0.0.2", "10.0.0.1"})
            {
                address->setText(QString::fromLatin1(text));
                add->click();
                EXPECT_TRUE(address->text().isEmpty());
            }
            EXPECT_EQ(list->count(), 2);
            // The repeated address moved to the front of the stored list.
            uint32_t stored = 0, expected = 0;
            EXPECT_TRUE(SASettings::AutoConnectHostIpAddressEnum(0, stored));
            SAUtilAddressParse("10.0.0.1", expected);
            EXPECT_EQ(stored, expected);
            EXPECT_FALSE(SASettings::AutoConnectHostIpAddressEnum(2, stored));
            // Nothing selected: refused.
            list->clearSelection();
            Child<QPushButton>(dialog, SAWndDlgAutoConnect::IDC_BUTTON_REMOVE)->click();
            list->setCurrentRow(0);
            Child<QPushButton>(dialog, SAWndDlgAutoConnect::IDC_BUTTON_REMOVE)->click();
            EXPECT_EQ(list->count(), 1);
            EXPECT_TRUE(SASettings::AutoConnectHostIpAddressEnum(0, stored));
            EXPECT_FALSE(SASettings::AutoConnectHostIpAddressEnum(1, stored));
            Child<QRadioButton>(dialog, SAWndDlgAutoConnect::IDC_RADIO_HOSTNAME)->click();
            EXPECT_EQ(SASettings::AutoConnectSettingGet(), SA_SETTINGS_AUTO_CONNECT_HOST_NAME);
            EXPECT_EQ(Child<QLineEdit>(dialog, SAWndDlgAutoConnect::IDC_EDIT_HOSTNAME)->maxLength(),
                      SAWndDlgAutoConnect::TEXT_MAX);
            dialog->close(); // host name mode with no name: switched off
            return true;
        });
    ASSERT_TRUE(
        AppTestWaitFor([&] { return script.DoneGet() && ModalScript::DialogFind<QDialog>() == nullptr; }));
    EXPECT_FALSE(script.FailedGet());
    EXPECT_EQ(SASettings::AutoConnectSettingGet(), SA_SETTINGS_AUTO_CONNECT_OFF);
    EXPECT_EQ(boxes.m_Texts, std::vector<std::string>{"Error: Select an item to be removed on the list"});

    // Host name mode with a name: stored on Enter.
    script.Then([&] { return ModalScript::Later([item] { item->trigger(); }), true; });
    script.Then(
        [&]
        {
            auto* dialog = ModalScript::DialogFind<SAWndDlgAutoConnect>();
            if (dialog == nullptr)
                return false;
            Child<QRadioButton>(dialog, SAWndDlgAutoConnect::IDC_RADIO_HOSTNAME)->click();
            auto* name = Child<QLineEdit>(dialog, SAWndDlgAutoConnect::IDC_EDIT_HOSTNAME);
            QTest::keyClicks(name, QStringLiteral("primary-01"));
            QTest::keyClick(name, Qt::Key_Return);
            return true;
        });
    ASSERT_TRUE(
        AppTestWaitFor([&] { return script.DoneGet() && ModalScript::DialogFind<QDialog>() == nullptr; }));
    EXPECT_EQ(SASettings::AutoConnectSettingGet(), SA_SETTINGS_AUTO_CONNECT_HOST_NAME);
    std::string name;
    EXPECT_TRUE(SASettings::AutoConnectHostInfoGet(SA_SETTINGS_AUTO_CONNECT_HOST_NAME, name));
    EXPECT_EQ(name, "primary-01");
    frame->close();
}

QM_APP_DISCOVERY_TEST_MAIN()

namespace
{
// Plays the viewer's sound into a file of its own through SDL's disk
// driver for as long as it lives; `driver` names another (or a missing) one.
class AudioDiskOutput
{
public:
    explicit AudioDiskOutput(const char* driver = "disk")
    {
        char folder[] = "/tmp/qm-app-audio.XXXXXX";
        if (mkdtemp(folder) != nullptr)
            m_Folder = folder;
        m_Path = m_Folder + "/played.raw";
        setenv("SDL_AUDIODRIVER", driver, 1);
        setenv("SDL_DISKAUDIOFILE", m_Path.c_str(), 1);
    }
    ~AudioDiskOutput()
    {
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        std::remove(m_Path.c_str());
        rmdir(m_Folder.c_str());
    }
    // Played sound frames so far; SDL writes silence as zeros and the peer's
    // tone has no zero sample.
    size_t SoundBytesGet() const
    {
        std::ifstream in(m_Path, std::ios::binary);
        size_t count = 0;
        for (std::istreambuf_iterator<char> it(in), end; it != end; ++it)
            count += *it != 0 ? 1 : 0;
        return count;
    }

private:
    std::string m_Folder;
    std::string m_Path;
};

void AudioMenuTrigger(CMainFrame& frame)
{
    for (QMenu* menu : frame.MenusGet())
        emit menu->aboutToShow();
    QAction* item = frame.ActionGet(ID_FUNCTIONALITY_AUDIO_SPEAKER);
    ASSERT_TRUE(item->isEnabled());
    item->trigger();
}
} // namespace

TEST_F(AppDiscoveryConnectTest, AudioMenuOffersNoSpeakerWithoutADeviceAndOnlyStoresTheOptionWhenIdle)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    AppTestMessageBoxWatcher boxes;
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    {
        AudioDiskOutput none("no-such-driver");
        AudioMenuTrigger(*frame);
        EXPECT_EQ(boxes.m_Texts,
                  std::vector<std::string>{"Error: Unable to initialize Audio.\nNo available speakers!"});
        EXPECT_FALSE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_MENU_AUDIO_ENABLED));
        EXPECT_FALSE(frame->AudioEnabledGet());
    }
    AudioDiskOutput disk;
    AudioMenuTrigger(*frame);
    EXPECT_TRUE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_MENU_AUDIO_ENABLED));
    EXPECT_TRUE(frame->AudioEnabledGet());
    AppTestSpin(200);
    EXPECT_FALSE(frame->ClientGetNet().AudioActiveGet());
    EXPECT_EQ(disk.SoundBytesGet(), 0u);
    AudioMenuTrigger(*frame);
    EXPECT_FALSE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_MENU_AUDIO_ENABLED));
    EXPECT_EQ(boxes.m_Texts.size(), 1u);
    frame->close();
}

// With the option stored on, connecting starts the server's sound with the
// display; the menu ends it and starts it again while the display runs.
TEST_F(AppDiscoveryConnectTest, AudioFollowsTheOptionWhileTheDisplayRuns)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    AppTestMessageBoxWatcher boxes;
    AudioDiskOutput disk;
    DiscoveryTestPeer alpha;
    ASSERT_TRUE(alpha.Start({"--bind", "10.77.0.2", "--name", "alpha", "--features", "8", "--codec", "jpeg",
                             "--size", "320x240", "--fps", "10"}));
    ASSERT_TRUE(SASettings::AutoConnectSettingSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(SA_SETTINGS_AUTO_CONNECT_IP_LIST, "10.77.0.2"));
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_MENU_AUDIO_ENABLED, true));

    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }))
        << frame->StateHistoryGet();
    SANetClient& client = frame->ClientGetNet();
    ASSERT_TRUE(AppTestWaitFor([&] { return client.AudioActiveGet() && disk.SoundBytesGet() > 0; }));
    EXPECT_TRUE(SASettings::SettingsAudioOptionEnableGet());

    AudioMenuTrigger(*frame);
    EXPECT_FALSE(client.AudioActiveGet());
    EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
    EXPECT_FALSE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_MENU_AUDIO_ENABLED));
    const size_t before = disk.SoundBytesGet();

    AudioMenuTrigger(*frame);
    ASSERT_TRUE(AppTestWaitFor([&] { return client.AudioActiveGet() && disk.SoundBytesGet() > before; }));
    EXPECT_TRUE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_MENU_AUDIO_ENABLED));
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_CONNECTED_DISPLAY_ON);
    EXPECT_TRUE(boxes.m_Texts.empty());
    frame->close();
    EXPECT_TRUE(AppTestWaitFor([&] { return !client.AudioActiveGet(); }));
}
