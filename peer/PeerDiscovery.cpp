#include "peer/PeerDiscovery.h"

#include "core/SALog.h"
#include "net/SANetProtocol.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
constexpr size_t PEER_DISCOVERY_REQUEST_SIZE = 1024;
constexpr char PEER_DISCOVERY_TAG[] = "QUILLMERE-NET-CLIENT"; // with its terminator: 21 bytes
constexpr size_t PEER_DISCOVERY_RECORD_SIZE = 308;

// UTF-8 to UTF-16 code units; a malformed byte becomes U+FFFD.
std::u16string PrivateUtf16(const std::string& text)
{
    std::u16string out;
    for (size_t i = 0; i < text.size();)
    {
        uint8_t lead = static_cast<uint8_t>(text[i]);
        size_t length = lead < 0x80           ? 1
                        : (lead >> 5) == 0x6  ? 2
                        : (lead >> 4) == 0xE  ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 0;
        if (length == 0 || i + length > text.size())
        {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        if (code >= 0x10000)
        {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        }
        else
        {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

// The broadcast address of the interface holding address, or 0.
uint32_t PrivateBroadcastOf(uint32_t address)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return 0;
    uint32_t broadcast = 0;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next)
    {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            entry->ifa_netmask == nullptr)
            continue;
        uint32_t own = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        uint32_t mask = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
        if (own == address && mask != 0xFFFFFFFFu && (entry->ifa_flags & IFF_BROADCAST) != 0)
        {
            broadcast = address | ~mask;
            break;
        }
    }
    freeifaddrs(list);
    return broadcast;
}
} // namespace

PeerDiscovery::PeerDiscovery(const PeerOptions& options) : m_Options(options) {}

PeerDiscovery::~PeerDiscovery()
{
    StopRequest();
    Join();
    for (int fd : m_Fds)
        close(fd);
    m_Fds.clear();
    for (int& fd : m_WakePipe)
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

bool PeerDiscovery::RequestIsValid(const uint8_t* bytes, size_t size)
{
    return size == PEER_DISCOVERY_REQUEST_SIZE &&
           std::memcmp(bytes, PEER_DISCOVERY_TAG, sizeof(PEER_DISCOVERY_TAG)) == 0;
}

std::vector<uint8_t> PeerDiscovery::ReplyBuild(const PeerOptions& options, uint32_t localAddress, size_t size)
{
    // Written here on its own rather than with the viewer's record code, so
    // the tests that run both check one against the other.
    uint8_t bytes[PEER_DISCOVERY_RECORD_SIZE] = {};
    std::u16string name = PrivateUtf16(options.Name);
    for (size_t i = 0; i < name.size() && i < 127; ++i)
    {
        bytes[2 * i] = static_cast<uint8_t>(name[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(name[i] >> 8);
    }
    auto put = [&bytes](size_t offset, uint32_t value, size_t width)
    {
        for (size_t i = 0; i < width; ++i)
            bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put(256, localAddress, 4);
    put(260, SA_NET_SERVER_PORT, 2);
    put(280, options.Features, 4);
    std::vector<uint8_t> reply(size, 0);
    std::memcpy(reply.data(), bytes, std::min(size, sizeof(bytes)));
    return reply;
}

bool PeerDiscovery::PrivateSocketOpen(uint32_t address, bool packetInfo, std::string& error)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
    {
        error = std::string("udp socket: ") + std::strerror(errno);
        SALog(SA_LOG_FAILURE, "PeerDiscovery::PrivateSocketOpen failed! socket %d\n", errno);
        return false;
    }
    int one = 1;
    // Several peers (and a test's counting socket) share the port on one host.
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (packetInfo)
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof(one));
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(address);
    local.sin_port = htons(SA_NET_SERVER_PORT);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0)
    {
        char text[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &local.sin_addr, text, sizeof(text));
        error = std::string("udp bind ") + text + ":28252: " + std::strerror(errno);
        SALog(SA_LOG_FAILURE, "PeerDiscovery::PrivateSocketOpen failed! bind %s %d\n", text, errno);
        close(fd);
        return false;
    }
    m_Fds.push_back(fd);
    return true;
}

bool PeerDiscovery::Start(std::string& error)
{
    in_addr parsed = {};
    if (inet_pton(AF_INET, m_Options.BindAddress.c_str(), &parsed) != 1)
    {
        error = "invalid bind address " + m_Options.BindAddress;
        return false;
    }
    m_BindAddress = ntohl(parsed.s_addr);
    if (pipe2(m_WakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        error = std::string("pipe2: ") + std::strerror(errno);
        return false;
    }
    if (!PrivateSocketOpen(m_BindAddress, true, error))
        return false;
    m_UnicastFd = m_Fds[0];
    if (m_BindAddress != 0)
    {
        // A socket bound to a unicast address does not hear broadcasts.
        uint32_t broadcast = PrivateBroadcastOf(m_BindAddress);
        if (broadcast != 0 && !PrivateSocketOpen(broadcast, false, error))
            return false;
    }
    try
    {
        m_Thread = std::thread(&PeerDiscovery::PrivateLoop, this);
    }
    catch (const std::exception& e)
    {
        error = e.what();
        return false;
    }
    return true;
}

void PeerDiscovery::StopRequest()
{
    m_StopRequested.store(true);
    if (m_WakePipe[1] >= 0)
    {
        char byte = 1;
        ssize_t ignored = write(m_WakePipe[1], &byte, 1);
        (void)ignored;
    }
}

void PeerDiscovery::Join()
{
    if (m_Thread.joinable())
        m_Thread.join();
}

void PeerDiscovery::PrivateServe(int fd)
{
    uint8_t request[PEER_DISCOVERY_REQUEST_SIZE + 1];
    sockaddr_in source = {};
    iovec vector = {request, sizeof(request)};
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message = {};
    message.msg_name = &source;
    message.msg_namelen = sizeof(source);
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t got = recvmsg(fd, &message, MSG_DONTWAIT | MSG_TRUNC);
    if (got < 0 || !RequestIsValid(request, static_cast<size_t>(got)) || (message.msg_flags & MSG_TRUNC) != 0)
        return;

    uint32_t local = m_BindAddress;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); local == 0 && c != nullptr; c = CMSG_NXTHDR(&message, c))
    {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
        {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof(info));
            local = ntohl(info.ipi_spec_dst.s_addr);
        }
    }
    std::vector<uint8_t> reply = ReplyBuild(m_Options, local, m_Options.DiscoveryReplySize);
    // Always from the unicast socket, so the reply's source is the peer's own address.
    if (sendto(m_UnicastFd, reply.data(), reply.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&source),
               sizeof(source)) < 0)
    {
        SALog(SA_LOG_FAILURE, "PeerDiscovery::PrivateServe failed! sendto %d\n", errno);
        return;
    }
    m_RequestsAnswered.fetch_add(1);
}

void PeerDiscovery::PrivateLoop()
{
    std::vector<pollfd> fds;
    for (int fd : m_Fds)
        fds.push_back({fd, POLLIN, 0});
    fds.push_back({m_WakePipe[0], POLLIN, 0});
    while (!m_StopRequested.load())
    {
        int ready = poll(fds.data(), fds.size(), -1);
        if (ready < 0)
        {
            if (errno == EINTR)
                continue;
            SALog(SA_LOG_FAILURE, "PeerDiscovery::PrivateLoop failed! poll %d\n", errno);
            break;
        }
        for (size_t i = 0; i + 1 < fds.size(); ++i)
        {
            if (fds[i].revents & POLLIN)
                PrivateServe(fds[i].fd);
        }
    }
}
