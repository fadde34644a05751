#pragma once
// What the connection state machine and the frame need from the server
// client. The TCP client implements it; tests give the machine a recording
// implementation.
//
// Threads: every operation is called on the window thread, except Transmit,
// which the frame buffer processor thread calls as well (implementations
// keep Transmit thread-safe). Outcomes of Connect and Start arrive later as
// state machine events posted to the frame: SA_FSTM_EVENT_SERVER_CONNECTED
// when the connection is up, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON
// when it could not be made, could not be started, or ended.
#include "net/SANetProtocol.h"

#include <cstdint>
#include <string>

class SANetClientControl
{
public:
    virtual ~SANetClientControl() = default;

    // Starts connecting to hostOrderAddress:28252 and returns at once.
    virtual void Connect(uint32_t hostOrderAddress) = 0;
    // Starts the receiver and queues the connect request carrying the
    // instance identifier. False (with the event posted) on failure.
    virtual bool Start(const std::string& instanceId) = 0;
    // Queues one header-only packet; packets leave in the order of the calls.
    virtual bool Transmit(const SAPacketHeader& header) = 0;
    // Ends the connection in a fixed order: audio disconnect, receiver stop
    // request (closes the display socket), transmit queue stop. Never waits
    // for the receiver thread. Safe when nothing is connected. Events the
    // connection raises afterwards are stale (EventCurrentCheck).
    virtual void ConnectionStop() = 0;
    // Whether an event 3 or 4 whose lParam is `tag` still concerns the
    // current connection: false once that connection was stopped. Tag 0
    // (events raised by others than a connection) is always current.
    virtual bool EventCurrentCheck(intptr_t tag) const { return true; }
    // Opens the audio connection to the server (feature bitmap as discovery
    // reported it); false when it could not be started.
    virtual bool AudioConnect(uint32_t hostOrderAddress, const std::string& instanceId,
                              int32_t featureBitmap) = 0;
    // Ends the audio connection; does nothing when none is active.
    virtual void AudioDisconnect() = 0;
    // Host-order IPv4 address of the current or last display connection; 0
    // before the first one.
    virtual uint32_t ServerAddressGet() const = 0;
    // DisconnectReason of the server's last Disconnect packet on the current
    // or last connection; -1 when the server sent none.
    virtual int32_t LastDisconnectReasonGet() const = 0;
};
