#include "app/SAInputKeyboard.h"

#include "core/SAInputKeyTable.h"
#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "net/SAFstmEventData.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>

#include <algorithm>

#ifdef QM_APP_HAVE_XKB
#include <QGuiApplication>
// The header names a field "explicit".
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#endif

namespace
{
// X and Wayland key codes are the kernel's plus 8.
constexpr uint32_t NATIVE_KEYCODE_OFFSET = 8;

// The X server reports a held key's repeats as a release and a press each,
// and the toolkit tells them from a real release only when the press is
// already queued behind it: about one repeat in eight reached the server as
// a release. While keys go to the server, XKB sends repeats as presses
// alone, as the Windows hook sees them.
void PrivateRepeatsDetectableSet(bool detectable)
{
#ifdef QM_APP_HAVE_XKB
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr)
        return;
    const uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    xcb_xkb_per_client_flags_reply_t* reply = xcb_xkb_per_client_flags_reply(
        connection,
        xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD, flag, detectable ? flag : 0, 0, 0, 0),
        nullptr);
    if (reply == nullptr || ((reply->value & flag) != 0) != detectable)
        SALog(SA_LOG_FAILURE, "SAInputKeyboard detectable auto-repeat %s failed!\n",
              detectable ? "on" : "off");
    free(reply);
#else
    (void)detectable;
#endif
}
} // namespace

SAInputKeyboard::SAInputKeyboard(SAMessageTarget* frameTarget, QWidget* grabWidget,
                                 std::function<bool()> forwardingGet)
    : m_pFrameTarget(frameTarget), m_pGrabWidget(grabWidget), m_ForwardingGet(std::move(forwardingGet))
{
}

SAInputKeyboard::~SAInputKeyboard()
{
    // The frame is going away: nothing is sent from here.
    m_KeysDown.clear();
    PrivateHookRemove();
}

bool SAInputKeyboard::PrivateTryActivateHookFull(bool keyboardEnabled, bool connectionActive,
                                                 bool viewHasFocus)
{
    if (m_Hook == SAHook::FULL || !keyboardEnabled || !connectionActive || !viewHasFocus)
        return m_Hook == SAHook::FULL;
    // A detection-only hook left from a capture that outlived its
    // connection would otherwise keep the full one out until the focus
    // went and came back.
    PrivateHookRemove();
    SALog(SA_LOG_INPUT, "KTM SAInputKeyboard::PrivateTryActivateHookFull activating...\n");
    // The grab keeps keys that the desktop would take (window switching and
    // the like) coming to the viewer; the filter below is what consumes
    // them, so a refused grab still leaves the hook working for every key
    // the viewer receives.
    QWindow* window = m_pGrabWidget != nullptr ? m_pGrabWidget->window()->windowHandle() : nullptr;
    m_Grabbed = window != nullptr && window->setKeyboardGrabEnabled(true);
    if (!m_Grabbed)
        SALog(SA_LOG_FAILURE, "SAInputKeyboard::PrivateTryActivateHookFull setKeyboardGrabEnabled failed!\n");
    m_Combination.Reset();
    m_Hook = SAHook::FULL;
    PrivateRepeatsDetectableSet(true);
    qApp->installEventFilter(this);
    return true;
}

bool SAInputKeyboard::PrivateTryActivateHookKeyCombinationOnly(bool keyboardEnabled)
{
    if (keyboardEnabled || m_Hook != SAHook::NONE)
        return m_Hook != SAHook::NONE;
    SALog(SA_LOG_INPUT, "KTM SAInputKeyboard::PrivateTryActivateHookKeyCombinationOnly activating...\n");
    m_Combination.Reset();
    m_Hook = SAHook::KEY_COMBINATION_ONLY;
    qApp->installEventFilter(this);
    return true;
}

void SAInputKeyboard::PrivateTryDeactivate()
{
    if (m_Hook == SAHook::NONE)
        return;
    SALog(SA_LOG_INPUT, "KTM SAInputKeyboard::PrivateTryDeactivate deactivating...\n");
    PrivateHookRemove();
}

void SAInputKeyboard::KeysRelease()
{
    const bool forwarding = m_ForwardingGet && m_ForwardingGet() && m_pFrameTarget != nullptr;
    std::vector<SAInputKeyboardRecord> down;
    down.swap(m_KeysDown);
    for (SAInputKeyboardRecord& record : down)
    {
        if (!forwarding)
            continue;
        record.flags |= SA_LLKHF_UP;
        SALog(SA_LOG_INPUT, "SAInputKeyboard::KeysRelease VKeyCode:0x%x\n", record.vkCode);
        m_pFrameTarget->Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_CLIENT_INPUT_KEYBOARD,
                             reinterpret_cast<intptr_t>(&record));
    }
}

void SAInputKeyboard::PrivateHookRemove()
{
    if (m_Hook == SAHook::NONE)
        return;
    // Keys held now come up while no hook sees them.
    if (m_Hook == SAHook::FULL)
    {
        KeysRelease();
        PrivateRepeatsDetectableSet(false);
    }
    qApp->removeEventFilter(this);
    if (m_Grabbed)
    {
        QWindow* window = m_pGrabWidget != nullptr ? m_pGrabWidget->window()->windowHandle() : nullptr;
        if (window != nullptr)
            window->setKeyboardGrabEnabled(false);
        m_Grabbed = false;
    }
    m_Hook = SAHook::NONE;
}

bool SAInputKeyboard::LowLevelKeyboardHookProcFull(SAInputKeyboardRecord& record)
{
    if (m_pFrameTarget == nullptr)
    {
        SALog(SA_LOG_FAILURE, "LowLevelKeyboardHookProcFull AfxGetMainWnd failed!\n");
        return true;
    }
    if (m_Combination.KeyProcess(record.vkCode, (record.flags & SA_LLKHF_UP) == 0))
    {
        m_pFrameTarget->Send(SA_WM_APP_MOUSE_CAPTURE_LEAVE, 0, 0);
        return true;
    }
    // Both keys come with the extended flag and the server wants them
    // without it. Only that bit is cleared: taking 1 off the flags, as if
    // the bit were always there, would turn a release into a press.
    if (record.vkCode == SA_VK_RSHIFT || record.vkCode == SA_VK_NUMLOCK)
        record.flags &= ~SA_LLKHF_EXTENDED;
    const bool forwarded = m_ForwardingGet && m_ForwardingGet();
    m_pFrameTarget->Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_CLIENT_INPUT_KEYBOARD,
                         reinterpret_cast<intptr_t>(&record));
    if (forwarded)
        PrivateKeyNote(record);
    return true;
}

void SAInputKeyboard::PrivateReleaseMatch(SAInputKeyboardRecord& record) const
{
    // A keypad key's code follows NUM LOCK and SHIFT as they are when the
    // event comes: pressed with SHIFT (LEFT) and released after it (NUMPAD4),
    // the server would keep LEFT held and see a release never pressed.
    if ((record.flags & SA_LLKHF_UP) == 0)
        return;
    const uint32_t extended = record.flags & SA_LLKHF_EXTENDED;
    for (const SAInputKeyboardRecord& down : m_KeysDown)
    {
        if (down.scanCode == record.scanCode && (down.flags & SA_LLKHF_EXTENDED) == extended)
        {
            record.vkCode = down.vkCode;
            return;
        }
    }
}

void SAInputKeyboard::PrivateKeyNote(const SAInputKeyboardRecord& record)
{
    const uint32_t extended = record.flags & SA_LLKHF_EXTENDED;
    const auto same = std::find_if(m_KeysDown.begin(), m_KeysDown.end(),
                                   [&](const SAInputKeyboardRecord& down)
                                   {
                                       return down.vkCode == record.vkCode &&
                                              down.scanCode == record.scanCode &&
                                              (down.flags & SA_LLKHF_EXTENDED) == extended;
                                   });
    const bool up = (record.flags & SA_LLKHF_UP) != 0;
    if (up && same != m_KeysDown.end())
        m_KeysDown.erase(same);
    else if (!up && same == m_KeysDown.end())
    {
        SAInputKeyboardRecord down = record;
        down.flags = extended;
        m_KeysDown.push_back(down);
    }
}

bool SAInputKeyboard::LowLevelKeyboardHookProcKeyCombinationDetectionOnly(const SAInputKeyboardRecord& record)
{
    if (m_pFrameTarget == nullptr)
    {
        SALog(SA_LOG_FAILURE, "LowLevelKeyboardHookProcKeyCombinationDetectionOnly AfxGetMainWnd failed!\n");
        return true;
    }
    if (m_Combination.KeyProcess(record.vkCode, (record.flags & SA_LLKHF_UP) == 0))
    {
        m_pFrameTarget->Send(SA_WM_APP_MOUSE_CAPTURE_LEAVE, 0, 0);
        return true;
    }
    return false;
}

bool SAInputKeyboard::KeyRecordFromEvent(const QKeyEvent* event, SAInputKeyboardRecord& record)
{
    const uint32_t native = event->nativeScanCode();
    if (native < NATIVE_KEYCODE_OFFSET)
        return false;
    // The keypad keys double as navigation keys with NUM LOCK off; the text
    // they produce tells which they are now.
    const QString text = event->text();
    const bool numeric = !text.isEmpty() && (text.at(0).isDigit() || text.at(0) == QLatin1Char('.') ||
                                             text.at(0) == QLatin1Char(','));
    SAInputKeyCode key;
    if (!SAInputKeyTranslate(native - NATIVE_KEYCODE_OFFSET, numeric, key))
        return false;
    record.vkCode = key.VKeyCode;
    record.scanCode = key.ScanCode;
    record.flags =
        (key.Extended ? SA_LLKHF_EXTENDED : 0) | (event->type() == QEvent::KeyRelease ? SA_LLKHF_UP : 0);
    record.time = static_cast<uint32_t>(event->timestamp());
    record.dwExtraInfo = 0;
    return true;
}

bool SAInputKeyboard::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (m_Hook == SAHook::FULL && type == QEvent::ShortcutOverride)
    {
        // No shortcut or menu mnemonic may take a key from the server.
        event->accept();
        return true;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    SAInputKeyboardRecord record;
    const bool known = KeyRecordFromEvent(key, record);
    if (m_Hook == SAHook::FULL)
    {
        // Consumed at its first delivery, so no key is seen twice. A held
        // key repeats as presses only, as the keyboard itself reports it.
        if (!known)
            SALog(SA_LOG_INPUT, "SAInputKeyboard::eventFilter key without translation, native code %u\n",
                  key->nativeScanCode());
        else if (!(key->isAutoRepeat() && type == QEvent::KeyRelease))
        {
            PrivateReleaseMatch(record);
            LowLevelKeyboardHookProcFull(record);
        }
        return true;
    }
    // Qt hands a key to its window and then on to the focus widget: only
    // the window's delivery is looked at, so no key counts twice.
    if (!watched->isWindowType())
        return false;
    if (!known || (key->isAutoRepeat() && type == QEvent::KeyRelease))
        return false;
    return LowLevelKeyboardHookProcKeyCombinationDetectionOnly(record);
}
