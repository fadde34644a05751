#include "net/SAFrameBase.h"

#include "core/PSTime.h"
#include "core/SALog.h"
#include "settings/SASettings.h"

#include <climits>
#include <cstdio>

SAFrameBase::SAFrameBase(SAMessageTarget& target, SANetClientControl* client)
    : m_Target(target), m_pClient(client),
      m_ReconnectTimer([this](uintptr_t generation)
                       { m_Target.Post(SA_WM_APP_RECONNECT_DUE, generation, 0); })
{
}

SAFrameBase::~SAFrameBase()
{
    m_ReconnectTimer.Stop();
}

bool SAFrameBase::AppMessageHandle(uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result)
{
    switch (message)
    {
    case SA_WM_APP_FSTM_EVENT:
        result = OnAppFstmEvent(wParam, lParam);
        return true;
    case SA_WM_APP_FSTM_STATE_CHANGED:
        result = OnAppFstmStateChanged(wParam, lParam);
        return true;
    case SA_WM_APP_STREAM_RESET_REPLY:
        result = OnAppStreamResetReply();
        return true;
    case SA_WM_APP_RECONNECT_DUE:
        result = OnAppReconnectDue(wParam);
        return true;
    case SA_WM_APP_AUDIO_FAILURE:
        result = OnAppAudioFailure();
        return true;
    default:
        return false;
    }
}

intptr_t SAFrameBase::OnAppAudioFailure()
{
    // The box waits for the user inside the window's event loop. A link that
    // flaps fails the audio connect on every reconnect, and a box opened
    // within the box for each failure ran the window thread's stack out.
    if (m_AudioFailureShown)
    {
        SALog(SA_LOG_FAILURE, "SAFrameBase::OnAppAudioFailure failure while its box is open\n");
        return 0;
    }
    m_AudioFailureShown = true;
    MessageBoxQuestionShow("Audio Disconneted", "Msg title");
    m_AudioFailureShown = false;
    return 0;
}

intptr_t SAFrameBase::OnAppFstmEvent(uintptr_t wParam, intptr_t lParam)
{
    SAFstmEventData data;
    data.client = m_pClient;
    data.param = lParam;
    data.instanceId = m_InstanceId;
    data.frame = this;
    // The event travels as an unsigned message parameter; a value that is no
    // int32 must not wrap onto a valid event, so it becomes -1 (invalid).
    const intptr_t raw = static_cast<intptr_t>(wParam);
    const int32_t event = (raw < INT32_MIN || raw > INT32_MAX) ? -1 : static_cast<int32_t>(raw);
    m_Fstm.ProcessEvent(event, std::move(data));
    return 0;
}

intptr_t SAFrameBase::OnAppFstmStateChanged(uintptr_t wParam, intptr_t lParam)
{
    const int32_t event = static_cast<int32_t>(wParam);
    const int32_t previous = static_cast<int32_t>(static_cast<uint32_t>(lParam) & 0xFFFF);
    const int32_t next = static_cast<int32_t>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);

    char step[16];
    std::snprintf(step, sizeof(step), "%d-", next);
    m_StateHistory += step;
    std::snprintf(step, sizeof(step), "%d-", event);
    m_EventHistory += step;

    // A paced attempt belongs to the reconnecting state only.
    if (next != SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER)
        ReconnectCancel();

    if (previous == SA_FSTM_STATE_DISCONNECTED)
    {
        m_ConnectionActive = true;
        OnConnectionBegin();
    }

    switch (next)
    {
    case SA_FSTM_STATE_DISCONNECTED:
        m_ConnectionActive = false;
        OnConnectionEnd();
        if (m_KeepMonitorActive)
            OnKeepAwakeSet(false);
        OnStatusBarReset();
        m_StateHistory.clear();
        m_EventHistory.clear();
        break;
    case SA_FSTM_STATE_UNCONNECTED_CONNECTING_SERVER:
        OnRendererStatusClear();
        break;
    case SA_FSTM_STATE_CONNECTED_DISPLAY_OFF:
        OnStatusIpPanesShow();
        if (m_KeepMonitorActive)
            OnKeepAwakeSet(true);
        if (m_ConnectionStartTime == 0)
            m_ConnectionStartTime = ClockGet();
        break;
    case SA_FSTM_STATE_CONNECTED_DISPLAY_ON:
        if (m_FullScreenUponConnect && previous != SA_FSTM_STATE_CONNECTED_FULLSCREEN)
            m_Target.Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_CLIENT_FULLSCREEN_ON, 0);
        break;
    default:
        break;
    }
    return 0;
}

intptr_t SAFrameBase::OnAppStreamResetReply()
{
    if (!m_pClient)
    {
        SALog(SA_LOG_FAILURE, "SAFrameBase::OnAppStreamResetReply failed! NULL == m_pClient\n");
        return 0;
    }
    if (!m_pClient->Transmit(SAPacketStreamResetReply()))
        SALog(SA_LOG_FAILURE, "SAFrameBase::OnAppStreamResetReply failed! Transmit\n");
    return 0;
}

intptr_t SAFrameBase::OnAppReconnectDue(uintptr_t generation)
{
    // A message of a cancelled or replaced attempt may still arrive.
    if (!m_ReconnectPending || generation != m_ReconnectGeneration)
        return 0;
    m_ReconnectPending = false;
    if (m_Fstm.CurrentStateGet() != SA_FSTM_STATE_UNCONNECTED_RECONNECTING_SERVER)
        return 0;
    ConnectStart(m_ReconnectAddress);
    return 0;
}

void SAFrameBase::FstmStart()
{
    m_Fstm.CurrentStateSet(SA_FSTM_STATE_DISCONNECTED);
    SAFstmEventData data;
    data.client = m_pClient;
    data.instanceId = m_InstanceId;
    data.frame = this;
    m_Fstm.StateEnter(SA_FSTM_STATE_DISCONNECTED, std::move(data), SA_FSTM_STATE_DISCONNECTED,
                      SA_FSTM_EVENT_INITIALIZE);
}

void SAFrameBase::FlagsFromSettingsRead()
{
    m_FullScreenUponConnect =
        SASettings::SettingsOptionEnableGet(SA_SETTINGS_FULL_SCREEN_UPON_CONNECT_ENABLE);
    m_KeepMonitorActive = SASettings::SettingsOptionEnableGet(SA_SETTINGS_KEEP_MONITOR_ACTIVE_ENABLE);
}

void SAFrameBase::AudioEnabledFromSettingsRead()
{
    // Another viewer that streams audio already (the volatile flag) keeps
    // this one silent.
    m_AudioEnabled = SASettings::SettingsOptionEnableGet(SA_SETTINGS_MENU_AUDIO_ENABLED) &&
                     !SASettings::SettingsAudioOptionEnableGet();
}

int64_t SAFrameBase::ConnectionElapsedTake()
{
    if (m_ConnectionStartTime == 0)
        return 0;
    const int64_t elapsed = static_cast<int64_t>(ClockGet() - m_ConnectionStartTime);
    m_ConnectionStartTime = 0;
    return elapsed;
}

void SAFrameBase::ReconnectAddressListRebuild(uint32_t address)
{
    m_ReconnectAddresses.clear();
    uint32_t stored = 0;
    for (int32_t index = 0; SASettings::AutoConnectHostIpAddressEnum(index, stored); ++index)
        m_ReconnectAddresses.push_back(stored);
    if (address != 0)
        m_ReconnectAddresses.push_back(address);
}

bool SAFrameBase::ReconnectAddressNext(uint32_t& address)
{
    if (m_ReconnectAddresses.empty())
        return false;
    address = m_ReconnectAddresses.front();
    m_ReconnectAddresses.erase(m_ReconnectAddresses.begin());
    m_ReconnectAddresses.push_back(address);
    return true;
}

void SAFrameBase::ConnectStart(uint32_t address)
{
    m_ConnectAttemptStarted = true;
    m_ConnectAttemptTime = ClockGet();
    if (address != 0)
        m_ConnectAddress = address;
    if (address == 0)
    {
        // Connecting to 0.0.0.0 would reach this machine itself.
        SALog(SA_LOG_FAILURE, "SAFrameBase::ConnectStart failed! no server address\n");
        m_Target.Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, 0);
        return;
    }
    if (!m_pClient)
    {
        SALog(SA_LOG_FAILURE, "SAFrameBase::ConnectStart failed! NULL == m_pClient\n");
        m_Target.Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, 0);
        return;
    }
    m_pClient->Connect(address);
}

void SAFrameBase::ReconnectPaced(uint32_t address)
{
    ReconnectCancel();
    const uint64_t now = ClockGet();
    const uint64_t since = m_ConnectAttemptStarted && now >= m_ConnectAttemptTime
                               ? now - m_ConnectAttemptTime
                               : SA_FRAME_RECONNECT_INTERVAL_MS;
    if (!m_ConnectAttemptStarted || since >= SA_FRAME_RECONNECT_INTERVAL_MS)
    {
        ConnectStart(address);
        return;
    }
    const uint32_t delay = SA_FRAME_RECONNECT_INTERVAL_MS - static_cast<uint32_t>(since);
    m_ReconnectPending = true;
    m_ReconnectAddress = address;
    ++m_ReconnectGeneration;
    SALog(SA_LOG_FSTM, "SAFrameBase::ReconnectPaced delay:%u\n", delay);
    ReconnectTimerStart(delay, m_ReconnectGeneration);
}

void SAFrameBase::ReconnectCancel()
{
    if (!m_ReconnectPending)
        return;
    m_ReconnectPending = false;
    ++m_ReconnectGeneration;
    ReconnectTimerCancel();
}

void SAFrameBase::ReconnectTimerStart(uint32_t delayMs, uintptr_t generation)
{
    if (!m_ReconnectTimer.Start(delayMs, generation))
    {
        // Without a timer the attempt is made at once rather than never.
        SALog(SA_LOG_FAILURE, "SAFrameBase::ReconnectTimerStart failed! m_ReconnectTimer.Start\n");
        m_Target.Post(SA_WM_APP_RECONNECT_DUE, generation, 0);
    }
}

void SAFrameBase::ReconnectTimerCancel()
{
    m_ReconnectTimer.Cancel();
}

void SAFrameBase::ViewSwitch(SAFrameView view)
{
    const SAFrameView from = m_View;
    if (from == SAFrameView::CONNECT)
    {
        SALog(SA_LOG_DISCOVERY, "SAMvcViewFrmConnect::ThreadDiscoveryResumeSuspend bResume:%d\n", 0);
        OnDiscoveryResumeSuspend(false);
    }
    if (view == SAFrameView::CONNECT)
    {
        SALog(SA_LOG_DISCOVERY, "SAMvcViewFrmConnect::ThreadDiscoveryResumeSuspend bResume:%d\n", 1);
        OnDiscoveryResumeSuspend(true);
    }
    m_View = view;
    OnViewShow(from, view);
}

void SAFrameBase::DisconnectingWait()
{
    PSTimeSleep(SA_FRAME_DISCONNECTING_WAIT_MS);
}

uint64_t SAFrameBase::ClockGet() const
{
    return PSTimeTickCount64();
}
