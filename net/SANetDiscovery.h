#pragma once
// What the connect view drives: the discovery main loop on its own thread,
// its lists, and its pause and resume.
//
//   Start(view)      once, after the view can take messages: WM_APP+2 and
//                    WM_APP+3 are posted to view from then on.
//   Pause()          the view is hidden: returns once the loop is parked at
//                    a cycle boundary (no list lock held), so no further
//                    WM_APP+3 is posted until Resume.
//   ListsClear(), Resume()   the view is shown again.
//   Stop()           the loop finishes its cycle, closes every interface
//                    and joins every receiver; Start may follow again.
//
// Threads: every method from the owner's (view's) thread. The list methods
// may also be called from anywhere; the list has its own lock.
//
// Lifetime: view (borrowed) must outlive Stop; the destructor stops.
#include "core/PSThreadTaskLoop.h"
#include "net/SATaskLoopedNetDiscoveryMain.h"

class SANetDiscovery
{
public:
    SANetDiscovery();
    ~SANetDiscovery(); // Stop
    SANetDiscovery(const SANetDiscovery&) = delete;
    SANetDiscovery& operator=(const SANetDiscovery&) = delete;

    bool Start(SAMessageTarget* view);
    void Pause();
    void Resume();
    void Stop();
    bool IsRunning() const { return m_Thread.TaskGet() != nullptr; }

    // The oldest waiting reply; false when none waits (drain on WM_APP+2).
    bool ReceivedTakeFirst(SANetHostRecord& record) { return m_Main.ListGet().ReceivedTakeFirst(record); }
    // Targeted search (WM_APP+7): ask this host directly every cycle.
    void UnicastTargetAdd(const SANetHostRecord& record) { m_Main.ListGet().UnicastTargetAppend(record); }
    // Stop searching (WM_APP+8): every target with this address goes.
    size_t UnicastTargetRemove(uint32_t address)
    {
        return m_Main.ListGet().UnicastTargetRemoveByAddress(address);
    }
    void ListsClear() { m_Main.ListGet().ListsClear(); }
    SAListDiscovery& ListGet() { return m_Main.ListGet(); }

    // Valid only between Pause and Resume (tests and diagnostics).
    size_t InterfaceCountGet() const { return m_Main.InterfaceCountGet(); }
    size_t ReceiverRunningCountGet() const { return m_Main.ReceiverRunningCountGet(); }

private:
    SATaskLoopedNetDiscoveryMain m_Main; // outlives m_Thread's run (declared first, destroyed last)
    PSThreadTaskLoop m_Thread;
};
