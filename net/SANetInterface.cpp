#include "net/SANetInterface.h"

#include "core/PSEvent.h"
#include "core/SALog.h"
#include "net/SANetProtocol.h"

namespace
{
void PrivateAddressLog(const char* prefix, uint32_t address, const char* suffix)
{
    SALog(SA_LOG_DISCOVERY, "%s %d.%d.%d.%d %s\n", prefix, (address >> 24) & 0xFF, (address >> 16) & 0xFF,
          (address >> 8) & 0xFF, address & 0xFF, suffix);
}
} // namespace

SANetInterface::SANetInterface() : m_Receiver(this) {}

SANetInterface::~SANetInterface()
{
    ReceiverStop();
}

bool SANetInterface::Initialize(uint32_t address, uint32_t broadcast)
{
    m_Address = address;
    m_Broadcast = broadcast;
    if (!m_Socket.UdpCreateBind(address))
    {
        SALog(SA_LOG_FAILURE, "SANetInterface::Initialize UdpCreateBind failed!\n");
        m_Socket.Close();
        return false;
    }
    if (!m_Socket.UdpSetBroadcast())
    {
        SALog(SA_LOG_FAILURE, "SANetInterface::Initialize  UdpSetBroadcast failed!\n");
        m_Socket.Close();
        return false;
    }
    return true;
}

bool SANetInterface::UdpSendBroadcast(const uint8_t* request)
{
    bool sent = m_Socket.SendTo(request, m_Broadcast, SA_NET_SERVER_PORT);
    PrivateAddressLog(sent ? "SANetInterface::UdpSendBroadcast         Adapter IP:"
                           : "SANetInterface::UdpSendBroadcast failed! Adapter IP:",
                      m_Address, "");
    return sent;
}

bool SANetInterface::UdpSendUnicast(const uint8_t* request, uint32_t targetAddress, uint16_t targetPort)
{
    bool sent = m_Socket.SendTo(request, targetAddress, targetPort);
    PrivateAddressLog(sent ? "SANetInterface::UdpSendUnicast:          Adapter IP:"
                           : "SANetInterface::UdpSendUnicast failed!   Adapter IP:",
                      m_Address, "");
    PrivateAddressLog("                                         Unicast IP:", targetAddress, "");
    return sent;
}

bool SANetInterface::ReceiverThreadStart(SAListDiscovery* list)
{
    if (!m_Receiver.ListSet(list))
    {
        SALog(SA_LOG_FAILURE, "SANetInterface::ReceiverThreadStart failed!\n");
        return false;
    }
    if (!m_ReceiverThread.Start(&m_Receiver))
    {
        m_Receiver.ListReset();
        return false;
    }
    return true;
}

void SANetInterface::ReceiverStop()
{
    // Wake the blocked receive first; the descriptor is closed only once the
    // receiver can no longer be inside recvfrom.
    m_Socket.ShutdownRequest();
    m_ReceiverThread.Wait(PS_INFINITE);
    m_ReceiverThread.Close();
    m_Socket.Close();
}
