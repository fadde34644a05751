#include "net/SANetClient.h"

#include "core/PSEvent.h"
#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "net/SAFrameMessages.h"
#include "net/SAFstmEventData.h"
#include "net/SANetHostRecord.h"
#include "net/SANetProtocol.h"
#include "net/SATaskQueuedNetAudioConnect.h"
#include "net/SATaskQueuedNetConnect.h"
#include "net/SATaskQueuedNetTransmit.h"
#include "settings/SASettings.h"
#include "settings/SAWndDlgResolution.h"

#include <arpa/inet.h>
#include <new>
#include <vector>

namespace
{
// How often a stop closes the audio socket again while a cancelled audio
// connect job still runs.
constexpr uint32_t AUDIO_CANCEL_POLL_MS = 10;
} // namespace

SANetClient::SANetClient(SAQueueScreenUpdates* queue, SAMessageTarget* notifyTarget)
    : m_pNotifyTarget(notifyTarget), m_TaskLoopedNetReceiver(queue, notifyTarget),
      m_TaskLoopedNetReceiverAudio(this, notifyTarget)
{
}

SANetClient::~SANetClient()
{
    ConnectionStop();
    ReceiverJoin();
    // An audio connect job still queued, or an audio loop that the server
    // ended (or that a racing disconnect on the loop thread is ending), must
    // be over before the members they use go.
    m_TaskQueueNetAudioTransmitter.Stop();
    m_ThreadTaskLoopNetAudio.Stop();
}

void SANetClient::Connect(uint32_t hostOrderAddress)
{
    auto stream = std::make_shared<SANetSocketStream>(true);
    intptr_t tag = 0;
    {
        std::lock_guard<std::mutex> guard(m_ConnectionLock);
        if (m_pConnection)
        {
            m_PacketsSentBefore += m_pConnection->PacketsSentGet();
            if (m_pConnection->AddressRemoteHostOrderGet() != 0)
                m_pConnectionMade = m_pConnection;
        }
        m_pConnection = stream;
        tag = ++m_Tag;
        m_TagCurrent = true;
        m_RequestSent = false;
    }
    if (!m_TaskQueueNetTransmitter.Start())
    {
        SALog(SA_LOG_FAILURE, "SANetClient::Connect m_TaskQueueNetTransmitter.Start failed!\n");
        m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, tag);
        return;
    }
    auto* job =
        new (std::nothrow) SATaskQueuedNetConnect(hostOrderAddress, true, stream, tag, m_pNotifyTarget);
    if (job == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SANetClient::Connect failed! no memory\n");
        m_TaskQueueNetTransmitter.Stop();
        m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, tag);
        return;
    }
    m_TaskQueueNetTransmitter.TaskSubmit(job);
}

bool SANetClient::Start(const std::string& instanceId)
{
    std::shared_ptr<SANetSocketStream> stream;
    intptr_t tag = 0;
    {
        std::lock_guard<std::mutex> guard(m_ConnectionLock);
        stream = m_pConnection;
        tag = m_Tag;
    }
    if (!stream)
        stream = std::make_shared<SANetSocketStream>(true); // never connected: every step fails

    int32_t widths[SA_RESOLUTION_OFFERED_MAX] = {};
    int32_t heights[SA_RESOLUTION_OFFERED_MAX] = {};
    int32_t count = SAWndDlgResolution::ResolutionsOfferedGet(widths, heights);
    if (count <= 0)
    {
        SALog(SA_LOG_FAILURE,
              "SANetClient::Start failed! 0 == ResolutionListCount (this should never happen)\n");
        m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, tag);
        return false;
    }

    m_TaskLoopedNetReceiver.ConnectionSet(stream, tag);
    if (!m_ThreadTaskLoopNetReceiver.Start(&m_TaskLoopedNetReceiver))
    {
        SALog(SA_LOG_FAILURE, "SANetClient::Start m_ThreadTaskLoopNetReceiver.Start failed!\n");
        m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, tag);
        return false;
    }

    uint32_t w[SA_RESOLUTION_OFFERED_MAX];
    uint32_t h[SA_RESOLUTION_OFFERED_MAX];
    for (int32_t i = 0; i < count; ++i)
    {
        w[i] = static_cast<uint32_t>(widths[i]);
        h[i] = static_cast<uint32_t>(heights[i]);
    }
    std::unique_ptr<uint8_t[]> packet =
        SANetProtocol::PacketCreateConnectRequest(instanceId, w, h, static_cast<uint32_t>(count));
    if (!packet)
    {
        SALog(SA_LOG_FAILURE, "SANetClient::Start failed! PacketCreateConnectRequest\n");
        m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, tag);
        return false;
    }

    auto* job = new (std::nothrow) SATaskQueuedNetTransmit(stream, std::move(packet));
    if (job == nullptr)
    {
        SALog(SA_LOG_FAILURE,
              "SANetClient::Transmit failed! m_TaskLoopedNetReceiver.TaskNetTransmitCreate (packet)\n");
        SALog(SA_LOG_FAILURE, "SANetClient::Start failed! Transmit\n");
        m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, tag);
        return false;
    }
    // Queued and marked under the lock that every Transmit holds: whatever
    // is queued for this connection from now on follows the request.
    std::lock_guard<std::mutex> guard(m_ConnectionLock);
    if (m_pConnection != stream || !m_TagCurrent)
    {
        // Stopped or replaced meanwhile: the request is for nobody.
        delete job;
        return false;
    }
    m_TaskQueueNetTransmitter.TaskSubmit(job);
    m_RequestSent = true;
    return true;
}

bool SANetClient::Transmit(const SAPacketHeader& header)
{
    std::lock_guard<std::mutex> guard(m_ConnectionLock);
    if (!m_RequestSent)
    {
        // Acknowledgements of frames left over from the last connection, or
        // input, would otherwise reach the new server ahead of the connect
        // request, which must be the first packet it sees.
        SALog(SA_LOG_FSTM, "SANetClient::Transmit dropped header type:%u, no connect request sent yet\n",
              header.HeaderTypeGet());
        return false;
    }
    if (!m_pConnection->IsOpen())
        return false; // lost; the receiver reports it
    if (m_TaskQueueNetTransmitter.OutstandingGet() >= static_cast<int32_t>(TRANSMIT_BACKLOG_LIMIT))
    {
        // The server has stopped reading. Rather than let the queue grow
        // without end, the connection is taken as lost: closing it ends
        // the receiver, whose event 4 makes the machine reconnect.
        SALog(SA_LOG_FAILURE, "SANetClient::Transmit failed! %u packets waiting, connection lost\n",
              TRANSMIT_BACKLOG_LIMIT);
        m_pConnection->Close();
        return false;
    }
    auto* job = new (std::nothrow) SATaskQueuedNetTransmit(m_pConnection, header);
    if (job == nullptr)
    {
        SALog(SA_LOG_FAILURE,
              "SANetClient::Transmit failed! m_TaskLoopedNetReceiver.TaskNetTransmitCreate (header)\n");
        return false;
    }
    m_TaskQueueNetTransmitter.TaskSubmit(job);
    return true;
}

void SANetClient::ConnectionStop()
{
    AudioDisconnect();

    // From here on nothing more is queued for this connection, and whatever
    // it still raises is stale.
    std::shared_ptr<SANetSocketStream> stream;
    {
        std::lock_guard<std::mutex> guard(m_ConnectionLock);
        m_RequestSent = false;
        m_TagCurrent = false;
        stream = m_pConnection;
    }

    // Let what is already queued (a user's Disconnect packet above all) leave
    // before the socket closes, but never wait on a peer that stopped reading
    // for longer than the drain time-out: the close below then aborts the
    // blocked send, or the connect still in progress.
    m_TaskQueueNetTransmitter.IdleEventGet().Wait(TRANSMIT_DRAIN_TIMEOUT_MS);

    // The receiver thread is not waited for: it may be blocked sending a
    // state machine event to the window thread that runs this very stop. Its
    // handle is retired by the next Start of its loop.
    m_TaskLoopedNetReceiver.StopRequest();
    if (stream)
        stream->Close();
    // What the drain left behind goes unsent: the connection is closed.
    m_TaskQueueNetTransmitter.Stop(true);
}

void SANetClient::ConnectionClose()
{
    std::lock_guard<std::mutex> guard(m_ConnectionLock);
    if (m_pConnection)
        m_pConnection->Close();
}

bool SANetClient::EventCurrentCheck(intptr_t tag) const
{
    std::lock_guard<std::mutex> guard(m_ConnectionLock);
    return tag == 0 || (tag == m_Tag && m_TagCurrent);
}

bool SANetClient::AudioConnect(uint32_t hostOrderAddress, const std::string& instanceId,
                               int32_t featureBitmap)
{
    SALog(SA_LOG_AUDIO, "SANetClient::AudioConnect!\n");
    if ((static_cast<uint32_t>(featureBitmap) & SA_NET_HOST_FEATURE_AUDIO) == 0)
    {
        SALog(SA_LOG_FAILURE, "SANetClient::AudioConnect failed! Server does not support Audio feature\n");
        return false;
    }
    std::vector<std::string> speakers;
    if (!SAAudioRenderer::EnumerateSpeakers(speakers))
    {
        SALog(SA_LOG_FAILURE,
              "SANetClient::AudioConnect SAAudioRenderer::EnumerateSpeakers failed! Disregarding audio "
              "connection\n");
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(m_AudioLock);
        if (m_AudioConnectWanted != 0 || m_AudioActive.load())
        {
            SALog(SA_LOG_FAILURE, "SANetClient::AudioConnect failed! Audio already connecting or on\n");
            return false;
        }
    }
    // The worker may still run after a failed connect or a server's end of
    // the audio; it is idle then and takes the new job as it is. Starting it
    // again would first wait for it to end.
    if (!m_AudioQueueRunning)
    {
        if (!m_TaskQueueNetAudioTransmitter.Start())
        {
            SALog(SA_LOG_FAILURE, "SANetClient::AudioConnect m_TaskQueueNetAudioTransmitter.Start failed!\n");
            m_pNotifyTarget->Post(SA_WM_APP_AUDIO_FAILURE, 0, 0);
            return false;
        }
        m_AudioQueueRunning = true;
    }
    uint64_t connectId = 0;
    {
        std::lock_guard<std::mutex> guard(m_AudioLock);
        connectId = ++m_AudioConnectLast;
    }
    auto* job = new (std::nothrow) SATaskQueuedNetAudioConnect(
        hostOrderAddress, instanceId, connectId, &m_TaskLoopedNetReceiverAudio, this, m_pNotifyTarget);
    if (job == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SANetClient::AudioConnect failed! no memory\n");
        PrivateAudioQueueStop(true);
        m_pNotifyTarget->Post(SA_WM_APP_AUDIO_FAILURE, 0, 0);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(m_AudioLock);
        m_AudioConnectWanted = connectId;
    }
    m_TaskQueueNetAudioTransmitter.TaskSubmit(job);
    return true;
}

bool SANetClient::AudioConnectWantedGet(uint64_t connectId)
{
    std::lock_guard<std::mutex> guard(m_AudioLock);
    return m_AudioConnectWanted == connectId;
}

bool SANetClient::AudioConnectEnd(uint64_t connectId)
{
    std::lock_guard<std::mutex> guard(m_AudioLock);
    if (m_AudioConnectWanted != connectId)
        return false;
    m_AudioConnectWanted = 0;
    return true;
}

void SANetClient::AudioStart(uint64_t connectId)
{
    SALog(SA_LOG_AUDIO, "SANetClient::AudioStart\n");
    {
        std::lock_guard<std::mutex> guard(m_AudioLock);
        if (m_AudioConnectWanted != connectId)
        {
            // The audio was stopped (the display connection ended, the user
            // turned audio off) while this connection was being made. It
            // must not start playing now, with nothing left to stop it: the
            // server is told and the connection closed, and the audio stays
            // off.
            SALog(SA_LOG_AUDIO, "SANetClient::AudioStart cancelled\n");
            m_TaskLoopedNetReceiverAudio.StopRequest();
            return;
        }
        m_AudioConnectWanted = 0;
        // Active and stored before the loop runs: a server that ends the
        // audio connection at once makes the loop disconnect on its own
        // thread, and that disconnect must find the audio active and must be
        // the last to write the stored flag.
        SASettings::SettingsAudioOptionEnableSet(true);
        m_AudioActive.store(true);
    }
    if (!m_ThreadTaskLoopNetAudio.Start(&m_TaskLoopedNetReceiverAudio))
    {
        SALog(SA_LOG_FAILURE, "SANetClient::Start m_ThreadTaskLoopNetReceiver.Start failed!\n");
        {
            std::lock_guard<std::mutex> guard(m_AudioLock);
            m_AudioActive.store(false);
            SASettings::SettingsAudioOptionEnableSet(false);
        }
        m_pNotifyTarget->Post(SA_WM_APP_AUDIO_FAILURE, 0, 0);
    }
}

void SANetClient::AudioLoopEndWait()
{
    // Audio is off whenever a connect job runs, and whatever turned it off
    // has stopped the loop (closed its socket), so this wait is short and
    // never depends on the network. Without a previous loop it returns at
    // once.
    m_ThreadTaskLoopNetAudio.Wait(PS_INFINITE);
    m_ThreadTaskLoopNetAudio.Close();
}

void SANetClient::AudioDisconnect()
{
    // The window thread (a stop or the menu) and the audio loop thread (a
    // server Disconnect) may both get here at once; whoever clears the flag
    // first disconnects, the other has nothing left to do. A connect job on
    // its way is cancelled in the same step.
    bool active = false;
    {
        std::lock_guard<std::mutex> guard(m_AudioLock);
        m_AudioConnectWanted = 0;
        active = m_AudioActive.exchange(false);
    }
    // On the loop thread itself the connect job is long done, and the loop
    // ends once the current step returns to it; waiting here would wait for
    // ourselves.
    const bool onLoopThread = m_ThreadTaskLoopNetAudio.IsCurrentThread();
    if (!onLoopThread)
        PrivateAudioQueueStop(!active);
    if (!active)
        return;
    SALog(SA_LOG_AUDIO, "SANetClient::AudioDisconnect\n");
    if (PSTaskAsyncLooped* task = m_ThreadTaskLoopNetAudio.TaskGet())
        task->StopRequest();
    if (!onLoopThread)
        m_ThreadTaskLoopNetAudio.Wait(PS_INFINITE);
    // Only while the audio is still off: a start that came in the meantime
    // (the user turned audio on again right after a server Disconnect) has
    // stored 1, and that is what holds now.
    std::lock_guard<std::mutex> guard(m_AudioLock);
    if (!m_AudioActive.load())
        SASettings::SettingsAudioOptionEnableSet(false);
}

void SANetClient::PrivateAudioQueueStop(bool cancel)
{
    if (!m_AudioQueueRunning)
        return;
    PSEvent& idle = m_TaskQueueNetAudioTransmitter.IdleEventGet();
    if (cancel)
    {
        // A connect job that is still busy was cancelled: closing its socket
        // ends a connect or send in progress at once (a server that never
        // answers would otherwise hold it for the SYN retries, minutes), and
        // a job that has not reached its connect finds the cancel before it
        // starts one. The socket is closed again while the job runs, because
        // it may open its socket just after a close.
        while (idle.Wait(AUDIO_CANCEL_POLL_MS) != PS_WAIT_OBJECT_0)
            m_TaskLoopedNetReceiverAudio.ConnectionGet().Close();
    }
    // Otherwise the job has started the audio and only starts the loop
    // thread, which the disconnect then stops: no network is waited for.
    m_TaskQueueNetAudioTransmitter.Stop();
    m_AudioQueueRunning = false;
}

uint32_t SANetClient::ServerAddressGet() const
{
    std::shared_ptr<SANetSocketStream> stream = PrivateConnectionMadeGet();
    return stream ? stream->AddressRemoteHostOrderGet() : 0;
}

std::shared_ptr<SANetSocketStream> SANetClient::PrivateConnectionMadeGet() const
{
    std::lock_guard<std::mutex> guard(m_ConnectionLock);
    if (m_pConnection && m_pConnection->AddressRemoteHostOrderGet() != 0)
        return m_pConnection;
    return m_pConnectionMade;
}

int32_t SANetClient::LastDisconnectReasonGet() const
{
    return m_TaskLoopedNetReceiver.LastDisconnectReasonGet();
}

SANetStatisticsSnapshot SANetClient::StatisticsGet() const
{
    SANetStatisticsSnapshot s;
    const SANetStatistics& rings = m_TaskLoopedNetReceiver.StatisticsGet();
    s.m_HeadersReceived = rings.m_HeadersReceived.load(std::memory_order_relaxed);
    s.m_RingIndex = rings.m_RingIndex.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < SA_NET_STATISTICS_RING_SLOTS; ++i)
    {
        s.m_FrameTimeSum += rings.m_FrameTimeRing[i].load(std::memory_order_relaxed);
        s.m_IntervalSum += rings.m_IntervalRing[i].load(std::memory_order_relaxed);
        s.m_FrameBytesSum += rings.m_FrameBytesRing[i].load(std::memory_order_relaxed);
    }
    {
        std::lock_guard<std::mutex> guard(m_ConnectionLock);
        s.m_PacketsSent = m_PacketsSentBefore + (m_pConnection ? m_pConnection->PacketsSentGet() : 0);
    }
    if (std::shared_ptr<SANetSocketStream> stream = PrivateConnectionMadeGet())
    {
        s.m_AddressLocal = stream->AddressLocalHostOrderGet();
        s.m_AddressRemote = stream->AddressRemoteHostOrderGet();
        s.m_PortLocal = ntohs(stream->AddressLocalGet().sin_port);
        s.m_PortRemote = ntohs(stream->AddressRemoteGet().sin_port);
    }
    return s;
}

void SANetClient::ReceiverJoin()
{
    m_ThreadTaskLoopNetReceiver.Stop();
}
