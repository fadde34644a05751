#pragma once
// Traffic marking of one TCP connection. The connection's packets carry DSCP
// class selector 7 (IP_TOS 0xE0) and socket priority 7, so that routers and
// the local queueing discipline treat the small input packets as control
// traffic. Marking is best effort: the kernel may refuse SO_PRIORITY 7
// without CAP_NET_ADMIN; a refusal is logged and the connection goes on.
//
// Embedded in SANetSocketStream and driven only by it. Create and
// TrafficTypeSet run on the connecting thread; Destroy may run on any thread
// and more than once (the flow id is taken out with an atomic exchange).
#include <atomic>
#include <cstdint>

class SANetQosFlow
{
public:
    // IP_TOS value (DSCP CS7) and socket priority of a marked connection.
    static constexpr int TOS_CONTROL = 0xE0;
    static constexpr int PRIORITY_CONTROL = 7;

    // Marks the socket's packets with TOS_CONTROL. On success the flow gets a
    // process-unique non-zero id.
    bool Create(int socket);
    // Sets the socket priority to PRIORITY_CONTROL.
    bool TrafficTypeSet();
    // Forgets the socket. The marking needs no teardown of its own: it ends
    // with the socket, which the stream closes right after this. The socket
    // itself is never touched here, because a concurrent Close may already
    // have closed it and its number may have been reused.
    void Destroy();

    uint32_t FlowIdGet() const { return m_flowID.load(std::memory_order_relaxed); }

private:
    std::atomic<int> m_Socket{-1};
    std::atomic<uint32_t> m_flowID{0};
};
