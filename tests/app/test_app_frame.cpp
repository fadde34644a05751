// The main frame as a window under Xvfb: menu rules in every state, the
// status bar's texts, ESC, the full-screen X button, the window placement
// and the frame's message target.
#include "AppTestMain.h"
#include "AppTestUtil.h"
#include "app/SAMvcViewFrmConnect.h"
#include "app/SAMvcViewFrmDisplay.h"
#include "app/SAMvcViewFrmText.h"
#include "app/SAWndCtrlStatusBar.h"
#include "core/SAUtilAddress.h"
#include "render/PSRendererCpu.h"
#include "settings/SASettings.h"
#include "settings/SAUtilRegistry.h"
#include "tests/core/SATestLogCapture.h"
#include "tests/peer/PeerTestProcess.h"

#include <QAction>
#include <QActionGroup>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>

#include <atomic>
#include <regex>
#include <set>
#include <thread>

#ifdef QM_TEST_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace
{
class AppFrameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SASettings::Clear();
        SAUtilRegistryValueDelete(SA_REGISTRY_KEY_PROFILE_MAINFRAME, SA_REGISTRY_VALUE_WINDOW_PLACEMENT);
    }
};

void MenusShow(CMainFrame& frame)
{
    for (QMenu* menu : frame.MenusGet())
        emit menu->aboutToShow();
}

struct Rule
{
    int id;
    std::set<int> enabledIn; // states
    int checked;             // -1 not checked item, else expected in every state (or -2: state 6 only)
};
} // namespace

TEST_F(AppFrameTest, EveryMenuItemFollowsItsRuleInEachState)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->windowTitle().toStdString(), "quillmere Viewer for Windows 7");
    const std::set<int> all = {0, 1, 2, 3, 4, 5, 6};
    const std::vector<Rule> rules = {
        {ID_FILE_DISCONNECT, {2, 3, 4}, -1},
        {ID_APP_EXIT, all, -1},
        {ID_VIEW_STATUS_BAR, all, 1},
        {ID_VIEW_FULLSCREEN, all, -2},
        {ID_FUNCTIONALITY_DISPLAY, {}, 1},
        {ID_FUNCTIONALITY_KEYBOARD, {0}, 0},
        {ID_FUNCTIONALITY_MOUSE_LOCAL, {0}, 0},
        {ID_FUNCTIONALITY_MOUSE_REMOTE, {0}, 1},
        {ID_FUNCTIONALITY_TOUCHSCREEN, {0}, 1},
        {ID_FUNCTIONALITY_TOUCHPAD, {0}, 0},
        {ID_FUNCTIONALITY_TOUCH_OFF, {0}, 0},
        {ID_FUNCTIONALITY_AUDIO_SPEAKER, {0, 4, 6}, -1},
        {ID_SETTINGS_RESOLUTIONS, {0}, -1},
        {ID_SETTINGS_QUALITY, {0}, -1},
        {ID_SETTINGS_AUTOMATIC_CONNECT, {0}, -1},
        {ID_SETTINGS_FULLSCREEN_UPON_CONNECT, {0}, 0},
        {ID_SETTINGS_KEEP_MONITOR_ACTIVE, {0}, 0},
        {ID_SETTINGS_CLEAR, all, -1},
        {ID_SETTINGS_ADVANCED, {0}, -1},
        {ID_HELP_USER_MANUAL, all, -1},
        {ID_HELP_SUPPORT, all, -1},
        {ID_APP_ABOUT, all, -1},
    };
    for (int state = 0; state < SA_FSTM_STATE_COUNT; ++state)
    {
        frame->FstmGet().CurrentStateSet(state);
        MenusShow(*frame);
        for (const Rule& rule : rules)
        {
            QAction* action = frame->ActionGet(rule.id);
            ASSERT_NE(action, nullptr) << rule.id;
            EXPECT_EQ(action->isEnabled(), rule.enabledIn.count(state) == 1)
                << "item " << rule.id << " state " << state;
            if (rule.checked == -2)
            {
                EXPECT_EQ(action->isChecked(), state == 6) << "item " << rule.id << " state " << state;
            }
            else if (rule.checked >= 0)
            {
                EXPECT_EQ(action->isChecked(), rule.checked == 1) << "item " << rule.id << " state " << state;
            }
        }
    }
    frame->FstmGet().CurrentStateSet(0);
}

TEST_F(AppFrameTest, ReducedMenuHasNoAdvancedItem)
{
    auto frame = AppTestFrameOpen(false);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->ActionGet(ID_SETTINGS_ADVANCED), nullptr);
    EXPECT_NE(frame->ActionGet(ID_SETTINGS_CLEAR), nullptr);
}

TEST_F(AppFrameTest, ToggleAndRadioCommandsStoreTheirSettings)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    MenusShow(*frame);
    frame->ActionGet(ID_FUNCTIONALITY_TOUCH_OFF)->trigger();
    frame->ActionGet(ID_FUNCTIONALITY_KEYBOARD)->trigger();
    frame->ActionGet(ID_FUNCTIONALITY_MOUSE_LOCAL)->trigger();
    frame->ActionGet(ID_SETTINGS_FULLSCREEN_UPON_CONNECT)->trigger();
    MenusShow(*frame);
    EXPECT_EQ(SASettings::SettingsMenuTouchGet(), 2);
    EXPECT_TRUE(frame->ActionGet(ID_FUNCTIONALITY_TOUCH_OFF)->isChecked());
    EXPECT_FALSE(frame->ActionGet(ID_FUNCTIONALITY_TOUCHSCREEN)->isChecked());
    EXPECT_TRUE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_KEYBOARD_ENABLE));
    EXPECT_TRUE(frame->ActionGet(ID_FUNCTIONALITY_KEYBOARD)->isChecked());
    EXPECT_TRUE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_MOUSE_TOUCH_ENABLE));
    EXPECT_TRUE(frame->ActionGet(ID_FUNCTIONALITY_MOUSE_LOCAL)->isChecked());
    EXPECT_FALSE(frame->ActionGet(ID_FUNCTIONALITY_MOUSE_REMOTE)->isChecked());
    EXPECT_TRUE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_FULL_SCREEN_UPON_CONNECT_ENABLE));
    EXPECT_TRUE(frame->FullScreenUponConnectGet());

    // The radio items come in two groups the menu draws with bullets; a
    // toggle has none. Choosing the checked item again keeps it.
    QActionGroup* mouse = frame->ActionGet(ID_FUNCTIONALITY_MOUSE_LOCAL)->actionGroup();
    QActionGroup* touch = frame->ActionGet(ID_FUNCTIONALITY_TOUCH_OFF)->actionGroup();
    ASSERT_NE(mouse, nullptr);
    ASSERT_NE(touch, nullptr);
    EXPECT_NE(mouse, touch);
    EXPECT_TRUE(mouse->isExclusive());
    EXPECT_TRUE(touch->isExclusive());
    EXPECT_EQ(frame->ActionGet(ID_FUNCTIONALITY_MOUSE_REMOTE)->actionGroup(), mouse);
    EXPECT_EQ(frame->ActionGet(ID_FUNCTIONALITY_TOUCHSCREEN)->actionGroup(), touch);
    EXPECT_EQ(frame->ActionGet(ID_FUNCTIONALITY_TOUCHPAD)->actionGroup(), touch);
    EXPECT_EQ(frame->ActionGet(ID_FUNCTIONALITY_KEYBOARD)->actionGroup(), nullptr);
    frame->ActionGet(ID_FUNCTIONALITY_TOUCH_OFF)->trigger();
    MenusShow(*frame);
    EXPECT_EQ(SASettings::SettingsMenuTouchGet(), 2);
    EXPECT_TRUE(frame->ActionGet(ID_FUNCTIONALITY_TOUCH_OFF)->isChecked());
    frame->ActionGet(ID_FUNCTIONALITY_TOUCHPAD)->trigger();
    MenusShow(*frame);
    EXPECT_TRUE(frame->ActionGet(ID_FUNCTIONALITY_TOUCHPAD)->isChecked());
    EXPECT_FALSE(frame->ActionGet(ID_FUNCTIONALITY_TOUCH_OFF)->isChecked());
}

TEST_F(AppFrameTest, ClearAsksFirstAndOnlyYesClears)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_KEYBOARD_ENABLE, true));
    AppTestMessageBoxWatcher watcher;
    watcher.m_Answer = QMessageBox::No;
    frame->ActionGet(ID_SETTINGS_CLEAR)->trigger();
    ASSERT_EQ(watcher.m_Texts.size(), 1u);
    EXPECT_EQ(watcher.m_Texts[0], "Clear settings: Are you sure you want to clear all settings?");
    EXPECT_EQ(watcher.m_Icons[0], QMessageBox::Question);
    EXPECT_TRUE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_KEYBOARD_ENABLE));
    watcher.m_Answer = QMessageBox::Yes;
    frame->ActionGet(ID_SETTINGS_CLEAR)->trigger();
    EXPECT_FALSE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_KEYBOARD_ENABLE));
}

// The audio connection's workers report a failure by message; the frame
// shows its box (question-mark icon) and the connection state is untouched.
TEST_F(AppFrameTest, AnAudioFailureMessageShowsItsBoxWithTheQuestionIcon)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    AppTestMessageBoxWatcher watcher;
    // Failures that come while the box waits for the user (a link that
    // flaps) open no box inside it: boxes within boxes ran the window
    // thread's stack out.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(frame->FrameTargetGet().Post(SA_WM_APP_AUDIO_FAILURE, 0, 0));
    ASSERT_TRUE(AppTestWaitFor([&] { return !watcher.m_Texts.empty(); }));
    AppTestSpin(200);
    EXPECT_EQ(watcher.m_Texts, std::vector<std::string>{"Msg title: Audio Disconneted"});
    EXPECT_EQ(watcher.m_Icons, std::vector<QMessageBox::Icon>{QMessageBox::Question});
    EXPECT_EQ(frame->FstmStateGet(), 0);
}

TEST_F(AppFrameTest, StatusBarShowsIndicatorsThenIdleTextsThenStatistics)
{
    auto frame = AppTestFrameOpen(true, false);
    ASSERT_TRUE(frame);
    SAWndCtrlStatusBar* bar = frame->StatusBarGet();
    EXPECT_TRUE(bar->PaneTextGet(0).startsWith("IP local:"));
    EXPECT_EQ(bar->PaneTextGet(0).size(), 50);
    EXPECT_EQ(bar->PaneTextGet(7).size(), 23);
    // The padded indicator decides the width: the address pane is the widest.
    EXPECT_GT(bar->findChild<QLabel*>("pane1")->width(), bar->findChild<QLabel*>("pane3")->width());

    // A return to state 0 resets the panes.
    frame->FrameTargetGet().Send(SA_WM_APP_FSTM_STATE_CHANGED, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON,
                                 1 | (0 << 16));
    const char* idle[] = {"Loc: -", "Rem: -", "Res: -", "Fps: -", "Mbps: -", "Sent: -", "Rcvd: -", "Enc:-"};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(bar->PaneTextGet(i).toStdString(), idle[i]);

    // No renderer yet: the refresh logs it, as a failure, and shows zeros.
    {
        SATestLogCapture log;
        frame->FrameTargetGet().Send(SA_WM_APP_STATUS_REFRESH, 0, 0);
        EXPECT_EQ(log.CountWithCategory(
                      "SAMvcViewFrmDisplay::RendererStatusGet failed! NULL == m_pRenderer\n", SA_LOG_FAILURE),
                  1u);
    }
    EXPECT_EQ(bar->PaneTextGet(2).toStdString(), "Res:0x0");
    EXPECT_EQ(bar->PaneTextGet(3).toStdString(), "Fps:-");
    EXPECT_EQ(bar->PaneTextGet(7).toStdString(), "Enc:None");
    EXPECT_EQ(bar->PaneTextGet(0).toStdString(), "Loc: -");
    frame->FrameTargetGet().Send(SA_WM_APP_ONE_TIME_INITIALIZATION, 0, 0);

    // A real connection: neither the address nor the port reads the same
    // with its bytes swapped. The local end is the one the peer saw.
    AppTestMessageBoxWatcher boxes; // the end of the connection shows one
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.2", "--codec", "raw", "--size", "64x48", "--fps", "4"}));
    uint32_t address = 0;
    ASSERT_TRUE(SAUtilAddressParse("127.0.0.2", address));
    frame->ConnectRequest(address);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }));
    std::string output;
    std::smatch seen;
    const std::regex from("connection [0-9]+ from ([0-9.:]+)\n");
    ASSERT_TRUE(AppTestWaitFor(
        [&]
        {
            output = peer.OutputGet();
            return std::regex_search(output, seen, from);
        }));
    const std::string local = seen[1];
    EXPECT_EQ(bar->PaneTextGet(0).toStdString(), "IP local:" + local);
    EXPECT_EQ(bar->PaneTextGet(1).toStdString(), "IP remote:127.0.0.2:28252");
    frame->FrameTargetGet().Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_DISCONNECTED; }));
    EXPECT_EQ(bar->PaneTextGet(1).toStdString(), "Rem: -");
}

TEST_F(AppFrameTest, EveryPaneShowsItsWholeTextInAnEightHundredPixelWindow)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->width(), 800); // the default placement
    SAWndCtrlStatusBar* bar = frame->StatusBarGet();
    auto check = [&](const char* what)
    {
        AppTestSpin(100); // the layout follows the new texts
        EXPECT_EQ(frame->width(), 800) << what << ": the texts must not widen the window";
        EXPECT_LE(bar->geometry().right(), frame->rect().right()) << what;
        for (int i = 0; i < 8; ++i)
        {
            QLabel* pane = bar->PaneGet(i);
            ASSERT_NE(pane, nullptr);
            EXPECT_TRUE(pane->isVisible()) << what << " pane " << i;
            const QRect inBar(pane->mapTo(bar, QPoint(0, 0)), pane->size());
            EXPECT_TRUE(bar->rect().contains(inBar)) << what << " pane " << i << " at " << inBar.x() << "+"
                                                     << inBar.width() << " of " << bar->width();
            QString text = pane->text();
            while (text.endsWith(' '))
                text.chop(1); // blanks need no room
            const int needed = pane->fontMetrics().horizontalAdvance(text);
            const int room = pane->contentsRect().width() - pane->indent();
            EXPECT_LE(needed, room) << what << " pane " << i << " \"" << text.toStdString() << "\"";
        }
    };
    check("indicator texts");
    bar->PanesReset();
    check("idle texts");

    // The widest texts a connection shows: full addresses and ports, a large
    // screen, three-digit frame rates, nine-digit counters and the unknown
    // compression text.
    bar->AddressesSet(0xFFFFFFFF, 65535, 0xFFFFFFFF, 65535);
    SAStatusRenderer renderer;
    renderer.m_ResolutionX = 7680;
    renderer.m_ResolutionY = 4320;
    renderer.m_FramesPerSecond = 144;
    SANetStatisticsSnapshot net;
    net.m_PacketsSent = 999999999;
    net.m_HeadersReceived = 999999999;
    net.m_IntervalSum = 1000;
    net.m_FrameTimeSum = 100;
    net.m_FrameBytesSum = 125000000; // 1000 and 10000 Mbps
    bar->StatisticsSet(renderer, net, 2);
    EXPECT_EQ(bar->PaneTextGet(0).toStdString(), "IP local:255.255.255.255:65535");
    EXPECT_EQ(bar->PaneTextGet(4).toStdString(), "Mbps:1000/10000");
    EXPECT_EQ(bar->PaneTextGet(7).toStdString(), "Compression Error:unknown");
    check("widest texts");

    // A wider window gives each pane its indicator's width again.
    frame->resize(1200, 600);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->width() == 1200; }, 5000));
    bar->PanesReset();
    AppTestSpin(100);
    for (int i = 0; i < 8; ++i)
    {
        QLabel* pane = bar->PaneGet(i);
        const int indicator = pane->fontMetrics().horizontalAdvance(
            QString::fromStdString(SAStatusBarText::IndicatorTextsGet()[static_cast<size_t>(i)]));
        EXPECT_GE(pane->contentsRect().width() - pane->indent(), indicator - pane->indent()) << i;
    }
    frame->close();
}

TEST_F(AppFrameTest, RefreshShowsTheRenderersFrameRateFromSixUp)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    auto clock = std::make_shared<std::atomic<uint32_t>>(1000);
    SAMvcViewFrmDisplay* view = frame->DisplayViewGet();
    // The processor thread makes the view's first renderer as it starts; on
    // a busy machine that can be late. The stand-in goes in only after it,
    // so that two threads never make a renderer at once.
    ASSERT_TRUE(AppTestWaitFor([&] { return view->RendererExistsGet(); }));
    view->RendererFactorySet([clock](bool)
                             { return std::make_unique<PSRendererCpu>([clock] { return clock->load(); }); });
    // The processor's calls, from a thread of their own as in the viewer. The
    // other mode replaces the processor's renderer with the stand-in.
    auto present = [&](uint32_t interval)
    {
        std::thread processor(
            [&]
            {
                ASSERT_TRUE(view->ResolutionSet(640, 480, false));
                for (int i = 0; i < 60; ++i)
                {
                    clock->fetch_add(interval);
                    view->Present(1);
                }
            });
        processor.join();
    };
    present(200); // 5 frames per second
    frame->FrameTargetGet().Send(SA_WM_APP_STATUS_REFRESH, 0, 0);
    EXPECT_EQ(frame->StatusBarGet()->PaneTextGet(2).toStdString(), "Res:640x480");
    EXPECT_EQ(frame->StatusBarGet()->PaneTextGet(3).toStdString(), "Fps:-");
    present(166); // 6 frames per second
    frame->FrameTargetGet().Send(SA_WM_APP_STATUS_REFRESH, 0, 0);
    EXPECT_EQ(frame->StatusBarGet()->PaneTextGet(3).toStdString(), "Fps:6");

    // A refresh comes with every packet: in a burst the texts stay current,
    // but the bar shows them at the end of its pace, then the latest.
    SAWndCtrlStatusBar* bar = frame->StatusBarGet();
    for (int i = 0; i < 10; ++i)
        frame->FrameTargetGet().Send(SA_WM_APP_STATUS_REFRESH, 0, 0);
    bar->PaneTextSet(7, "Enc:latest");
    EXPECT_EQ(bar->PaneTextGet(7).toStdString(), "Enc:latest");
    EXPECT_NE(bar->PaneGet(7)->text().toStdString(), "Enc:latest");
    AppTestSpin(250);
    EXPECT_EQ(bar->PaneGet(7)->text().toStdString(), "Enc:latest");
    frame->close();
}

TEST_F(AppFrameTest, StatusBarNamesEachCompressionType)
{
    SAWndCtrlStatusBar bar;
    SAStatusRenderer renderer;
    SANetStatisticsSnapshot net;
    net.m_PacketsSent = 12;
    net.m_HeadersReceived = 34;
    net.m_IntervalSum = 0;
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "Enc:None"},     {1, "Enc:YUV"},      {2, "Compression Error:unknown"},
        {3, "Enc:Software"}, {4, "Enc:Hardware"}, {9, "Compression Error:unknown"}};
    for (const auto& [type, text] : cases)
    {
        bar.StatisticsSet(renderer, net, type);
        EXPECT_EQ(bar.PaneTextGet(7).toStdString(), text) << type;
    }
    EXPECT_EQ(bar.PaneTextGet(4).toStdString(), "Mbps:0/0");
    EXPECT_EQ(bar.PaneTextGet(5).toStdString(), "Sent:12");
    EXPECT_EQ(bar.PaneTextGet(6).toStdString(), "Rcvd:34");
}

TEST_F(AppFrameTest, EscapeInWindowedModeIsConsumedAndChangesNothing)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    SAMvcViewFrmConnect* view = frame->ConnectViewGet();
    struct KeySpy : QObject
    {
        int keys = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::KeyPress)
                ++keys;
            return false;
        }
    } spy;
    view->installEventFilter(&spy);
    const QRect before = frame->geometry();
    QTest::keyClick(view, Qt::Key_Escape);
    QTest::keyClick(view, Qt::Key_A); // a key the frame does not take reaches the view
    EXPECT_EQ(spy.keys, 1);
    EXPECT_EQ(frame->FstmStateGet(), SA_FSTM_STATE_DISCONNECTED);
    EXPECT_EQ(frame->CurrentViewGet(), view);
    EXPECT_EQ(frame->geometry(), before);
    EXPECT_FALSE(frame->FullScreenGet());

    // ALT alone puts the menu bar in keyboard mode, and ESC takes it out:
    // a letter typed after it opens no menu.
    QTest::keyPress(view, Qt::Key_Alt);
    QTest::keyRelease(view, Qt::Key_Alt);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->menuBar()->activeAction() != nullptr; }));
    QTest::keyClick(frame->menuBar(), Qt::Key_Escape);
    EXPECT_TRUE(AppTestWaitFor([&] { return frame->menuBar()->activeAction() == nullptr; }));
    QTest::keyClick(QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : view, Qt::Key_S);
    AppTestSpin(100);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST_F(AppFrameTest, ConnectViewShowsItsControlsAndThePlaceholder)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    QTreeWidget* tree = frame->ConnectViewGet()->TreeGet();
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->text(0).toStdString(), "Cannot Detect Primary Machine!");
    EXPECT_EQ(tree->geometry().top(), 272);
    EXPECT_EQ(frame->ConnectViewGet()->LookupButtonGet()->geometry().size(), QSize(40, 40));
}

namespace
{
// Counts the paint events a widget receives.
struct PaintCounter : QObject
{
    std::atomic<int> paints{0};
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

bool Frameless(CMainFrame& frame)
{
    const bool widget = (frame.windowFlags() & Qt::FramelessWindowHint) != 0;
    const bool native = (frame.windowHandle()->flags() & Qt::FramelessWindowHint) != 0;
    EXPECT_EQ(widget, native) << "the widget's and the native window's flags agree";
    return widget && native;
}
} // namespace

TEST_F(AppFrameTest, FullScreenIsAFramelessWindowOnTheWholeMonitorAndLeavingRestoresThePlacement)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    const QRect monitor = QGuiApplication::primaryScreen()->geometry();
    const QRect placed(60, 70, 700, 500);
    frame->setGeometry(placed);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->geometry() == placed; }, 5000));
    EXPECT_FALSE(Frameless(*frame));
    // Framed, every view lies inside a sunken edge two pixels wide.
    QWidget* stack = frame->DisplayViewGet()->parentWidget();
    EXPECT_EQ(frame->CurrentViewGet()->geometry(), stack->rect().adjusted(2, 2, -2, -2));
    const WId frameWindow = frame->winId();
    const WId glWindow = frame->DisplayViewGet()->WindowGet()->winId();
    frame->StatusBarGet()->hide(); // the user hid it; leaving full screen shows it again

    frame->FullScreenEnter();
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->geometry() == monitor; }, 5000));
    AppTestSpin(100);
    EXPECT_EQ(frame->geometry(), monitor);
    EXPECT_TRUE(Frameless(*frame));
    // Its own frameless placement, not the toolkit's full-screen state.
    EXPECT_EQ(frame->windowState() & Qt::WindowFullScreen, 0);
    // The native windows stay: the processor thread keeps drawing into the GL one.
    EXPECT_EQ(frame->winId(), frameWindow);
    EXPECT_EQ(frame->DisplayViewGet()->WindowGet()->winId(), glWindow);
    EXPECT_FALSE(frame->menuBar()->isVisible());
    EXPECT_FALSE(frame->StatusBarGet()->isVisible());
    EXPECT_EQ(stack->geometry().size(), monitor.size());
    // Without its edge the picture reaches the monitor's edges.
    EXPECT_EQ(frame->CurrentViewGet()->geometry(), QRect(QPoint(0, 0), monitor.size()));

    // The X button: left = monitor right - 50, top 25, right = monitor right
    // - 25, bottom = monitor top + 50.
    QPushButton* button = frame->XButtonGet();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text().toStdString(), "X");
    ASSERT_TRUE(AppTestWaitFor([&] { return button->isVisible(); }, 5000));
    // Above its own frame, not above every other program's windows: on X11
    // a window of its own, on Wayland (where a client cannot place one) a
    // child of the frame, which covers the monitor.
    const bool wayland = QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
    EXPECT_EQ(button->isWindow(), !wayland);
    if (!wayland)
    {
        ASSERT_NE(button->windowHandle(), nullptr);
        EXPECT_EQ(button->windowHandle()->transientParent(), frame->windowHandle());
        EXPECT_FALSE(button->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    }
    const QRect place =
        wayland ? QRect(button->mapTo(frame.get(), QPoint(0, 0)), button->size()) : button->geometry();
    EXPECT_EQ(place.left(), monitor.x() + monitor.width() - 50);
    EXPECT_EQ(place.top(), 25);
    EXPECT_EQ(place.left() + place.width(), monitor.x() + monitor.width() - 25);
    EXPECT_EQ(place.top() + place.height(), monitor.y() + 50);

    // WM_APP+19 (a frame is about to be presented) repaints it. On X11 the
    // server does, from the window's background: draw over the window
    // behind the toolkit's back, and the present must bring the button back.
    if (wayland)
    {
        PaintCounter counter;
        button->installEventFilter(&counter);
        AppTestSpin(100);
        const int before = counter.paints.load();
        frame->FrameTargetGet().Send(SA_WM_APP_PRESENT, 0, 0);
        EXPECT_TRUE(AppTestWaitFor([&] { return counter.paints.load() > before; }, 5000));
        button->removeEventFilter(&counter);
    }
#ifdef QM_TEST_HAVE_XCB
    else
    {
        AppTestSpin(100);
        const QImage drawn = button->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto onScreen = [&] {
            return button->screen()
                ->grabWindow(button->winId())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        ASSERT_EQ(onScreen(), drawn);
        xcb_connection_t* connection =
            qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        const auto window = static_cast<xcb_window_t>(button->winId());
        const xcb_gcontext_t context = xcb_generate_id(connection);
        const uint32_t red = 0xff0000;
        xcb_create_gc(connection, context, window, XCB_GC_FOREGROUND, &red);
        const xcb_rectangle_t whole{0, 0, 25, 25};
        xcb_poly_fill_rectangle(connection, window, context, 1, &whole);
        xcb_free_gc(connection, context);
        xcb_flush(connection);
        ASSERT_TRUE(AppTestWaitFor([&] { return onScreen().pixel(12, 12) == qRgb(255, 0, 0); }, 5000));
        frame->FrameTargetGet().Send(SA_WM_APP_PRESENT, 0, 0);
        EXPECT_TRUE(AppTestWaitFor([&] { return onScreen() == drawn; }, 5000));
    }
#endif
    // Its kept picture looks as the style draws a button, and follows a press.
    QPushButton plain(QStringLiteral("X"));
    plain.resize(button->size());
    for (const bool down : {false, true, false})
    {
        button->setDown(down);
        plain.setDown(down);
        EXPECT_EQ(button->grab().toImage(), plain.grab().toImage()) << "down " << down;
    }

    frame->FullScreenExit();
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->geometry() == placed; }, 5000));
    EXPECT_EQ(frame->XButtonGet(), nullptr);
    EXPECT_FALSE(Frameless(*frame));
    EXPECT_TRUE(frame->StatusBarGet()->isVisible());
    EXPECT_TRUE(frame->menuBar()->isVisible());
    EXPECT_EQ(frame->CurrentViewGet()->geometry(), stack->rect().adjusted(2, 2, -2, -2));
    EXPECT_EQ(frame->winId(), frameWindow);
    EXPECT_EQ(frame->DisplayViewGet()->WindowGet()->winId(), glWindow);

    // The placement saved while in full screen is the one from before it.
    frame->FullScreenEnter();
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->geometry() == monitor; }, 5000));
    frame->close();
    auto next = AppTestFrameOpen(true);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->geometry(), placed);
    EXPECT_FALSE(Frameless(*next));
    next->close();
}

TEST_F(AppFrameTest, InFullScreenAltOrF10BringsTheMenuBarUpUntilItsMenuCloses)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    const QRect monitor = QGuiApplication::primaryScreen()->geometry();
    frame->FullScreenEnter();
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->geometry() == monitor; }, 5000));
    ASSERT_FALSE(frame->menuBar()->isVisible());
    QWidget* target = frame->CurrentViewGet();

    QTest::keyClick(target, Qt::Key_F10);
    ASSERT_TRUE(AppTestWaitFor([&] { return QApplication::activePopupWidget() != nullptr; }, 5000));
    EXPECT_TRUE(frame->menuBar()->isVisible());
    EXPECT_EQ(QApplication::activePopupWidget(), frame->MenusGet().first());
    QApplication::activePopupWidget()->close();
    EXPECT_TRUE(AppTestWaitFor([&] { return !frame->menuBar()->isVisible(); }, 5000));

    // ALT pressed and released alone.
    QTest::keyPress(target, Qt::Key_Alt);
    QTest::keyRelease(target, Qt::Key_Alt);
    ASSERT_TRUE(AppTestWaitFor([&] { return QApplication::activePopupWidget() != nullptr; }, 5000));
    EXPECT_TRUE(frame->menuBar()->isVisible());
    QApplication::activePopupWidget()->close();
    EXPECT_TRUE(AppTestWaitFor([&] { return !frame->menuBar()->isVisible(); }, 5000));

    // Moving along the bar keeps it up; closing the menu with Escape takes
    // it down (Qt leaves the bar's item highlighted then), and the picture
    // fills the screen again without leaving full screen.
    QTest::keyClick(target, Qt::Key_F10);
    ASSERT_TRUE(AppTestWaitFor([&] { return QApplication::activePopupWidget() != nullptr; }, 5000));
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Right);
    AppTestSpin(100);
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(QApplication::activePopupWidget(), frame->MenusGet().at(1));
    EXPECT_TRUE(frame->menuBar()->isVisible());
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    EXPECT_TRUE(AppTestWaitFor([&] { return !frame->menuBar()->isVisible(); }, 5000));
    EXPECT_EQ(frame->geometry(), monitor);
    EXPECT_EQ(frame->CurrentViewGet()->geometry().top(), 0);

    // ALT as part of a combination does not.
    QTest::keyPress(target, Qt::Key_Alt);
    QTest::keyClick(target, Qt::Key_X, Qt::AltModifier);
    QTest::keyRelease(target, Qt::Key_Alt);
    AppTestSpin(100);
    EXPECT_FALSE(frame->menuBar()->isVisible());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // Leaving full screen shows it for good; F10 in a window changes nothing.
    frame->FullScreenExit();
    ASSERT_TRUE(frame->menuBar()->isVisible());
    QTest::keyClick(target, Qt::Key_F10);
    AppTestSpin(100);
    if (QApplication::activePopupWidget() != nullptr)
        QApplication::activePopupWidget()->close();
    AppTestSpin(100);
    EXPECT_TRUE(frame->menuBar()->isVisible());
    frame->close();
}

TEST_F(AppFrameTest, FullScreenHasNoXButtonWithTouchOffOrForCustomerSpecific01)
{
    const QRect monitor = QGuiApplication::primaryScreen()->geometry();
    ASSERT_TRUE(SASettings::SettingsMenuTouchSet(SA_SETTINGS_TOUCH_OFF));
    auto touchOff = AppTestFrameOpen(true);
    ASSERT_TRUE(touchOff);
    touchOff->FullScreenEnter();
    ASSERT_TRUE(AppTestWaitFor([&] { return touchOff->geometry() == monitor; }, 5000));
    EXPECT_EQ(touchOff->XButtonGet(), nullptr);
    EXPECT_TRUE(Frameless(*touchOff));
    touchOff->FrameTargetGet().Send(SA_WM_APP_PRESENT, 0, 0); // nothing to repaint
    touchOff->FullScreenExit();
    ASSERT_TRUE(AppTestWaitFor([&] { return touchOff->geometry() == QRect(0, 0, 800, 600); }, 5000));
    EXPECT_FALSE(Frameless(*touchOff));
    touchOff->close();
    touchOff.reset();

    ASSERT_TRUE(SASettings::SettingsMenuTouchSet(0));
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_CUSTOMER_SPECIFIC_01, true));
    auto customer = AppTestFrameOpen(true);
    ASSERT_TRUE(customer);
    customer->FullScreenEnter();
    ASSERT_TRUE(AppTestWaitFor([&] { return customer->geometry() == monitor; }, 5000));
    EXPECT_EQ(customer->XButtonGet(), nullptr);
    customer->FullScreenExit();
    customer->close();
}

TEST_F(AppFrameTest, PlacementIsSavedOnCloseAndRestoredByTheNextWindow)
{
    {
        auto frame = AppTestFrameOpen(true);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->geometry(), QRect(0, 0, 800, 600)); // nothing stored yet
        frame->setGeometry(QRect(100, 120, 640, 480));
        AppTestWaitFor([&] { return frame->geometry() == QRect(100, 120, 640, 480); }, 5000);
        frame->close();
    }
    uint8_t stored[44] = {};
    ASSERT_TRUE(SAUtilRegistryValueGet(SA_REGISTRY_KEY_PROFILE_MAINFRAME, SA_REGISTRY_VALUE_WINDOW_PLACEMENT,
                                       stored, sizeof(stored)));
    EXPECT_EQ(stored[0], 44);
    auto next = AppTestFrameOpen(true);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->geometry(), QRect(100, 120, 640, 480));
    next->close();

    // A placement from a larger or another screen, or written by a tool,
    // opens the window on this screen and no larger than it.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const struct
    {
        int32_t Left, Top, Right, Bottom;
    } storedRects[] = {{5000, 4000, 5640, 4480},
                       {0, 0, 100000, 100000},
                       {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
                       {-9000, 100, -8000, 700}};
    for (const auto& r : storedRects)
    {
        SCOPED_TRACE(testing::Message() << r.Left << "," << r.Top << " " << r.Right << "," << r.Bottom);
        const int32_t words[11] = {44, 0, 1, -1, -1, -1, -1, r.Left, r.Top, r.Right, r.Bottom};
        ASSERT_TRUE(SAUtilRegistryValueSet(SA_REGISTRY_KEY_PROFILE_MAINFRAME,
                                           SA_REGISTRY_VALUE_WINDOW_PLACEMENT, REG_BINARY, words,
                                           sizeof(words), REG_OPTION_NON_VOLATILE));
        auto placed = AppTestFrameOpen(true);
        ASSERT_TRUE(placed);
        EXPECT_TRUE(screen.contains(placed->geometry()))
            << placed->geometry().x() << "," << placed->geometry().y() << " " << placed->geometry().width()
            << "x" << placed->geometry().height();
        placed->close();
    }
}

TEST_F(AppFrameTest, SendFromAWorkerWaitsForTheHandlerAndReturnsZeroOnceClosed)
{
    SAQtMessageTarget target;
    std::atomic<int> handled{0};
    target.HandlerSet(
        [&](uint32_t message, uintptr_t wParam, intptr_t)
        {
            ++handled;
            return static_cast<intptr_t>(message + wParam);
        });
    std::atomic<intptr_t> result{-1};
    std::thread worker([&] { result = target.Send(SA_WM_APP + 5, 7, 0); });
    ASSERT_TRUE(AppTestWaitFor([&] { return result.load() != -1; }));
    worker.join();
    EXPECT_EQ(result.load(), static_cast<intptr_t>(SA_WM_APP + 12));
    EXPECT_TRUE(target.Post(SA_WM_APP + 1, 0, 0));
    AppTestSpin(50);
    EXPECT_EQ(handled.load(), 2);

    // A worker blocked in a Send is released when the target closes, while
    // this (the GUI) thread does not run its loop.
    std::atomic<bool> returned{false};
    std::thread blocked(
        [&]
        {
            result = target.Send(SA_WM_APP + 5, 1, 0);
            returned = true;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned.load());
    target.Close();
    blocked.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(target.Post(SA_WM_APP + 1, 0, 0));
    EXPECT_EQ(target.Send(SA_WM_APP + 1, 0, 0), 0); // closed for its own thread too
    AppTestSpin(50);
    EXPECT_EQ(handled.load(), 2); // the queued copy of the released Send never ran
}

// The Disconnecting state switches to the text view and then blocks the
// window thread for a second: the view must be painted before the switch
// returns, with no event loop in between, or the user sees the old view
// frozen instead of "Disconnecting from".
TEST_F(AppFrameTest, AViewSwitchPaintsTheNewViewBeforeItReturns)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    AppTestSpin(50);
    PaintCounter counter;
    frame->TextViewGet()->installEventFilter(&counter);
    frame->StatusLineTextSet(1, "Disconnecting from ");
    frame->StatusLineShow(1, true);
    frame->ViewSwitch(SAFrameView::TEXT);
    EXPECT_GT(counter.paints.load(), 0);
    frame->TextViewGet()->removeEventFilter(&counter);
    frame->ViewSwitch(SAFrameView::CONNECT);
}

// A hidden window loses its native surface at once on Wayland: each switch
// away from the display view lands while the processor thread is busy
// presenting frames into it, and the frames go on being presented (off
// screen) while the view is hidden.
TEST_F(AppFrameTest, TheDisplayViewIsSwitchedAwayAndBackWhileFramesStream)
{
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    AppTestMessageBoxWatcher boxes; // the end of the connection shows one
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.2", "--codec", "raw", "--size", "320x240", "--fps", "60"}));
    uint32_t address = 0;
    ASSERT_TRUE(SAUtilAddressParse("127.0.0.2", address));
    frame->ConnectRequest(address);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }));
    SAMvcViewFrmDisplay* view = frame->DisplayViewGet();
    for (int i = 0; i < 40; ++i)
    {
        const uint64_t presented = view->FramesPresentedGet();
        ASSERT_TRUE(AppTestWaitFor([&] { return view->FramesPresentedGet() > presented; })) << i;
        frame->ViewSwitch(i % 2 == 0 ? SAFrameView::TEXT : SAFrameView::DISPLAY);
    }
    frame->FrameTargetGet().Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_DISCONNECTED; }));
}

TEST_F(AppFrameTest, TextViewDropsTheCustomerLogoWhenItsFileNameCannotBeRead)
{
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_CUSTOMER_SPECIFIC_02, true));
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOGO_ENABLE, true));
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    frame->StatusLineTextSet(1, "Connecting to ");
    frame->StatusLineShow(1, true);
    frame->ViewSwitch(SAFrameView::TEXT);
    ASSERT_TRUE(AppTestWaitFor([] { return !SASettings::SettingsOptionEnableGet(SA_SETTINGS_LOGO_ENABLE); }));
    EXPECT_FALSE(frame->TextViewGet()->CustomerLogoShownGet());
    EXPECT_EQ(frame->TextViewGet()->LineGet(1)->text().toStdString(), "Connecting to ");
    const QImage shown = frame->TextViewGet()->grab().toImage();
    EXPECT_EQ(shown.pixelColor(shown.width() - 5, shown.height() - 5), QColor(Qt::black));
    frame->ViewSwitch(SAFrameView::CONNECT);
}

TEST_F(AppFrameTest, TextViewShowsTheCustomerLogoScaledBelowTheBanner)
{
    const std::string path = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/customer-logo.png";
    QImage logo(40, 30, QImage::Format_RGB32);
    logo.fill(QColor(200, 20, 20));
    ASSERT_TRUE(logo.save(QString::fromStdString(path)));
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_CUSTOMER_SPECIFIC_02, true));
    ASSERT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOGO_ENABLE, true));
    ASSERT_TRUE(SASettings::LogoFileNameSet(path));
    auto frame = AppTestFrameOpen(true);
    ASSERT_TRUE(frame);
    frame->ViewSwitch(SAFrameView::TEXT);
    ASSERT_TRUE(AppTestWaitFor([&] { return frame->TextViewGet()->CustomerLogoShownGet(); }));
    AppTestSpin(100);
    // Stretched over the whole width from 210 pixels down; the 10 rows
    // above it stay black.
    const QImage shown = frame->TextViewGet()->grab().toImage();
    ASSERT_GT(shown.height(), 360);
    EXPECT_EQ(shown.pixelColor(5, 205), QColor(Qt::black));
    EXPECT_EQ(shown.pixelColor(5, 215), QColor(200, 20, 20));
    EXPECT_EQ(shown.pixelColor(shown.width() - 5, shown.height() - 5), QColor(200, 20, 20));
    EXPECT_TRUE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_LOGO_ENABLE));
    frame->ViewSwitch(SAFrameView::CONNECT);
    std::remove(path.c_str());
}

QM_APP_TEST_MAIN()
