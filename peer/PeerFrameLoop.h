#pragma once
// The frames of --loop: the synthetic desktop's frames 0..N-1, cut into
// bands and encoded once, exactly as a connection would send them (the same
// encoder settings, bands and headers). Benchmarks replay the same packets
// to measure decoding alone. Read-only after Build, so every connection
// thread may send from it at once.
#include "net/SANetProtocol.h"
#include "peer/PeerOptions.h"

#include <cstdint>
#include <string>
#include <vector>

struct PeerLoopBand
{
    SAPacketHeader Header;
    std::vector<uint8_t> Payload;
};

class PeerFrameLoop
{
public:
    // Encodes options.Loop frames of options.Width x options.Height in
    // options.Codec. False with a reason when an encoder fails.
    bool Build(const PeerOptions& options, std::string& error);
    size_t SizeGet() const { return m_Frames.size(); }
    // The bands of frame `frameNumber` of an endless stream: an H.264 loop
    // starts with its key frame, so the stream may run on from its last
    // frame to its first.
    const std::vector<PeerLoopBand>& FrameGet(uint64_t frameNumber) const
    {
        return m_Frames[frameNumber % m_Frames.size()];
    }

private:
    std::vector<std::vector<PeerLoopBand>> m_Frames;
};
