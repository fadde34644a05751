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
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

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
    if (m_pModel)
        m_pModel->Uninitialize();
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
    m_pViewConnect = new SAMvcViewFrmConnect(m_pStack);
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
        const int32_t left = PlacementWordGet(placement, 7), top = PlacementWordGet(placement, 8);
        const int32_t right = PlacementWordGet(placement, 9), bottom = PlacementWordGet(placement, 10);
        if (right > left && bottom > top)
            rect = QRect(left, top, right - left, bottom - top);
        maximized = PlacementWordGet(placement, 2) == SHOW_MAXIMIZED;
    }
    setGeometry(rect);
    if (maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
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
    intptr_t result = 0;
    if (AppMessageHandle(message, wParam, lParam, result))
        return result;
    switch (message)
    {
    case SA_WM_APP_ONE_TIME_INITIALIZATION:
        return PrivateOneTimeInitialization();
    case SA_WM_APP_STATUS_REFRESH:
        return PrivateStatusRefresh();
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
    if (!m_pModel->Initialize())
        SALog(SA_LOG_FAILURE,
              "SAMvcModel::Initialize m_ThreadTaskLoopedFrameBufferProcessor.Start failed!\n");
    FstmStart();
    m_pStack->setCurrentWidget(m_pViewConnect);
    // Automatic connection belongs to discovery, which this build does not
    // have yet: nothing answers WM_APP+20.
    return 0;
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
        m_pXButton->raise();
        m_pXButton->update(QRect(0, 0, 25, 25));
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
    target->update();
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
    if (m_Closing)
        return; // the window is going away; nobody is left to read it
    QMessageBox box(QMessageBox::Information, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Ok, this);
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
    // The server tree is filled by discovery, which this build has not yet.
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

void CMainFrame::OnConnectionBegin()
{
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
    m_pInputKeyboard = std::make_unique<SAInputKeyboard>(&m_FrameTarget, m_pViewDisplay);
    m_pInputMouse = std::make_unique<SAInputMouse>(&m_FrameTarget, m_pViewDisplay, m_pInputKeyboard.get());
    m_pInputTouch = std::make_unique<SAInputTouch>(
        m_pViewDisplay, [this] { return m_TouchMode; }, [this] { return FstmStateGet(); });
    m_pViewDisplay->InputTouchSet(m_pInputTouch.get());
    m_pInputFocusWatch =
        std::make_unique<SAInputFocusWatch>(&m_FrameTarget, this, m_pViewDisplay->WindowGet());
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
    {
        const int32_t state = FstmStateGet();
        if (state == SA_FSTM_STATE_CONNECTED_DISPLAY_OFF || state == SA_FSTM_STATE_CONNECTED_DISPLAY_ON ||
            state == SA_FSTM_STATE_CONNECTED_FULLSCREEN)
            m_pInputMouse->Initialize(m_KeyboardEnabled);
        break;
    }
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
    QScreen* screen = QGuiApplication::primaryScreen();
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
    // A full-screen window state rather than new window flags: changing the
    // flags would recreate the native windows, the GL window among them,
    // under the render thread's context.
    setWindowState(Qt::WindowFullScreen);
    setGeometry(monitor);
    if (m_TouchMode != SA_SETTINGS_TOUCH_OFF &&
        !SASettings::SettingsOptionEnableGet(SA_SETTINGS_CUSTOMER_SPECIFIC_01) && m_pXButton == nullptr)
    {
        // A small window of its own above the frame: a child widget would lie
        // beneath the view's native GL window.
        m_pXButton = new QPushButton(QStringLiteral("X"), this);
        m_pXButton->setObjectName(QStringLiteral("XButton"));
        m_pXButton->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                   Qt::WindowDoesNotAcceptFocus);
        const int left = monitor.right() + 1 - 50, top = 25;
        const int right = monitor.right() + 1 - 25, bottom = monitor.top() + 50;
        m_pXButton->setGeometry(left, top, right - left, bottom - top);
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
    setWindowState(m_SavedMaximized ? Qt::WindowMaximized : Qt::WindowNoState);
    if (!m_SavedMaximized)
        setGeometry(m_SavedGeometry);
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
    m_InstanceFile.Close();
    // A worker blocked in a Send to the frame is released here, so the
    // processor can finish its pass and be joined.
    m_FrameTarget.Close();
    m_pViewDisplay->MessageTargetClose();
    ReconnectTimerStop();
    m_pModel->Uninitialize();
    PlacementSave();
    m_Closed = true;
    event->accept();
}

void CMainFrame::focusInEvent(QFocusEvent* event)
{
    QMainWindow::focusInEvent(event);
    m_pViewDisplay->setFocus();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    // Key events reach a widget window twice (its QWindow, then the focus
    // widget); only the widget delivery, or the display's own GL window,
    // counts.
    auto* widget = qobject_cast<QWidget*>(watched);
    const bool ours = (widget != nullptr && widget->window() == this) ||
                      (m_pViewDisplay != nullptr && watched == m_pViewDisplay->WindowGet());
    if (!ours)
        return QMainWindow::eventFilter(watched, event);
    return PrivateKeyHandle(static_cast<QKeyEvent*>(event));
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
