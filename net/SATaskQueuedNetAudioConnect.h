#pragma once
// The audio connect job: opens the audio connection on the audio transmit
// worker, sends the audio request on it directly and starts the audio loop
// through the client. Failures show the audio failure box by posting
// SA_WM_APP_AUDIO_FAILURE to the frame; the display connection is never
// touched. Self-owned: deletes itself after running or when refused.
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
    SATaskQueuedNetAudioConnect(uint32_t hostOrderAddress, std::string instanceId,
                                SATaskLoopedNetAudioReceiverRenderer* receiver, SANetClient* client,
                                SAMessageTarget* notifyTarget);
    ~SATaskQueuedNetAudioConnect() override;

    bool OnExecute() override;
    void OnRefused() override;

private:
    const uint32_t m_Address;
    const std::string m_InstanceId;
    // The audio connection is opened without QoS marking.
    const bool m_UseQos = false;
    SATaskLoopedNetAudioReceiverRenderer* const m_pReceiver;
    SANetClient* const m_pClient;
    SAMessageTarget* const m_pNotifyTarget;
};
