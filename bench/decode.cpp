// The decode limit of the end-to-end benchmark (bench/e2e.sh): the CPU time
// per frame that the viewer's own decode step (SADecoderFrameBuffer, one per
// fragment as the decoder tasks keep them) needs for exactly the packets the
// peer sends, into the memory-only renderer, in one process with no
// network, no queues, no worker threads and no presentation. Whatever the
// viewer spends beyond it per frame is receiving, handing over and showing.
//
//   bench_decode [--seconds S] PEER-OPTIONS...
//   decode <codec> <W>x<H> cpu_ms=<ms per frame> frames=<n>
//
// PEER-OPTIONS are quillmere-peer's (--size, --codec, --quality,
// --fragments, --gop, --motion, --loop), so the packets are made by the same
// code with the same settings: the peer's --loop frames, replayed in order
// (without --loop, 60 of them). CPU time is the whole process's
// (CLOCK_PROCESS_CPUTIME_ID), counted from the second pass over the frames
// on, so that one-time set-up and the first key frame count as little here
// as in the viewer's steady state; decoding goes on for S seconds (default 3).
#include "core/SALog.h"
#include "peer/PeerFrameLoop.h"
#include "peer/PeerOptions.h"
#include "pipeline/SADecoderFrameBuffer.h"
#include "render/PSRendererCpu.h"
#include "render/PSRendererDecodeTarget.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace
{
double CpuSeconds()
{
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
} // namespace

int main(int argc, char** argv)
{
    double seconds = 3.0;
    std::vector<const char*> peerArguments = {argv[0]};
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else
            peerArguments.push_back(argv[i]);
    }
    PeerOptions options;
    std::string error;
    if (!PeerOptions::Parse(static_cast<int>(peerArguments.size()), peerArguments.data(), options, error) ||
        !(seconds > 0.0))
    {
        std::fprintf(stderr, "usage: bench_decode [--seconds S] PEER-OPTIONS...\n%s\n", error.c_str());
        return 2;
    }
    if (options.Loop == 0)
        options.Loop = 60;
    PeerFrameLoop loop;
    if (!loop.Build(options, error))
    {
        std::fprintf(stderr, "bench_decode: %s\n", error.c_str());
        return 1;
    }
    // Each packet as the receiver hands it on: header and payload in one block.
    std::vector<std::vector<std::vector<uint8_t>>> blocks(loop.SizeGet());
    for (size_t f = 0; f < loop.SizeGet(); ++f)
        for (const PeerLoopBand& band : loop.FrameGet(f))
        {
            std::vector<uint8_t> block(band.Header.m_Bytes, band.Header.m_Bytes + SA_PACKET_HEADER_SIZE);
            block.insert(block.end(), band.Payload.begin(), band.Payload.end());
            blocks[f].push_back(std::move(block));
        }

    PSRendererCpu renderer;
    renderer.RenderModeSet(true);
    renderer.WindowSizeSet(static_cast<float>(options.Width), static_cast<float>(options.Height));
    if (!renderer.ResolutionSet(options.Width, options.Height))
    {
        std::fprintf(stderr, "bench_decode: the renderer refused %dx%d\n", options.Width, options.Height);
        return 1;
    }
    PSRendererDecodeTarget target(&renderer);
    std::vector<SADecoderFrameBuffer> decoders(blocks[0].size());
    uint64_t failures = 0;
    auto frameDecode = [&](size_t f)
    {
        for (size_t i = 0; i < blocks[f].size(); ++i)
        {
            const SADecodeResult result =
                decoders[i].Decode(blocks[f][i].data(), blocks[f][i].size(), static_cast<int32_t>(i), target);
            if (result != SADecodeResult::Decoded && result != SADecodeResult::NeedMoreInput)
                ++failures;
        }
    };
    for (size_t f = 0; f < blocks.size(); ++f)
        frameDecode(f);
    const double cpuStart = CpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    uint64_t frames = 0;
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count() < seconds)
    {
        // Whole passes, so that every case starts each pass at its key frame.
        for (size_t f = 0; f < blocks.size(); ++f, ++frames)
            frameDecode(f);
    }
    const double cpuMs = (CpuSeconds() - cpuStart) * 1000.0 / static_cast<double>(frames);
    if (failures > 0)
    {
        std::fprintf(stderr, "bench_decode: %llu packets did not decode\n",
                     static_cast<unsigned long long>(failures));
        return 1;
    }
    std::printf("decode %s %dx%d cpu_ms=%.3f frames=%llu\n", PeerOptions::CodecName(options.Codec),
                options.Width, options.Height, cpuMs, static_cast<unsigned long long>(frames));
    return 0;
}
