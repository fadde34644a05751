#include "fuzz/FuzzSupport.h"

#include "core/SALog.h"
#include "peer/PeerEncoder.h"
#include "peer/PeerFrameSynth.h"
#include "peer/PeerPacket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

void FuzzLogQuiet()
{
    SALogMaskSet(0);
}

void FuzzSeedsWrite(std::vector<std::vector<uint8_t>> (*make)())
{
    const char* folder = std::getenv("QM_FUZZ_SEEDS");
    if (folder == nullptr)
        return;
    int written = 0;
    for (const std::vector<uint8_t>& seed : make())
    {
        const std::string path = std::string(folder) + "/seed-" + std::to_string(written++);
        if (FILE* file = std::fopen(path.c_str(), "wb"))
        {
            std::fwrite(seed.data(), 1, seed.size(), file);
            std::fclose(file);
        }
    }
}

void FuzzPacketAppend(std::vector<uint8_t>& out, const SAPacketHeader& header, const uint8_t* payload,
                      size_t bytes)
{
    out.insert(out.end(), header.m_Bytes, header.m_Bytes + SA_PACKET_HEADER_SIZE);
    if (payload != nullptr)
        out.insert(out.end(), payload, payload + bytes);
}

std::vector<uint8_t> FuzzFramePackets(int codec)
{
    const int width = 64, height = 48;
    const PeerCodec codecs[] = {PeerCodec::Raw, PeerCodec::Yuv, PeerCodec::Jpeg, PeerCodec::H264};
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 4);
    PeerEncoder encoder(codecs[codec], 80, 4);
    const bool video = codecs[codec] == PeerCodec::H264;
    std::vector<uint8_t> out;
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
            FuzzPacketAppend(out,
                             encoder.BandHeaderGet(width, height, width, static_cast<size_t>(width) * 4,
                                                   i * band, band, fragments, bytes),
                             payload, bytes);
        }
    }
    return out;
}

std::vector<uint8_t> FuzzControlPackets()
{
    std::vector<uint8_t> out;
    FuzzPacketAppend(out, PeerPacket::StreamReset(1));
    FuzzPacketAppend(out, PeerPacket::Visibility(1));
    for (int32_t kind = 1; kind <= PEER_MALFORMED_KIND_COUNT; ++kind)
        FuzzPacketAppend(out, PeerPacket::Malformed(kind, 64, 48));
    SAPacketHeader other;
    for (uint32_t type : {4u, 5u, 6u, 7u, 9u, 13u})
    {
        other.HeaderTypeSet(type);
        FuzzPacketAppend(out, other);
    }
    FuzzPacketAppend(out, PeerPacket::Visibility(0));
    FuzzPacketAppend(out, PeerPacket::Disconnect(3));
    return out;
}

bool FuzzMessageTarget::Post(uint32_t, uintptr_t, intptr_t)
{
    ++m_Messages;
    return true;
}

intptr_t FuzzMessageTarget::Send(uint32_t, uintptr_t, intptr_t)
{
    ++m_Messages;
    return 0;
}

FuzzStream::FuzzStream(const uint8_t* data, size_t size)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return;
    m_Reader = ends[0];
    auto feed = [](int end, const uint8_t* bytes, size_t count)
    {
        while (count > 0)
        {
            const ssize_t n = send(end, bytes, count, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            bytes += n;
            count -= static_cast<size_t>(n);
        }
        close(end);
    };
    if (size <= 64 * 1024)
        feed(ends[1], data, size);
    else
        m_Sender = std::thread(feed, ends[1], data, size);
}

FuzzStream::~FuzzStream()
{
    if (m_Reader >= 0)
        close(m_Reader);
    if (m_Sender.joinable())
        m_Sender.join();
}
