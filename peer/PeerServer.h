#pragma once
// The peer's listening socket on port 28252 and its connections.
//
// Threads: Start launches the accept thread, which accepts viewers, starts
// one PeerConnection per viewer, reaps finished ones and, at the end, stops
// and joins all of them. Connection threads call the observer methods.
// StopRequest is async-signal-safe (an atomic flag and a write to a pipe), so
// a signal handler may call it. Wait is called by the owner's thread.
//
// m_Connections is touched only by the accept thread. m_SaveLock serialises
// the PNG writes of --save-last; m_LastFrame, m_ConnectionsEnded and
// m_DisplaySlotsTaken are atomic.
#include "peer/PeerConnection.h"
#include "peer/PeerConnectionObserver.h"
#include "peer/PeerDiscovery.h"
#include "peer/PeerFrameLoop.h"
#include "peer/PeerOptions.h"
#include "peer/PeerRecorder.h"
#include "peer/PeerScenario.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PeerServer : public PeerConnectionObserver
{
public:
    explicit PeerServer(const PeerOptions& options);
    ~PeerServer() override;
    PeerServer(const PeerServer&) = delete;
    PeerServer& operator=(const PeerServer&) = delete;

    // Checks the scenario, opens the record file, binds ADDR:28252, listens,
    // starts the discovery responder on UDP ADDR:28252 and starts accepting. False (logged, with a reason in
    // ErrorGet) on any failure.
    bool Start();
    void StopRequest();
    // Returns when the accept thread has ended: after StopRequest, or once
    // --exit-after-clients connections have ended. All connections are over.
    void Wait();
    const std::string& ErrorGet() const { return m_Error; }
    uint32_t ConnectionsEndedGet() const { return m_ConnectionsEnded.load(); }

    bool DisplaySlotTake(uint32_t connectionId) override;
    void DisplaySlotRelease(uint32_t connectionId) override;
    void ConnectionFrameSent(uint32_t frameNumber) override;
    void ConnectionEnded(uint32_t connectionId) override;

private:
    void PrivateAcceptLoop();
    void PrivateWake();
    void PrivateLastFrameSave();

    PeerOptions m_Options;
    PeerScenario m_Scenario;
    PeerRecorder m_Recorder;
    PeerFrameLoop m_Loop; // --loop frames, built by Start, then read-only
    std::string m_Error;
    int m_ListenFd = -1;
    int m_WakePipe[2] = {-1, -1};
    std::atomic<bool> m_StopRequested{false};
    std::thread m_AcceptThread;
    std::unique_ptr<PeerDiscovery> m_pDiscovery; // started by Start, stopped with the accept thread
    std::vector<std::unique_ptr<PeerConnection>> m_Connections; // accept thread only
    uint32_t m_NextId = 1;                                      // accept thread only
    std::atomic<int64_t> m_LastFrame{-1};
    std::atomic<uint32_t> m_ConnectionsEnded{0};
    std::atomic<uint32_t> m_DisplaySlotsTaken{0}; // at most --max-clients
    std::mutex m_SaveLock;
};
