#pragma once
// The connect job: opens the display connection on the transmit worker and
// reports the outcome to the frame as a state machine event (3 connected,
// 4 failed). Self-owned: deletes itself after running or when refused.
#include "core/PSTaskAsyncBase.h"

#include <cstdint>

class SAMessageTarget;
class SATaskLoopedNetReceiver;

class SATaskQueuedNetConnect : public PSTaskAsyncBase
{
public:
    // receiver and notifyTarget are borrowed; the client and the frame
    // outlive every job of the transmit queue.
    SATaskQueuedNetConnect(uint32_t hostOrderAddress, bool useQos, SATaskLoopedNetReceiver* receiver,
                           SAMessageTarget* notifyTarget);
    ~SATaskQueuedNetConnect() override;

    bool OnExecute() override;
    void OnRefused() override;

private:
    const uint32_t m_Address;
    const bool m_UseQos;
    SATaskLoopedNetReceiver* const m_pReceiver;
    SAMessageTarget* const m_pNotifyTarget;
};
