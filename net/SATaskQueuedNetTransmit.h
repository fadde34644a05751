#pragma once
// One outgoing packet on the transmit worker: either a whole packet block
// (the connect request) or a header-only packet copied by value. Self-owned:
// deletes itself (and its packet) after running or when refused.
#include "core/PSTaskAsyncBase.h"
#include "net/SANetProtocol.h"

#include <cstdint>
#include <memory>

class SANetSocketStream;

class SATaskQueuedNetTransmit : public PSTaskAsyncBase
{
public:
    // stream is borrowed: it belongs to the receiver, which outlives the
    // transmit queue's jobs.
    SATaskQueuedNetTransmit(SANetSocketStream* stream, const SAPacketHeader& header);
    SATaskQueuedNetTransmit(SANetSocketStream* stream, std::unique_ptr<uint8_t[]> packet);
    ~SATaskQueuedNetTransmit() override;

    bool OnExecute() override;
    void OnRefused() override;

private:
    SANetSocketStream* const m_pNetSocketStream;
    SAPacketHeader m_PacketHeader;
    std::unique_ptr<uint8_t[]> m_pPacket; // null for header-only packets
};
