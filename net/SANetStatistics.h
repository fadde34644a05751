#pragma once
// Connection statistics kept by the display receiver and read by the status
// bar. The receiver thread is the only writer; readers on other threads read
// without a lock (relaxed atomics: a torn snapshot only skews one refresh).
// The rings and counters are not cleared between connections.
#include <array>
#include <atomic>
#include <cstdint>

constexpr uint32_t SA_NET_STATISTICS_RING_SLOTS = 120;

struct SANetStatistics
{
    std::atomic<uint64_t> m_HeadersReceived{0};
    // Per frame: first fragment to last fragment, in ms.
    std::array<std::atomic<uint32_t>, SA_NET_STATISTICS_RING_SLOTS> m_FrameTimeRing{};
    // Per frame: previous frame's first fragment to this frame's first, in ms.
    std::array<std::atomic<uint32_t>, SA_NET_STATISTICS_RING_SLOTS> m_IntervalRing{};
    // Per frame: bytes received for it.
    std::array<std::atomic<uint32_t>, SA_NET_STATISTICS_RING_SLOTS> m_FrameBytesRing{};
    std::atomic<uint32_t> m_RingIndex{0};
};

// A copy taken on any thread, with the ring sums the status bar derives its
// rates from.
struct SANetStatisticsSnapshot
{
    uint64_t m_HeadersReceived = 0;
    uint64_t m_PacketsSent = 0;
    uint64_t m_FrameTimeSum = 0;
    uint64_t m_IntervalSum = 0;
    uint64_t m_FrameBytesSum = 0;
    uint32_t m_RingIndex = 0;
    uint32_t m_AddressLocal = 0;  // host order
    uint32_t m_AddressRemote = 0; // host order
    uint16_t m_PortLocal = 0;     // host order
    uint16_t m_PortRemote = 0;    // host order
};
