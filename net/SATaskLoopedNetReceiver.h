#pragma once
// The display receiver: reads one packet per step from the display
// connection and sorts it. FrameBuffer packets go, header and payload in one
// block, to the screen update queue; Visibility and Disconnect become state
// machine events sent to the frame (the receiver waits while the window
// thread runs the step); StreamReset restarts fragment counting.
//
// Threads: OnEntry/OnExecute/OnExit on the receiver loop thread, the only
// reader of the socket and the only writer of the statistics. StopRequest
// comes from the window thread and closes the socket, which wakes a blocked
// receive. The transmit worker connects and sends on the same stream (it
// allows one sender and one receiver at once).
//
// Connections: each run serves the one connection given to ConnectionSet
// before it started (a stream of its own, taken in OnEntry), so a run that
// ends late closes and reports only its own connection, never the next.
// m_ConnectionLock guards m_pConnection and m_ConnectionTag.
#include "core/PSTaskAsyncLooped.h"
#include "net/SANetSocketStream.h"
#include "net/SANetStatistics.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class SAMessageTarget;
class SAQueueScreenUpdates;

class SATaskLoopedNetReceiver : public PSTaskAsyncLooped
{
public:
    // queue and notifyTarget are borrowed; the frame owns both and outlives
    // the receiver.
    SATaskLoopedNetReceiver(SAQueueScreenUpdates* queue, SAMessageTarget* notifyTarget);
    ~SATaskLoopedNetReceiver() override;

    bool OnExecute() override;
    bool OnEntry() override;
    void OnExit() override;
    void StopRequest() override;

    // The connection the next run serves, and the tag its events carry.
    void ConnectionSet(std::shared_ptr<SANetSocketStream> stream, intptr_t tag);

    const SANetStatistics& StatisticsGet() const { return m_Statistics; }
    int32_t LastDisconnectReasonGet() const { return m_LastDisconnectReason.load(); }

private:
    void PrivateFrameStatisticsFirst(uint32_t byteCount);
    void PrivateFrameStatisticsLast(int32_t fragmentCount);
    // Counts a FrameBuffer packet of byteCount payload bytes into its frame.
    void PrivateFrameStatisticsAdd(uint32_t byteCount);
    // A FrameBuffer header beyond the viewer's bounds: its payload is read
    // past and the header alone (ByteCount 0) is queued. False when the
    // connection is lost or no memory is left.
    bool PrivateFrameOutOfBoundsSkip(SAPacketHeader header);
    // Queues a FrameBuffer block, waiting while the queue is full; false
    // when a stop came first (the block is then freed).
    bool PrivatePacketAppend(std::unique_ptr<uint8_t[]> block, size_t blockSize);

    SAQueueScreenUpdates* const m_pQueue;
    SAMessageTarget* const m_pNotifyTarget;

    std::mutex m_ConnectionLock;
    std::shared_ptr<SANetSocketStream> m_pConnection; // guarded by m_ConnectionLock
    intptr_t m_ConnectionTag = 0;                     // guarded by m_ConnectionLock

    // Receiver thread only.
    std::shared_ptr<SANetSocketStream> m_pNetSocketStream; // this run's connection
    intptr_t m_Tag = 0;
    uint32_t m_FragmentCounter = 0;
    uint32_t m_FrameBytes = 0;
    uint32_t m_FrameStart = 0;
    // Screen of the last FrameBuffer packet kept, over every connection: the
    // size the viewer shows. Before the first, the size the processor makes
    // its renderer with.
    int32_t m_ScreenWidthLast = 640;
    int32_t m_ScreenHeightLast = 480;

    // Set by StopRequest (any thread) so that an append waiting for room in
    // the queue gives up; cleared when the receiver starts again.
    std::atomic<bool> m_AppendAbandon{false};

    SANetStatistics m_Statistics;
    std::atomic<int32_t> m_LastDisconnectReason{-1};
};
