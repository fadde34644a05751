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
#include "core/SALog.h"
#include "net/SANetProtocol.h"
#include "peer/PeerEncoder.h"
#include "peer/PeerFrameSynth.h"
#include "pipeline/SADecoderFrameBuffer.h"
#include "render/PSRendererCpu.h"
#include "render/PSRendererDecodeTarget.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
constexpr int32_t QM_FUZZ_SIDE = 1024;

void SeedsWrite(const std::string& folder)
{
    const int width = 64, height = 48;
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 4);
    const PeerCodec codecs[] = {PeerCodec::Raw, PeerCodec::Yuv, PeerCodec::Jpeg, PeerCodec::H264};
    int written = 0;
    for (PeerCodec codec : codecs)
    {
        PeerEncoder encoder(codec, 80, 4);
        // H.264: three pictures of one stream; the others: one frame in two bands.
        const bool video = codec == PeerCodec::H264;
        std::vector<uint8_t> input;
        for (int frame = 0; frame < (video ? 3 : 1); ++frame)
        {
            PeerFrameSynth(width, height, static_cast<uint32_t>(frame), picture.data());
            const int fragments = video ? 1 : 2;
            const int band = height / fragments;
            for (int i = 0; i < fragments; ++i)
            {
                const uint8_t* payload = nullptr;
                size_t bytes = 0;
                if (!encoder.BandEncode(picture.data() + static_cast<size_t>(i) * band * width * 4, width,
                                        static_cast<size_t>(width) * 4, band, payload, bytes))
                    continue;
                const SAPacketHeader header = encoder.BandHeaderGet(
                    width, height, width, static_cast<size_t>(width) * 4, i * band, band, fragments, bytes);
                input.insert(input.end(), header.m_Bytes, header.m_Bytes + SA_PACKET_HEADER_SIZE);
                input.insert(input.end(), payload, payload + bytes);
            }
        }
        const std::string path = folder + "/seed-" + std::to_string(written++);
        if (FILE* file = std::fopen(path.c_str(), "wb"))
        {
            std::fwrite(input.data(), 1, input.size(), file);
            std::fclose(file);
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SALogMaskSet(0); // a refusal line per packet would dominate the run time
    if (const char* folder = std::getenv("QM_FUZZ_SEEDS"))
        SeedsWrite(folder);
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
