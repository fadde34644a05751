#pragma once
// What a connection tells its owner. Called on the connection's own thread;
// implementations must be thread-safe (several connections call at once).
#include <cstdint>

class PeerConnectionObserver
{
public:
    virtual ~PeerConnectionObserver() = default;
    // A display connection asks for one of the --max-clients slots; false
    // when all are taken. Each true is paired with one DisplaySlotRelease.
    virtual bool DisplaySlotTake(uint32_t connectionId) = 0;
    virtual void DisplaySlotRelease(uint32_t connectionId) = 0;
    // All fragments of frame `frameNumber` have been sent.
    virtual void ConnectionFrameSent(uint32_t frameNumber) = 0;
    // The connection is over (its socket is shut down); last call it makes.
    virtual void ConnectionEnded(uint32_t connectionId) = 0;
};
