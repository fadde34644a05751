#pragma once
// The UDP endpoint of one discovery interface: bound to the interface's own
// address, allowed to broadcast, never routed beyond the attached network,
// TTL 255. Sends the 1024-byte discovery request and receives replies.
//
// Threads: UdpCreateBind, UdpSetBroadcast and SendTo run on the discovery
// main thread; ReceiveFrom runs on the interface's receiver thread;
// ShutdownRequest may come from the main thread while the receiver is
// blocked in ReceiveFrom. Close runs only after the receiver has ended.
// m_Socket is written only by UdpCreateBind and Close (never while a receiver
// runs); m_ShutDown is atomic.
//
// Why shutdown and close are separate: closing a descriptor that another
// thread is blocked on is a race on POSIX (the number may be reused by a new
// socket before the blocked call notices). ShutdownRequest wakes the blocked
// recvfrom, and the descriptor is closed only after its receiver has ended.
#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr size_t SA_NET_DISCOVERY_REQUEST_SIZE = 1024;
constexpr char SA_NET_DISCOVERY_REQUEST_TAG[] = "QUILLMERE-NET-CLIENT";

enum class SANetReceiveResult
{
    Datagram, // a datagram of *pSize bytes (0 is possible) from the sender
    TimedOut, // a receive time-out passed: go on receiving
    Failed,   // any other failure, a datagram longer than the buffer, or a shutdown
};

class SANetSocketMessage
{
public:
    SANetSocketMessage();
    ~SANetSocketMessage(); // Close
    SANetSocketMessage(const SANetSocketMessage&) = delete;
    SANetSocketMessage& operator=(const SANetSocketMessage&) = delete;

    // UDP socket bound to localAddress (host order), port 0.
    bool UdpCreateBind(uint32_t localAddress);
    // SO_BROADCAST (required) and IP_TTL 255 (only logged on failure).
    bool UdpSetBroadcast();
    // Sends exactly SA_NET_DISCOVERY_REQUEST_SIZE bytes of buffer to
    // address:port (both host order).
    bool SendTo(const uint8_t* buffer, uint32_t address, uint16_t port);
    // Receives one datagram into buffer (capacity bytes). A datagram longer
    // than capacity is reported as Failed with EMSGSIZE: the receiver ends.
    SANetReceiveResult ReceiveFrom(uint8_t* buffer, size_t capacity, size_t* pSize, uint32_t* pSender);
    // Wakes a blocked ReceiveFrom, which then reports Failed. Idempotent.
    void ShutdownRequest();
    // shutdown (if not done) and close; the handle becomes invalid. Idempotent.
    void Close();

    bool IsOpen() const { return m_Socket >= 0; }
    // The bound local port (host order), 0 when closed. For tests and logs.
    uint16_t LocalPortGet() const;

private:
    int m_Socket = -1;
    std::atomic<bool> m_ShutDown{false};
};
