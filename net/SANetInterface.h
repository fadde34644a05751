#pragma once
// One usable local IPv4 address of discovery: its UDP socket and the thread
// that receives replies on it.
//
// Threads: Initialize, the sends, ReceiverThreadStart and ReceiverStop run on
// the discovery main thread (which owns the interface); the receiver thread
// reads the socket and the address. Address and broadcast are written once
// in Initialize, before the receiver starts.
//
// Destruction: ReceiverStop first (the destructor does it too), so the
// receiver never outlives the socket it reads.
#include "core/PSThreadTaskLoop.h"
#include "net/SANetSocketMessage.h"
#include "net/SATaskLoopedNetDiscoveryReceiver.h"

#include <cstdint>

class SAListDiscovery;

class SANetInterface
{
public:
    SANetInterface();
    ~SANetInterface();
    SANetInterface(const SANetInterface&) = delete;
    SANetInterface& operator=(const SANetInterface&) = delete;

    // Stores both addresses (host order), creates and binds the socket and
    // enables broadcast. On failure the socket is closed.
    bool Initialize(uint32_t address, uint32_t broadcast);
    // request: SA_NET_DISCOVERY_REQUEST_SIZE bytes.
    bool UdpSendBroadcast(const uint8_t* request);
    bool UdpSendUnicast(const uint8_t* request, uint32_t targetAddress, uint16_t targetPort);
    // Starts the receiver thread delivering into list (borrowed; it outlives
    // the receiver).
    bool ReceiverThreadStart(SAListDiscovery* list);
    // Shuts the socket down, waits without time-out for the receiver, closes
    // the socket. Idempotent.
    void ReceiverStop();

    uint32_t AddressGet() const { return m_Address; }
    uint32_t BroadcastGet() const { return m_Broadcast; }
    SANetSocketMessage& SocketGet() { return m_Socket; }
    // True while the receiver thread runs (it ends on a receive failure).
    bool ReceiverIsRunning() const { return m_ReceiverThread.TaskGet() != nullptr; }

private:
    uint32_t m_Address = 0;
    uint32_t m_Broadcast = 0;
    SANetSocketMessage m_Socket;
    SATaskLoopedNetDiscoveryReceiver m_Receiver;
    PSThreadTaskLoop m_ReceiverThread;
};
