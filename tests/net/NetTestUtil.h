#pragma once
// Helpers shared by the network tests: a listening socket on a loopback
// address and port 28252 (every test uses its own 127.0.0.x so that parallel
// runs never collide), and a capture of log lines.
#include "core/SALog.h"
#include "net/SANetProtocol.h"

#include <arpa/inet.h>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

class NetTestListener
{
public:
    // Binds hostOrderAddress:28252 with SO_REUSEADDR. receiveBuffer > 0 sets
    // SO_RCVBUF before listen, which accepted sockets inherit.
    explicit NetTestListener(uint32_t hostOrderAddress, int backlog = 4, int receiveBuffer = 0)
    {
        m_Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(m_Fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        if (receiveBuffer > 0)
            setsockopt(m_Fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(SA_NET_SERVER_PORT);
        a.sin_addr.s_addr = htonl(hostOrderAddress);
        m_Ok = bind(m_Fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 && listen(m_Fd, backlog) == 0;
    }
    ~NetTestListener()
    {
        if (m_Fd >= 0)
            close(m_Fd);
    }
    bool Ok() const { return m_Ok; }
    // Accepts one connection; -1 on failure. The caller closes it.
    int Accept(sockaddr_in* peer = nullptr)
    {
        sockaddr_in a{};
        socklen_t length = sizeof(a);
        int fd = accept4(m_Fd, reinterpret_cast<sockaddr*>(&a), &length, SOCK_CLOEXEC);
        if (peer)
            *peer = a;
        return fd;
    }
    // Accepts the viewer's connection and reads its connect request: the
    // connection, or -1 when either fails (the connection is then closed).
    int ViewerAccept()
    {
        int fd = Accept();
        uint8_t request[SA_CONNECT_REQUEST_SIZE];
        size_t got = 0;
        while (fd >= 0 && got < sizeof(request))
        {
            ssize_t n = recv(fd, request + got, sizeof(request) - got, 0);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        if (got == sizeof(request))
            return fd;
        if (fd >= 0)
            close(fd);
        return -1;
    }

private:
    int m_Fd = -1;
    bool m_Ok = false;
};

// Host-order 127.0.0.n.
inline uint32_t NetTestLoopback(uint32_t n)
{
    return 0x7F000000u | n;
}

// Collects every logged line while it lives; widens the mask to all
// categories and restores it afterwards.
class NetTestLogCapture
{
public:
    NetTestLogCapture()
    {
        m_SavedMask = SALogMaskGet();
        SALogMaskSet(0xFFFFFFFF);
        m_Id = SALogSinkAdd(
            [this](uint32_t, std::string_view line)
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Lines.emplace_back(line);
            });
    }
    ~NetTestLogCapture()
    {
        SALogSinkRemove(m_Id);
        SALogMaskSet(m_SavedMask);
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Lines;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Lines.clear();
    }
    // Number of lines that start with prefix.
    size_t Count(const std::string& prefix)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        size_t n = 0;
        for (const auto& l : m_Lines)
            n += l.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

private:
    std::mutex m_Lock;
    std::vector<std::string> m_Lines;
    int m_Id = 0;
    uint32_t m_SavedMask = 0;
};
