// Pipeline benchmark: for each codec and size, frames per second through the
// viewer's update queue, frame buffer processor, decoder tasks and renderer,
// against the limit of decoding alone on as many threads as the pipeline
// gets, measured in the same run.
//
//   bench <codec> <W>x<H> limit=<fps> pipeline=<fps> ratio=<b/a> gl=<fps> gl_ratio=<c/a>
//
// limit:    TurboJPEG alone (memcpy for raw) on four threads, one per fragment
// pipeline: queue -> processor -> four decoder tasks -> memory-only renderer
// gl:       the same into the off-screen OpenGL renderer (Mesa's software
//           rasteriser shares the same cores here, so this one is reported only)
// Before it, a line per case gives p50/p99 of "last fragment queued ->
// present returned" in milliseconds, and one (not for H.264, a single
// access unit) the limit again with the four threads waiting for each
// other at every frame's end, as the pipeline must before it presents.
// Pipeline figures are timed from the first present on (steady state); for
// H.264 both sides are timed from the third picture on (see
// BENCH_H264_WARMUP). Each figure is the best of fifteen runs, the runs of
// the limit and of the pipeline taking turns.
//
// Options: --quick (fewer frames), --no-gl, --codec raw|yuv|jpeg|h264 (only
// that codec's cases), --each (a line per measured run, to see the spread).
#include "bench/BenchStream.h"
#include "core/PSSpinWait.h"
#include "core/PSTaskQueue.h"
#include "core/PSTime.h"
#include "core/SALog.h"
#include "net/SANetClientControl.h"
#include "net/SAQueueScreenUpdates.h"
#include "pipeline/PSDecoderH264.h"
#include "pipeline/SAMvcModel.h"
#include "render/PSPixelVector.h"
#include "render/SADisplayViewOffscreen.h"

#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr int BENCH_THREADS = 4;
int g_Runs = 15;                // measured runs of each side, the best counts
constexpr int BENCH_WINDOW = 3; // frames in flight, like the peer's flow control
// H.264 pictures decoded before either side's clock starts. The decoder
// allocates its pictures over the first two (the key frame, then the first
// picture that refers to it). The limit always decodes on the main thread,
// whose allocator hands it back the memory of its previous runs; every
// pipeline run has new threads, whose fresh memory cost 3600 page faults in
// the second 4K picture here, some 5 % of the run, a cost a viewer pays once
// per connection and not per frame.
constexpr int BENCH_H264_WARMUP = 3;
volatile uint32_t g_Sink = 0;
std::string g_CodecOnly; // empty: every codec
bool g_Each = false;     // a line for every measured run, not only the best

double Seconds(uint64_t ns)
{
    return static_cast<double>(ns) / 1e9;
}

// (a) for H.264: libavcodec alone with the viewer's decoder settings, one
// access unit per frame, no conversion to BGRX.
double LimitMeasureH264(const BenchStream& stream, int rounds)
{
    PSDecoderH264 decoder;
    if (!decoder.Initialize(stream.WidthGet(), stream.HeightGet()))
        return 0;
    const auto& frames = stream.FramesGet();
    const auto decode = [&](size_t k)
    {
        const BenchPacket& p = frames[k % frames.size()].m_Packets[0];
        bool noOutput = false;
        decoder.PictureDecode(p.m_Block.data() + SA_PACKET_HEADER_SIZE,
                              p.m_Block.size() - SA_PACKET_HEADER_SIZE, noOutput);
    };
    // The first access units (a key frame, the dearest of all, and the
    // pictures that fill the decoder's pool) are decoded before the clock
    // starts, as the pipeline is timed from the same picture on.
    constexpr size_t warmup = BENCH_H264_WARMUP;
    for (size_t k = 0; k < warmup; ++k)
        decode(k);
    const size_t total = frames.size() * static_cast<size_t>(rounds);
    const uint64_t start = PSTimeNanoseconds();
    for (size_t k = warmup; k < total; ++k)
        decode(k);
    return static_cast<double>(total - warmup) / Seconds(PSTimeNanoseconds() - start);
}

// The packets of one measured run: totalFrames frames cycling through the
// stream, each packet in a block of its own as the receiver makes them, so
// that the limit and the pipeline read the same amount of distinct memory
// (replaying a few cached frames would flatter whichever side did it).
struct BenchBlocks
{
    std::vector<std::vector<std::unique_ptr<uint8_t[]>>> m_Blocks;
    std::vector<std::vector<size_t>> m_Sizes;
};

BenchBlocks BlocksMake(const BenchStream& stream, int totalFrames)
{
    // A viewer that has run for a while gets its packets from the heap: the
    // allocator serves large blocks with mmap only until the first of them
    // is freed, then raises that threshold to the freed size. Blocks all made
    // up front would each be mapped, and each free would cost an munmap on
    // the processor thread that no running viewer pays. One block of the
    // largest size made and freed first puts the allocator in that state.
    const auto& frames = stream.FramesGet();
    size_t largest = 0;
    for (const BenchFrame& frame : frames)
        for (const BenchPacket& p : frame.m_Packets)
            largest = std::max(largest, p.m_Block.size());
    std::unique_ptr<uint8_t[]>(new uint8_t[largest]).reset();
    BenchBlocks result;
    result.m_Blocks.resize(static_cast<size_t>(totalFrames));
    result.m_Sizes.resize(static_cast<size_t>(totalFrames));
    for (int k = 0; k < totalFrames; ++k)
        for (const BenchPacket& p : frames[static_cast<size_t>(k) % frames.size()].m_Packets)
        {
            result.m_Blocks[static_cast<size_t>(k)].push_back(BenchStream::BlockCopy(p));
            result.m_Sizes[static_cast<size_t>(k)].push_back(p.m_Block.size());
        }
    return result;
}

// (a) Decoding alone: thread i decodes fragment i of every frame. With
// `barrier` the threads also wait for each other at the end of every frame,
// as the pipeline must before it presents: the gap between the two shows
// what that wait costs when the bands differ in work and there are fewer
// cores than threads, apart from anything the pipeline itself adds.
// `frame` is the screen-sized target, made and touched once per case like the
// renderer's frame, which is made before the pipeline's first present: a
// new one per run would put its page faults into the limit's time. It is
// placed in memory as the renderer's frame is: where rows start decides
// whether TurboJPEG writes them through the cache, and a heap-placed target
// made the limit up to a fifth faster or slower by chance.
double LimitMeasure(const BenchStream& stream, const BenchBlocks& blocks, int rounds, PSPixelVector& frame,
                    bool barrier = false)
{
    if (stream.CodecGet() == PeerCodec::H264)
        return LimitMeasureH264(stream, rounds);
    const int totalFrames = static_cast<int>(blocks.m_Blocks.size());
    const int width = stream.WidthGet();
    frame.resize(static_cast<size_t>(width) * stream.HeightGet() * 4);
    const auto& frames = stream.FramesGet();
    std::barrier frameEnd(std::min<int>(BENCH_THREADS, stream.FragmentsGet()));
    const uint64_t start = PSTimeNanoseconds();
    std::vector<std::thread> threads;
    for (int t = 0; t < BENCH_THREADS; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                tjhandle handle = tjInitDecompress();
                for (int k = 0; k < totalFrames; ++k)
                {
                    const BenchFrame& f = frames[static_cast<size_t>(k) % frames.size()];
                    if (t >= static_cast<int>(f.m_Packets.size()))
                        continue;
                    const BenchPacket& p = f.m_Packets[static_cast<size_t>(t)];
                    const uint8_t* payload =
                        blocks.m_Blocks[static_cast<size_t>(k)][static_cast<size_t>(t)].get() +
                        SA_PACKET_HEADER_SIZE;
                    const unsigned long bytes = p.m_Block.size() - SA_PACKET_HEADER_SIZE;
                    // Into its band of one frame, as the pipeline writes.
                    uint8_t* band = frame.data() + static_cast<size_t>(p.m_Top) * width * 4;
                    switch (stream.CodecGet())
                    {
                    case PeerCodec::Raw:
                        std::memcpy(band, payload, bytes);
                        break;
                    case PeerCodec::Yuv:
                        tjDecodeYUV(handle, payload, 4, TJSAMP_420, band, width, width * 4, p.m_Rows,
                                    TJPF_BGRA, 0);
                        break;
                    default:
                        tjDecompress2(handle, payload, bytes, band, width, width * 4, p.m_Rows, TJPF_BGRX, 0);
                        break;
                    }
                    if (barrier)
                        frameEnd.arrive_and_wait();
                }
                tjDestroy(handle);
            });
    }
    for (std::thread& t : threads)
        t.join();
    const double fps = static_cast<double>(totalFrames) / Seconds(PSTimeNanoseconds() - start);
    // The copied frame is read afterwards, so the compiler cannot drop the
    // copies into it as stores nobody reads.
    uint32_t sum = 0;
    for (size_t i = 0; i < frame.size(); i += 4096)
        sum += frame[i];
    g_Sink = g_Sink + sum;
    return fps;
}

// Counts the processor's acknowledgements for the feeder, which stands in
// for the network. It waits the way a viewer's threads wait for each other
// (a short spin, then sleep) and is woken only when it sleeps: a wake-up on
// every acknowledgement cost the processor thread about 20 us a frame on
// this machine, a cost of the stand-in rather than of the pipeline.
class BenchAcks : public SANetClientControl
{
public:
    void Connect(uint32_t) override {}
    bool Start(const std::string&) override { return true; }
    bool Transmit(const SAPacketHeader& header) override
    {
        if (header.HeaderTypeGet() == SA_HEADER_FRAME_ACKNOWLEDGE)
        {
            m_Acks.fetch_add(1);
            if (m_Sleeping.load())
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Changed.notify_all();
            }
        }
        return true;
    }
    void ConnectionStop() override {}
    bool AudioConnect(uint32_t, const std::string&, int32_t) override { return false; }
    void AudioDisconnect() override {}
    uint32_t ServerAddressGet() const override { return 0; }
    int32_t LastDisconnectReasonGet() const override { return -1; }

    void WaitAcks(uint64_t count)
    {
        if (PSSpinWait([&] { return m_Acks.load() >= count; }, PS_SPIN_WAIT_US))
            return;
        std::unique_lock<std::mutex> guard(m_Lock);
        // Raised before the count is looked at again, and the count is
        // raised before the flag is looked at: one side always sees the other.
        m_Sleeping.store(true);
        m_Changed.wait(guard, [&] { return m_Acks.load() >= count; });
        m_Sleeping.store(false);
    }

private:
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::atomic<uint64_t> m_Acks{0};
    std::atomic<bool> m_Sleeping{false};
};

struct PipelineResult
{
    double fps = 0;
    double p50 = 0;
    double p99 = 0;
    bool ran = false;
};

// (b) and (c): the viewer's own pipeline fed from memory.
PipelineResult PipelineMeasure(const BenchStream& stream, SADisplayViewOffscreen::Kind kind, int totalFrames)
{
    PipelineResult result;
    // Blocks are made before timing: the receiver's allocation and read
    // belong to the network, not to the pipeline.
    BenchBlocks made = BlocksMake(stream, totalFrames);
    auto& blocks = made.m_Blocks;
    auto& sizes = made.m_Sizes;
    SAQueueScreenUpdates queue(nullptr);
    BenchAcks client;
    SADisplayViewOffscreen view(kind, nullptr, stream.WidthGet(), stream.HeightGet());
    SAMvcModel model(&queue, &client, &view);
    std::vector<uint64_t> queued(static_cast<size_t>(totalFrames), 0);
    std::vector<uint64_t> presented(static_cast<size_t>(totalFrames), 0);
    std::atomic<int> presentIndex{0};
    model.ProcessorGet().PresentObserverSet(
        [&](int32_t)
        {
            int k = presentIndex.fetch_add(1);
            if (k < totalFrames)
                presented[static_cast<size_t>(k)] = PSTimeNanoseconds();
        });
    if (!model.Initialize())
        return result;

    uint64_t start = 0;
    for (int k = 0; k < totalFrames; ++k)
    {
        if (k >= BENCH_WINDOW)
            client.WaitAcks(static_cast<uint64_t>(k - BENCH_WINDOW + 1));
        if (k == 0)
            start = PSTimeNanoseconds();
        auto& list = blocks[static_cast<size_t>(k)];
        for (size_t i = 0; i < list.size(); ++i)
        {
            // Stamped before the last fragment goes in: after it, the
            // frame may be presented before this thread runs again.
            if (i + 1 == list.size())
                queued[static_cast<size_t>(k)] = PSTimeNanoseconds();
            queue.PacketAppend(std::move(list[i]), sizes[static_cast<size_t>(k)][i]);
        }
    }
    client.WaitAcks(static_cast<uint64_t>(totalFrames));
    const uint64_t end = PSTimeNanoseconds();
    model.Uninitialize();

    if (kind == SADisplayViewOffscreen::Kind::Gl && !view.IsGlGet())
        return result;
    result.ran = true;
    // Steady state: timed from the first present (H.264: from the one its
    // limit starts after), so that one-time set-up (the renderer's first
    // frame allocation, the H.264 decoder's creation and pictures) counts no
    // more here than in the limit, which sets up before its clock.
    const int warmup = stream.CodecGet() == PeerCodec::H264 ? BENCH_H264_WARMUP : 1;
    if (totalFrames > warmup && presented[static_cast<size_t>(warmup - 1)] > start)
        start = presented[static_cast<size_t>(warmup - 1)];
    result.fps = (totalFrames > warmup ? totalFrames - warmup : 1) / Seconds(end - start);
    std::vector<double> latency;
    for (int k = 0; k < totalFrames; ++k)
        latency.push_back(
            static_cast<double>(presented[static_cast<size_t>(k)] - queued[static_cast<size_t>(k)]) / 1e6);
    std::sort(latency.begin(), latency.end());
    result.p50 = latency[latency.size() / 2];
    result.p99 = latency[std::min(latency.size() - 1, latency.size() * 99 / 100)];
    return result;
}

const char* CodecName(PeerCodec codec)
{
    switch (codec)
    {
    case PeerCodec::Raw:
        return "raw";
    case PeerCodec::Yuv:
        return "yuv";
    case PeerCodec::Jpeg:
        return "jpeg";
    default:
        return "h264";
    }
}

void CaseRun(PeerCodec codec, int width, int height, int frames, int rounds, bool gl)
{
    // H.264 carries the whole screen in one access unit; the others come in
    // four bands.
    if (!g_CodecOnly.empty() && g_CodecOnly != CodecName(codec))
        return;
    const bool h264 = codec == PeerCodec::H264;
    BenchStream stream(codec, width, height, h264 ? 1 : 4, h264 ? 30 : 8, 70);
    // The limit decodes the very packets a pipeline run gets, from blocks of
    // their own (H.264 replays its stream: one small access unit a frame).
    const BenchBlocks limitBlocks = h264 ? BenchBlocks{} : BlocksMake(stream, frames);
    PSPixelVector limitFrame;
    LimitMeasure(stream, limitBlocks, 1, limitFrame); // warm-up: page in the payloads, start the threads once
    // The best of fifteen runs each: the limit is what decoding alone can
    // reach, and on a shared machine one run can lose a whole time slice at
    // a frame boundary. The runs take turns, so that a slower or faster
    // spell of the machine (other guests on the host) falls on both sides
    // alike instead of on whichever was measured during it. On a two-core
    // virtual machine single pairs of runs a second apart differ by up to a
    // third, so a best of a few runs is mostly luck; fifteen give each side
    // more chances at a quiet spell.
    double limit = 0;
    double barrierLimit = 0;
    PipelineResult cpu;
    for (int i = 0; i < g_Runs; ++i)
    {
        const double runLimit = LimitMeasure(stream, limitBlocks, rounds, limitFrame);
        limit = std::max(limit, runLimit);
        double runBarrier = 0;
        if (!h264)
        {
            runBarrier = LimitMeasure(stream, limitBlocks, rounds, limitFrame, true);
            barrierLimit = std::max(barrierLimit, runBarrier);
        }
        PipelineResult run = PipelineMeasure(stream, SADisplayViewOffscreen::Kind::Cpu, frames);
        if (run.fps > cpu.fps)
            cpu = run;
        if (g_Each)
            std::printf("run %s %dx%d #%d limit=%.1f barrier=%.1f pipeline=%.1f ratio=%.3f\n",
                        CodecName(codec), width, height, i + 1, runLimit, runBarrier, run.fps,
                        run.fps / runLimit);
    }
    PipelineResult glResult;
    if (gl)
        glResult = PipelineMeasure(stream, SADisplayViewOffscreen::Kind::Gl, std::max(8, frames / 4));
    // The summary line comes last: it ends the case.
    std::printf("latency %s %dx%d queued-to-presented p50=%.2fms p99=%.2fms (gl p50=%.2fms p99=%.2fms)\n",
                CodecName(codec), width, height, cpu.p50, cpu.p99, glResult.p50, glResult.p99);
    if (!h264)
    {
        std::printf(
            "frame-barrier %s %dx%d decode-with-frame-barrier=%.1f of-limit=%.3f pipeline-of-it=%.3f\n",
            CodecName(codec), width, height, barrierLimit, barrierLimit / limit, cpu.fps / barrierLimit);
    }
    std::printf("bench %s %dx%d limit=%.1f pipeline=%.1f ratio=%.3f gl=%.1f gl_ratio=%.3f\n",
                CodecName(codec), width, height, limit, cpu.fps, cpu.fps / limit, glResult.fps,
                glResult.fps / limit);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    // Only failures reach the console; the pipeline's traces would skew it.
    SALogMaskSet(SA_LOG_FAILURE);
    bool quick = false;
    bool gl = true;
    for (int i = 1; i < argc; ++i)
    {
        quick = quick || std::string(argv[i]) == "--quick";
        gl = gl && std::string(argv[i]) != "--no-gl";
        g_Each = g_Each || std::string(argv[i]) == "--each";
        if (std::string(argv[i]) == "--runs" && i + 1 < argc)
            g_Runs = std::max(1, std::atoi(argv[++i]));
        if (std::string(argv[i]) == "--codec" && i + 1 < argc)
            g_CodecOnly = argv[++i];
    }
    const int scale = quick ? 4 : 1;
    CaseRun(PeerCodec::Jpeg, 1920, 1080, 240 / scale, 30 / scale, gl);
    CaseRun(PeerCodec::Yuv, 1920, 1080, 240 / scale, 30 / scale, gl);
    CaseRun(PeerCodec::Raw, 1920, 1080, 120 / scale, 30 / scale, gl);
    CaseRun(PeerCodec::Jpeg, 3840, 2160, 60 / scale, 8 / scale, gl);
    CaseRun(PeerCodec::Yuv, 3840, 2160, 60 / scale, 8 / scale, gl);
    CaseRun(PeerCodec::Raw, 3840, 2160, 40 / scale, 8 / scale, gl);
    CaseRun(PeerCodec::H264, 1920, 1080, 240 / scale, 8 / scale, gl);
    CaseRun(PeerCodec::H264, 3840, 2160, 60 / scale, 2, gl);
    return 0;
}
