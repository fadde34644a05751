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
// Audio: a second connection to the same server, opened by the audio
// connect job on its own one-worker queue and read and played by the audio
// loop thread (SATaskLoopedNetAudioReceiverRenderer). AudioConnect and
// AudioDisconnect run on the window thread; AudioStart on the audio transmit
// worker; AudioDisconnect also on the audio loop thread when the server ends
// the audio connection. Audio failures reach the frame only as
// SA_WM_APP_AUDIO_FAILURE posts.
//
// Ownership: the frame creates one client for the life of the program; the
// queue and the notify target are the frame's and outlive the client.
#include "core/PSTaskQueue.h"
#include "core/PSThreadTaskLoop.h"
#include "net/SANetClientControl.h"
#include "net/SANetStatistics.h"
#include "net/SATaskLoopedNetAudioReceiverRenderer.h"
#include "net/SATaskLoopedNetReceiver.h"

#include <atomic>
#include <cstdint>
#include <mutex>
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
    // Starts the audio loop (run by the audio connect job connectId on the
    // audio transmit worker once the audio request is sent). A job that was
    // cancelled meanwhile closes its connection instead.
    void AudioStart(uint64_t connectId);
    // For the audio connect job connectId: whether it is still wanted, that
    // is neither cancelled by AudioDisconnect nor ended. A job that is not
    // still wanted stops at its next step and shows no box.
    bool AudioConnectWantedGet(uint64_t connectId);
    // The audio connect job connectId gives up; true when it was still
    // wanted, so that its failure is shown.
    bool AudioConnectEnd(uint64_t connectId);
    // True between a successful AudioStart and the next AudioDisconnect.
    bool AudioActiveGet() const { return m_AudioActive.load(); }
    // Audio headers received since the audio loop last started (tests,
    // diagnostics).
    uint64_t AudioHeadersReceivedGet() const { return m_TaskLoopedNetReceiverAudio.HeadersReceivedGet(); }
    uint32_t ServerAddressGet() const override;
    int32_t LastDisconnectReasonGet() const override;

    // Statistics for the status bar; any thread.
    SANetStatisticsSnapshot StatisticsGet() const;
    const SANetStatistics& StatisticsRingsGet() const { return m_TaskLoopedNetReceiver.StatisticsGet(); }

    // Waits for an ended receiver thread; used at shutdown only.
    void ReceiverJoin();

private:
    // Window thread: lets the audio transmit worker finish what it runs and
    // ends it. With cancel, the job's connection is closed while it runs, so
    // that the wait never depends on the network.
    void PrivateAudioQueueStop(bool cancel);

    SAMessageTarget* const m_pNotifyTarget;
    std::atomic<bool> m_AudioActive{false};
    // Whether this connection's connect request is queued; Transmit drops
    // everything before it.
    std::atomic<bool> m_RequestSent{false};
    // The audio connect job on its way and not cancelled (its number; 0 for
    // none), and the last number given. Guarded, with the step from a job to
    // m_AudioActive, by m_AudioLock: a disconnect must never fall between a
    // job's look at it and the start of playing.
    std::mutex m_AudioLock;
    uint64_t m_AudioConnectWanted = 0;
    uint64_t m_AudioConnectLast = 0;
    // Whether the audio transmit worker runs; window thread only.
    bool m_AudioQueueRunning = false;
    PSThreadTaskLoop m_ThreadTaskLoopNetReceiver;
    PSTaskQueue m_TaskQueueNetTransmitter{1};
    SATaskLoopedNetReceiver m_TaskLoopedNetReceiver;
    // Declared after the receiver they run so that they go first.
    SATaskLoopedNetAudioReceiverRenderer m_TaskLoopedNetReceiverAudio;
    PSThreadTaskLoop m_ThreadTaskLoopNetAudio;
    PSTaskQueue m_TaskQueueNetAudioTransmitter{1};
};
