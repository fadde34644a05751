#pragma once
// The keyboard "hook" of the frame: an application-wide event filter that
// sees every key of the viewer, in one of two kinds.
// - Full: installed while a connection is active, keyboard forwarding is on
//   and a view of the frame has the focus. The keyboard is grabbed on the
//   display view's window, and every key is consumed: ALT+SHIFT raises
//   WM_APP+17 (leave mouse capture), every other key becomes an input
//   record sent to the frame as event SA_FSTM_EVENT_CLIENT_INPUT_KEYBOARD,
//   whether or not the state forwards it.
// - Key combination only: installed with mouse capture while keyboard
//   forwarding is off. Keys go on normally; only ALT+SHIFT is taken.
// Keys are translated from their evdev code (SAInputKeyTable).
//
// The server keeps a key pressed until it gets its release, so every key
// forwarded as down is remembered until its up is forwarded. When the full
// hook goes, and when the frame asks for it before a connection ends, the
// remembered keys get their releases (sent only while the state forwards
// input; otherwise the connection they were pressed on is gone and they are
// forgotten).
//
// Threads: GUI thread only. The frame's message target and the grab widget
// are borrowed and outlive this object (both belong to the frame, which
// destroys this object first).
#include "app/SAInputKeyCombination.h"
#include "net/SAInputRecord.h"

#include <QObject>

#include <functional>
#include <vector>

class QKeyEvent;
class QWidget;
class SAMessageTarget;

class SAInputKeyboard : public QObject
{
public:
    enum class SAHook
    {
        NONE,
        FULL,
        KEY_COMBINATION_ONLY,
    };

    // forwardingGet: whether the state forwards input to a server now.
    SAInputKeyboard(SAMessageTarget* frameTarget, QWidget* grabWidget, std::function<bool()> forwardingGet);
    ~SAInputKeyboard() override;

    // Installs the full hook when all three flags are set and it is not
    // installed yet; it takes the place of a detection-only hook (it detects
    // ALT+SHIFT as well). True when the full hook is installed afterwards.
    bool PrivateTryActivateHookFull(bool keyboardEnabled, bool connectionActive, bool viewHasFocus);
    // Installs the detection-only hook when keyboard forwarding is off and
    // no hook is installed; true when a hook is installed afterwards.
    bool PrivateTryActivateHookKeyCombinationOnly(bool keyboardEnabled);
    // Removes whichever hook is installed (the full one releases its keys).
    void PrivateTryDeactivate();
    // Sends the release of every key forwarded as down and not up since,
    // while the state forwards input; forgets them in any case.
    void KeysRelease();
    SAHook HookGet() const { return m_Hook; }

    // One key as the full hook sees it (the record may be changed); true
    // when the key is consumed.
    bool LowLevelKeyboardHookProcFull(SAInputKeyboardRecord& record);
    // The same for the detection-only hook.
    bool LowLevelKeyboardHookProcKeyCombinationDetectionOnly(const SAInputKeyboardRecord& record);

    // The record of a key event: false when the key has no translation.
    static bool KeyRecordFromEvent(const QKeyEvent* event, SAInputKeyboardRecord& record);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PrivateHookRemove();
    // A release names the key its forwarded press named.
    void PrivateReleaseMatch(SAInputKeyboardRecord& record) const;
    // Keeps m_KeysDown up to date with a forwarded key.
    void PrivateKeyNote(const SAInputKeyboardRecord& record);

    SAMessageTarget* m_pFrameTarget;
    QWidget* m_pGrabWidget;
    std::function<bool()> m_ForwardingGet;
    // Forwarded as down and not up since (flags: the extended bit only).
    std::vector<SAInputKeyboardRecord> m_KeysDown;
    SAHook m_Hook = SAHook::NONE;
    bool m_Grabbed = false;
    SAInputKeyCombination m_Combination;
};
