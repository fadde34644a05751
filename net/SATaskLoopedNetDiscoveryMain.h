#pragma once
// The discovery main loop: every cycle takes a fresh interface snapshot,
// adds the interfaces it does not know yet (each with its receiver thread),
// sends five broadcast requests per interface and five unicast requests per
// target per interface, posts WM_APP+3 to the view and waits 300 ms.
// Interfaces are kept until the loop ends, even when they disappear.
//
// Pause and resume: no thread is suspended. PauseRequest sets a flag; the
// loop parks at its next cycle boundary (or during its 300 ms wait), where it
// holds no lock of the list, and tells waiters through m_StateChanged. A
// stop request also ends a pause.
//
// Threads: OnEntry, OnExecute and OnExit run on the loop's PSThreadTaskLoop
// thread, which alone owns m_Interfaces. StopRequest, PauseRequest, Resume,
// PausedWait and the list's view-side methods are called from the owner's
// thread. m_StateLock guards m_PauseRequested, m_Parked and m_Stop (m_Stop
// is also atomic so the adding loop can read it without the lock). The
// SAListDiscovery has its own lock; the two are never held together.
#include "core/PSTaskAsyncLooped.h"
#include "net/SAListDiscovery.h"
#include "net/SANetInterface.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

constexpr uint32_t SA_NET_DISCOVERY_CYCLE_PAUSE_MS = 300;
constexpr int SA_NET_DISCOVERY_REPEAT = 5;

class SATaskLoopedNetDiscoveryMain : public PSTaskAsyncLooped
{
public:
    SATaskLoopedNetDiscoveryMain();
    ~SATaskLoopedNetDiscoveryMain() override;

    bool OnExecute() override;
    bool OnEntry() override;
    void OnExit() override;
    void StopRequest() override;

    // Owner, before starting the thread: clears the stop and pause flags.
    void StopFlagClear();
    void PauseRequest();
    void Resume();
    // Waits until the loop is parked (true) or no longer running (false).
    bool PausedWait();

    SAListDiscovery& ListGet() { return m_List; }

    // Test and diagnostics view of the loop thread's map: the number of
    // interfaces and how many of their receivers still run. Valid only while
    // the loop is parked.
    size_t InterfaceCountGet() const { return m_InterfaceCount.load(); }
    size_t ReceiverRunningCountGet() const;

private:
    void PrivateCollectionNetInterfaceAdd();
    std::unique_ptr<SANetInterface> PrivateInstanceAllocateAndInitialize(uint32_t address,
                                                                         uint32_t broadcast);
    // Parks while paused; false when the loop is to stop.
    bool PrivatePauseCheck();

    SAListDiscovery m_List;
    std::map<uint32_t, std::unique_ptr<SANetInterface>> m_Interfaces; // loop thread only
    std::atomic<size_t> m_InterfaceCount{0};

    mutable std::mutex m_StateLock;
    std::condition_variable m_StateChanged;
    std::atomic<bool> m_Stop{false}; // written under m_StateLock
    bool m_PauseRequested = false;   // guarded by m_StateLock
    bool m_Parked = false;           // guarded by m_StateLock
    bool m_Running = false;          // guarded by m_StateLock: between OnEntry and OnExit
};
