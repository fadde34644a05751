#pragma once
// The viewer's blocking TCP client socket to a server's port 28252: connect
// (optionally with traffic marking), a larger receive buffer, whole-buffer
// sends and exact-count receives.
//
// Threads: one thread connects and sends (the transmit worker), another
// receives (the receiver loop), and Close may come from any thread, also
// twice at once. Close takes the descriptor out with an atomic exchange,
// shuts the socket down (which wakes a blocked recv or send, and aborts a
// connect in progress), waits until no send or receive call still uses the
// descriptor, and only then closes it, so a descriptor number is never
// reused under a running call. TcpCreateConnect stores its new descriptor
// and registers itself as a user of it in one step under m_SocketLock, and a
// Close that comes while it runs makes it fail, so it never sets an option
// on a number that a Close has given back. The addresses are guarded by
// m_AddressLock; the packet counter is atomic. A reusable stream serves
// every connection of its owner (Close does not reset the counter or the
// addresses); a single-use stream serves one connection, and a Close ends it
// for good, even one that comes before its connect has begun.
#include "net/SANetProtocol.h"
#include "net/SANetQosFlow.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <netinet/in.h>

class SANetSocketStream
{
public:
    static constexpr int RECEIVE_BUFFER_SIZE = 250000;

    // singleUse: one connection only; every connect after a Close fails.
    explicit SANetSocketStream(bool singleUse = false);
    virtual ~SANetSocketStream();
    SANetSocketStream(const SANetSocketStream&) = delete;
    SANetSocketStream& operator=(const SANetSocketStream&) = delete;

    // Connects to hostOrderAddress:28252. Blocks for the system's connect
    // time-out. A failure leaves the socket for the next Close.
    bool TcpCreateConnect(uint32_t hostOrderAddress, bool useQos);
    // Takes over an already connected stream socket (one end of a socket
    // pair for the fuzzers), closing any earlier one. The addresses stay as
    // they were.
    void SocketAdopt(int socket);
    // Asks for a 250000-byte receive buffer; false when the system grants a
    // different size (Linux reports twice the request). Callers go on either
    // way.
    bool ReceiveBufferSizeSet();
    // Sends all bytes; counts one packet on success (also for count 0).
    bool Send(const void* buffer, size_t count);
    // Sends a header-only packet with the same loop and counting as Send.
    bool HeaderSend(const SAPacketHeader& header);
    // Fills exactly count bytes. False on a socket error (logged) or when the
    // peer closed the stream (not logged).
    bool ReceiveTcpStream(void* buffer, size_t count);
    // Reads count bytes and drops them, through a small buffer of its own
    // (the count comes from the network). Fails as ReceiveTcpStream does.
    bool ReceiveDiscard(size_t count);
    // Idempotent; safe from any thread, concurrently with everything above.
    void Close();

    bool IsOpen() const { return m_Socket.load() >= 0; }
    // getsockopt of an int option on the open socket; false when closed.
    bool SocketOptionGet(int level, int name, int& value);
    uint64_t PacketsSentGet() const { return m_PacketsSent.load(std::memory_order_relaxed); }
    // Network byte order, as getsockname and connect see them; zero before
    // the first connection.
    sockaddr_in AddressLocalGet() const;
    sockaddr_in AddressRemoteGet() const;
    // The same addresses in host byte order.
    uint32_t AddressLocalHostOrderGet() const;
    uint32_t AddressRemoteHostOrderGet() const;
    const SANetQosFlow& QosFlowGet() const { return m_QosFlow; }

private:
    void PrivateQOSFlowAttach(int socket);
    // Registers a send or receive call; returns the descriptor, or -1 when
    // the stream is closed (then nothing is registered).
    int PrivateUseBegin();
    void PrivateUseEnd();
    void PrivateLowMarkFit(int fd, size_t remaining);

    const bool m_SingleUse;
    std::mutex m_SocketLock;   // orders a connect's store of m_Socket against Close
    uint64_t m_CloseCount = 0; // guarded by m_SocketLock
    std::atomic<int> m_Socket{-1};
    std::atomic<int> m_Users{0}; // send/receive calls holding the descriptor
    mutable std::mutex m_AddressLock;
    sockaddr_in m_AddressLocal{};  // guarded by m_AddressLock
    sockaddr_in m_AddressRemote{}; // guarded by m_AddressLock
    SANetQosFlow m_QosFlow;
    std::atomic<uint64_t> m_PacketsSent{0};
    // The receive low mark last set, and on which descriptor; the receiving
    // thread's own.
    static constexpr size_t LOW_MARK_MIN = 32 * 1024;
    static constexpr int LOW_MARK_MAX = 128 * 1024;
    int m_LowMarkSocket = -1;
    int m_LowMark = 1;
};
