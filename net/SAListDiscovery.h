#pragma once
// The meeting point of discovery and the connect view: the received list
// (replies, appended by the receivers, taken front-first by the view) and the
// unicast target list (hosts the view wants asked directly, read by the
// discovery main loop every cycle), plus the view's message target.
//
// Threads: receivers append from their threads; the main loop reads targets
// on its thread; the view takes, clears and edits on its window thread.
// m_Lock guards m_Received and m_Targets. Every access copies whole records
// in or out under the lock and never calls out (no post, no log) while
// holding it. m_pTarget is atomic: set by the view before discovery starts,
// read by the posting threads.
//
// Any host on the LAN can send replies, so the received list holds at most
// SA_LIST_DISCOVERY_RECEIVED_LIMIT records (further replies are dropped until
// the view drains; servers answer every cycle) and one WM_APP+2 waits at a
// time: the next is posted only once the view has found the list empty.
#include "core/SAMessageTarget.h"
#include "net/SANetHostRecord.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// Replies waiting for the view: far more servers than a LAN has.
constexpr size_t SA_LIST_DISCOVERY_RECEIVED_LIMIT = 256;

class SAListDiscovery
{
public:
    SAListDiscovery();
    virtual ~SAListDiscovery();
    SAListDiscovery(const SAListDiscovery&) = delete;
    SAListDiscovery& operator=(const SAListDiscovery&) = delete;

    // The view that receives WM_APP+2 and WM_APP+3 (borrowed: the view
    // outlives discovery). nullptr: posts are dropped.
    void MessageTargetSet(SAMessageTarget* target) { m_pTarget.store(target); }
    // Posts message (wParam 0, lParam 0) to the view; false when there is no
    // view or it takes no more messages.
    bool MessagePost(uint32_t message);

    // Receivers: append one reply, then post WM_APP+2 unless one is still
    // waiting. False when the list is full and the reply was dropped.
    bool ReceivedAppend(const SANetHostRecord& record);
    // View: takes the oldest reply out; false when the list is empty, which
    // lets the next reply post WM_APP+2 again.
    bool ReceivedTakeFirst(SANetHostRecord& record);
    size_t ReceivedCount() const;

    void UnicastTargetAppend(const SANetHostRecord& record);
    // Removes every target with this address; returns how many went.
    size_t UnicastTargetRemoveByAddress(uint32_t address);
    // Copies target index; false when index is past the end (the list may
    // change between two calls).
    bool UnicastTargetGet(size_t index, SANetHostRecord& record) const;
    size_t UnicastTargetCount() const;
    // True when a target has this address.
    bool UnicastTargetContains(uint32_t address) const;

    // Empties both lists (the view does this before resuming discovery).
    void ListsClear();

private:
    mutable std::mutex m_Lock;
    std::deque<SANetHostRecord> m_Received; // guarded by m_Lock
    bool m_ReceivedPosted = false;          // guarded by m_Lock; a WM_APP+2 waits for the view
    bool m_ReceivedFull = false;            // guarded by m_Lock; dropping replies (logged once)
    std::vector<SANetHostRecord> m_Targets; // guarded by m_Lock
    std::atomic<SAMessageTarget*> m_pTarget{nullptr};
};
