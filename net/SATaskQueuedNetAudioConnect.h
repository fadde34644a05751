#pragma once
// The audio connect job: opens the audio connection on the audio transmit
// worker, sends the audio request on it directly and starts the audio loop
// through the client. Failures show the audio failure box by posting
// SA_WM_APP_AUDIO_FAILURE to the frame; the display connection is never
// touched. A job that the client no longer wants (AudioDisconnect came
// first) stops at its next step and shows nothing. Self-owned: deletes
// itself after running or when refused.
#include "core/PSTaskAsyncBase.h"

#include <cstdint>
#include <string>

class SAMessageTarget;
class SANetClient;
class SATaskLoopedNetAudioReceiverRenderer;

class SATaskQueuedNetAudioConnect : public PSTaskAsyncBase
{
public:
    // receiver, client and notifyTarget are borrowed; the client owns the
    // receiver and stops the audio transmit queue before either goes, and the
    // frame outlives the client.
    // connectId: the client's number for this connection attempt.
    SATaskQueuedNetAudioConnect(uint32_t hostOrderAddress, std::string instanceId, uint64_t connectId,
                                SATaskLoopedNetAudioReceiverRenderer* receiver, SANetClient* client,
                                SAMessageTarget* notifyTarget);
    ~SATaskQueuedNetAudioConnect() override;

    bool OnExecute() override;
    void OnRefused() override;

private:
    // Ends the job after a failure; the box only for a job still wanted.
    bool PrivateFail();

    const uint32_t m_Address;
    const std::string m_InstanceId;
    const uint64_t m_ConnectId;
    // The audio connection is opened without QoS marking.
    const bool m_UseQos = false;
    SATaskLoopedNetAudioReceiverRenderer* const m_pReceiver;
    SANetClient* const m_pClient;
    SAMessageTarget* const m_pNotifyTarget;
};
