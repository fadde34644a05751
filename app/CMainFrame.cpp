#include "app/CMainFrame.h"

#include "app/SAFrameSessionWatch.h"
#include "app/SAInputFocusWatch.h"
#include "app/SAInputKeyboard.h"
#include "app/SAInputMouse.h"
#include "app/SAInputTouch.h"
#include "app/SAMvcViewFrmConnect.h"
#include "app/SAMvcViewFrmDisplay.h"
#include "app/SAMvcViewFrmText.h"
#include "app/SAUtilArtwork.h"
#include "app/SAWndCtrlStatusBar.h"
#include "app/SAWndCtrlXButton.h"
#include "core/SALog.h"
#include "pipeline/SAMvcModel.h"
#include "render/qt/PSRendererSurfaceQt.h"
#include "settings/SASettings.h"
#include "settings/SAUtilRegistry.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace
{
// The stored placement: the 44-byte window placement record of the
// framework profile (length, flags, show command, minimised and maximised
// positions, normal rectangle), little-endian 32-bit fields.
constexpr uint32_t PLACEMENT_BYTES = 44;
constexpr int32_t SHOW_NORMAL = 1;
constexpr int32_t SHOW_MAXIMIZED = 3;
constexpr uint16_t SERVER_PORT = 28252;
// Status bar refreshes shown at once within one pace; more wait for its end.
constexpr qint64 SA_STATUS_PACE_MS = 100;
// How often the X button's window is put back on top while frames come:
// something that covered it (the frame raised over it) is undone within
// this time, and a stream does not restack it hundreds of times a second
// (each restack a request the server acts on, the window thread's largest
// cost per frame).
constexpr qint64 SA_XBUTTON_RAISE_MS = 500;
constexpr int SA_STATUS_PACE_BURST = 2;

void PlacementWord(uint8_t* out, int index, int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[index * 4 + i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t PlacementWordGet(const uint8_t* in, int index)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(in[index * 4 + i]) << (8 * i);
    return static_cast<int32_t>(v);
}
} // namespace

CMainFrame::CMainFrame(bool menuAdvanced)
    : SAFrameBase(m_FrameTarget, nullptr), m_Queue(&m_FrameTarget), m_Client(&m_Queue, &m_FrameTarget),
      m_MenuAdvanced(menuAdvanced)
{
    ClientSet(&m_Client);
    m_FrameTarget.HandlerSet([this](uint32_t message, uintptr_t wParam, intptr_t lParam)
                             { return MessageHandle(message, wParam, lParam); });
    m_KeyboardEnabled = SASettings::SettingsOptionEnableGet(SA_SETTINGS_KEYBOARD_ENABLE);
    m_TouchMode = SASettings::SettingsMenuTouchGet();
    AudioEnabledFromSettingsRead();
    setWindowTitle(QString::fromUtf8(SA_FRAME_TITLE));
    setWindowIcon(SAUtilArtworkIcon(QStringLiteral("app")));
    PrivateMenusCreate(menuAdvanced);
    // In full screen the menu bar comes up with ALT or F10 and goes again
    // when its menu closes.
    for (QMenu* menu : MenusGet())
        connect(menu, &QMenu::aboutToHide, this,
                [this] { QTimer::singleShot(0, this, [this] { PrivateMenuBarConceal(); }); });
    // WM_TIMER 1: runs while a connection is active (see OnConnectionBegin).
    m_pStatusPace = new QTimer(this);
    m_pStatusPace->setSingleShot(true);
    connect(m_pStatusPace, &QTimer::timeout, this, [this] { m_pStatusBar->TextsPause(false); });
    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(SA_FRAME_TIMER_INTERVAL_MS);
    connect(m_pTimer, &QTimer::timeout, this,
            [this] { PrivateEvent(SA_FSTM_EVENT_TIMER, static_cast<intptr_t>(SA_FRAME_TIMER_INTERVAL_MS)); });
}

CMainFrame::~CMainFrame()
{
    // Input capture first: it holds grabs on the views' windows.
    m_pInputFocusWatch.reset();
    if (m_pViewDisplay != nullptr)
        m_pViewDisplay->InputTouchSet(nullptr);
    m_pInputTouch.reset();
    m_pInputMouse.reset();
    m_pInputKeyboard.reset();
    ReconnectTimerStop();
    m_FrameTarget.Close();
    if (m_pViewDisplay != nullptr)
        m_pViewDisplay->MessageTargetClose();
    PrivateModelStop();
    m_pModel.reset();
    if (m_pViewDisplay != nullptr)
        m_pViewDisplay->RendererClose();
    qApp->removeEventFilter(this);
    if (m_KeepAwakeCookie != 0)
        SAFrameSessionWatch::ScreenSaverUnInhibit(m_KeepAwakeCookie);
}

bool CMainFrame::Create()
{
    if (!PSRendererSurfaceQt::PlatformSupported())
    {
        SALog(SA_LOG_FAILURE,
              "CMainFrame::OnCreate PrivateWindowsVersionCheck OpenGL 3.3 core or OpenGL ES 3.0 "
              "not supported!\n");
        QMessageBox::critical(
            nullptr, QString::fromUtf8(SA_FRAME_TITLE),
            QStringLiteral("Error: neither OpenGL 3.3 core nor OpenGL ES 3.0 is supported!"));
        return false;
    }
    m_pStack = new QStackedWidget(this);
    setCentralWidget(m_pStack);
    PrivateViewEdgeSet(true);
    m_pViewConnect = new SAMvcViewFrmConnect(&m_FrameTarget, this, m_pStack);
    m_pViewDisplay = new SAMvcViewFrmDisplay(&m_FrameTarget, &m_Queue, m_pStack);
    m_pViewText = new SAMvcViewFrmText(m_pStack);
    m_pStack->addWidget(m_pViewConnect);
    m_pStack->addWidget(m_pViewDisplay);
    m_pStack->addWidget(m_pViewText);
    m_pStack->setCurrentWidget(m_pViewConnect);
    m_pStatusBar = new SAWndCtrlStatusBar(this);
    setStatusBar(m_pStatusBar);
    m_pModel = std::make_unique<SAMvcModel>(&m_Queue, &m_Client, m_pViewDisplay);

    // Its result is not checked: without a slot the viewer still runs, with
    // an empty identifier.
    if (m_InstanceFile.Open())
        InstanceIdSet(m_InstanceFile.InstanceIdGet());

    m_pSessionWatch = std::make_unique<SAFrameSessionWatch>(
        [this] { m_FrameTarget.Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0); },
        [this] { SessionLockHandle(); });
    qApp->installEventFilter(this);
    PrivateInputCreate();
    return true;
}

void CMainFrame::PlacementRestore()
{
    uint8_t placement[PLACEMENT_BYTES] = {};
    QRect rect(0, 0, 800, 600);
    bool maximized = false;
    if (SAUtilRegistryValueGet(SA_REGISTRY_KEY_PROFILE_MAINFRAME, SA_REGISTRY_VALUE_WINDOW_PLACEMENT,
                               placement, sizeof(placement)) &&
        PlacementWordGet(placement, 0) == static_cast<int32_t>(PLACEMENT_BYTES))
    {
        const int64_t left = PlacementWordGet(placement, 7), top = PlacementWordGet(placement, 8);
        const int64_t right = PlacementWordGet(placement, 9), bottom = PlacementWordGet(placement, 10);
        if (right > left && bottom > top)
            rect = PrivatePlacementOnScreen(left, top, right - left, bottom - top);
        maximized = PlacementWordGet(placement, 2) == SHOW_MAXIMIZED;
    }
    setGeometry(rect);
    if (maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

QRect CMainFrame::PrivatePlacementOnScreen(int64_t left, int64_t top, int64_t width, int64_t height)
{
    // The stored rectangle may come from a larger or another screen (or from
    // an administrator's tool): as the desktop does for a saved placement,
    // the window is kept no larger than the screen it is most on and, when
    // it would be wholly off that screen, brought onto it (the primary
    // screen when it is on none). Left as it is,
    // it opened where the user could not reach it, or as large as 32767
    // pixels square with gigabytes of window memory.
    QScreen* target = QGuiApplication::primaryScreen();
    if (target == nullptr)
        return QRect(0, 0, 800, 600);
    const auto overlap = [&](const QRect& area)
    {
        const int64_t w = std::min<int64_t>(left + width, area.x() + int64_t{area.width()}) -
                          std::max<int64_t>(left, area.x());
        const int64_t h = std::min<int64_t>(top + height, area.y() + int64_t{area.height()}) -
                          std::max<int64_t>(top, area.y());
        return w > 0 && h > 0 ? w * h : 0;
    };
    int64_t best = 0;
    for (QScreen* screen : QGuiApplication::screens())
    {
        if (const int64_t area = overlap(screen->availableGeometry()); area > best)
        {
            best = area;
            target = screen;
        }
    }
    const QRect area = target->availableGeometry();
    width = std::min<int64_t>(width, area.width());
    height = std::min<int64_t>(height, area.height());
    if (overlap(area) == 0)
    {
        left = area.x();
        top = area.y();
    }
    return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(width),
                 static_cast<int>(height));
}

void CMainFrame::PlacementSave()
{
    // In full screen the placement from before it is the one to keep.
    const QRect rect = m_FullScreen                 ? m_SavedGeometry
                       : normalGeometry().isValid() ? normalGeometry()
                                                    : geometry();
    const bool maximized = m_FullScreen ? m_SavedMaximized : isMaximized();
    uint8_t placement[PLACEMENT_BYTES] = {};
    PlacementWord(placement, 0, PLACEMENT_BYTES);
    PlacementWord(placement, 1, 0);
    PlacementWord(placement, 2, maximized ? SHOW_MAXIMIZED : SHOW_NORMAL);
    for (int i = 3; i < 7; ++i)
        PlacementWord(placement, i, -1);
    PlacementWord(placement, 7, rect.left());
    PlacementWord(placement, 8, rect.top());
    PlacementWord(placement, 9, rect.left() + rect.width());
    PlacementWord(placement, 10, rect.top() + rect.height());
    if (!SAUtilRegistryValueSet(SA_REGISTRY_KEY_PROFILE_MAINFRAME, SA_REGISTRY_VALUE_WINDOW_PLACEMENT,
                                REG_BINARY, placement, sizeof(placement), REG_OPTION_NON_VOLATILE))
        SALog(SA_LOG_FAILURE, "CMainFrame::OnClose WriteProfileBinary failed!\n");
}

void CMainFrame::ConnectRequest(uint32_t hostOrderAddress)
{
    m_ConnectRecord = SANetHostRecord{};
    m_ConnectRecord.Address = hostOrderAddress;
    m_ConnectRecord.Port = SERVER_PORT;
    m_FrameTarget.Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_CONNECT_SERVER,
                       reinterpret_cast<intptr_t>(&m_ConnectRecord));
}

intptr_t CMainFrame::MessageHandle(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    // Keys and buttons held at the server are released while the connection
    // still carries them: before the Disconnect that ends it. A connection
    // that was lost took them with it; they are forgotten once the state
    // stops forwarding input.
    if (message == SA_WM_APP_FSTM_EVENT && wParam == SA_FSTM_EVENT_MENU_DISCONNECT_SERVER)
        PrivateInputRelease();
    intptr_t result = 0;
    if (AppMessageHandle(message, wParam, lParam, result))
    {
        if (message == SA_WM_APP_FSTM_STATE_CHANGED && !PrivateInputForwardingGet())
            PrivateInputRelease();
        return result;
    }
    switch (message)
    {
    case SA_WM_APP_ONE_TIME_INITIALIZATION:
        return PrivateOneTimeInitialization();
    case SA_WM_APP_STATUS_REFRESH:
        return PrivateStatusRefreshPaced();
    case SA_WM_APP_FULLSCREEN_CLOSE_CLICKED:
        PrivateEvent(SA_FSTM_EVENT_CLIENT_FULLSCREEN_OFF, 0);
        return 0;
    case SA_WM_APP_VIEW_FOCUS_SET:
    case SA_WM_APP_VIEW_FOCUS_KILL:
    case SA_WM_APP_MOUSE_CAPTURE_ENTER:
    case SA_WM_APP_MOUSE_CAPTURE_LEAVE:
        PrivateInputMessage(message);
        return 0;
    case SA_WM_APP_REPAINT:
        m_Queue.RepaintAppend();
        return 0;
    case SA_WM_APP_PRESENT:
        PrivateXButtonRedraw();
        return 0;
    default:
        SALog(SA_LOG_FAILURE, "CMainFrame::MessageHandle failed! unknown message 0x%x\n", message);
        return 0;
    }
}

void CMainFrame::PrivateEvent(int32_t event, intptr_t param)
{
    m_FrameTarget.Send(SA_WM_APP_FSTM_EVENT, static_cast<uintptr_t>(event), param);
}

intptr_t CMainFrame::PrivateOneTimeInitialization()
{
    FlagsFromSettingsRead();
    m_pViewConnect->OnAppOneTimeInitialization();
    m_pViewText->OnAppOneTimeInitialization();
    m_pViewDisplay->MessageTargetGet()->Send(SA_WM_APP_ONE_TIME_INITIALIZATION,
                                             reinterpret_cast<uintptr_t>(this), 0);
    m_ModelRunning = m_pModel->Initialize();
    if (!m_ModelRunning)
        SALog(SA_LOG_FAILURE,
              "SAMvcModel::Initialize m_ThreadTaskLoopedFrameBufferProcessor.Start failed!\n");
    FstmStart();
    m_pStack->setCurrentWidget(m_pViewConnect);
    // Posted rather than sent: the automatic connect runs a modal dialog,
    // which must not hold up the end of the initialisation.
    m_pViewConnect->MessageTargetGet()->Post(SA_WM_APP_AUTO_CONNECT_START, 0, 0);
    return 0;
}

intptr_t CMainFrame::PrivateStatusRefreshPaced()
{
    // A refresh comes with every packet, hundreds a second while a stream
    // runs; laying out and painting the bar for each cost the window thread
    // more than a tenth of a core. The texts are always brought up to date
    // (and logged); beyond the first few of a pace, the bar shows them only
    // at its end.
    const qint64 since = m_StatusPaceBegun.isValid() ? m_StatusPaceBegun.elapsed() : SA_STATUS_PACE_MS;
    if (since >= SA_STATUS_PACE_MS && !m_pStatusPace->isActive())
    {
        m_StatusPaceBegun.start();
        m_StatusPaceCount = 0;
    }
    if (++m_StatusPaceCount > SA_STATUS_PACE_BURST && !m_pStatusPace->isActive())
    {
        m_pStatusBar->TextsPause(true);
        m_pStatusPace->start(static_cast<int>(std::max<qint64>(0, SA_STATUS_PACE_MS - since)));
    }
    return PrivateStatusRefresh();
}

intptr_t CMainFrame::PrivateStatusRefresh()
{
    const PSRendererStatus status = m_pViewDisplay->RendererStatusGet();
    SAStatusRenderer renderer;
    renderer.m_Status = status.StatusValue;
    renderer.m_ResolutionX = status.ResolutionX;
    renderer.m_ResolutionY = status.ResolutionY;
    renderer.m_FramesPerSecond = status.FramesPerSecond;
    m_pStatusBar->StatisticsSet(renderer, m_Client.StatisticsGet(), m_pModel->LastCompressionTypeGet());
    PrivateXButtonRedraw();
    return 0;
}

void CMainFrame::PrivateXButtonRedraw()
{
    if (m_TouchMode != SA_SETTINGS_TOUCH_OFF && m_pXButton != nullptr)
    {
        if (!m_XButtonRaised.isValid() || m_XButtonRaised.elapsed() >= SA_XBUTTON_RAISE_MS)
        {
            m_pXButton->raise();
            m_XButtonRaised.start();
        }
        m_pXButton->Redraw();
    }
}

QWidget* CMainFrame::CurrentViewGet() const
{
    return m_pStack != nullptr ? m_pStack->currentWidget() : nullptr;
}

void CMainFrame::OnViewShow(SAFrameView /*from*/, SAFrameView to)
{
    QWidget* target = to == SAFrameView::CONNECT   ? static_cast<QWidget*>(m_pViewConnect)
                      : to == SAFrameView::DISPLAY ? static_cast<QWidget*>(m_pViewDisplay)
                                                   : static_cast<QWidget*>(m_pViewText);
    m_pStack->setCurrentWidget(target);
    // Painted now, not when the event loop next runs: the Disconnecting
    // state blocks this thread for a second right after switching to the
    // text view, and its "Disconnecting from" lines must be on screen then.
    target->repaint();
}

void CMainFrame::OnDiscoveryResumeSuspend(bool resume)
{
    if (m_pViewConnect != nullptr)
        m_pViewConnect->ThreadDiscoveryResumeSuspend(resume);
}

void CMainFrame::StatusLineTextSet(int line, const std::string& text)
{
    m_pViewText->LineTextSet(line, QString::fromStdString(text));
}

void CMainFrame::StatusLineShow(int line, bool show)
{
    m_pViewText->LineShow(line, show);
}

void CMainFrame::MessageBoxShow(const std::string& text, const std::string& title)
{
    PrivateMessageBoxShow(QMessageBox::Information, text, title);
}

void CMainFrame::MessageBoxQuestionShow(const std::string& text, const std::string& title)
{
    PrivateMessageBoxShow(QMessageBox::Question, text, title);
}

void CMainFrame::PrivateMessageBoxShow(int icon, const std::string& text, const std::string& title)
{
    if (m_Closing)
        return; // the window is going away; nobody is left to read it
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), QString::fromStdString(title),
                    QString::fromStdString(text), QMessageBox::Ok, this);
    box.exec();
}

int32_t CMainFrame::ServerFeatureSupportBitmapGet(uint32_t networkOrderAddress)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = networkOrderAddress;
    if (inet_ntop(AF_INET, &address, text, sizeof(text)) == nullptr)
    {
        SALog(SA_LOG_FAILURE, "CMainFrame::ServerFeatureSupportBitmapGet failed! InetNtopW %d", errno);
        return 0;
    }
    int32_t features = 0;
    if (m_pViewConnect != nullptr && m_pViewConnect->FeatureSupportBitmapGet(text, features))
        return features;
    SALog(SA_LOG_FAILURE,
          "CMainFrame::ServerFeatureSupportBitmapGet failed! m_MvcViewConnect.FeatureSupportBitmapGet");
    return 0;
}

void CMainFrame::DisconnectingWait()
{
    // Closing the window does not wait for the server's farewell: the client
    // drains the Disconnect packet on its own when it stops.
    if (m_Closing)
        return;
    SAFrameBase::DisconnectingWait();
}

void CMainFrame::TimerIntervalSet(int milliseconds)
{
    m_pTimer->setInterval(milliseconds);
}

bool CMainFrame::TimerActiveGet() const
{
    return m_pTimer->isActive();
}

void CMainFrame::OnConnectionBegin()
{
    m_pTimer->start();
    if (m_pInputKeyboard)
        m_pInputKeyboard->PrivateTryActivateHookFull(m_KeyboardEnabled, ConnectionActiveGet(),
                                                     m_ViewHasFocus);
    if (m_TouchMode != SA_SETTINGS_TOUCH_OFF)
    {
        m_pViewDisplay->setAttribute(Qt::WA_AcceptTouchEvents, true);
        if (m_pInputTouch)
            m_pInputTouch->Initialize();
    }
}

void CMainFrame::OnConnectionEnd()
{
    m_pTimer->stop();
    // Mouse capture outlives the connection; only the hook and touch go.
    // Capture still needs ALT+SHIFT to end, which the full hook was
    // watching for: the detection-only hook takes over.
    if (m_pInputKeyboard)
    {
        m_pInputKeyboard->PrivateTryDeactivate();
        if (m_pInputMouse && m_pInputMouse->CaptureActiveGet())
            m_pInputKeyboard->PrivateTryActivateHookKeyCombinationOnly(false);
    }
    if (m_TouchMode != SA_SETTINGS_TOUCH_OFF)
        m_pViewDisplay->setAttribute(Qt::WA_AcceptTouchEvents, false);
    if (m_pInputTouch)
        m_pInputTouch->Uninitialize();
}

void CMainFrame::PrivateInputCreate()
{
    auto forwarding = [this] { return PrivateInputForwardingGet(); };
    m_pInputKeyboard = std::make_unique<SAInputKeyboard>(&m_FrameTarget, m_pViewDisplay, forwarding);
    m_pInputMouse =
        std::make_unique<SAInputMouse>(&m_FrameTarget, m_pViewDisplay, m_pInputKeyboard.get(), forwarding);
    m_pInputTouch = std::make_unique<SAInputTouch>(
        m_pViewDisplay, [this] { return m_TouchMode; }, [this] { return FstmStateGet(); });
    m_pViewDisplay->InputTouchSet(m_pInputTouch.get());
    m_pInputFocusWatch =
        std::make_unique<SAInputFocusWatch>(&m_FrameTarget, this, m_pViewDisplay->WindowGet());
}

bool CMainFrame::PrivateInputForwardingGet() const
{
    const int32_t state = FstmStateGet();
    return state == SA_FSTM_STATE_CONNECTED_DISPLAY_OFF || state == SA_FSTM_STATE_CONNECTED_DISPLAY_ON ||
           state == SA_FSTM_STATE_CONNECTED_FULLSCREEN;
}

void CMainFrame::PrivateInputRelease()
{
    if (m_pInputKeyboard)
        m_pInputKeyboard->KeysRelease();
    if (m_pInputMouse)
        m_pInputMouse->ButtonsRelease();
}

void CMainFrame::PrivateInputMessage(uint32_t message)
{
    if (!m_pInputKeyboard || !m_pInputMouse)
        return;
    switch (message)
    {
    case SA_WM_APP_VIEW_FOCUS_SET:
        m_ViewHasFocus = true;
        m_pInputKeyboard->PrivateTryActivateHookFull(m_KeyboardEnabled, ConnectionActiveGet(),
                                                     m_ViewHasFocus);
        break;
    case SA_WM_APP_VIEW_FOCUS_KILL:
        m_ViewHasFocus = false;
        m_pInputKeyboard->PrivateTryDeactivate();
        m_pInputMouse->Uninitialize(m_KeyboardEnabled);
        break;
    case SA_WM_APP_MOUSE_CAPTURE_ENTER:
        if (PrivateInputForwardingGet())
            m_pInputMouse->Initialize(m_KeyboardEnabled);
        break;
    case SA_WM_APP_MOUSE_CAPTURE_LEAVE:
        m_pInputMouse->Uninitialize(m_KeyboardEnabled);
        if (FstmStateGet() == SA_FSTM_STATE_CONNECTED_FULLSCREEN)
            PrivateEvent(SA_FSTM_EVENT_CLIENT_FULLSCREEN_OFF, 0);
        break;
    default:
        break;
    }
}

void CMainFrame::SessionLockHandle()
{
    SALog(SA_LOG_INPUT, "CMainFrame: session locked, mouse capture left\n");
    if (m_pInputMouse)
        m_pInputMouse->Uninitialize(m_KeyboardEnabled);
}

void CMainFrame::OnKeepAwakeSet(bool keepAwake)
{
    if (keepAwake && m_KeepAwakeCookie == 0)
        m_KeepAwakeCookie = SAFrameSessionWatch::ScreenSaverInhibit();
    else if (!keepAwake && m_KeepAwakeCookie != 0)
    {
        SAFrameSessionWatch::ScreenSaverUnInhibit(m_KeepAwakeCookie);
        m_KeepAwakeCookie = 0;
    }
}

void CMainFrame::OnStatusBarReset()
{
    m_pStatusBar->PanesReset();
}

void CMainFrame::OnStatusIpPanesShow()
{
    const SANetStatisticsSnapshot snapshot = m_Client.StatisticsGet();
    // The statistics carry no local port; the remote one is the server port.
    m_pStatusBar->AddressesSet(snapshot.m_AddressLocal, snapshot.m_PortLocal, snapshot.m_AddressRemote,
                               snapshot.m_PortRemote);
}

void CMainFrame::OnRendererStatusClear()
{
    m_pViewDisplay->RendererStatusClear();
}

void CMainFrame::FullScreenEnter()
{
    // The monitor the window is on (the primary one when it is on none).
    QScreen* screen = this->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    if (!m_FullScreen)
    {
        m_SavedGeometry = normalGeometry().isValid() ? normalGeometry() : geometry();
        m_SavedMaximized = isMaximized();
    }
    const QRect monitor = screen->geometry();
    if (m_pStatusBar->isVisible())
        m_pStatusBar->hide();
    menuBar()->hide();
    m_FullScreen = true;
    // No frame, and the monitor's whole rectangle (not its work area).
    PrivateFrameSet(false);
    PrivateViewEdgeSet(false);
    if (windowState() != Qt::WindowNoState)
        setWindowState(Qt::WindowNoState);
    setGeometry(monitor);
    if (m_TouchMode != SA_SETTINGS_TOUCH_OFF &&
        !SASettings::SettingsOptionEnableGet(SA_SETTINGS_CUSTOMER_SPECIFIC_01) && m_pXButton == nullptr)
    {
        // Its place is 25 pixels in from the monitor's top-right corner,
        // 25 x 25. On X11 it is a small window of its own above the frame: a
        // child widget would lie beneath the view's native GL window. As a
        // tool window it belongs to the frame, which keeps it above the frame
        // only: staying on top of everything, it floated over other programs
        // once the user switched to them. A Wayland client cannot place a
        // window of its own: there it is a native child of the frame (a
        // subsurface, raised above the view's), at the same place, as the
        // frame covers the monitor.
        m_pXButton = new SAWndCtrlXButton(this);
        m_pXButton->setObjectName(QStringLiteral("XButton"));
        const int monitorRight = monitor.x() + monitor.width();
        int left = monitorRight - 50, top = monitor.y() + 25;
        const int width = 25, height = 25;
        if (QGuiApplication::platformName().startsWith(QStringLiteral("wayland")))
        {
            m_pXButton->setAttribute(Qt::WA_NativeWindow);
            m_pXButton->setFocusPolicy(Qt::NoFocus);
            left -= monitor.x();
            top -= monitor.y();
        }
        else
            m_pXButton->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
        m_pXButton->setGeometry(left, top, width, height);
        connect(m_pXButton, &QPushButton::clicked,
                [this] { m_FrameTarget.Post(SA_WM_APP_FULLSCREEN_CLOSE_CLICKED, 0, 0); });
        m_pXButton->show();
        m_pXButton->raise();
    }
}

void CMainFrame::FullScreenExit()
{
    if (m_TouchMode != SA_SETTINGS_TOUCH_OFF && m_pXButton != nullptr)
    {
        m_pXButton->deleteLater();
        m_pXButton = nullptr;
    }
    // Shown even when the user had hidden it before.
    m_pStatusBar->show();
    menuBar()->show();
    m_FullScreen = false;
    PrivateFrameSet(true);
    PrivateViewEdgeSet(true);
    if (m_SavedMaximized)
    {
        setWindowState(Qt::WindowMaximized);
    }
    else
    {
        setWindowState(Qt::WindowNoState);
        setGeometry(m_SavedGeometry);
    }
}

void CMainFrame::PrivateFrameSet(bool framed)
{
    const Qt::WindowFlags flags =
        framed ? windowFlags() & ~Qt::FramelessWindowHint : windowFlags() | Qt::FramelessWindowHint;
    if (flags == windowFlags())
        return;
    // Set on the native window as it is: setWindowFlags would destroy and
    // recreate the frame's native windows, the GL window among them, while
    // the processor thread draws into it.
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle())
        window->setFlags(flags);
}

void CMainFrame::PrivateViewEdgeSet(bool edged)
{
    // On the stack rather than on each view: every view then lies inside
    // the edge, as a client area lies inside its window's edge.
    m_pStack->setFrameStyle(edged ? (QFrame::WinPanel | QFrame::Sunken) : QFrame::NoFrame);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_Closed)
    {
        event->accept();
        return;
    }
    m_Closing = true;
    PrivateEvent(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0);
    m_pTimer->stop();
    m_InstanceFile.Close();
    // A worker blocked in a Send to the frame is released here, so the
    // processor can finish its pass and be joined.
    m_FrameTarget.Close();
    m_pViewDisplay->MessageTargetClose();
    ReconnectTimerStop();
    PrivateModelStop();
    PlacementSave();
    m_Closed = true;
    event->accept();
}

void CMainFrame::PrivateModelStop()
{
    if (!m_pModel)
        return;
    // The GL objects were made on the processor thread and can only be
    // released there, so that happens before the thread is stopped.
    if (m_ModelRunning && m_pViewDisplay != nullptr)
        m_pViewDisplay->RendererRelease();
    m_pModel->Uninitialize();
    m_ModelRunning = false;
}

void CMainFrame::focusInEvent(QFocusEvent* event)
{
    QMainWindow::focusInEvent(event);
    m_pViewDisplay->setFocus();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    // An ALT whose release goes elsewhere (a window switch) is forgotten.
    if (event->type() == QEvent::WindowDeactivate && watched == this)
        m_AltAlone = false;
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return QMainWindow::eventFilter(watched, event);
    // Key events reach a widget window twice (its QWindow, then the focus
    // widget); only the widget delivery, or the display's own GL window,
    // counts.
    // The menu bar in keyboard mode (ALT pressed alone) takes its own keys:
    // ESC must end that mode, or the next letter opens a menu.
    auto* widget = qobject_cast<QWidget*>(watched);
    const bool ours = (widget != nullptr && widget->window() == this && widget != menuBar()) ||
                      (m_pViewDisplay != nullptr && watched == m_pViewDisplay->WindowGet());
    if (!ours)
        return QMainWindow::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyRelease)
    {
        // ALT pressed and released on its own brings the hidden menu bar up.
        if (key->key() == Qt::Key_Alt && !key->isAutoRepeat() && m_AltAlone && m_FullScreen)
            PrivateMenuBarReveal();
        if (!key->isAutoRepeat())
            m_AltAlone = false;
        return false;
    }
    if (key->key() == Qt::Key_Alt)
    {
        if (!key->isAutoRepeat())
            m_AltAlone = true;
        return false;
    }
    m_AltAlone = false;
    if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::NoModifier && m_FullScreen)
    {
        PrivateMenuBarReveal();
        return true;
    }
    return PrivateKeyHandle(key);
}

void CMainFrame::PrivateMenuBarReveal()
{
    QMenuBar* bar = menuBar();
    if (bar->actions().isEmpty())
        return;
    bar->show();
    bar->setActiveAction(bar->actions().first());
}

void CMainFrame::PrivateMenuBarConceal()
{
    // Looked at once the closing menu's events are done: moving along the
    // bar has opened the next menu by then, and the bar stays up. The bar's
    // own highlighted item does not count: a menu closed with Escape leaves
    // one behind, and the bar must still go, as it does when the menu is
    // closed any other way.
    if (m_FullScreen && QApplication::activePopupWidget() == nullptr)
        menuBar()->hide();
}

bool CMainFrame::PrivateKeyHandle(QKeyEvent* key)
{
    if (key->key() == Qt::Key_Escape)
    {
        if (FstmStateGet() == SA_FSTM_STATE_CONNECTED_FULLSCREEN)
            PrivateEvent(SA_FSTM_EVENT_CLIENT_FULLSCREEN_OFF, 0);
        return true; // consumed in every state
    }
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        (key->modifiers() & Qt::AltModifier) != 0)
    {
        PrivateEvent(FstmStateGet() == SA_FSTM_STATE_CONNECTED_FULLSCREEN
                         ? SA_FSTM_EVENT_CLIENT_FULLSCREEN_OFF
                         : SA_FSTM_EVENT_CLIENT_FULLSCREEN_ON,
                     0);
        return true;
    }
    return false;
}
