#pragma once
// Routes the decoder tasks' rectangles into a renderer. One adapter serves
// the four decoder threads at once; the renderer keeps their rectangles apart
// and clips once more under its own lock, so a resize between the size query
// and the copy can never write outside the frame.
#include "pipeline/SADecodeTarget.h"

class PSRendererBase;

class PSRendererDecodeTarget : public SADecodeTarget
{
public:
    // renderer: borrowed; the display view keeps it alive while decoder
    // tasks may use this adapter (it replaces renderers between frames only).
    explicit PSRendererDecodeTarget(PSRendererBase* renderer) : m_pRenderer(renderer) {}

    bool FrameSizeGet(int32_t& width, int32_t& height) override;
    void FrameBufferPartialUpdate(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                  const uint8_t* bgrx, int32_t pitch) override;
    uint8_t* FrameRegionAcquire(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                int32_t& pitch) override;
    void FrameRegionRelease(int32_t left, int32_t top, int32_t right, int32_t bottom) override;
    bool FramePlanarUpdate(const SAPlanarPicture& picture) override;

    PSRendererBase* RendererGet() const { return m_pRenderer; }

private:
    PSRendererBase* const m_pRenderer;
};
