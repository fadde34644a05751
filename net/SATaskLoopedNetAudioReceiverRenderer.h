#pragma once
// The audio receiver: reads one packet per step from the audio connection
// and plays AudioData payloads through its latency control and renderer. A
// server Disconnect ends the audio connection through the client. Any other
// payload is read past without being held; an AudioData packet above
// SA_AUDIO_PACKET_BYTE_LIMIT ends the connection.
//
// Threads: OnEntry/OnExecute/OnExit on the audio loop thread, the only
// reader of the socket and the only user of the renderer. StopRequest comes
// from the window thread (or the loop thread itself on a server Disconnect):
// it sends the viewer's Disconnect and closes the socket, which wakes a
// blocked receive. The audio transmit worker uses ConnectionGet() to connect
// and to send the audio request before the loop starts.
//
// Ownership: a member of SANetClient; the client and the notify target (the
// frame) are borrowed and outlive it.
#include "audio/SAAudioLatencyControl.h"
#include "audio/SAAudioRenderer.h"
#include "core/PSTaskAsyncLooped.h"
#include "net/SANetSocketStream.h"

#include <atomic>
#include <cstdint>
#include <vector>

class SAMessageTarget;
class SANetClient;

// Largest AudioData payload read: a server sends 10 ms packets of 1920
// bytes; a larger one ends the audio connection.
constexpr uint32_t SA_AUDIO_PACKET_BYTE_LIMIT = 64 * 1024;

class SATaskLoopedNetAudioReceiverRenderer : public PSTaskAsyncLooped
{
public:
    SATaskLoopedNetAudioReceiverRenderer(SANetClient* client, SAMessageTarget* notifyTarget);
    ~SATaskLoopedNetAudioReceiverRenderer() override;

    bool OnExecute() override;
    bool OnEntry() override;
    void OnExit() override;
    void StopRequest() override;

    SANetSocketStream& ConnectionGet() { return m_NetSocketStream; }
    // Headers received since the loop last started; any thread.
    uint64_t HeadersReceivedGet() const { return m_HeadersReceived.load(std::memory_order_relaxed); }

    SAAudioRenderer m_AudioRenderer;

private:
    SANetSocketStream m_NetSocketStream;
    SAAudioLatencyControl m_LatencyControl;
    std::vector<uint8_t> m_Played; // the control's output, reused
    SAMessageTarget* const m_pNotifyTarget;
    SANetClient* const m_pClient;
    std::atomic<uint64_t> m_HeadersReceived{0};
};
