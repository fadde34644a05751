#include "bench/BenchStream.h"

#include "peer/PeerEncoder.h"
#include "peer/PeerFrameSynth.h"

#include <cstring>

BenchStream::BenchStream(PeerCodec codec, int width, int height, int fragments, int frames, int quality)
    : m_Codec(codec), m_Width(width), m_Height(height), m_Fragments(fragments)
{
    // H.264 frames reference their predecessors: one group of pictures per
    // pass over the frames, so that replaying them in a loop starts each
    // pass with a key frame.
    PeerEncoder encoder(codec, quality, frames);
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 4);
    const int band = height / fragments;
    for (int f = 0; f < frames; ++f)
    {
        PeerFrameSynth(width, height, static_cast<uint32_t>(f * 7), picture.data());
        BenchFrame frame;
        for (int i = 0; i < fragments; ++i)
        {
            const int top = i * band;
            const int rows = i == fragments - 1 ? height - top : band;
            const uint8_t* payload = nullptr;
            size_t bytes = 0;
            encoder.BandEncode(picture.data() + static_cast<size_t>(top) * width * 4, width,
                               static_cast<size_t>(width) * 4, rows, payload, bytes);
            const SAPacketHeader header = encoder.BandHeaderGet(
                width, height, width, static_cast<size_t>(width) * 4, top, rows, fragments, bytes);
            BenchPacket packet;
            packet.m_Top = top;
            packet.m_Rows = rows;
            packet.m_Block.resize(SA_PACKET_HEADER_SIZE + bytes);
            std::memcpy(packet.m_Block.data(), header.m_Bytes, SA_PACKET_HEADER_SIZE);
            std::memcpy(packet.m_Block.data() + SA_PACKET_HEADER_SIZE, payload, bytes);
            frame.m_Packets.push_back(std::move(packet));
        }
        m_Frames.push_back(std::move(frame));
    }
}

std::unique_ptr<uint8_t[]> BenchStream::BlockCopy(const BenchPacket& packet)
{
    std::unique_ptr<uint8_t[]> block(new uint8_t[packet.m_Block.size()]);
    std::memcpy(block.get(), packet.m_Block.data(), packet.m_Block.size());
    return block;
}
