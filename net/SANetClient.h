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
// Connections: every Connect makes a connection of its own, a single-use
// stream shared by its connect job, its transmit jobs and the receiver run
// that serves it, and numbered by a tag that its state machine events carry
// in lParam. A stopped connection's stream stays closed, so nothing done by
// or for it (a late receiver, a queued packet, a connect that ran on) can
// touch the next one, and EventCurrentCheck tells the machine to drop its
// late events. m_ConnectionLock guards the current connection, its tag and
// whether its connect request is queued, and is held across the submission
// of each transmit job, so that no packet can be queued for a connection
// ahead of its connect request.
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
#include <memory>
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
    // Packets a connection may have waiting to be sent. A server that stops
    // reading while input keeps coming would otherwise grow the transmit
    // queue without end; beyond the bound the connection counts as lost.
    static constexpr uint32_t TRANSMIT_BACKLOG_LIMIT = 65536;

    SANetClient(SAQueueScreenUpdates* queue, SAMessageTarget* notifyTarget);
    ~SANetClient() override;

    void Connect(uint32_t hostOrderAddress) override;
    bool Start(const std::string& instanceId) override;
    bool Transmit(const SAPacketHeader& header) override;
    void ConnectionStop() override;
    bool EventCurrentCheck(intptr_t tag) const override;
    // Closes the display socket and leaves the rest to the receiver, which
    // ends and reports the connection lost (event 4). Any thread.
    void ConnectionClose();
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
    // For the audio connect job, before it connects: waits for the audio loop
    // of the previous audio connection to end. That loop was stopped when the
    // audio went off (a server Disconnect stops it on its own thread, and the
    // audio may be turned on again at once) and ends by itself, but until
    // then it still reads the socket and plays through the renderer that the
    // new connection takes over.
    void AudioLoopEndWait();
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
    // The current connection once it is made, else the last one made.
    std::shared_ptr<SANetSocketStream> PrivateConnectionMadeGet() const;

    SAMessageTarget* const m_pNotifyTarget;
    std::atomic<bool> m_AudioActive{false};
    mutable std::mutex m_ConnectionLock;
    std::shared_ptr<SANetSocketStream> m_pConnection; // guarded; the newest, kept after its stop
    // The newest connection that was made, for the server address and the
    // status bar once a later attempt failed. Guarded by m_ConnectionLock.
    std::shared_ptr<SANetSocketStream> m_pConnectionMade;
    uint64_t m_PacketsSentBefore = 0; // guarded; sent on earlier connections
    intptr_t m_Tag = 0;               // guarded; of the newest connection
    bool m_TagCurrent = false;        // guarded; false once it was stopped
    // Whether this connection's connect request is queued; Transmit drops
    // everything before it. Guarded by m_ConnectionLock.
    bool m_RequestSent = false;
    // The audio connect job on its way and not cancelled (its number; 0 for
    // none), and the last number given. Guarded, with the step from a job to
    // m_AudioActive, by m_AudioLock: a disconnect must never fall between a
    // job's look at it and the start of playing. The stored
    // AudioStreamingEnabled is written under it too, so that it always tells
    // what m_AudioActive last became.
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
