#pragma once
// The peer's discovery responder on UDP port 28252: every datagram of
// exactly 1024 bytes that starts with "QUILLMERE-NET-CLIENT" and its
// terminator is answered with one 308-byte server record (--name, the
// address the request reached, port 28252, --features) sent to the request's
// source address and port. Other datagrams are ignored.
//
// Binding follows --bind: 0.0.0.0 takes every request of the host (run it
// only inside a private network namespace). A specific address takes the
// unicast requests to it and, through a second socket bound to the broadcast
// address of its interface, the broadcasts on that network; several peers on
// different addresses of one network all hear a broadcast (SO_REUSEADDR).
//
// --discovery-reply-size N sends N bytes instead of 308 (the record, cut or
// padded with zeros) so tests can provoke a viewer with short or long replies.
//
// Threads: Start and StopRequest/Join on the owner's thread; one responder
// thread polls the sockets and a wake pipe. m_RequestsAnswered is atomic.
#include "peer/PeerOptions.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class PeerDiscovery
{
public:
    explicit PeerDiscovery(const PeerOptions& options);
    ~PeerDiscovery(); // StopRequest, Join, close
    PeerDiscovery(const PeerDiscovery&) = delete;
    PeerDiscovery& operator=(const PeerDiscovery&) = delete;

    // Opens the sockets and starts the responder. False with a reason in error.
    bool Start(std::string& error);
    void StopRequest();
    void Join();
    uint32_t RequestsAnsweredGet() const { return m_RequestsAnswered.load(); }

    // The reply for a request that reached localAddress (host order): the
    // record, then cut or padded to size bytes.
    static std::vector<uint8_t> ReplyBuild(const PeerOptions& options, uint32_t localAddress, size_t size);
    // True for a valid discovery request of size bytes.
    static bool RequestIsValid(const uint8_t* bytes, size_t size);

private:
    bool PrivateSocketOpen(uint32_t address, bool packetInfo, std::string& error);
    void PrivateLoop();
    void PrivateServe(int fd);

    const PeerOptions& m_Options; // borrowed from the server, which outlives this object
    uint32_t m_BindAddress = 0;   // host order; 0 = any
    int m_UnicastFd = -1;         // the reply socket (bound to the bind address)
    std::vector<int> m_Fds;       // every receiving socket, m_UnicastFd first
    int m_WakePipe[2] = {-1, -1};
    std::atomic<bool> m_StopRequested{false};
    std::atomic<uint32_t> m_RequestsAnswered{0};
    std::thread m_Thread;
};
