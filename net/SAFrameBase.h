#pragma once
// The half of the main frame that is no UI toolkit code: it owns the
// connection state machine and the data the machine keeps with the frame
// (instance identifier, connection start time, state and event histories,
// the full-screen-upon-connect, keep-monitor-active and audio-enabled flags,
// the reconnect address list), handles the machine's messages (WM_APP+10,
// WM_APP+11, WM_APP+21), shows the audio failure box (WM_APP+24) and paces
// reconnect attempts. The Qt main frame and the headless tool derive from it and supply the frame operations
// that the machine's actions call (views, full screen, status lines, message boxes) and the UI reactions to a
// change of state.
//
// Threads: everything here runs on the window thread, the thread that
// dispatches the frame's messages. Worker threads reach the frame only
// through its message target. The paced reconnect timer runs on its own
// thread (SAFrameTimer) and only posts SA_WM_APP_RECONNECT_DUE.
//
// Lifetime: the message target and the client are borrowed; both must
// outlive the frame. A derived frame whose message target is one of its own
// members calls ReconnectTimerStop() first in its destructor.
#include "net/SAFrameMessages.h"
#include "net/SAFrameTimer.h"
#include "net/SAFstm.h"
#include "net/SANetClientControl.h"

#include <cstdint>
#include <string>
#include <vector>

enum class SAFrameView
{
    CONNECT,
    DISPLAY,
    TEXT,
};

// Status lines of the text view.
constexpr int SA_FRAME_STATUS_LINE_COUNT = 3;
// Reconnect attempts in a row start at most this often. Retrying the moment
// an attempt fails turns a server that refuses at once (the program is not
// running, the port is closed) into a busy loop: thousands of connects a
// second, a core spent on them, and the server's machine flooded. An attempt
// that fails later than this, and the first after a lost connection, still
// starts at once.
constexpr uint32_t SA_FRAME_RECONNECT_INTERVAL_MS = 1000;
// How long the Disconnecting entry keeps the window thread waiting.
constexpr uint32_t SA_FRAME_DISCONNECTING_WAIT_MS = 1000;

class SAFrameBase
{
public:
    SAFrameBase(SAMessageTarget& target, SANetClientControl* client);
    virtual ~SAFrameBase();
    SAFrameBase(const SAFrameBase&) = delete;
    SAFrameBase& operator=(const SAFrameBase&) = delete;

    void ClientSet(SANetClientControl* client) { m_pClient = client; }
    SANetClientControl* ClientGet() const { return m_pClient; }
    SAMessageTarget& MessageTargetGet() { return m_Target; }
    SAFstm& FstmGet() { return m_Fstm; }
    int32_t FstmStateGet() const { return m_Fstm.CurrentStateGet(); }

    // Dispatches the messages handled here; false for any other message.
    bool AppMessageHandle(uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result);
    // WM_APP+10: one state machine step.
    intptr_t OnAppFstmEvent(uintptr_t wParam, intptr_t lParam);
    // WM_APP+11: histories, connection-active flag, start time, UI hooks.
    intptr_t OnAppFstmStateChanged(uintptr_t wParam, intptr_t lParam);
    // WM_APP+21: transmits the StreamReset reply.
    intptr_t OnAppStreamResetReply();
    // SA_WM_APP_RECONNECT_DUE: starts the paced attempt of that generation.
    intptr_t OnAppReconnectDue(uintptr_t generation);
    // SA_WM_APP_AUDIO_FAILURE: the audio failure box, shown on the window
    // thread for the audio worker threads that detect the failure; one at a
    // time (failures while it is open are only logged).
    intptr_t OnAppAudioFailure();

    // One-time initialisation step: state 0 and the Disconnected entry
    // action (previous 0, event 16) without any notification.
    void FstmStart();

    // One-time initialisation: "FullScreenUponConnectEnable" and
    // "KeepMonitorActiveEnable" (off when unreadable).
    void FlagsFromSettingsRead();
    // Construction: audio on only when "MenuAudioEnabled" is on and
    // "AudioStreamingEnabled" is 0 or unreadable.
    void AudioEnabledFromSettingsRead();

    const std::string& InstanceIdGet() const { return m_InstanceId; }
    void InstanceIdSet(const std::string& id) { m_InstanceId = id; }
    bool FullScreenUponConnectGet() const { return m_FullScreenUponConnect; }
    void FullScreenUponConnectSet(bool on) { m_FullScreenUponConnect = on; }
    bool KeepMonitorActiveGet() const { return m_KeepMonitorActive; }
    void KeepMonitorActiveSet(bool on) { m_KeepMonitorActive = on; }
    bool AudioEnabledGet() const { return m_AudioEnabled; }
    void AudioEnabledSet(bool on) { m_AudioEnabled = on; }
    bool ConnectionActiveGet() const { return m_ConnectionActive; }

    // Clock value of the first arrival in state 3 of this connection; 0 when
    // not stamped.
    uint64_t ConnectionStartTimeGet() const { return m_ConnectionStartTime; }
    // Milliseconds since the start time (0 when not stamped); resets it.
    int64_t ConnectionElapsedTake();
    const std::string& StateHistoryGet() const { return m_StateHistory; }
    const std::string& EventHistoryGet() const { return m_EventHistory; }

    // Reconnect addresses: every stored auto-connect address in stored order,
    // then `address` when it is not 0.
    void ReconnectAddressListRebuild(uint32_t address);
    // Takes the first entry and moves it to the end; false when empty.
    bool ReconnectAddressNext(uint32_t& address);
    const std::vector<uint32_t>& ReconnectAddressListGet() const { return m_ReconnectAddresses; }

    // A connect attempt now. Address 0 is never connected: it is logged and
    // raises event 4 like any connect that cannot be started.
    void ConnectStart(uint32_t address);
    // The server of the latest attempt, made or not (0 before any).
    uint32_t ConnectAddressGet() const { return m_ConnectAddress; }
    // A reconnect attempt: now when the previous attempt started at least
    // SA_FRAME_RECONNECT_INTERVAL_MS ago, else when that interval is over.
    void ReconnectPaced(uint32_t address);
    // Drops a paced attempt that has not started yet.
    void ReconnectCancel();
    bool ReconnectPendingGet() const { return m_ReconnectPending; }
    void ReconnectTimerStop() { m_ReconnectTimer.Stop(); }

    // View switch: leaving the connect view pauses discovery, entering it
    // resumes discovery.
    void ViewSwitch(SAFrameView view);
    SAFrameView ViewGet() const { return m_View; }

    // Frame operations called by the machine's actions.
    virtual void FullScreenEnter() = 0;
    virtual void FullScreenExit() = 0;
    // line: 1..3.
    virtual void StatusLineTextSet(int line, const std::string& text) = 0;
    virtual void StatusLineShow(int line, bool show) = 0;
    // Modal on the window thread where there is a window; OK button only.
    virtual void MessageBoxShow(const std::string& text, const std::string& title) = 0;
    // The same box with the question-mark icon, which the audio failure box
    // carries; where there are no icons it is the plain box.
    virtual void MessageBoxQuestionShow(const std::string& text, const std::string& title)
    {
        MessageBoxShow(text, title);
    }
    // Feature bitmap that discovery reported for the server; 0 when unknown.
    virtual int32_t ServerFeatureSupportBitmapGet(uint32_t networkOrderAddress) = 0;
    // The pause of the Disconnecting entry (blocks the window thread).
    virtual void DisconnectingWait();
    // Milliseconds of a monotonic clock.
    virtual uint64_t ClockGet() const;

protected:
    // The view `to` becomes the only visible one.
    virtual void OnViewShow(SAFrameView from, SAFrameView to) = 0;
    virtual void OnDiscoveryResumeSuspend(bool resume) {}
    // A connection begins (previous state 0; the connection-active flag is
    // already set): install the full keyboard grab when none is installed,
    // keyboard forwarding is on and a view has the focus; register touch
    // input unless "TouchSettings" is 2.
    virtual void OnConnectionBegin() {}
    // Back in state 0 (flag already cleared): remove the keyboard grab if
    // installed, unregister touch unless "TouchSettings" is 2.
    virtual void OnConnectionEnd() {}
    // Only called while "Keep Monitor Active" is on: true on reaching state
    // 3, false on returning to state 0.
    virtual void OnKeepAwakeSet(bool keepAwake) {}
    virtual void OnStatusBarReset() {}
    virtual void OnStatusIpPanesShow() {}
    virtual void OnRendererStatusClear() {}
    // Arranges SA_WM_APP_RECONNECT_DUE(generation) after delayMs; the
    // default uses the frame's timer thread.
    virtual void ReconnectTimerStart(uint32_t delayMs, uintptr_t generation);
    virtual void ReconnectTimerCancel();

private:
    SAMessageTarget& m_Target;
    SANetClientControl* m_pClient;
    SAFstm m_Fstm;
    std::string m_InstanceId;
    SAFrameView m_View = SAFrameView::CONNECT;

    bool m_FullScreenUponConnect = false;
    bool m_KeepMonitorActive = false;
    bool m_AudioEnabled = false;
    bool m_ConnectionActive = false;
    bool m_AudioFailureShown = false;

    uint64_t m_ConnectionStartTime = 0;
    std::string m_StateHistory;
    std::string m_EventHistory;

    std::vector<uint32_t> m_ReconnectAddresses;

    bool m_ConnectAttemptStarted = false;
    uint64_t m_ConnectAttemptTime = 0;
    uint32_t m_ConnectAddress = 0;
    bool m_ReconnectPending = false;
    uint32_t m_ReconnectAddress = 0;
    uintptr_t m_ReconnectGeneration = 0;
    SAFrameTimer m_ReconnectTimer;
};
