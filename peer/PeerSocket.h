#pragma once
// A connected TCP socket of the peer. One thread sends and one thread
// receives at a time; Shutdown may be called from any thread to wake both.
// The descriptor is closed only by the destructor or Close, after both users
// have finished.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

class PeerSocket
{
public:
    explicit PeerSocket(int fd) : m_Fd(fd) {}
    ~PeerSocket();
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    // Sends both buffers completely (the second may be empty). False on a
    // socket error or when the connection was shut down.
    bool Send(const void* first, size_t firstBytes, const void* second = nullptr, size_t secondBytes = 0);
    // Reads exactly `bytes`; false on end of stream or error.
    bool Receive(void* buffer, size_t bytes);
    // The same, but gives up at `deadline` (then `late` is set): the whole
    // read, not each chunk of it, so a sender cannot stretch it byte by byte.
    bool ReceiveBefore(void* buffer, size_t bytes, std::chrono::steady_clock::time_point deadline,
                       bool& late);
    // Reads and drops `bytes`.
    bool Skip(size_t bytes);
    // Ends our sending side (the viewer sees end of stream after what was sent).
    void ShutdownWrite();
    // Wakes a blocked Send or Receive; both then fail.
    void ShutdownBoth();
    void Close();
    // "a.b.c.d:port" of the other end.
    std::string RemoteText() const;

private:
    int m_Fd;
};
