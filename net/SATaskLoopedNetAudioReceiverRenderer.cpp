#include "net/SATaskLoopedNetAudioReceiverRenderer.h"

#include "core/PSThreadBase.h"
#include "core/SALog.h"
#include "net/SANetClient.h"
#include "net/SANetProtocol.h"

#include <memory>
#include <new>

SATaskLoopedNetAudioReceiverRenderer::SATaskLoopedNetAudioReceiverRenderer(SANetClient* client,
                                                                           SAMessageTarget* notifyTarget)
    : m_pNotifyTarget(notifyTarget), m_pClient(client)
{
}

SATaskLoopedNetAudioReceiverRenderer::~SATaskLoopedNetAudioReceiverRenderer() = default;

bool SATaskLoopedNetAudioReceiverRenderer::OnEntry()
{
    PSThreadBase::PrioritySet(PS_THREAD_PRIORITY_NORMAL);
    if (!m_AudioRenderer.Initialize())
    {
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedNetAudioReceiverRenderer::OnEntry failed! m_AudioRenderer.Initialize\n");
        return false;
    }
    if (!m_AudioRenderer.Start())
    {
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedNetAudioReceiverRenderer::OnEntry failed! m_AudioRenderer.Start\n");
        return false;
    }
    if (!m_LatencyControl.Initialize())
    {
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedNetAudioReceiverRenderer::OnEntry failed! m_LatencyControl.Initialize\n");
        return false;
    }
    m_AudioRenderer.QueueLimitSet(SA_AUDIO_QUEUE_LIMIT_MS * (SA_AUDIO_STREAM_RATE / 1000));
    m_HeadersReceived.store(0, std::memory_order_relaxed);
    return true;
}

bool SATaskLoopedNetAudioReceiverRenderer::OnExecute()
{
    SAPacketHeader header;
    if (!m_NetSocketStream.ReceiveTcpStream(header.m_Bytes, SA_PACKET_HEADER_SIZE))
    {
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedNetAudioReceiverRenderer::OnExecute failed! m_NetSocketStream.ReceiveTcpStream "
              "(header)\n");
        return false;
    }
    m_HeadersReceived.fetch_add(1, std::memory_order_relaxed);

    const SAPacketVerdict verdict = SANetProtocol::PacketCheck(header);
    if (verdict != SAPacketVerdict::Valid)
    {
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedNetAudioReceiverRenderer::OnExecute failed! SANetProtocol::PacketValidate\n");
        if (verdict == SAPacketVerdict::StreamBroken)
            return false;
        if (verdict == SAPacketVerdict::PayloadSkip &&
            !m_NetSocketStream.ReceiveDiscard(header.ByteCountGet()))
            return false;
        return true;
    }

    const uint32_t type = header.HeaderTypeGet();
    const uint32_t byteCount = header.ByteCountGet();
    if (type != SA_HEADER_AUDIO_DATA)
    {
        // Only AudioData is kept: any other payload is read past in small
        // pieces, whatever its header announces.
        if (!m_NetSocketStream.ReceiveDiscard(byteCount))
        {
            SALog(
                SA_LOG_FAILURE,
                "SATaskLoopedNetAudioReceiverRenderer::OnExecute failed! m_NetSocketStream.ReceiveTcpStream "
                "(data)\n");
            return false;
        }
        if (type == SA_HEADER_DISCONNECT)
        {
            // Runs on this loop thread: the client answers, closes the socket
            // and does not wait for this thread; the next receive fails and
            // the loop ends by itself.
            m_pClient->AudioDisconnect();
            return true;
        }
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedNetAudioReceiverRenderer::OnExecute failed! Invalid packet header type %d\n",
              static_cast<int>(type));
        return true;
    }
    if (byteCount == 0)
        return true;
    if (byteCount > SA_AUDIO_PACKET_BYTE_LIMIT)
    {
        // No server sends this; reading it would only let a stream hold the
        // viewer's memory at will.
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedNetAudioReceiverRenderer::OnExecute failed! AudioData of %u bytes above %u\n",
              byteCount, SA_AUDIO_PACKET_BYTE_LIMIT);
        return false;
    }
    std::unique_ptr<uint8_t[]> payload(new (std::nothrow) uint8_t[byteCount]);
    if (!payload)
    {
        SALog(SA_LOG_FAILURE, "SATaskLoopedNetAudioReceiverRenderer::OnExecute failed! no memory\n");
        return false;
    }
    if (!m_NetSocketStream.ReceiveTcpStream(payload.get(), byteCount))
    {
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedNetAudioReceiverRenderer::OnExecute failed! m_NetSocketStream.ReceiveTcpStream "
              "(data)\n");
        return false;
    }
    // The queue is measured before the packet joins it: the control keeps
    // it near its target and decides what of the packet is played.
    m_LatencyControl.PacketProcess(payload.get(), byteCount, m_AudioRenderer.QueuedFramesGet(), m_Played);
    if (!m_Played.empty())
        m_AudioRenderer.Render(m_Played.data(), m_Played.size());
    return true;
}

void SATaskLoopedNetAudioReceiverRenderer::OnExit()
{
    SALog(SA_LOG_AUDIO, "SATaskLoopedNetAudioReceiverRenderer::OnExit\n");
    m_NetSocketStream.Close();
    m_AudioRenderer.Stop();
    m_AudioRenderer.Release();
    m_LatencyControl.Release();
}

void SATaskLoopedNetAudioReceiverRenderer::StopRequest()
{
    // The viewer's Disconnect on the audio connection always carries 0.
    m_NetSocketStream.HeaderSend(SAPacketDisconnect(0));
    m_NetSocketStream.Close();
    // A packet larger than the free buffer may hold the loop in Render; it
    // must not outlast the stop by the rest of the packet's playing time.
    m_AudioRenderer.RenderCancel();
}
