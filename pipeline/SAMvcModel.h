#pragma once
// The model of the main frame: owns the frame buffer processor and the
// thread it runs on for the whole life of the application. Server
// connections come and go beneath it.
//
// Threads: Initialize and Uninitialize on the window thread (or the tool's
// main thread). The processor runs on its own thread and reaches the display
// view through SADisplayView (processor thread only) and the client through
// Transmit.
//
// Ownership: the queue, the client and the view are borrowed; they must
// outlive the model, and the view must stay valid until Uninitialize
// returned.
#include "core/PSThreadTaskLoop.h"
#include "pipeline/SATaskLoopedFrameBufferProcessor.h"

class SAMvcModel
{
public:
    SAMvcModel(SAQueueScreenUpdates* queue, SANetClientControl* client, SADisplayView* view);
    ~SAMvcModel();
    SAMvcModel(const SAMvcModel&) = delete;
    SAMvcModel& operator=(const SAMvcModel&) = delete;

    // Starts the processor thread; logs and returns false on failure.
    bool Initialize();
    // Stops the processor (its pass ends at the next entry) and waits for
    // its thread. Entries left in the queue stay there.
    void Uninitialize();

    SATaskLoopedFrameBufferProcessor& ProcessorGet() { return m_TaskLoopedFrameBufferProcessor; }
    // CompressionType of the last frame-buffer packet taken (status bar).
    uint32_t LastCompressionTypeGet() const
    {
        return m_TaskLoopedFrameBufferProcessor.LastCompressionTypeGet();
    }

private:
    SATaskLoopedFrameBufferProcessor m_TaskLoopedFrameBufferProcessor;
    PSThreadTaskLoop m_ThreadTaskLoopedFrameBufferProcessor;
};
