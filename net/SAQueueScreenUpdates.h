#pragma once
// The screen update queue between the display receiver and the frame buffer
// processor: a locked first-in-first-out list with no drop policy. Entries
// are either markers from the user interface and the receiver, or received
// FrameBuffer packets (header and payload in one heap block) whose ownership
// travels with the entry.
//
// Packets are bounded in bytes, not dropped: PacketAppend waits while the
// packets queued would exceed the byte limit, so a receiver that appends
// stops reading its socket and TCP holds the server back. A single packet
// larger than the limit still goes in once the queue is empty. Markers never
// wait, so the window thread is never held up. The processor only takes, so
// it can always drain, and every Take wakes the waiting appender.
//
// Threads: the receiver thread and the window thread append, the processor
// thread takes; any thread may append. m_Lock guards m_Entries and
// m_pWakeEvent and is held only while one entry is added or taken, and
// while the wake event is set (which calls nothing back), so that an event
// taken back with WakeEventSet or WakeEventRemove is touched by no append
// any more. After every append, with the lock released,
// SA_WM_APP_STATUS_REFRESH is posted to the notify target, which may call
// back into the queue.
#include "core/PSEvent.h"
#include "core/SAMessageTarget.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

enum class SAScreenUpdateKind : uintptr_t
{
    None = 0,          // what an empty queue yields; never stored
    Repaint = 1,       // present the current frame again
    FragmentReset = 2, // the next packet starts a new frame
    Packet = 3,        // a received FrameBuffer packet
};

// Bytes of packets the queue holds before an append waits: a few frames of
// the largest screen a real server sends at once, far more than a viewer that
// keeps up ever holds.
constexpr size_t SA_SCREEN_UPDATE_QUEUE_BYTE_LIMIT = size_t(64) << 20;

struct SAScreenUpdate
{
    SAScreenUpdateKind m_Kind = SAScreenUpdateKind::None;
    // Header followed by its payload, m_PacketSize bytes; set for Packet only.
    std::unique_ptr<uint8_t[]> m_pPacket;
    size_t m_PacketSize = 0;
    // When the packet was appended (PSTimeNanoseconds), for the frame times log.
    uint64_t m_QueuedNs = 0;
};

class SAQueueScreenUpdates
{
public:
    // notifyTarget: the main frame, which outlives the queue; may be null
    // (no notification).
    explicit SAQueueScreenUpdates(SAMessageTarget* notifyTarget,
                                  size_t byteLimit = SA_SCREEN_UPDATE_QUEUE_BYTE_LIMIT);
    // Frees the packets still queued.
    ~SAQueueScreenUpdates();
    SAQueueScreenUpdates(const SAQueueScreenUpdates&) = delete;
    SAQueueScreenUpdates& operator=(const SAQueueScreenUpdates&) = delete;

    void RepaintAppend();
    void FragmentResetAppend();
    // Takes ownership of the block; false (and nothing queued) for a null one
    // or when memory runs out (the block is then freed). Waits while the
    // queue is full (see above) until a Take makes room, or until `abandon`
    // (checked under the queue's lock after every WaitersWake) returns true:
    // the block is then freed and false returned.
    bool PacketAppend(std::unique_ptr<uint8_t[]> packet, size_t packetSize,
                      const std::function<bool()>& abandon = nullptr);
    // Makes a waiting PacketAppend check its abandon condition again; called
    // by whoever made that condition true (a receiver being stopped).
    void WaitersWake();

    // The front entry, moved out of the queue; kind None when it is empty.
    SAScreenUpdate Take();

    bool IsEmpty() const;
    size_t CountGet() const;
    // Bytes of the packets queued now.
    size_t BytesGet() const;

    // Makes `wakeEvent` the event set after every append and sets it at once
    // when entries are already waiting, so none is missed; null stops
    // waking. Once it returns, the event it replaced is touched no more.
    void WakeEventSet(PSEvent* wakeEvent);
    // Stops waking `wakeEvent` if it is the one registered (its owner is
    // about to go); the event is touched no more once this returns.
    void WakeEventRemove(PSEvent* wakeEvent);

private:
    bool PrivateAppend(SAScreenUpdate entry, const std::function<bool()>* abandon);

    mutable std::mutex m_Lock;
    std::condition_variable m_Room;       // signalled after every Take and WaitersWake
    std::deque<SAScreenUpdate> m_Entries; // guarded by m_Lock
    size_t m_Bytes = 0;                   // guarded by m_Lock; packet bytes in m_Entries
    PSEvent* m_pWakeEvent = nullptr;      // guarded by m_Lock; borrowed
    SAMessageTarget* const m_pNotifyTarget;
    const size_t m_ByteLimit;
};
