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
// Threads: GUI thread only. The frame's message target and the grab widget
// are borrowed and outlive this object (both belong to the frame, which
// destroys this object first).
#include "app/SAInputKeyCombination.h"
#include "net/SAInputRecord.h"

#include <QObject>

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

    SAInputKeyboard(SAMessageTarget* frameTarget, QWidget* grabWidget);
    ~SAInputKeyboard() override;

    // Installs the full hook when none is installed and all three flags are
    // set; true when the full hook is installed afterwards.
    bool PrivateTryActivateHookFull(bool keyboardEnabled, bool connectionActive, bool viewHasFocus);
    // Installs the detection-only hook when keyboard forwarding is off and
    // no hook is installed; true when a hook is installed afterwards.
    bool PrivateTryActivateHookKeyCombinationOnly(bool keyboardEnabled);
    // Removes whichever hook is installed.
    void PrivateTryDeactivate();
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

    SAMessageTarget* m_pFrameTarget;
    QWidget* m_pGrabWidget;
    SAHook m_Hook = SAHook::NONE;
    bool m_Grabbed = false;
    SAInputKeyCombination m_Combination;
};
