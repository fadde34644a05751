#include "pipeline/SATaskLoopedFrameBufferProcessor.h"

#include "core/PSExceptionGuard.h"
#include "core/PSSpinWait.h"
#include "core/PSTime.h"
#include "core/SALog.h"
#include "net/SANetClientControl.h"
#include "net/SANetProtocol.h"
#include "pipeline/SADisplayView.h"
#include "pipeline/SAPipelineOptions.h"

#include <algorithm>
#include <new>

namespace
{
constexpr uint32_t SA_COMPRESSION_H264 = 4;
// Frames whose bands took less than this to finish are awaited by polling.
constexpr uint64_t SA_FRAME_POLL_NS = 1000000;
} // namespace

SATaskLoopedFrameBufferProcessor::SATaskLoopedFrameBufferProcessor(SAQueueScreenUpdates* queue,
                                                                   SANetClientControl* client,
                                                                   SADisplayView* view)
    : m_pQueue(queue), m_pClient(client), m_pView(view)
{
    for (uint32_t i = 0; i < SA_FRAME_BUFFER_DECODER_COUNT; ++i)
    {
        std::unique_ptr<SATaskQueuedDecoder> decoder(new (std::nothrow) SATaskQueuedDecoder(view));
        if (decoder)
            m_Decoders.push_back(std::move(decoder));
    }
}

SATaskLoopedFrameBufferProcessor::~SATaskLoopedFrameBufferProcessor()
{
    // The decoder queue was stopped in OnExit; stopping it again is harmless
    // and guarantees no worker still runs a task destroyed below.
    m_TaskQueue.Stop();
}

void SATaskLoopedFrameBufferProcessor::CountersReset()
{
    m_StopFlag = false;
    m_UpdateCounter = 0;
    m_FramesCounter = 0;
}

bool SATaskLoopedFrameBufferProcessor::OnEntry()
{
    // A renderer exists before the first frame.
    m_ScreenWidth = 640;
    m_ScreenHeight = 480;
    m_AllowFull = !SAPipelineOptions::s_ScreenUpdateRectanglesOnly.load();
    m_pView->ResolutionSet(m_ScreenWidth, m_ScreenHeight, m_AllowFull);
    m_pQueue->WakeEventSet(&m_UpdateEvent);
    m_TaskQueue.Start();
    return true;
}

void SATaskLoopedFrameBufferProcessor::OnExit()
{
    SALog(SA_LOG_RENDER, "SATaskLoopedFrameBufferProcessor::OnExit\n");
    // A receiver that ends after the processor (it is not joined when a
    // connection stops) still appends its reset marker: it must not find
    // this event, which goes with the processor.
    m_pQueue->WakeEventRemove(&m_UpdateEvent);
    m_TaskQueue.Stop();
}

void SATaskLoopedFrameBufferProcessor::StopRequest()
{
    m_StopFlag = true;
    m_StopEvent.Set();
}

bool SATaskLoopedFrameBufferProcessor::OnExecute()
{
    PSEvent* events[] = {&m_StopEvent, &m_UpdateEvent};
    uint32_t result = PSEvent::WaitAny(events, 2, PS_INFINITE);
    if (result == PS_WAIT_OBJECT_0)
        return false;
    if (result == PS_WAIT_TIMEOUT)
        return true;
    if (result != PS_WAIT_OBJECT_0 + 1)
    {
        SALog(SA_LOG_FAILURE, "SATaskLoopedFrameBufferProcessor::OnExecute failed! Unexpected dwWaitRet:%u\n",
              result);
        return true;
    }
    m_UpdateEvent.Reset();
    PSExceptionGuard::Run("SATaskLoopedFrameBufferProcessor::OnExecute", [this] { PrivateOnExecutePass(); });
    return true;
}

void SATaskLoopedFrameBufferProcessor::PrivateOnExecutePass()
{
    for (;;)
    {
        // The stop flag is looked at before an entry is taken, so a stop
        // leaves every remaining entry (and its packet) in the queue.
        if (m_StopFlag.load())
            return;
        SAScreenUpdate entry = m_pQueue->Take();
        if (entry.m_Kind == SAScreenUpdateKind::None)
            return;
        switch (entry.m_Kind)
        {
        case SAScreenUpdateKind::Repaint:
            m_pView->Present(0);
            break;
        case SAScreenUpdateKind::FragmentReset:
            m_UpdateCounter = 0;
            break;
        case SAScreenUpdateKind::Packet:
        {
            bool presented = false;
            uint32_t frames = 0;
            PrivateOnScreenUpdateAvailable(entry, presented, frames);
            if (!presented)
                break;
            // A view that can show nothing acknowledges nothing: the server
            // must not go on as if its frames were seen.
            const uint64_t ackBegin = PSTimeNanoseconds();
            if (m_pView->PictureShowableGet())
            {
                for (uint32_t i = 0; i < frames; ++i)
                    m_pClient->Transmit(SAPacketFrameAcknowledge());
            }
            m_Times.AckNs += PSTimeNanoseconds() - ackBegin;
            break;
        }
        default:
            break;
        }
    }
}

void SATaskLoopedFrameBufferProcessor::PrivateOnScreenUpdateAvailable(SAScreenUpdate& entry, bool& presented,
                                                                      uint32_t& frames)
{
    SALog(SA_LOG_DECODER, "SATaskLoopedFrameBufferProcessor -> task submitted\n");
    presented = false;
    frames = 0;
    const uint64_t takenNs = PSTimeNanoseconds();

    const SAPacketHeader header = SAPacketHeader::FromBytes(entry.m_pPacket.get());
    if (entry.m_PacketSize < SA_PACKET_HEADER_SIZE || header.HeaderTypeGet() != SA_HEADER_FRAME_BUFFER)
    {
        SALog(SA_LOG_FAILURE, "SATaskLoopedFrameBufferProcessor::PrivateOnScreenUpdateAvailable failed! "
                              "pHeader->HeaderType unknown\n");
        return; // the entry frees the packet
    }
    const SAFrameBufferInfo info = SAPacketFrameBufferDecode(header);
    m_LastCompressionType.store(info.CompressionType, std::memory_order_relaxed);

    const bool allowFull = !SAPipelineOptions::s_ScreenUpdateRectanglesOnly.load();
    if (info.ScreenWidth != m_ScreenWidth || info.ScreenHeight != m_ScreenHeight || allowFull != m_AllowFull)
    {
        // A new size resizes the renderer, a new render mode replaces it and
        // its decode target: no decoder task of an unfinished frame may
        // still be copying into the old one. With the same arguments the
        // view changes nothing that a decoder uses.
        m_TaskQueue.IdleEventGet().Wait(PS_INFINITE);
        m_ScreenWidth = info.ScreenWidth;
        m_ScreenHeight = info.ScreenHeight;
        m_AllowFull = allowFull;
    }
    m_pView->ResolutionSet(info.ScreenWidth, info.ScreenHeight, allowFull);

    const int32_t n = info.FragmentCount();
    if (n < 1)
    {
        // A frame of no packets can never complete: nothing would ever be
        // presented or acknowledged again.
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedFrameBufferProcessor::PrivateOnScreenUpdateAvailable failed! CountFragments "
              "invalid %d\n",
              n);
        return;
    }
    const uint32_t index = m_UpdateCounter % static_cast<uint32_t>(n);

    const uint32_t type = info.CompressionType;
    if (type != 0 && type != 1 && type != 3 && type != 4)
    {
        SALog(SA_LOG_FAILURE,
              "SATaskLoopedFrameBufferProcessor::PrivateOnScreenUpdateAvailable failed! "
              "pHeader->u.FrameBuffer.CompressionType unknown %d\n",
              static_cast<int>(type));
        return;
    }
    if (m_Decoders.empty())
        return;

    SATaskQueuedDecoder& decoder = *m_Decoders[index % m_Decoders.size()];
    // More than four fragments to a frame: fragment i and i + 4 share a task,
    // which must finish the earlier one before it takes the next packet.
    if (decoder.BusyGet())
        m_TaskQueue.IdleEventGet().Wait(PS_INFINITE);
    if (index == 0)
    {
        m_FrameQueueNs = 0;
        m_FrameBeginNs = PSTimeNanoseconds();
    }
    m_FrameQueueNs += takenNs - entry.m_QueuedNs;
    decoder.PacketSet(std::move(entry), static_cast<int32_t>(index), m_pView->DecodeTargetGet());
    decoder.BusySet();
    if (n == 1)
    {
        // A frame of one fragment (every H.264 frame) has nothing to decode
        // beside it, and this thread would only wait for it: a worker would
        // add two thread switches a frame (this thread wakes it, then sleeps
        // until it is woken back), a tenth of an H.264 frame's time on the
        // two-core machines measured. It is decoded here instead, under a
        // guard of its own like a worker's.
        PSExceptionGuard::Run("SATaskLoopedFrameBufferProcessor::PrivateOnScreenUpdateAvailable",
                              [&decoder] { decoder.OnExecute(); });
    }
    else
    {
        m_TaskQueue.TaskSubmit(&decoder);
    }

    ++m_UpdateCounter;
    if (index == 0)
        ++m_FramesCounter;

    if (index == static_cast<uint32_t>(n) - 1)
    {
        PrivateFrameWait(type);
        const uint64_t presentBegin = PSTimeNanoseconds();
        m_pView->Present(n);
        const uint64_t presentEnd = PSTimeNanoseconds();
        const uint64_t uploadNs = std::min(m_pView->PresentUploadNsGet(), presentEnd - presentBegin);
        m_Times.QueueNs += m_FrameQueueNs / static_cast<uint32_t>(n);
        PrivateFrameTimesAdd(presentBegin - m_FrameBeginNs, uploadNs, presentEnd - presentBegin - uploadNs);
        if (m_PresentObserver)
            m_PresentObserver(n);
        presented = true;
        frames = m_FramesCounter;
        m_FramesCounter = 0;
    }
}

void SATaskLoopedFrameBufferProcessor::PrivateFrameWait(uint32_t compressionType)
{
    // Waking this thread once the last band is done cost 50-80 us on the
    // two-core virtual machines measured (an idle core must be woken), a
    // sixth of a 1080p YUV or raw frame. Frames that short are therefore
    // awaited by polling, but only while the next update already waits in
    // the queue: then the wake-up would hold back the stream. A stream that
    // comes no faster than it is shown finds the queue empty, and polling
    // there only burnt CPU (0.1 to 0.2 ms a frame at 1080p60 YUV) to
    // present a frame some 50 us earlier. Long frames are slept through: a
    // poll running beside their bands took a tenth of JPEG's rate, and
    // beside the H.264 decoder's slice threads as much of its rate.
    const bool poll = compressionType != SA_COMPRESSION_H264 && m_LastFrameWaitNs < SA_FRAME_POLL_NS &&
                      !m_pQueue->IsEmpty();
    const uint64_t begin = PSTimeNanoseconds();
    if (poll)
        PSSpinWait([this] { return m_TaskQueue.IdleGet(); }, SA_FRAME_POLL_NS / 1000);
    m_TaskQueue.IdleEventGet().Wait(PS_INFINITE);
    m_LastFrameWaitNs = PSTimeNanoseconds() - begin;
}

void SATaskLoopedFrameBufferProcessor::PrivateFrameTimesAdd(uint64_t decodeNs, uint64_t uploadNs,
                                                            uint64_t presentNs)
{
    // A frame's acknowledgement is sent after its present: when the second
    // ends at that present, it counts into the next second's sums.
    const uint64_t now = PSTimeNanoseconds();
    if (m_Times.Frames == 0)
        m_Times.BeginNs = now;
    ++m_Times.Frames;
    m_Times.DecodeNs += decodeNs;
    m_Times.UploadNs += uploadNs;
    m_Times.PresentNs += presentNs;
    if (now - m_Times.BeginNs < 1000000000)
        return;
    const double frames = m_Times.Frames;
    const auto ms = [frames](uint64_t ns) { return static_cast<double>(ns) / 1e6 / frames; };
    SALog(SA_LOG_RENDER,
          "SATaskLoopedFrameBufferProcessor frame times: %u frames, queue %.2f ms, decode %.2f ms, "
          "upload %.2f ms, present %.2f ms, ack %.2f ms\n",
          m_Times.Frames, ms(m_Times.QueueNs), ms(m_Times.DecodeNs), ms(m_Times.UploadNs),
          ms(m_Times.PresentNs), ms(m_Times.AckNs));
    m_Times = FrameTimes();
}
