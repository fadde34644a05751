#pragma once
// The main window: menus, the three views in a stack, the status bar, full
// screen, the instance slot and the window placement. The connection logic
// lives in SAFrameBase; this class supplies the frame operations the state
// machine's actions call and the window's reactions to a change of state.
//
// Threads: GUI thread only. Worker threads reach the frame through its
// message target (FrameTargetGet), whose handler dispatches every WM_APP
// message of the frame. Closing the window closes that target first, so a
// worker blocked in a Send is released before the frame waits for it.
//
// Ownership: the frame owns the queue, the client, the views, the model and
// the status bar; the model is released (its thread joined) before the
// views it borrows.
#include "app/SAQtMessageTarget.h"
#include "app/SAWndCtrlXButton.h"
#include "net/SAFrameBase.h"
#include "net/SANetClient.h"
#include "net/SANetHostRecord.h"
#include "net/SAQueueScreenUpdates.h"
#include "settings/SAUtilInstanceIdFile.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QRect>

#include <map>
#include <memory>

class QAction;
class QMenu;
class QStackedWidget;
class QTimer;
class SAMvcModel;
class SAMvcViewFrmConnect;
class SAMvcViewFrmDisplay;
class SAMvcViewFrmText;
class SAWndCtrlStatusBar;
class SAFrameSessionWatch;
class SAInputFocusWatch;
class SAInputKeyboard;
class SAInputMouse;
class SAInputTouch;

// Command identifiers of the menu items (the resource numbers they had).
enum : int
{
    ID_FILE_DISCONNECT = 32773,
    ID_APP_EXIT = 57665,
    ID_VIEW_STATUS_BAR = 59393,
    ID_VIEW_FULLSCREEN = 32774,
    ID_FUNCTIONALITY_DISPLAY = 32820,
    ID_FUNCTIONALITY_KEYBOARD = 32809,
    ID_FUNCTIONALITY_MOUSE_LOCAL = 32807,
    ID_FUNCTIONALITY_MOUSE_REMOTE = 32808,
    ID_FUNCTIONALITY_TOUCHSCREEN = 32811,
    ID_FUNCTIONALITY_TOUCHPAD = 32812,
    ID_FUNCTIONALITY_TOUCH_OFF = 32813,
    ID_FUNCTIONALITY_AUDIO_SPEAKER = 32825,
    ID_SETTINGS_RESOLUTIONS = 32784,
    ID_SETTINGS_QUALITY = 32775,
    ID_SETTINGS_AUTOMATIC_CONNECT = 32819,
    ID_SETTINGS_FULLSCREEN_UPON_CONNECT = 32785,
    ID_SETTINGS_KEEP_MONITOR_ACTIVE = 32804,
    ID_SETTINGS_CLEAR = 32827,
    ID_SETTINGS_ADVANCED = 32777,
    ID_HELP_USER_MANUAL = 32798,
    ID_HELP_SUPPORT = 32796,
    ID_APP_ABOUT = 57664,
    ID_SETTINGS_VIDEO_QUALITY = 32801, // command without a menu item
    ID_SETTINGS_RESERVED = 32776,      // update rule only
};

// The frame's timer 1: its period, which is also the parameter of the
// SA_FSTM_EVENT_TIMER event it raises. No transition acts on that event; the
// timer runs while a connection is active, from leaving state 0 until the
// return to it.
constexpr int SA_FRAME_TIMER_INTERVAL_MS = 10000;

constexpr const char* SA_FRAME_TITLE = "quillmere Viewer for Windows 7";
constexpr const char* SA_HELP_USER_MANUAL_URL = "https://quillmere.harrowfenlab.example/manual";
constexpr const char* SA_HELP_SUPPORT_URL = "https://quillmere.harrowfenlab.example/support";

class CMainFrame : public QMainWindow, public SAFrameBase
{
public:
    // menuAdvanced: the full menu (with Settings > Advanced...).
    explicit CMainFrame(bool menuAdvanced);
    ~CMainFrame() override;

    // Window creation: platform check, views, status bar, instance slot,
    // session notifications. False when the window must not open.
    bool Create();
    // "MainFrame"/"WP", or 800 x 600 at (0, 0).
    void PlacementRestore();
    void PlacementSave();

    SAQtMessageTarget& FrameTargetGet() { return m_FrameTarget; }
    // Every WM_APP message of the frame (the target's handler).
    intptr_t MessageHandle(uint32_t message, uintptr_t wParam, intptr_t lParam);

    // The connect event with a server address, as the connect view raises it.
    void ConnectRequest(uint32_t hostOrderAddress);

    // Inspection (tests, screenshots).
    QAction* ActionGet(int id) const;
    QList<QMenu*> MenusGet() const;
    // Applies every item's enable and check rule (what a menu does before it shows).
    void MenusUpdate();
    SAWndCtrlStatusBar* StatusBarGet() const { return m_pStatusBar; }
    SAMvcViewFrmConnect* ConnectViewGet() const { return m_pViewConnect; }
    SAMvcViewFrmDisplay* DisplayViewGet() const { return m_pViewDisplay; }
    SAMvcViewFrmText* TextViewGet() const { return m_pViewText; }
    QWidget* CurrentViewGet() const;
    QPushButton* XButtonGet() const { return m_pXButton; }
    SAMvcModel* ModelGet() const { return m_pModel.get(); }
    SANetClient& ClientGetNet() { return m_Client; }
    SAQueueScreenUpdates& QueueGet() { return m_Queue; }
    const SAUtilInstanceIdFile& InstanceFileGet() const { return m_InstanceFile; }
    int32_t TouchModeGet() const { return m_TouchMode; }
    bool KeyboardEnabledGet() const { return m_KeyboardEnabled; }
    bool FullScreenGet() const { return m_FullScreen; }
    // Timer 1: a shorter period (tests), and whether it runs.
    void TimerIntervalSet(int milliseconds);
    bool TimerActiveGet() const;
    // Keep-awake inhibition held on the session bus.
    bool KeepAwakeHeldGet() const { return m_KeepAwakeCookie != 0; }
    // Input capture and forwarding.
    SAInputKeyboard* InputKeyboardGet() const { return m_pInputKeyboard.get(); }
    SAInputMouse* InputMouseGet() const { return m_pInputMouse.get(); }
    SAInputTouch* InputTouchGet() const { return m_pInputTouch.get(); }
    bool ViewHasFocusGet() const { return m_ViewHasFocus; }
    // The session was locked: mouse capture ends.
    void SessionLockHandle();

    // SAFrameBase
    void FullScreenEnter() override;
    void FullScreenExit() override;
    void StatusLineTextSet(int line, const std::string& text) override;
    void StatusLineShow(int line, bool show) override;
    void MessageBoxShow(const std::string& text, const std::string& title) override;
    void MessageBoxQuestionShow(const std::string& text, const std::string& title) override;
    int32_t ServerFeatureSupportBitmapGet(uint32_t networkOrderAddress) override;
    void DisconnectingWait() override;

protected:
    void OnViewShow(SAFrameView from, SAFrameView to) override;
    void OnDiscoveryResumeSuspend(bool resume) override;
    void OnConnectionBegin() override;
    void OnConnectionEnd() override;
    void OnKeepAwakeSet(bool keepAwake) override;
    void OnStatusBarReset() override;
    void OnStatusIpPanesShow() override;
    void OnRendererStatusClear() override;

    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    // A stored window rectangle fitted to the screens.
    static QRect PrivatePlacementOnScreen(int64_t left, int64_t top, int64_t width, int64_t height);
    void PrivateMenusCreate(bool menuAdvanced);
    // icon: a QMessageBox::Icon.
    void PrivateMessageBoxShow(int icon, const std::string& text, const std::string& title);
    QAction* PrivateActionAdd(QMenu* menu, int id, const QString& text, bool checkable);
    void PrivateCommand(int id);
    void PrivateOptionToggle(bool& flag, const char* valueName);
    void PrivateTouchModeSet(int32_t mode);
    void PrivateAudioToggle();
    void PrivateSettingsClear();
    void PrivateAbout();
    void PrivateDialogRun(int id);
    intptr_t PrivateOneTimeInitialization();
    intptr_t PrivateStatusRefresh();
    // A status refresh asked for: shown at once, or by m_pStatusPace when
    // too many came within a pace.
    intptr_t PrivateStatusRefreshPaced();
    void PrivateXButtonRedraw();
    // Takes the window frame away (full screen) or gives it back, keeping
    // the native windows.
    void PrivateFrameSet(bool framed);
    // The views' sunken edge, which full screen takes away so that the
    // picture reaches the monitor's edges.
    void PrivateViewEdgeSet(bool edged);
    // Full screen: the hidden menu bar shown with its first menu open (ALT,
    // F10), and hidden again once no menu is open.
    void PrivateMenuBarReveal();
    void PrivateMenuBarConceal();
    void PrivateEvent(int32_t event, intptr_t param);
    bool PrivateKeyHandle(QKeyEvent* key);
    // Releases the GL objects on the processor thread, then stops it.
    void PrivateModelStop();
    void PrivateInputCreate();
    void PrivateInputMessage(uint32_t message);
    // States 3, 4 and 6: input reaches the server.
    bool PrivateInputForwardingGet() const;
    // Releases the keys and buttons held at the server (forgets them when
    // the state no longer forwards input).
    void PrivateInputRelease();

    SAQtMessageTarget m_FrameTarget;
    SAQueueScreenUpdates m_Queue;
    SANetClient m_Client;

    QStackedWidget* m_pStack = nullptr;
    SAWndCtrlStatusBar* m_pStatusBar = nullptr;
    SAMvcViewFrmConnect* m_pViewConnect = nullptr;
    SAMvcViewFrmDisplay* m_pViewDisplay = nullptr;
    SAMvcViewFrmText* m_pViewText = nullptr;
    SAWndCtrlXButton* m_pXButton = nullptr;
    QTimer* m_pTimer = nullptr; // timer 1
    QTimer* m_pStatusPace = nullptr;
    QElapsedTimer m_StatusPaceBegun;
    QElapsedTimer m_XButtonRaised; // the last raise of the X button's window
    int m_StatusPaceCount = 0;     // refreshes shown since m_StatusPaceBegun
    std::unique_ptr<SAMvcModel> m_pModel;
    bool m_ModelRunning = false; // its processor thread was started and not stopped
    std::unique_ptr<SAFrameSessionWatch> m_pSessionWatch;
    std::map<int, QAction*> m_Actions;
    bool m_MenuAdvanced;

    bool m_KeyboardEnabled = false;
    int32_t m_TouchMode = 0;
    SAUtilInstanceIdFile m_InstanceFile;
    SANetHostRecord m_ConnectRecord; // parameter of a connect event while it runs

    bool m_FullScreen = false;
    bool m_AltAlone = false; // ALT is down and no other key came since
    QRect m_SavedGeometry;
    bool m_SavedMaximized = false;
    bool m_Closing = false;
    bool m_Closed = false;
    uint32_t m_KeepAwakeCookie = 0;

    // Input capture (GUI thread); they borrow the views and are destroyed
    // before them.
    bool m_ViewHasFocus = false;
    std::unique_ptr<SAInputKeyboard> m_pInputKeyboard;
    std::unique_ptr<SAInputMouse> m_pInputMouse;
    std::unique_ptr<SAInputTouch> m_pInputTouch;
    std::unique_ptr<SAInputFocusWatch> m_pInputFocusWatch;
};
