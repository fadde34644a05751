#pragma once
// Pre-encoded streams for the pipeline benchmark: a few distinct frames of
// the peer's desktop picture, each cut into fragments and wrapped as the
// receiver hands packets on (header and payload in one block).
#include "net/SANetProtocol.h"
#include "peer/PeerOptions.h"

#include <cstdint>
#include <memory>
#include <vector>

struct BenchPacket
{
    std::vector<uint8_t> m_Block; // header + payload
    int32_t m_Top = 0;
    int32_t m_Rows = 0;
};

struct BenchFrame
{
    std::vector<BenchPacket> m_Packets; // one per fragment
};

class BenchStream
{
public:
    BenchStream(PeerCodec codec, int width, int height, int fragments, int frames, int quality);

    const std::vector<BenchFrame>& FramesGet() const { return m_Frames; }
    int WidthGet() const { return m_Width; }
    int HeightGet() const { return m_Height; }
    int FragmentsGet() const { return m_Fragments; }
    PeerCodec CodecGet() const { return m_Codec; }

    // A heap copy of a packet, as the receiver would allocate it.
    static std::unique_ptr<uint8_t[]> BlockCopy(const BenchPacket& packet);

private:
    PeerCodec m_Codec;
    int m_Width;
    int m_Height;
    int m_Fragments;
    std::vector<BenchFrame> m_Frames;
};
