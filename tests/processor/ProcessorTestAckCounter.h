#pragma once
// The server client as the frame buffer processor sees it, counting the
// acknowledgements it is asked to transmit and sending nothing.
#include "net/SANetClientControl.h"
#include "net/SANetProtocol.h"

#include <atomic>
#include <string>

class AckCounter : public SANetClientControl
{
public:
    void Connect(uint32_t) override {}
    bool Start(const std::string&) override { return true; }
    bool Transmit(const SAPacketHeader& header) override
    {
        if (header.HeaderTypeGet() == SA_HEADER_FRAME_ACKNOWLEDGE)
            ++m_Acks;
        return true;
    }
    void ConnectionStop() override {}
    bool AudioConnect(uint32_t, const std::string&, int32_t) override { return false; }
    void AudioDisconnect() override {}
    uint32_t ServerAddressGet() const override { return 0; }
    int32_t LastDisconnectReasonGet() const override { return -1; }
    std::atomic<uint32_t> m_Acks{0};
};
