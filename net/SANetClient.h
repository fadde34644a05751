#pragma once
// The viewer's one connection with one server: connects the display
// connection, sends the connect request, receives every packet on a
// receiver thread and sends the viewer's own packets in order from a
// one-worker transmit queue. It reports back only through messages to the
// frame (its notify target): state machine events and status refreshes.
//
// Threads: Connect, Start, ConnectionStop and the audio operations are
// called on the window thread; Transmit from the window thread and the frame
// buffer processor thread. The transmit worker runs the connect job and every
// send; the receiver thread is the only reader of the socket.
//
// Ownership: the frame creates one client for the life of the program; the
// queue and the notify target are the frame's and outlive the client.
#include "core/PSTaskQueue.h"
#include "core/PSThreadTaskLoop.h"
#include "net/SANetClientControl.h"
#include "net/SANetStatistics.h"
#include "net/SATaskLoopedNetReceiver.h"

#include <atomic>
#include <cstdint>
#include <string>

class SAMessageTarget;
class SAQueueScreenUpdates;

class SANetClient : public SANetClientControl
{
public:
    // How long a connection stop lets already queued packets (the user's
    // Disconnect above all) leave before it closes the socket. A peer that
    // stopped reading cannot hold the window thread longer than this.
    static constexpr uint32_t TRANSMIT_DRAIN_TIMEOUT_MS = 500;

    SANetClient(SAQueueScreenUpdates* queue, SAMessageTarget* notifyTarget);
    ~SANetClient() override;

    void Connect(uint32_t hostOrderAddress) override;
    bool Start(const std::string& instanceId) override;
    bool Transmit(const SAPacketHeader& header) override;
    void ConnectionStop() override;
    bool AudioConnect(uint32_t hostOrderAddress, const std::string& instanceId,
                      int32_t featureBitmap) override;
    void AudioDisconnect() override;
    uint32_t ServerAddressGet() const override;
    int32_t LastDisconnectReasonGet() const override;

    // Statistics for the status bar; any thread.
    SANetStatisticsSnapshot StatisticsGet() const;
    const SANetStatistics& StatisticsRingsGet() const { return m_TaskLoopedNetReceiver.StatisticsGet(); }

    // Waits for an ended receiver thread; used at shutdown only.
    void ReceiverJoin();

private:
    SAMessageTarget* const m_pNotifyTarget;
    std::atomic<bool> m_AudioActive{false};
    PSThreadTaskLoop m_ThreadTaskLoopNetReceiver;
    PSTaskQueue m_TaskQueueNetTransmitter{1};
    SATaskLoopedNetReceiver m_TaskLoopedNetReceiver;
};
