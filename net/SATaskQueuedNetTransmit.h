#pragma once
// One outgoing packet on the transmit worker: either a whole packet block
// (the connect request) or a header-only packet copied by value. Self-owned:
// deletes itself (and its packet) after running or when refused. A job whose
// connection is closed by the time it runs is dropped without a word: a
// backlog left behind by a stop must not cost a send and a log line each.
#include "core/PSTaskAsyncBase.h"
#include "net/SANetProtocol.h"

#include <cstdint>
#include <memory>

class SANetSocketStream;

class SATaskQueuedNetTransmit : public PSTaskAsyncBase
{
public:
    // stream: the connection the packet belongs to, shared so that the job
    // can never send on a later connection.
    SATaskQueuedNetTransmit(std::shared_ptr<SANetSocketStream> stream, const SAPacketHeader& header);
    SATaskQueuedNetTransmit(std::shared_ptr<SANetSocketStream> stream, std::unique_ptr<uint8_t[]> packet);
    ~SATaskQueuedNetTransmit() override;

    bool OnExecute() override;
    void OnRefused() override;

private:
    const std::shared_ptr<SANetSocketStream> m_pNetSocketStream;
    SAPacketHeader m_PacketHeader;
    std::unique_ptr<uint8_t[]> m_pPacket; // null for header-only packets
};
