#pragma once
// The connect job: opens the display connection on the transmit worker and
// reports the outcome to the frame as a state machine event (3 connected,
// 4 failed) carrying the connection's tag. Self-owned: deletes itself after
// running or when refused.
#include "core/PSTaskAsyncBase.h"

#include <cstdint>
#include <memory>

class SAMessageTarget;
class SANetSocketStream;

class SATaskQueuedNetConnect : public PSTaskAsyncBase
{
public:
    // stream: the connection to make, shared with the client. notifyTarget
    // is borrowed; the frame outlives every job of the transmit queue.
    SATaskQueuedNetConnect(uint32_t hostOrderAddress, bool useQos, std::shared_ptr<SANetSocketStream> stream,
                           intptr_t tag, SAMessageTarget* notifyTarget);
    ~SATaskQueuedNetConnect() override;

    bool OnExecute() override;
    void OnRefused() override;

private:
    const uint32_t m_Address;
    const bool m_UseQos;
    const std::shared_ptr<SANetSocketStream> m_pNetSocketStream;
    const intptr_t m_Tag;
    SAMessageTarget* const m_pNotifyTarget;
};
