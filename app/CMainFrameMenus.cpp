// The main frame's menus: the items, their commands and the enable and
// check rules applied before a menu shows.
#include "app/CMainFrame.h"

#include "app/SAUtilArtwork.h"
#include "app/SAWndCtrlStatusBar.h"
#include "audio/SAAudioRenderer.h"
#include "core/SALog.h"
#include "settings/SASettings.h"

#ifdef QM_APP_HAVE_DIALOGS
#include "app/dialogs/SAWndDlgAdvanced.h"
#include "app/dialogs/SAWndDlgAutoConnect.h"
#include "app/dialogs/SAWndDlgQuality.h"
#include "app/dialogs/SAWndDlgResolutionDialog.h"
#include "app/dialogs/SAWndDlgVideoQuality.h"
#endif

#include <QAction>
#include <QActionGroup>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <arpa/inet.h>
#include <initializer_list>
#include <string>
#include <vector>

namespace
{
bool StateIn(int32_t state, std::initializer_list<int32_t> states)
{
    for (int32_t s : states)
        if (s == state)
            return true;
    return false;
}
} // namespace

QAction* CMainFrame::PrivateActionAdd(QMenu* menu, int id, const QString& text, bool checkable)
{
    QAction* action = menu->addAction(text);
    action->setCheckable(checkable);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { PrivateCommand(id); });
    m_Actions[id] = action;
    return action;
}

void CMainFrame::PrivateMenusCreate(bool menuAdvanced)
{
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    PrivateActionAdd(file, ID_FILE_DISCONNECT, QStringLiteral("&Disconnect"), false);
    file->addSeparator();
    PrivateActionAdd(file, ID_APP_EXIT, QStringLiteral("E&xit"), false);

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    PrivateActionAdd(view, ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"), true);
    PrivateActionAdd(view, ID_VIEW_FULLSCREEN, QStringLiteral("&Full screen       ALT+Enter"), true);

    QMenu* functionality = bar->addMenu(QStringLiteral("Functionality"));
    PrivateActionAdd(functionality, ID_FUNCTIONALITY_DISPLAY, QStringLiteral("Display"), true);
    PrivateActionAdd(functionality, ID_FUNCTIONALITY_KEYBOARD, QStringLiteral("Keyboard"), true);
    functionality->addSeparator();
    // Radio items: the groups only make the menu draw bullets. Which item is
    // checked stays with the update rules, so the groups may leave none.
    auto* mouseGroup = new QActionGroup(this);
    mouseGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    mouseGroup->addAction(PrivateActionAdd(functionality, ID_FUNCTIONALITY_MOUSE_LOCAL,
                                           QStringLiteral("Mouse local (use as touch)"), true));
    mouseGroup->addAction(
        PrivateActionAdd(functionality, ID_FUNCTIONALITY_MOUSE_REMOTE, QStringLiteral("Mouse remote"), true));
    functionality->addSeparator();
    auto* touchGroup = new QActionGroup(this);
    touchGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    touchGroup->addAction(PrivateActionAdd(functionality, ID_FUNCTIONALITY_TOUCHSCREEN,
                                           QStringLiteral("Touchscreen (absolute)"), true));
    touchGroup->addAction(PrivateActionAdd(functionality, ID_FUNCTIONALITY_TOUCHPAD,
                                           QStringLiteral("Touchpad / Trackpad (relative)"), true));
    touchGroup->addAction(
        PrivateActionAdd(functionality, ID_FUNCTIONALITY_TOUCH_OFF, QStringLiteral("Touch Off"), true));
    functionality->addSeparator();
    PrivateActionAdd(functionality, ID_FUNCTIONALITY_AUDIO_SPEAKER, QStringLiteral("Audio Speaker"), true);

    QMenu* settings = bar->addMenu(QStringLiteral("&Settings"));
    PrivateActionAdd(settings, ID_SETTINGS_RESOLUTIONS, QStringLiteral("&Resolutions..."), false);
    PrivateActionAdd(settings, ID_SETTINGS_QUALITY, QStringLiteral("&Quality/Performance..."), false);
    PrivateActionAdd(settings, ID_SETTINGS_AUTOMATIC_CONNECT, QStringLiteral("Automatic Connect..."), false);
    settings->addSeparator();
    PrivateActionAdd(settings, ID_SETTINGS_FULLSCREEN_UPON_CONNECT,
                     QStringLiteral("Full screen upon Connect"), true);
    PrivateActionAdd(settings, ID_SETTINGS_KEEP_MONITOR_ACTIVE, QStringLiteral("Keep Monitor Active"), true);
    settings->addSeparator();
    PrivateActionAdd(settings, ID_SETTINGS_CLEAR, QStringLiteral("&Clear"), false);
    if (menuAdvanced)
    {
        settings->addSeparator();
        PrivateActionAdd(settings, ID_SETTINGS_ADVANCED, QStringLiteral("&Advanced..."), false);
    }

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    PrivateActionAdd(help, ID_HELP_USER_MANUAL, QStringLiteral("&View quillmere User Manual"), false);
    PrivateActionAdd(help, ID_HELP_SUPPORT, QStringLiteral("&Contact quillmere Support"), false);
    help->addSeparator();
    PrivateActionAdd(help, ID_APP_ABOUT, QStringLiteral("&About quillmere VIEWER..."), false);

    for (QMenu* menu : {file, view, functionality, settings, help})
        connect(menu, &QMenu::aboutToShow, this, [this] { MenusUpdate(); });
}

QAction* CMainFrame::ActionGet(int id) const
{
    const auto found = m_Actions.find(id);
    return found != m_Actions.end() ? found->second : nullptr;
}

QList<QMenu*> CMainFrame::MenusGet() const
{
    QList<QMenu*> menus;
    for (QAction* action : menuBar()->actions())
        if (action->menu() != nullptr)
            menus.push_back(action->menu());
    return menus;
}

void CMainFrame::MenusUpdate()
{
    const int32_t state = FstmStateGet();
    const bool idle = state == SA_FSTM_STATE_DISCONNECTED;
    auto rule = [this](int id, bool enabled, int checked /* -1: not a check item */)
    {
        QAction* action = ActionGet(id);
        if (action == nullptr)
            return;
        action->setEnabled(enabled);
        if (checked >= 0)
            action->setChecked(checked != 0);
    };
#ifdef QM_APP_HAVE_DIALOGS
    const bool dialogs = true;
#else
    const bool dialogs = false;
#endif
    rule(ID_FILE_DISCONNECT, StateIn(state, {2, 3, 4}), -1);
    rule(ID_APP_EXIT, true, -1);
    rule(ID_VIEW_STATUS_BAR, true, m_pStatusBar != nullptr && m_pStatusBar->isVisible());
    rule(ID_VIEW_FULLSCREEN, true, state == SA_FSTM_STATE_CONNECTED_FULLSCREEN);
    rule(ID_FUNCTIONALITY_DISPLAY, false, 1);
    rule(ID_FUNCTIONALITY_KEYBOARD, idle, m_KeyboardEnabled);
    const bool mouseTouch = SASettings::SettingsOptionEnableGet(SA_SETTINGS_MOUSE_TOUCH_ENABLE);
    rule(ID_FUNCTIONALITY_MOUSE_LOCAL, idle, mouseTouch);
    rule(ID_FUNCTIONALITY_MOUSE_REMOTE, idle, !mouseTouch);
    rule(ID_FUNCTIONALITY_TOUCHSCREEN, idle, m_TouchMode == SA_SETTINGS_TOUCH_SCREEN);
    rule(ID_FUNCTIONALITY_TOUCHPAD, idle, m_TouchMode == SA_SETTINGS_TOUCH_PAD);
    rule(ID_FUNCTIONALITY_TOUCH_OFF, idle, m_TouchMode == SA_SETTINGS_TOUCH_OFF);
    bool audioEnabled = StateIn(state, {0, 4, 6});
    if (SASettings::SettingsAudioOptionEnableGet())
    {
        // Some viewer on this machine streams audio: the item follows this
        // client's own audio connection only.
        audioEnabled = m_Client.AudioActiveGet();
        if (!audioEnabled)
            AudioEnabledSet(false);
    }
    rule(ID_FUNCTIONALITY_AUDIO_SPEAKER, audioEnabled, AudioEnabledGet());
    rule(ID_SETTINGS_RESOLUTIONS, idle && dialogs, -1);
    rule(ID_SETTINGS_QUALITY, idle && dialogs, -1);
    rule(ID_SETTINGS_AUTOMATIC_CONNECT, idle && dialogs, -1);
    rule(ID_SETTINGS_FULLSCREEN_UPON_CONNECT, idle, FullScreenUponConnectGet());
    rule(ID_SETTINGS_KEEP_MONITOR_ACTIVE, idle, KeepMonitorActiveGet());
    rule(ID_SETTINGS_CLEAR, true, -1);
    rule(ID_SETTINGS_ADVANCED, idle && dialogs, -1);
    rule(ID_HELP_USER_MANUAL, true, -1);
    rule(ID_HELP_SUPPORT, true, -1);
    rule(ID_APP_ABOUT, true, -1);
}

void CMainFrame::PrivateCommand(int id)
{
    switch (id)
    {
    case ID_FILE_DISCONNECT:
        PrivateEvent(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0);
        break;
    case ID_APP_EXIT:
        close();
        break;
    case ID_VIEW_STATUS_BAR:
        m_pStatusBar->setVisible(!m_pStatusBar->isVisible());
        break;
    case ID_VIEW_FULLSCREEN:
        PrivateEvent(SA_FSTM_EVENT_CLIENT_FULLSCREEN_ON, 0);
        break;
    case ID_FUNCTIONALITY_KEYBOARD:
        PrivateOptionToggle(m_KeyboardEnabled, SA_SETTINGS_KEYBOARD_ENABLE);
        break;
    case ID_FUNCTIONALITY_MOUSE_LOCAL:
    case ID_FUNCTIONALITY_MOUSE_REMOTE:
        if (!SASettings::SettingsOptionEnableSet(SA_SETTINGS_MOUSE_TOUCH_ENABLE,
                                                 id == ID_FUNCTIONALITY_MOUSE_LOCAL))
            SALog(SA_LOG_FAILURE, "SASettings::SettingsOptionEnableSet SAUtilRegistryValueSet failed!\n");
        break;
    case ID_FUNCTIONALITY_TOUCHSCREEN:
        PrivateTouchModeSet(SA_SETTINGS_TOUCH_SCREEN);
        break;
    case ID_FUNCTIONALITY_TOUCHPAD:
        PrivateTouchModeSet(SA_SETTINGS_TOUCH_PAD);
        break;
    case ID_FUNCTIONALITY_TOUCH_OFF:
        PrivateTouchModeSet(SA_SETTINGS_TOUCH_OFF);
        break;
    case ID_FUNCTIONALITY_AUDIO_SPEAKER:
        PrivateAudioToggle();
        break;
    case ID_SETTINGS_FULLSCREEN_UPON_CONNECT:
    {
        bool flag = FullScreenUponConnectGet();
        PrivateOptionToggle(flag, SA_SETTINGS_FULL_SCREEN_UPON_CONNECT_ENABLE);
        FullScreenUponConnectSet(flag);
        break;
    }
    case ID_SETTINGS_KEEP_MONITOR_ACTIVE:
    {
        bool flag = KeepMonitorActiveGet();
        PrivateOptionToggle(flag, SA_SETTINGS_KEEP_MONITOR_ACTIVE_ENABLE);
        KeepMonitorActiveSet(flag);
        break;
    }
    case ID_SETTINGS_CLEAR:
        PrivateSettingsClear();
        break;
    case ID_SETTINGS_RESOLUTIONS:
    case ID_SETTINGS_QUALITY:
    case ID_SETTINGS_ADVANCED:
    case ID_SETTINGS_VIDEO_QUALITY:
    case ID_SETTINGS_AUTOMATIC_CONNECT:
        PrivateDialogRun(id);
        break;
    case ID_HELP_USER_MANUAL:
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(SA_HELP_USER_MANUAL_URL)));
        break;
    case ID_HELP_SUPPORT:
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(SA_HELP_SUPPORT_URL)));
        break;
    case ID_APP_ABOUT:
        PrivateAbout();
        break;
    default:
        break;
    }
}

void CMainFrame::PrivateOptionToggle(bool& flag, const char* valueName)
{
    flag = !flag;
    if (!SASettings::SettingsOptionEnableSet(valueName, flag))
        SALog(SA_LOG_FAILURE, "SASettings::SettingsOptionEnableSet SAUtilRegistryValueSet failed!\n");
}

void CMainFrame::PrivateTouchModeSet(int32_t mode)
{
    m_TouchMode = mode;
    if (!SASettings::SettingsMenuTouchSet(mode))
        SALog(SA_LOG_FAILURE, "SASettings::SettingsOptionEnableSet SettingsMenuTouchSet failed!\n");
}

void CMainFrame::PrivateAudioToggle()
{
    const bool wasOn = AudioEnabledGet();
    AudioEnabledSet(!wasOn);
    if (wasOn)
    {
        m_Client.AudioDisconnect();
    }
    else
    {
        std::vector<std::string> speakers;
        if (!SAAudioRenderer::EnumerateSpeakers(speakers))
        {
            QMessageBox::warning(this, QStringLiteral("Error"),
                                 QStringLiteral("Unable to initialize Audio.\nNo available speakers!"));
            AudioEnabledSet(false);
        }
        else
        {
            // Only a running display connection gets audio now; in any other
            // state the stored option takes effect at the next connection.
            const int32_t state = FstmStateGet();
            if (state == SA_FSTM_STATE_CONNECTED_DISPLAY_ON || state == SA_FSTM_STATE_CONNECTED_FULLSCREEN)
            {
                const uint32_t address = m_Client.ServerAddressGet();
                m_Client.AudioConnect(address, InstanceIdGet(),
                                      ServerFeatureSupportBitmapGet(htonl(address)));
            }
        }
    }
    if (!SASettings::SettingsOptionEnableSet(SA_SETTINGS_MENU_AUDIO_ENABLED, AudioEnabledGet()))
        SALog(SA_LOG_FAILURE, "SASettings::SettingsOptionEnableSet SAUtilRegistryValueSet failed!\n");
}

void CMainFrame::PrivateSettingsClear()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Clear settings"),
                    QStringLiteral("Are you sure you want to clear all settings?"),
                    QMessageBox::Yes | QMessageBox::No, this);
    if (box.exec() == QMessageBox::Yes)
        SASettings::Clear();
}

void CMainFrame::PrivateAbout()
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("CAboutDlg"));
    dialog.setWindowTitle(QStringLiteral("About quillmere Viewer"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* icon = new QLabel(&dialog);
    icon->setPixmap(SAUtilArtworkPixmap(QStringLiteral("app"), QSize(64, 64)));
    layout->addWidget(icon);
    layout->addWidget(new QLabel(QStringLiteral("quillmere VIEWER for Windows, v0.9.48 (BETA)"), &dialog));
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    layout->addWidget(ok);
    dialog.exec();
}

void CMainFrame::PrivateDialogRun(int id)
{
#ifdef QM_APP_HAVE_DIALOGS
    switch (id)
    {
    case ID_SETTINGS_RESOLUTIONS:
        SAWndDlgResolutionDialog(this).exec();
        break;
    case ID_SETTINGS_QUALITY:
        SAWndDlgQuality(this).exec();
        break;
    case ID_SETTINGS_ADVANCED:
        SAWndDlgAdvanced(this).exec();
        break;
    case ID_SETTINGS_VIDEO_QUALITY:
        SAWndDlgVideoQuality(this).exec();
        break;
    case ID_SETTINGS_AUTOMATIC_CONNECT:
        SAWndDlgAutoConnect(this).exec();
        break;
    default:
        break;
    }
#else
    SALog(SA_LOG_FAILURE, "CMainFrame::PrivateDialogRun failed! no settings dialogs in this build (%d)\n",
          id);
#endif
}
