#include "peer/PeerSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

PeerSocket::~PeerSocket()
{
    Close();
}

bool PeerSocket::Send(const void* first, size_t firstBytes, const void* second, size_t secondBytes)
{
    iovec parts[2] = {{const_cast<void*>(first), firstBytes}, {const_cast<void*>(second), secondBytes}};
    int count = (second != nullptr && secondBytes > 0) ? 2 : 1;
    iovec* next = parts;
    while (count > 0)
    {
        msghdr message = {};
        message.msg_iov = next;
        message.msg_iovlen = static_cast<size_t>(count);
        ssize_t sent = sendmsg(m_Fd, &message, MSG_NOSIGNAL);
        if (sent < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            return false;
        }
        if (sent == 0)
        {
            return false;
        }
        size_t left = static_cast<size_t>(sent);
        while (count > 0 && left >= next->iov_len)
        {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0)
        {
            next->iov_base = static_cast<uint8_t*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    return true;
}

bool PeerSocket::Receive(void* buffer, size_t bytes)
{
    uint8_t* p = static_cast<uint8_t*>(buffer);
    while (bytes > 0)
    {
        ssize_t got = recv(m_Fd, p, bytes, 0);
        if (got < 0 && errno == EINTR)
        {
            continue;
        }
        if (got <= 0)
        {
            return false;
        }
        p += got;
        bytes -= static_cast<size_t>(got);
    }
    return true;
}

bool PeerSocket::ReceiveBefore(void* buffer, size_t bytes, std::chrono::steady_clock::time_point deadline,
                               bool& late)
{
    late = false;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    while (bytes > 0)
    {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
        {
            late = true;
            return false;
        }
        // A shutdown from another thread wakes the poll (the socket reads
        // end of stream).
        pollfd fd = {m_Fd, POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX)));
        if (ready < 0 && errno != EINTR)
        {
            return false;
        }
        if (ready <= 0)
        {
            continue;
        }
        ssize_t got = recv(m_Fd, p, bytes, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        {
            continue;
        }
        if (got <= 0)
        {
            return false;
        }
        p += got;
        bytes -= static_cast<size_t>(got);
    }
    return true;
}

bool PeerSocket::Skip(size_t bytes)
{
    uint8_t scratch[4096];
    while (bytes > 0)
    {
        size_t chunk = bytes < sizeof(scratch) ? bytes : sizeof(scratch);
        if (!Receive(scratch, chunk))
        {
            return false;
        }
        bytes -= chunk;
    }
    return true;
}

void PeerSocket::ShutdownWrite()
{
    if (m_Fd >= 0)
    {
        shutdown(m_Fd, SHUT_WR);
    }
}

void PeerSocket::ShutdownBoth()
{
    if (m_Fd >= 0)
    {
        shutdown(m_Fd, SHUT_RDWR);
    }
}

void PeerSocket::Close()
{
    if (m_Fd >= 0)
    {
        close(m_Fd);
        m_Fd = -1;
    }
}

std::string PeerSocket::RemoteText() const
{
    sockaddr_in address = {};
    socklen_t length = sizeof(address);
    if (m_Fd < 0 || getpeername(m_Fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    {
        return "?";
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}
