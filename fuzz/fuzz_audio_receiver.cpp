// libFuzzer target for the audio receiver: an input is the byte stream a
// server sends on the audio connection, carried by a real socket pair to
// SATaskLoopedNetAudioReceiverRenderer, which reads headers and payloads
// until the stream ends. The renderer has no device here (nothing may play
// in a fuzzer), so AudioData ends at its door; a server Disconnect reaches a
// client whose audio is not running.
#include "fuzz/FuzzSupport.h"
#include "net/SANetClient.h"
#include "net/SAQueueScreenUpdates.h"
#include "net/SATaskLoopedNetAudioReceiverRenderer.h"
#include "peer/PeerConnection.h"

#include <cstdlib>

namespace
{
FuzzMessageTarget g_Target;
SAQueueScreenUpdates* g_pQueue = nullptr;
SANetClient* g_pClient = nullptr;

std::vector<std::vector<uint8_t>> Seeds()
{
    // Ten milliseconds of the peer's tone per packet, then its Disconnect.
    constexpr size_t FRAMES = 480;
    std::vector<uint8_t> pcm(FRAMES * 4);
    std::vector<uint8_t> stream;
    for (uint64_t packet = 0; packet < 3; ++packet)
    {
        PeerConnection::AudioToneFill(packet * FRAMES, pcm.data(), FRAMES);
        SAPacketHeader header;
        header.HeaderTypeSet(SA_HEADER_AUDIO_DATA);
        header.ByteCountSet(static_cast<uint32_t>(pcm.size()));
        FuzzPacketAppend(stream, header, pcm.data(), pcm.size());
    }
    std::vector<uint8_t> control = FuzzControlPackets();
    std::vector<uint8_t> mixed = stream;
    mixed.insert(mixed.end(), control.begin(), control.end());
    return {stream, mixed};
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLogQuiet();
    FuzzSeedsWrite(Seeds);
    g_pQueue = new SAQueueScreenUpdates(&g_Target);
    g_pClient = new SANetClient(g_pQueue, &g_Target);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzStream stream(data, size);
    SATaskLoopedNetAudioReceiverRenderer receiver(g_pClient, &g_Target);
    receiver.ConnectionGet().SocketAdopt(stream.ReaderTake());
    uint64_t steps = 0;
    while (receiver.OnExecute())
        ++steps;
    receiver.OnExit();
    // Each step reads one header; the last, failing one may have read its
    // header before its payload ran out.
    const uint64_t headers = receiver.HeadersReceivedGet();
    if (headers < steps || headers > steps + 1 || headers * SA_PACKET_HEADER_SIZE > size)
        std::abort();
    return 0;
}
