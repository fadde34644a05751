#pragma once
// The frame buffer processor: takes the screen update queue's entries in
// order, hands fragment i of a frame to decoder task i on a four-worker task
// queue, waits until every fragment of the frame is decoded, has the display
// view present it and acknowledges each frame begun since the last present.
// A frame of a single fragment (H.264) is decoded by its task on the
// processor thread itself: there is nothing to run beside it.
//
// Threads: OnEntry/OnExecute/OnExit on the processor thread (which also does
// every Present, hence all GL work); StopRequest from the owner's thread;
// LastCompressionTypeGet from any thread. The decoder tasks run on the four
// workers of m_TaskQueue, a single-fragment frame's on the processor thread.
// The counters are processor-thread only.
//
// Ownership: queue, client and view are borrowed and outlive the processor.
// The processor owns its decoder tasks; each keeps its last packet until it
// gets the next one (at most four packets stay allocated after a frame).
#include "core/PSEvent.h"
#include "core/PSTaskAsyncLooped.h"
#include "core/PSTaskQueue.h"
#include "net/SAQueueScreenUpdates.h"
#include "pipeline/SATaskQueuedDecoder.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class SADisplayView;
class SANetClientControl;

constexpr uint32_t SA_FRAME_BUFFER_DECODER_COUNT = 4;

class SATaskLoopedFrameBufferProcessor : public PSTaskAsyncLooped
{
public:
    SATaskLoopedFrameBufferProcessor(SAQueueScreenUpdates* queue, SANetClientControl* client,
                                     SADisplayView* view);
    ~SATaskLoopedFrameBufferProcessor() override;

    bool OnExecute() override;
    bool OnEntry() override;
    void OnExit() override;
    void StopRequest() override;

    // Before each start: stop flag, update counter and frames counter to 0.
    void CountersReset();
    uint32_t LastCompressionTypeGet() const { return m_LastCompressionType.load(std::memory_order_relaxed); }

    // For measurements: called on the processor thread right after each
    // Present of a frame (not of a repaint) with its fragment count.
    void PresentObserverSet(std::function<void(int32_t count)> observer)
    {
        m_PresentObserver = std::move(observer);
    }

private:
    void PrivateOnExecutePass();
    void PrivateOnScreenUpdateAvailable(SAScreenUpdate& entry, bool& presented, uint32_t& frames);
    // Until every decoder task of the frame has finished.
    void PrivateFrameWait(uint32_t compressionType);
    // Adds a presented frame's times; logs the means once a second.
    void PrivateFrameTimesAdd(uint64_t decodeNs, uint64_t uploadNs, uint64_t presentNs);

    PSEvent m_StopEvent{false, false};
    PSEvent m_UpdateEvent{false, false};
    std::atomic<bool> m_StopFlag{false};
    SAQueueScreenUpdates* const m_pQueue;
    SANetClientControl* const m_pClient;
    SADisplayView* const m_pView;
    std::vector<std::unique_ptr<SATaskQueuedDecoder>> m_Decoders;
    PSTaskQueue m_TaskQueue{SA_FRAME_BUFFER_DECODER_COUNT};
    uint32_t m_UpdateCounter = 0;
    uint32_t m_FramesCounter = 0;
    uint64_t m_LastFrameWaitNs = 0; // how long the previous frame's bands took to finish
    std::atomic<uint32_t> m_LastCompressionType{0};
    int32_t m_ScreenWidth = 0;
    int32_t m_ScreenHeight = 0;
    bool m_AllowFull = true; // the render mode last asked of the view
    std::function<void(int32_t)> m_PresentObserver;

    // Where a frame's time goes, so that a user can tell a slow network from
    // a slow machine: summed over the frames of about a second, then logged
    // as means (category 0x2). Processor thread only.
    struct FrameTimes
    {
        uint64_t BeginNs = 0; // when the first frame of these was presented
        uint32_t Frames = 0;
        uint64_t QueueNs = 0; // a fragment's wait in the update queue
        uint64_t DecodeNs = 0;
        uint64_t UploadNs = 0;
        uint64_t PresentNs = 0;
        uint64_t AckNs = 0;
    };
    FrameTimes m_Times;
    uint64_t m_FrameQueueNs = 0; // the current frame's fragments' waits
    uint64_t m_FrameBeginNs = 0; // its first fragment handed to a decoder
};
