#pragma once
// Stands in for the connect view: a headless message loop that counts
// WM_APP+2 and WM_APP+3 and, on every WM_APP+2, drains the received list
// into its own record log, as the view does.
#include "core/SAMessageLoop.h"
#include "net/SANetDiscovery.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class DiscoveryTestView
{
public:
    DiscoveryTestView()
        : m_Loop(
              [this](uint32_t message, uintptr_t, intptr_t) -> intptr_t
              {
                  std::lock_guard<std::mutex> guard(m_Lock);
                  if (message == SA_WM_APP_DISCOVERY_CYCLE_DONE)
                      ++m_Cycles;
                  if (message == SA_WM_APP_DISCOVERY_HOST_INTERFACE_FOUND)
                  {
                      ++m_Found;
                      SANetHostRecord record;
                      while (m_pDiscovery != nullptr && m_pDiscovery->ReceivedTakeFirst(record))
                          m_Records.push_back(record);
                  }
                  m_Changed.notify_all();
                  return 0;
              })
    {
        m_Loop.Start();
    }
    ~DiscoveryTestView() { m_Loop.Stop(); }

    // The discovery whose list this view drains (borrowed; stopped before
    // this view goes).
    void DiscoverySet(SANetDiscovery* discovery)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_pDiscovery = discovery;
    }
    SAMessageTarget* TargetGet() { return &m_Loop; }

    // Waits until every message posted so far is handled.
    void Flush()
    {
        m_Loop.Invoke([] {});
    }

    // Waits (guard: 20 s, against a hang only) until condition holds over
    // the recorded state; returns whether it does.
    bool
    WaitFor(const std::function<bool(size_t cycles, const std::vector<SANetHostRecord>& records)>& condition)
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        return m_Changed.wait_for(lock, std::chrono::seconds(20),
                                  [&] { return condition(m_Cycles, m_Records); });
    }

    size_t CyclesGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Cycles;
    }
    std::vector<SANetHostRecord> RecordsGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Records;
    }

private:
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    size_t m_Cycles = 0;                    // guarded by m_Lock
    size_t m_Found = 0;                     // guarded by m_Lock
    std::vector<SANetHostRecord> m_Records; // guarded by m_Lock
    SANetDiscovery* m_pDiscovery = nullptr; // guarded by m_Lock
    SAMessageLoop m_Loop;                   // last: its thread stops before the fields go
};
