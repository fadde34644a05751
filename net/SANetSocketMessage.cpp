#include "net/SANetSocketMessage.h"

#include "core/SALog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

SANetSocketMessage::SANetSocketMessage() = default;

SANetSocketMessage::~SANetSocketMessage()
{
    Close();
}

bool SANetSocketMessage::UdpCreateBind(uint32_t localAddress)
{
    Close();
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketMessage::UdpCreateBind socket failed! %d\n", errno);
        return false;
    }
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(localAddress);
    local.sin_port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketMessage::UdpCreateBind bind failed! %d\n", errno);
        close(fd);
        return false;
    }
    m_ShutDown.store(false);
    m_Socket = fd;
    return true;
}

bool SANetSocketMessage::UdpSetBroadcast()
{
    int one = 1;
    if (setsockopt(m_Socket, SOL_SOCKET, SO_BROADCAST, &one, sizeof(one)) != 0)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketMessage::UdpSetBroadcast setsockopt SO_BROADCAST failed! %d\n",
              errno);
        return false;
    }
    // No SO_DONTROUTE: where the option was meant to be harmless it is
    // ignored and the routing table is consulted, but here it limits every
    // send to directly attached networks, and a lookup by address must reach
    // a server the user named behind a router (broadcasts stay on their own
    // network regardless).
    int ttl = 255;
    if (setsockopt(m_Socket, IPPROTO_IP, IP_TTL, &ttl, sizeof(ttl)) != 0)
        SALog(SA_LOG_FAILURE, "SANetSocketMessage::UdpSetBroadcast setsockopt IP_TTL failed! %d\n", errno);
    return true;
}

bool SANetSocketMessage::SendTo(const uint8_t* buffer, uint32_t address, uint16_t port)
{
    if (m_Socket < 0)
    {
        SALog(SA_LOG_DISCOVERY, "SANetSocketMessage::SendTo m_Socket == INVALID_SOCKET\n");
        return false;
    }
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(address);
    target.sin_port = htons(port);
    ssize_t sent = sendto(m_Socket, buffer, SA_NET_DISCOVERY_REQUEST_SIZE, MSG_NOSIGNAL,
                          reinterpret_cast<sockaddr*>(&target), sizeof(target));
    if (sent != static_cast<ssize_t>(SA_NET_DISCOVERY_REQUEST_SIZE))
    {
        int error = sent < 0 ? errno : EMSGSIZE;
        SALog(SA_LOG_DISCOVERY, "%s %d.%d.%d.%d Error: %d\n",
              "SANetSocketMessage::SendTo failed! IpAddress:", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
              (address >> 8) & 0xFF, address & 0xFF, error);
        return false;
    }
    return true;
}

SANetReceiveResult SANetSocketMessage::ReceiveFrom(uint8_t* buffer, size_t capacity, size_t* pSize,
                                                   uint32_t* pSender)
{
    sockaddr_in sender = {};
    socklen_t senderSize = sizeof(sender);
    // MSG_TRUNC reports the datagram's real length, so a longer datagram is
    // recognised instead of being cut silently.
    ssize_t got =
        recvfrom(m_Socket, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sender), &senderSize);
    int error = errno;
    if (m_ShutDown.load())
    {
        // After a shutdown recvfrom returns 0 as for an empty datagram.
        SALog(SA_LOG_FAILURE, "SANetSocketMessage::ReceiveFrom recvfrom failed! Error:%d \n", ESHUTDOWN);
        return SANetReceiveResult::Failed;
    }
    if (got < 0)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketMessage::ReceiveFrom recvfrom failed! Error:%d \n", error);
        if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)
            return SANetReceiveResult::TimedOut;
        return SANetReceiveResult::Failed;
    }
    if (static_cast<size_t>(got) > capacity)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketMessage::ReceiveFrom recvfrom failed! Error:%d \n", EMSGSIZE);
        return SANetReceiveResult::Failed;
    }
    *pSize = static_cast<size_t>(got);
    *pSender = ntohl(sender.sin_addr.s_addr);
    return SANetReceiveResult::Datagram;
}

void SANetSocketMessage::ShutdownRequest()
{
    if (m_Socket < 0 || m_ShutDown.exchange(true))
        return;
    // An unconnected UDP socket reports ENOTCONN here but is shut down all the same.
    if (shutdown(m_Socket, SHUT_RDWR) != 0 && errno != ENOTCONN)
        SALog(SA_LOG_FAILURE, "SANetSocketMessage::Close shutdown failed! %d\n", errno);
}

void SANetSocketMessage::Close()
{
    if (m_Socket < 0)
        return;
    ShutdownRequest();
    if (close(m_Socket) != 0)
        SALog(SA_LOG_FAILURE, "SANetSocketMessage::Close closesocket failed! %d\n", errno);
    m_Socket = -1;
}

uint16_t SANetSocketMessage::LocalPortGet() const
{
    if (m_Socket < 0)
        return 0;
    sockaddr_in local = {};
    socklen_t size = sizeof(local);
    if (getsockname(m_Socket, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return 0;
    return ntohs(local.sin_port);
}
