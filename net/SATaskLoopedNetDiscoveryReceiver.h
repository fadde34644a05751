#pragma once
// Receives discovery replies on one interface's socket, one datagram per
// step, and hands each to the SAListDiscovery as a 308-byte record whose
// address field is the sender's address and whose host name ends within its
// field. Any datagram from any sender becomes a record; the view decides.
// A datagram longer than a record is dropped and the receiver goes on: any
// host on the LAN may send one. Any receive failure other than a time-out
// ends this receiver (other interfaces go on).
//
// Threads: runs on its interface's PSThreadTaskLoop. m_pList is set by
// SANetInterface::ReceiverThreadStart (compare-exchange from null) on the
// discovery main thread and cleared atomically in OnExit. StopRequest does
// nothing: the receiver is stopped by shutting its socket down.
//
// Lifetime: a member of its SANetInterface (borrowed back-pointer); the
// SAListDiscovery (borrowed) outlives every receiver, which is joined in
// the main loop's OnExit.
#include "core/PSTaskAsyncLooped.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class SANetInterface;
class SAListDiscovery;

class SATaskLoopedNetDiscoveryReceiver : public PSTaskAsyncLooped
{
public:
    explicit SATaskLoopedNetDiscoveryReceiver(SANetInterface* netInterface);
    ~SATaskLoopedNetDiscoveryReceiver() override;

    bool OnExecute() override;
    bool OnEntry() override;
    void OnExit() override;
    void StopRequest() override;

    // Hands the list over: false when one is already set.
    bool ListSet(SAListDiscovery* list);
    void ListReset() { m_pList.exchange(nullptr); }

private:
    // Room for the largest UDP datagram, so that a longer one than a record
    // is read whole and recognised instead of failing the receive.
    static constexpr size_t DATAGRAM_SIZE_MAX = 65536;

    SANetInterface* m_pInterface;
    std::unique_ptr<uint8_t[]> m_pDatagram; // loop thread only
    std::atomic<SAListDiscovery*> m_pList{nullptr};
};
