#include "net/SATaskQueuedNetTransmit.h"

#include "core/SALog.h"
#include "net/SANetSocketStream.h"

SATaskQueuedNetTransmit::SATaskQueuedNetTransmit(std::shared_ptr<SANetSocketStream> stream,
                                                 const SAPacketHeader& header)
    : m_pNetSocketStream(std::move(stream)), m_PacketHeader(header)
{
}

SATaskQueuedNetTransmit::SATaskQueuedNetTransmit(std::shared_ptr<SANetSocketStream> stream,
                                                 std::unique_ptr<uint8_t[]> packet)
    : m_pNetSocketStream(std::move(stream)), m_pPacket(std::move(packet))
{
    m_PacketHeader = SAPacketHeader::FromBytes(m_pPacket.get());
}

SATaskQueuedNetTransmit::~SATaskQueuedNetTransmit() = default;

bool SATaskQueuedNetTransmit::OnExecute()
{
    bool sent = false;
    if (!m_pNetSocketStream->IsOpen())
    {
        // Closed: whatever is still queued for this connection goes unsent.
    }
    else if (m_pPacket)
    {
        sent =
            m_pNetSocketStream->Send(m_pPacket.get(), SA_PACKET_HEADER_SIZE + m_PacketHeader.ByteCountGet());
        if (!sent)
            SALog(SA_LOG_FAILURE, "SATaskQueuedNetTransmit::OnExecute m_NetSocketStream.Send failed!\n");
    }
    else
    {
        sent = m_pNetSocketStream->HeaderSend(m_PacketHeader);
        if (!sent)
            SALog(SA_LOG_FAILURE,
                  "SATaskQueuedNetTransmit::OnExecute m_NetSocketStream.Send failed! m_PacketHeader\n");
    }
    delete this;
    return sent;
}

void SATaskQueuedNetTransmit::OnRefused()
{
    delete this;
}
