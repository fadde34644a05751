// libFuzzer target for the decode step of screen updates: an input is a run
// of FrameBuffer packets as the receiver frames them (a 128-byte header, then
// ByteCount bytes of payload, cut short at the end of the input), each
// decoded by one SADecoderFrameBuffer into the memory-only renderer's frame,
// as a decoder task does. Raw, YUV, JPEG and H.264 payloads all reach their
// decoders; AddressSanitizer catches any write or read outside a buffer.
//
// The renderer takes the screen size of the input's first packet, as the
// processor sets it; later packets of another size meet a frame that does
// not match their header, which the decoder must clip to. Screens above
// QM_FUZZ_SIDE pixels are skipped: the bounds above that are plain
// arithmetic, and a gigabyte frame per input would only slow the search.
//
// Headers the receiver refuses outright are skipped; those it passes on
// without their payload (beyond the viewer's bounds) are decoded that way.
//
// With QM_FUZZ_SEEDS=<folder> set, the target first writes a few real packets
// of every codec made by the peer's encoders there (a start for the corpus).
#include "fuzz/FuzzSupport.h"
#include "pipeline/SADecoderFrameBuffer.h"
#include "render/PSRendererCpu.h"
#include "render/PSRendererDecodeTarget.h"

#include <algorithm>
#include <vector>

namespace
{
constexpr int32_t QM_FUZZ_SIDE = 1024;

std::vector<std::vector<uint8_t>> Seeds()
{
    std::vector<std::vector<uint8_t>> seeds;
    for (int codec = 0; codec < 4; ++codec)
        seeds.push_back(FuzzFramePackets(codec));
    return seeds;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLogQuiet();
    FuzzSeedsWrite(Seeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PSRendererCpu renderer;
    PSRendererDecodeTarget target(&renderer);
    SADecoderFrameBuffer decoder;
    bool sized = false;
    size_t offset = 0;
    for (int32_t fragment = 0; offset + SA_PACKET_HEADER_SIZE <= size; ++fragment)
    {
        SAPacketHeader header = SAPacketHeader::FromBytes(data + offset);
        const size_t available = size - offset - SA_PACKET_HEADER_SIZE;
        const size_t payload = std::min<size_t>(header.ByteCountGet(), available);
        // Only what the receiver passes on reaches a decoder task.
        header.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
        header.ByteCountSet(static_cast<uint32_t>(payload));
        const SAFrameBufferInfo info = SAPacketFrameBufferDecode(header);
        const uint8_t* body = data + offset + SA_PACKET_HEADER_SIZE;
        offset += SA_PACKET_HEADER_SIZE + payload;
        // A header beyond the viewer's bounds goes on alone, with ByteCount 0.
        const SAPacketVerdict verdict = SANetProtocol::PacketCheck(header);
        if (verdict == SAPacketVerdict::PayloadSkip)
            header.ByteCountSet(0);
        else if (verdict != SAPacketVerdict::Valid)
            continue;
        if (info.ScreenWidth > QM_FUZZ_SIDE || info.ScreenHeight > QM_FUZZ_SIDE)
            continue;
        std::vector<uint8_t> packet(header.m_Bytes, header.m_Bytes + SA_PACKET_HEADER_SIZE);
        packet.insert(packet.end(), body, body + header.ByteCountGet());
        if (!sized)
            sized = renderer.ResolutionSet(info.ScreenWidth, info.ScreenHeight);
        if (!sized)
            continue;
        // The block ends where its payload ends, as the receiver allocates
        // it: a read past the payload is a read past the allocation.
        decoder.Decode(packet.data(), packet.size(), fragment % 4, target);
    }
    if (sized)
    {
        std::vector<uint8_t> pixels;
        int width = 0, height = 0;
        // Reads every pixel, so a planar picture is converted here too.
        renderer.FrameSnapshotGet(&pixels, &width, &height);
    }
    return 0;
}
