#pragma once
// What a connection tells its owner. Called on the connection's own thread;
// implementations must be thread-safe (several connections call at once).
#include <cstdint>

class PeerConnectionObserver
{
public:
    virtual ~PeerConnectionObserver() = default;
    // All fragments of frame `frameNumber` have been sent.
    virtual void ConnectionFrameSent(uint32_t frameNumber) = 0;
    // The connection is over (its socket is shut down); last call it makes.
    virtual void ConnectionEnded(uint32_t connectionId) = 0;
};
