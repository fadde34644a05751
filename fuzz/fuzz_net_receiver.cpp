// libFuzzer target for the display receiver: an input is the byte stream a
// server sends on the display connection, carried by a real socket pair to
// SATaskLoopedNetReceiver, which reads headers and payloads until the stream
// ends. Every entry it hands to the screen update queue is checked as the
// processor will take it: a FrameBuffer packet whose block holds exactly its
// header and ByteCount bytes, never more than the server sent, and a payload
// only behind a header the protocol accepts.
#include "fuzz/FuzzSupport.h"
#include "net/SAQueueScreenUpdates.h"
#include "net/SATaskLoopedNetReceiver.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace
{
std::vector<std::vector<uint8_t>> Seeds()
{
    std::vector<std::vector<uint8_t>> seeds;
    for (int codec = 0; codec < 4; ++codec)
        seeds.push_back(FuzzFramePackets(codec));
    std::vector<uint8_t> mixed = FuzzControlPackets();
    const std::vector<uint8_t> frame = FuzzFramePackets(0);
    mixed.insert(mixed.begin() + 2 * SA_PACKET_HEADER_SIZE, frame.begin(), frame.end());
    seeds.push_back(mixed);
    return seeds;
}

// Takes every queued entry; returns the bytes of the packets among them.
size_t QueueDrain(SAQueueScreenUpdates& queue)
{
    size_t bytes = 0;
    for (SAScreenUpdate entry = queue.Take(); entry.m_Kind != SAScreenUpdateKind::None; entry = queue.Take())
    {
        if (entry.m_Kind != SAScreenUpdateKind::Packet)
            continue;
        if (!entry.m_pPacket || entry.m_PacketSize < SA_PACKET_HEADER_SIZE)
            std::abort();
        const SAPacketHeader header = SAPacketHeader::FromBytes(entry.m_pPacket.get());
        if (header.HeaderTypeGet() != SA_HEADER_FRAME_BUFFER ||
            entry.m_PacketSize != SA_PACKET_HEADER_SIZE + size_t(header.ByteCountGet()))
            std::abort();
        // A payload comes only with a header the protocol accepts; a header
        // refused for its bounds goes on alone (its screen may be replaced by
        // the last one shown), only to be counted into its frame.
        if (header.ByteCountGet() != 0 && SANetProtocol::PacketCheck(header) != SAPacketVerdict::Valid)
            std::abort();
        // The processor reads the whole block.
        volatile uint8_t last = entry.m_pPacket[entry.m_PacketSize - 1];
        (void)last;
        bytes += entry.m_PacketSize;
    }
    return bytes;
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
    FuzzStream stream(data, size);
    FuzzMessageTarget target;
    SAQueueScreenUpdates queue(&target);
    SATaskLoopedNetReceiver receiver(&queue, &target);
    auto connection = std::make_shared<SANetSocketStream>();
    connection->SocketAdopt(stream.ReaderTake());
    receiver.ConnectionSet(connection, 1);
    // OnEntry raises the receiving thread's priority, which here is the
    // fuzzer's own: it goes back to what it was (the fuzzer runs niced).
    const id_t thread = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int niceness = getpriority(PRIO_PROCESS, thread);
    receiver.OnEntry();
    if (errno == 0)
        setpriority(PRIO_PROCESS, thread, niceness);
    size_t queued = 0;
    while (receiver.OnExecute())
        queued += QueueDrain(queue);
    receiver.OnExit();
    queued += QueueDrain(queue);
    // A skipped payload leaves its header alone in the queue: what is queued
    // never exceeds what was sent.
    if (queued > size)
        std::abort();
    return 0;
}
