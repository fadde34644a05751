#pragma once
// Resolves the connect view's host name on a thread of its own, retrying
// every 300 ms until it succeeds or is told to stop. On success it writes the
// address fields and text into the view's SANetHostInfo and posts WM_APP+4
// to the view.
//
// Cancelling never waits for the resolver: each attempt runs getaddrinfo on
// a detached helper thread that works on a copy of the host info held in a
// shared attempt record. Run waits for either the attempt's result or the
// stop flag; after a stop it returns at once, and a result that arrives later
// lands only in the orphaned record, which the helper frees. No thread is
// ever killed inside a system call.
//
// Threads: Start and Terminate on the view's thread; Run on the resolution
// thread. The resolution thread only reads the host name and writes the
// address fields and text of the view's host info, and only before it posts
// WM_APP+4; the view does not touch that object from Start until WM_APP+4 or
// Terminate. m_Lock guards m_Stop and the result fields of the attempt Run
// waits for; an attempt's own lock guards its link back to this object.
//
// Lifetime: the view's target and host info (borrowed) outlive the thread;
// Terminate (or the destructor) joins it.
#include "core/PSThreadBase.h"
#include "core/SAMessageTarget.h"
#include "net/SANetHostInfo.h"

#include <condition_variable>
#include <memory>
#include <mutex>

constexpr uint32_t SA_NET_NAME_RESOLUTION_RETRY_MS = 300;

class PSThreadNetNameResolution : public PSThreadBase
{
public:
    PSThreadNetNameResolution();
    ~PSThreadNetNameResolution() override; // Terminate

    using PSThreadBase::Start;
    // WM_APP+5: resolve hostInfo's name, then post WM_APP+4 to view.
    bool Start(SAMessageTarget* view, SANetHostInfo* hostInfo);
    // WM_APP+6, and on WM_APP+4 before the result is used: stop retrying,
    // ignore any late result, join the thread and retire its handle.
    void Terminate();

protected:
    void Run() override;

private:
    struct Attempt;

    // Waits up to timeoutMs for the stop flag; true when stopped.
    bool PrivateStopWait(uint32_t timeoutMs);

    SAMessageTarget* m_pView = nullptr;
    SANetHostInfo* m_pHostInfo = nullptr;
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    bool m_Stop = false; // guarded by m_Lock
};
