// libFuzzer target for the NAL unit trace, which walks start codes and NAL
// headers of an H.264 payload straight from the network (when the Advanced
// option "Trace H264 NALU" is on). The lines themselves are built whatever
// the log mask; it stays quiet so that the run is not spent writing them.
#include "fuzz/FuzzSupport.h"
#include "pipeline/PSDecoderH264.h"

namespace
{
std::vector<std::vector<uint8_t>> Seeds()
{
    // Access units of the peer's encoder, without their headers.
    const std::vector<uint8_t> packets = FuzzFramePackets(3);
    std::vector<std::vector<uint8_t>> seeds;
    for (size_t offset = 0; offset + SA_PACKET_HEADER_SIZE <= packets.size();)
    {
        const uint32_t bytes = SAPacketHeader::FromBytes(packets.data() + offset).ByteCountGet();
        const auto payload = packets.begin() + static_cast<ptrdiff_t>(offset + SA_PACKET_HEADER_SIZE);
        seeds.emplace_back(payload, payload + bytes);
        offset += SA_PACKET_HEADER_SIZE + bytes;
    }
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
    PSDecoderH264::NalUnitsTrace(data, size);
    return 0;
}
