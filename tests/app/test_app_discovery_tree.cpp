// The connect view's server tree fed by the viewer's own discovery, in the
// private network of AppDiscoveryTestUtil.h: replies of the test's
// responders and of real peers become computer and connection items; the
// local host filter; selecting items (a computer, a secured server, a
// server to connect to).
#include "core/SAUtilAddress.h"
#include "settings/SASettings.h"
#include "tests/app/AppDiscoveryTestUtil.h"
#include "tests/discovery/DiscoveryTestPeer.h"

#include <QAbstractItemModelTester>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <cctype>

using AppDiscoveryTest::LogCounter;
using AppDiscoveryTest::Responder;
using AppDiscoveryTest::TreeLines;

namespace
{
using Lines = std::vector<std::string>;

class AppDiscoveryTreeTest : public ::testing::Test
{
protected:
    void SetUp() override { SASettings::Clear(); }
};

std::string ReceiveLine(const char* address)
{
    return std::string("DISCOVERY RECEIVE Remote IP: ") + address + " ";
}

// Waits until every reply a responder sent has been received and the view
// has taken every waiting reply out of the list.
bool RepliesSettled(LogCounter& log, CMainFrame& frame,
                    const std::vector<std::pair<Responder*, std::string>>& sources)
{
    return AppTestWaitFor(
        [&]
        {
            for (const auto& [responder, line] : sources)
                if (log.CountGet(line) < responder->RepliesSentGet())
                    return false;
            return frame.ConnectViewGet()->DiscoveryGet().ListGet().ReceivedCount() == 0;
        });
}

int ImageOf(QTreeWidgetItem* item)
{
    return item->data(0, SAWndCtrlTreeView::ROLE_IMAGE).toInt();
}

uint32_t FeaturesOf(QTreeWidgetItem* item)
{
    return item->data(0, SAWndCtrlTreeView::ROLE_FEATURES).toUInt();
}

std::string HostNameOwnInOtherCase()
{
    char name[256] = {};
    gethostname(name, sizeof(name) - 1);
    std::string text = name;
    for (char& c : text)
        c = std::isupper(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c))
                                                        : static_cast<char>(std::toupper(c));
    return text;
}
} // namespace

TEST_F(AppDiscoveryTreeTest, TwoAddressesMakeOneComputerInArrivalOrderAndAChangedFeatureRemovesIt)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    AppTestMessageBoxWatcher boxes;
    LogCounter log;
    const std::string fromFirst = ReceiveLine("10.77.0.5"), fromSecond = ReceiveLine("10.77.1.5");
    log.Watch(fromFirst);
    log.Watch(fromSecond);
    Responder second("10.77.1.5", "10.77.1.255", "twin", 0);
    Responder first("10.77.0.5", "10.77.0.255", "twin", 0);
    ASSERT_TRUE(first.IsBound() && second.IsBound());
    first.RepliesAllow(0); // the second address answers first

    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    QTreeWidget* tree = frame->ConnectViewGet()->TreeGet();
    ASSERT_TRUE(AppTestWaitFor(
        [&] {
            return TreeLines(tree) == Lines{"Computer Name: twin", "  Connection: 10.77.1.5"};
        }))
        << testing::PrintToString(TreeLines(tree));
    first.RepliesAllow(-1);
    const Lines both = {"Computer Name: twin", "  Connection: 10.77.1.5", "  Connection: 10.77.0.5"};
    ASSERT_TRUE(AppTestWaitFor([&] { return TreeLines(tree) == both; }))
        << testing::PrintToString(TreeLines(tree));
    QTreeWidgetItem* computer = tree->topLevelItem(0);
    EXPECT_TRUE(computer->font(0).bold());
    EXPECT_EQ(ImageOf(computer), SAWndCtrlTreeView::IMAGE_COMPUTER);
    EXPECT_TRUE(computer->isExpanded());
    for (int i = 0; i < 2; ++i)
    {
        EXPECT_EQ(ImageOf(computer->child(i)), SAWndCtrlTreeView::IMAGE_CONNECTION);
        EXPECT_EQ(FeaturesOf(computer->child(i)), 0u);
    }

    // Every cycle repeats both replies: nothing changes.
    const size_t seenFirst = log.CountGet(fromFirst), seenSecond = log.CountGet(fromSecond);
    ASSERT_TRUE(AppTestWaitFor(
        [&] {
            return log.CountGet(fromFirst) >= seenFirst + 10 && log.CountGet(fromSecond) >= seenSecond + 10;
        }));
    first.RepliesAllow(0);
    second.RepliesAllow(0);
    ASSERT_TRUE(RepliesSettled(log, *frame, {{&first, fromFirst}, {&second, fromSecond}}));
    AppTestSpin(50);
    EXPECT_EQ(TreeLines(tree), both);

    // One reply with another feature bitmap removes the whole computer, and
    // the tree stays empty, without the placeholder, until the next reply.
    first.FeaturesSet(SA_NET_HOST_FEATURE_ENCRYPTION);
    first.RepliesAllow(1);
    ASSERT_TRUE(AppTestWaitFor([&] { return tree->topLevelItemCount() == 0; }))
        << testing::PrintToString(TreeLines(tree));
    ASSERT_TRUE(RepliesSettled(log, *frame, {{&first, fromFirst}}));
    AppTestSpin(50);
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    first.RepliesAllow(1);
    ASSERT_TRUE(AppTestWaitFor(
        [&] {
            return TreeLines(tree) == Lines{"Computer Name: twin", "  Connection: 10.77.0.5"};
        }))
        << testing::PrintToString(TreeLines(tree));
    EXPECT_EQ(ImageOf(tree->topLevelItem(0)), SAWndCtrlTreeView::IMAGE_COMPUTER_SECURITY);
    EXPECT_EQ(FeaturesOf(tree->topLevelItem(0)->child(0)), SA_NET_HOST_FEATURE_ENCRYPTION);
    EXPECT_TRUE(boxes.m_Texts.empty());
    frame->close();
}

TEST_F(AppDiscoveryTreeTest, LocalHostRepliesAreListedOnlyWhenLocalConnectionsAreEnabled)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    LogCounter log;
    const std::string fromOwn = ReceiveLine("10.77.0.1"), fromNamed = ReceiveLine("10.77.1.5");
    log.Watch(fromOwn);
    log.Watch(fromNamed);
    const std::string ownName = HostNameOwnInOtherCase();
    // From this machine's own first address, and from elsewhere with this
    // machine's name in the other letter case.
    Responder own("10.77.0.1", "10.77.0.255", "own-address", 0);
    Responder named("10.77.1.5", "10.77.1.255", ownName, 0);
    Responder remote("10.77.0.5", "10.77.0.255", "remote", 0);
    ASSERT_TRUE(own.IsBound() && named.IsBound() && remote.IsBound());
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOCAL_HOST_CONNECTION_ENABLE, false));

    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    QTreeWidget* tree = frame->ConnectViewGet()->TreeGet();
    ASSERT_TRUE(AppTestWaitFor([&] { return log.CountGet(fromOwn) >= 10 && log.CountGet(fromNamed) >= 10; }));
    own.RepliesAllow(0);
    named.RepliesAllow(0);
    ASSERT_TRUE(RepliesSettled(log, *frame, {{&own, fromOwn}, {&named, fromNamed}}));
    AppTestSpin(50);
    EXPECT_EQ(TreeLines(tree), (Lines{"Computer Name: remote", "  Connection: 10.77.0.5"}));

    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOCAL_HOST_CONNECTION_ENABLE, true));
    own.RepliesAllow(-1);
    named.RepliesAllow(-1);
    ASSERT_TRUE(AppTestWaitFor(
        [&]
        {
            auto* view = frame->ConnectViewGet();
            int32_t features = 0;
            return view->FeatureSupportBitmapGet("10.77.0.1", features) &&
                   view->FeatureSupportBitmapGet("10.77.1.5", features);
        }));
    const Lines lines = TreeLines(tree);
    auto has = [&](const std::string& line)
    { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("Computer Name: own-address")) << testing::PrintToString(lines);
    EXPECT_TRUE(has("Computer Name: " + ownName)) << testing::PrintToString(lines);
    frame->close();
}

TEST_F(AppDiscoveryTreeTest, SelectingAComputerOrASecuredServerConnectsNothingAndAConnectionConnects)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    AppTestMessageBoxWatcher boxes;
    DiscoveryTestPeer alpha;
    DiscoveryTestPeer beta;
    ASSERT_TRUE(alpha.Start({"--bind", "10.77.0.2", "--name", "alpha", "--features", "8", "--codec", "jpeg",
                             "--size", "320x240", "--fps", "10"}));
    ASSERT_TRUE(beta.Start({"--bind", "10.77.1.2", "--name", "beta", "--features", "16"}));

    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    SAMvcViewFrmConnect* view = frame->ConnectViewGet();
    QTreeWidget* tree = view->TreeGet();
    ASSERT_TRUE(AppTestWaitFor(
        [&]
        {
            int32_t features = 0;
            return view->FeatureSupportBitmapGet("10.77.0.2", features) &&
                   view->FeatureSupportBitmapGet("10.77.1.2", features);
        }));
    const auto items = tree->findItems(QStringLiteral("Computer Name: alpha"), Qt::MatchExactly);
    const auto secured = tree->findItems(QStringLiteral("Computer Name: beta"), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    ASSERT_EQ(secured.size(), 1);
    QTreeWidgetItem* alphaComputer = items.front();
    QTreeWidgetItem* alphaConnection = alphaComputer->child(0);
    QTreeWidgetItem* betaConnection = secured.front()->child(0);
    EXPECT_EQ(ImageOf(secured.front()), SAWndCtrlTreeView::IMAGE_COMPUTER_SECURITY);
    EXPECT_EQ(FeaturesOf(alphaConnection), 8u);

    // A computer: no connection, no selection.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(alphaComputer).center());
    EXPECT_EQ(tree->currentItem(), alphaComputer);
    EXPECT_TRUE(tree->selectedItems().isEmpty());
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);

    // A server that requires security: refused, by mouse and by program; the
    // current item stays where it was.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(betaConnection).center());
    ASSERT_TRUE(AppTestWaitFor([&] { return boxes.m_Texts.size() == 1; }));
    tree->setCurrentItem(betaConnection);
    ASSERT_TRUE(AppTestWaitFor([&] { return boxes.m_Texts.size() == 2; }));
    for (const std::string& text : boxes.m_Texts)
        EXPECT_EQ(
            text,
            "Unable to Connect!: This version of quillmere viewer does not support password and security.");
    EXPECT_EQ(tree->currentItem(), alphaComputer);
    EXPECT_FALSE(betaConnection->isSelected());
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);

    // A connection: the user's connect command, with discovery's features.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(alphaConnection).center());
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }))
        << frame->FstmStateGet() << " states " << frame->StateHistoryGet() << " events "
        << frame->EventHistoryGet();
    EXPECT_EQ(frame->StateHistoryGet().rfind("1-3-4-", 0), 0u) << frame->StateHistoryGet();
    uint32_t address = 0;
    ASSERT_TRUE(SAUtilAddressParse("10.77.0.2", address));
    EXPECT_EQ(frame->ServerFeatureSupportBitmapGet(htonl(address)), 8);
    EXPECT_NE(frame->CurrentViewGet(), static_cast<QWidget*>(view));

    // Back to the connect view: discovery resumes and lists the servers again.
    frame->FrameTargetGet().Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_DISCONNECTED; }));
    EXPECT_EQ(frame->CurrentViewGet(), static_cast<QWidget*>(view));
    ASSERT_TRUE(AppTestWaitFor(
        [&]
        { return tree->findItems(QStringLiteral("Computer Name: alpha"), Qt::MatchExactly).size() == 1; }));
    // Only the frame's own farewell came since.
    ASSERT_EQ(boxes.m_Texts.size(), 3u) << testing::PrintToString(boxes.m_Texts);
    EXPECT_EQ(boxes.m_Texts[2].rfind("Disconnected: Disconnected manually", 0), 0u);
    frame->close();
}

// Anyone on the LAN can answer: replies from more servers than the tree
// lists stop at 256 connections, and the server heard from longest ago makes
// room, so a burst of made-up servers cannot keep a real one out.
TEST_F(AppDiscoveryTreeTest, TheTreeListsAtMost256ConnectionsAndKeepsThoseThatAnswer)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    SAMvcViewFrmConnect* view = frame->ConnectViewGet();
    SAListDiscovery& list = view->DiscoveryGet().ListGet();
    SANetHostRecord record;
    record.HostNameSet("spoofed");
    for (uint32_t i = 0; i < 300; ++i)
    {
        record.Address = 0x0A630000u + i; // 10.99.0.0 onwards: nobody's
        list.ReceivedAppend(record);
        if (i % 100 == 99)
        {
            ASSERT_TRUE(AppTestWaitFor([&] { return list.ReceivedCount() == 0; }));
        }
    }
    AppTestSpin(50);
    QTreeWidget* tree = view->TreeGet();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 256);

    // A real server answers now and then while made-up ones keep coming.
    SANetHostRecord real;
    real.HostNameSet("real");
    real.Address = 0x0A640001u; // 10.100.0.1
    for (uint32_t i = 0; i < 300; ++i)
    {
        if (i % 50 == 0)
            list.ReceivedAppend(real);
        record.Address = 0x0A630000u + 300 + i;
        list.ReceivedAppend(record);
        if (i % 50 == 49)
        {
            ASSERT_TRUE(AppTestWaitFor([&] { return list.ReceivedCount() == 0; }));
        }
    }
    AppTestSpin(50);
    uint32_t features = 0;
    EXPECT_NE(view->TreeViewGet()->ItemConnectionFind("10.100.0.1", features), nullptr);
    int connections = 0;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        connections += tree->topLevelItem(i)->childCount();
    EXPECT_EQ(connections, 256);
    frame->close();
}

TEST_F(AppDiscoveryTreeTest, AServerRemovedWhileItsRefusalBoxIsOpenLeavesTheTreeSound)
{
    // The refusal box runs an event loop of its own, in which replies are
    // handled: here one with another feature bitmap deletes the very item
    // whose selection is being refused. The next removal makes Qt walk every
    // index it keeps; this test's environment has the allocator fill freed
    // blocks, so an index left on the deleted item crashes there.
    QM_DISCOVERY_NETWORK_REQUIRE();
    Responder secured("10.77.0.5", "10.77.0.255", "secured", SA_NET_HOST_FEATURE_ENCRYPTION);
    Responder plain("10.77.1.5", "10.77.1.255", "plain", 0);
    ASSERT_TRUE(secured.IsBound() && plain.IsBound());
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    SAMvcViewFrmConnect* view = frame->ConnectViewGet();
    QTreeWidget* tree = view->TreeGet();
    QAbstractItemModelTester modelChecks(tree->model());
    int32_t features = 0;
    ASSERT_TRUE(AppTestWaitFor(
        [&]
        {
            return view->FeatureSupportBitmapGet("10.77.0.5", features) &&
                   view->FeatureSupportBitmapGet("10.77.1.5", features);
        }));
    secured.RepliesAllow(0);
    plain.RepliesAllow(0);
    AppTestSpin(100);

    std::vector<std::string> texts;
    int ticks = 0; // a hang guard: the box closes after 20 s in any case
    QTimer boxWatch;
    boxWatch.setInterval(20);
    QObject::connect(&boxWatch, &QTimer::timeout,
                     [&]
                     {
                         auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                         if (box == nullptr)
                             return;
                         if (texts.empty())
                         {
                             texts.push_back(box->text().toStdString());
                             secured.FeaturesSet(0);
                             secured.RepliesAllow(1);
                         }
                         if (!view->FeatureSupportBitmapGet("10.77.0.5", features) || ++ticks > 1000)
                             box->done(QMessageBox::Ok);
                     });
    boxWatch.start();
    QTreeWidgetItem* refused =
        tree->findItems(QStringLiteral("Computer Name: secured"), Qt::MatchExactly).front()->child(0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(refused).center());
    EXPECT_EQ(texts, std::vector<std::string>{
                         "This version of quillmere viewer does not support password and security."});
    EXPECT_EQ(TreeLines(tree), (Lines{"Computer Name: plain", "  Connection: 10.77.1.5"}));

    plain.FeaturesSet(SA_NET_HOST_FEATURE_ENCRYPTION);
    plain.RepliesAllow(1);
    ASSERT_TRUE(AppTestWaitFor([&] { return tree->topLevelItemCount() == 0; }));
    EXPECT_TRUE(tree->selectedItems().isEmpty());
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
    frame->close();
}

QM_APP_DISCOVERY_TEST_MAIN()
