#include "net/SANetSocketStream.h"

#include "core/SALog.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

SANetSocketStream::SANetSocketStream(bool singleUse) : m_SingleUse(singleUse) {}

SANetSocketStream::~SANetSocketStream()
{
    Close();
}

int SANetSocketStream::PrivateUseBegin()
{
    m_Users.fetch_add(1);
    int fd = m_Socket.load();
    if (fd < 0)
        PrivateUseEnd();
    return fd;
}

void SANetSocketStream::PrivateUseEnd()
{
    if (m_Users.fetch_sub(1) == 1)
        m_Users.notify_all();
}

void SANetSocketStream::PrivateQOSFlowAttach(int socket)
{
    if (!m_QosFlow.Create(socket))
    {
        SALog(SA_LOG_FAILURE, "SANetSocketStream::PrivateQOSFlowAttach m_QosFlow.Create failed!\n");
        return;
    }
    if (!m_QosFlow.TrafficTypeSet())
        SALog(SA_LOG_FAILURE, "SANetSocketStream::PrivateQOSFlowAttach QOSTrafficTypeControl failed!\n");
}

bool SANetSocketStream::TcpCreateConnect(uint32_t hostOrderAddress, bool useQos)
{
    // A socket left from an earlier connection that its owner did not close.
    if (IsOpen() && !m_SingleUse)
        Close();

    uint64_t closes = 0;
    {
        std::lock_guard<std::mutex> guard(m_SocketLock);
        closes = m_CloseCount;
    }
    if (m_SingleUse && closes != 0)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketStream::TcpCreateConnect connect failed! %d\n", ECONNABORTED);
        return false;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketStream::TcpCreateConnect socket failed! %d\n", errno);
        return false;
    }
    {
        // Stored and in use at once: a Close between the two would close the
        // descriptor under the options set below, and its number could be
        // another file's by then.
        std::lock_guard<std::mutex> guard(m_SocketLock);
        if (m_CloseCount != closes)
        {
            close(fd);
            SALog(SA_LOG_FAILURE, "SANetSocketStream::TcpCreateConnect connect failed! %d\n", ECONNABORTED);
            return false;
        }
        m_Users.fetch_add(1);
        m_Socket.store(fd);
    }

    int noDelay = 1;
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay)) != 0)
    {
        int error = errno;
        PrivateUseEnd();
        SALog(SA_LOG_FAILURE, "SANetSocketStream::TcpCreateConnect setsockopt TCP_NODELAY failed! %d\n",
              error);
        return false;
    }

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(SA_NET_SERVER_PORT);
    destination.sin_addr.s_addr = htonl(hostOrderAddress);

    if (useQos)
        PrivateQOSFlowAttach(fd);

    // The connect is made non-blocking and waited for with poll, because a
    // blocking connect on Linux is not ended by a Close from another thread,
    // while a shutdown wakes poll at any moment (also when it comes before
    // the connect starts). The descriptor is registered like a send (above),
    // so that Close never closes it under us.
    int error = 0;
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        error = errno;
    else if (connect(fd, reinterpret_cast<const sockaddr*>(&destination), sizeof(destination)) != 0)
    {
        error = errno;
        if (error == EINPROGRESS || error == EINTR)
        {
            pollfd p{fd, POLLOUT, 0};
            int r;
            while ((r = poll(&p, 1, -1)) < 0 && errno == EINTR)
            {
            }
            socklen_t length = sizeof(error);
            if (r < 0)
                error = errno;
            else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            else if (error == 0 && (p.revents & POLLOUT) == 0)
                error = ECONNABORTED; // woken by a shutdown before the connect ended
        }
    }
    if (error == 0 && fcntl(fd, F_SETFL, flags) != 0)
        error = errno;
    if (error == 0 && m_Socket.load() != fd)
        error = ECONNABORTED; // closed while connecting
    if (error != 0)
    {
        PrivateUseEnd();
        SALog(SA_LOG_FAILURE, "SANetSocketStream::TcpCreateConnect connect failed! %d\n", error);
        return false;
    }

    sockaddr_in local{};
    socklen_t localLength = sizeof(local);
    int nameResult = getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength);
    int nameError = errno;
    PrivateUseEnd();
    if (nameResult != 0)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketStream::TcpCreateConnect getsockname failed! %d\n", nameError);
        return false;
    }
    std::lock_guard<std::mutex> guard(m_AddressLock);
    m_AddressLocal = local;
    m_AddressRemote = destination;
    return true;
}

void SANetSocketStream::SocketAdopt(int socket)
{
    if (IsOpen())
        Close();
    m_Socket.store(socket);
}

bool SANetSocketStream::ReceiveBufferSizeSet()
{
    int fd = PrivateUseBegin();
    if (fd < 0)
    {
        SALog(SA_LOG_FAILURE,
              "SANetSocketStream::ReceiveBufferSizeSet setsockopt failed! send buffer size errno:%d\n",
              EBADF);
        return false;
    }
    int requested = RECEIVE_BUFFER_SIZE;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &requested, sizeof(requested)) != 0)
    {
        int error = errno;
        PrivateUseEnd();
        SALog(SA_LOG_FAILURE,
              "SANetSocketStream::ReceiveBufferSizeSet setsockopt failed! send buffer size errno:%d\n",
              error);
        return false;
    }
    int actual = 0;
    socklen_t length = sizeof(actual);
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &actual, &length) != 0)
    {
        int error = errno;
        PrivateUseEnd();
        SALog(SA_LOG_FAILURE,
              "SANetSocketStream::ReceiveBufferSizeSet getsockopt failed! send buffer size errno:%d\n",
              error);
        return false;
    }
    PrivateUseEnd();
    if (actual != requested)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketStream::ReceiveBufferSizeSet failed! %d != %d\n", requested,
              actual);
        return false;
    }
    return true;
}

bool SANetSocketStream::Send(const void* buffer, size_t count)
{
    int fd = PrivateUseBegin();
    if (fd < 0)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketStream::Send send failed! Error:%d \n", EBADF);
        return false;
    }
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    size_t sent = 0;
    while (sent < count)
    {
        // MSG_NOSIGNAL: a peer that went away must fail the send, not raise
        // SIGPIPE and end the process.
        ssize_t n = send(fd, p + sent, count - sent, MSG_NOSIGNAL);
        if (n < 0)
        {
            int error = errno;
            if (error == EINTR)
                continue;
            PrivateUseEnd();
            SALog(SA_LOG_FAILURE, "SANetSocketStream::Send send failed! Error:%d \n", error);
            return false;
        }
        if (n == 0)
        {
            PrivateUseEnd();
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    PrivateUseEnd();
    m_PacketsSent.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool SANetSocketStream::HeaderSend(const SAPacketHeader& header)
{
    return Send(header.m_Bytes, SA_PACKET_HEADER_SIZE);
}

bool SANetSocketStream::ReceiveTcpStream(void* buffer, size_t count)
{
    if (count == 0)
        return true;
    int fd = PrivateUseBegin();
    if (fd < 0)
    {
        SALog(SA_LOG_FAILURE, "SANetSocketStream::ReceiveTcpStream recv failed! Error:%d \n", EBADF);
        return false;
    }
    uint8_t* p = static_cast<uint8_t*>(buffer);
    size_t received = 0;
    while (received < count)
    {
        PrivateLowMarkFit(fd, count - received);
        ssize_t n = recv(fd, p + received, count - received, 0);
        if (n < 0)
        {
            int error = errno;
            if (error == EINTR)
                continue;
            PrivateUseEnd();
            SALog(SA_LOG_FAILURE, "SANetSocketStream::ReceiveTcpStream recv failed! Error:%d \n", error);
            return false;
        }
        if (n == 0)
        {
            PrivateUseEnd();
            return false;
        }
        received += static_cast<size_t>(n);
    }
    PrivateUseEnd();
    return true;
}

void SANetSocketStream::PrivateLowMarkFit(int fd, size_t remaining)
{
    // A large payload read wakes this thread once 128 KiB are in, not for
    // every segment: at raw 1080p60 the receiving thread costs about a tenth
    // less. The kernel wakes a sleeping reader only once a whole mark of
    // unread bytes is in, also when the read has already taken some: a read
    // sleeps only while it has taken less than the mark, so a mark of at
    // most half of what is still to come can always be met by this
    // payload's own bytes. Small reads (headers) run with the default of one
    // byte.
    int mark = 1;
    if (remaining / 2 >= LOW_MARK_MIN)
        mark = static_cast<int>(std::min(remaining / 2, static_cast<size_t>(LOW_MARK_MAX)));
    if (fd == m_LowMarkSocket && mark == m_LowMark)
        return;
    // Best effort: where it fails the reader only wakes more often.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &mark, sizeof(mark)) == 0)
    {
        m_LowMarkSocket = fd;
        m_LowMark = mark;
    }
}

bool SANetSocketStream::ReceiveDiscard(size_t count)
{
    uint8_t scratch[16384];
    while (count > 0)
    {
        const size_t chunk = std::min(count, sizeof(scratch));
        if (!ReceiveTcpStream(scratch, chunk))
            return false;
        count -= chunk;
    }
    return true;
}

bool SANetSocketStream::SocketOptionGet(int level, int name, int& value)
{
    int fd = PrivateUseBegin();
    if (fd < 0)
        return false;
    socklen_t length = sizeof(value);
    bool ok = getsockopt(fd, level, name, &value, &length) == 0;
    PrivateUseEnd();
    return ok;
}

void SANetSocketStream::Close()
{
    m_QosFlow.Destroy();

    int fd = -1;
    {
        std::lock_guard<std::mutex> guard(m_SocketLock);
        ++m_CloseCount;
        fd = m_Socket.exchange(-1);
    }
    if (fd < 0)
        return;
    if (shutdown(fd, SHUT_RDWR) != 0)
        SALog(SA_LOG_FAILURE, "SANetSocketStream::Close shutdown failed! %d\n", errno);
    // The shutdown has woken every blocked call on the descriptor; wait until
    // they have left it before its number can be given to a new file.
    for (int users = m_Users.load(); users != 0; users = m_Users.load())
        m_Users.wait(users);
    if (close(fd) != 0)
        SALog(SA_LOG_FAILURE, "SANetSocketStream::Close close failed! %d\n", errno);
}

sockaddr_in SANetSocketStream::AddressLocalGet() const
{
    std::lock_guard<std::mutex> guard(m_AddressLock);
    return m_AddressLocal;
}

sockaddr_in SANetSocketStream::AddressRemoteGet() const
{
    std::lock_guard<std::mutex> guard(m_AddressLock);
    return m_AddressRemote;
}

uint32_t SANetSocketStream::AddressLocalHostOrderGet() const
{
    return ntohl(AddressLocalGet().sin_addr.s_addr);
}

uint32_t SANetSocketStream::AddressRemoteHostOrderGet() const
{
    return ntohl(AddressRemoteGet().sin_addr.s_addr);
}
