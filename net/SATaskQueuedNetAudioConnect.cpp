#include "net/SATaskQueuedNetAudioConnect.h"

#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "net/SAFrameMessages.h"
#include "net/SANetClient.h"
#include "net/SANetProtocol.h"
#include "net/SATaskLoopedNetAudioReceiverRenderer.h"

#include <utility>

SATaskQueuedNetAudioConnect::SATaskQueuedNetAudioConnect(uint32_t hostOrderAddress, std::string instanceId,
                                                         SATaskLoopedNetAudioReceiverRenderer* receiver,
                                                         SANetClient* client, SAMessageTarget* notifyTarget)
    : m_Address(hostOrderAddress), m_InstanceId(std::move(instanceId)), m_pReceiver(receiver),
      m_pClient(client), m_pNotifyTarget(notifyTarget)
{
}

SATaskQueuedNetAudioConnect::~SATaskQueuedNetAudioConnect() = default;

bool SATaskQueuedNetAudioConnect::OnExecute()
{
    SANetSocketStream& stream = m_pReceiver->ConnectionGet();
    if (!stream.TcpCreateConnect(m_Address, m_UseQos))
    {
        SALog(SA_LOG_FAILURE,
              "SATaskQueuedNetConnect::OnExecute m_NetSocketStream.TcpCreateConnect failed!\n");
        m_pNotifyTarget->Post(SA_WM_APP_AUDIO_FAILURE, 0, 0);
        delete this;
        return false;
    }
    stream.ReceiveBufferSizeSet();

    std::unique_ptr<uint8_t[]> request = SANetProtocol::PacketRequestAudio(m_InstanceId);
    if (!request)
    {
        SALog(SA_LOG_FAILURE, "SANetProtocol::PacketCreateConnectRequest failed! NO memory\n");
        m_pNotifyTarget->Post(SA_WM_APP_AUDIO_FAILURE, 0, 0);
        delete this;
        return false;
    }
    const bool sent = stream.Send(request.get(), SA_CONNECT_REQUEST_SIZE);
    request.reset();
    if (!sent)
    {
        SALog(SA_LOG_FAILURE,
              "SATaskQueuedNetConnectAudio::OnExecute m_TaskLoopedNetReceiverAudio.ConnectionGet()"
              ".Send failed! PacketRequestAudio\n");
        m_pNotifyTarget->Post(SA_WM_APP_AUDIO_FAILURE, 0, 0);
    }
    // The loop starts even after a failed send: its first receive fails on
    // the broken connection and ends it the regular way.
    m_pClient->AudioStart();
    delete this;
    return sent;
}

void SATaskQueuedNetAudioConnect::OnRefused()
{
    // Refused only while the client stops the audio queue: nobody waits for
    // this connection any more.
    delete this;
}
