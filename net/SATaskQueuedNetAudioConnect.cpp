#include "net/SATaskQueuedNetAudioConnect.h"

#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "net/SAFrameMessages.h"
#include "net/SANetClient.h"
#include "net/SANetProtocol.h"
#include "net/SATaskLoopedNetAudioReceiverRenderer.h"

#include <utility>

SATaskQueuedNetAudioConnect::SATaskQueuedNetAudioConnect(uint32_t hostOrderAddress, std::string instanceId,
                                                         uint64_t connectId,
                                                         SATaskLoopedNetAudioReceiverRenderer* receiver,
                                                         SANetClient* client, SAMessageTarget* notifyTarget)
    : m_Address(hostOrderAddress), m_InstanceId(std::move(instanceId)), m_ConnectId(connectId),
      m_pReceiver(receiver), m_pClient(client), m_pNotifyTarget(notifyTarget)
{
}

SATaskQueuedNetAudioConnect::~SATaskQueuedNetAudioConnect() = default;

bool SATaskQueuedNetAudioConnect::OnExecute()
{
    SANetSocketStream& stream = m_pReceiver->ConnectionGet();
    // The loop of the last audio connection may still be ending (a server
    // Disconnect stops it on its own thread). Connected under it, the socket
    // would be read by that loop, played on, and closed by its exit.
    m_pClient->AudioLoopEndWait();
    // Cancelled while queued: a connect now could only be closed again.
    if (!m_pClient->AudioConnectWantedGet(m_ConnectId))
    {
        SALog(SA_LOG_AUDIO, "SATaskQueuedNetAudioConnect::OnExecute cancelled\n");
        delete this;
        return false;
    }
    if (!stream.TcpCreateConnect(m_Address, m_UseQos))
    {
        SALog(SA_LOG_FAILURE,
              "SATaskQueuedNetConnect::OnExecute m_NetSocketStream.TcpCreateConnect failed!\n");
        return PrivateFail();
    }
    stream.ReceiveBufferSizeSet();

    std::unique_ptr<uint8_t[]> request = SANetProtocol::PacketRequestAudio(m_InstanceId);
    if (!request)
    {
        SALog(SA_LOG_FAILURE, "SANetProtocol::PacketCreateConnectRequest failed! NO memory\n");
        return PrivateFail();
    }
    const bool sent = stream.Send(request.get(), SA_CONNECT_REQUEST_SIZE);
    request.reset();
    if (!sent)
    {
        SALog(SA_LOG_FAILURE,
              "SATaskQueuedNetConnectAudio::OnExecute m_TaskLoopedNetReceiverAudio.ConnectionGet()"
              ".Send failed! PacketRequestAudio\n");
        if (m_pClient->AudioConnectWantedGet(m_ConnectId))
            m_pNotifyTarget->Post(SA_WM_APP_AUDIO_FAILURE, 0, 0);
    }
    // The loop starts even after a failed send: its first receive fails on
    // the broken connection and ends it the regular way.
    m_pClient->AudioStart(m_ConnectId);
    delete this;
    return sent;
}

bool SATaskQueuedNetAudioConnect::PrivateFail()
{
    // A failure after a cancel is the cancel's own doing (it closes the
    // socket under a connect in progress): nothing to show.
    if (m_pClient->AudioConnectEnd(m_ConnectId))
        m_pNotifyTarget->Post(SA_WM_APP_AUDIO_FAILURE, 0, 0);
    else
        SALog(SA_LOG_AUDIO, "SATaskQueuedNetAudioConnect::OnExecute cancelled\n");
    delete this;
    return false;
}

void SATaskQueuedNetAudioConnect::OnRefused()
{
    // Refused only while the client stops the audio queue: nobody waits for
    // this connection any more.
    delete this;
}
