#pragma once
// A renderer that keeps the frame in memory only: no GPU, nothing drawn.
// FrameBufferPartialUpdate copies into the frame, Present counts frames for
// the frame-rate meter and the status record, the camera still answers
// PictureCenterGet and ScreenClientToTarget for the window size it is given.
// The headless tool falls back to it when no GL context can be had, and the
// benchmarks use it to measure the pipeline without the rasteriser.
//
// Threads as in PSRendererBase; nothing here needs a particular thread.
#include "render/PSRendererFramed.h"

#include <cstdint>
#include <functional>
#include <mutex>

class PSRendererCpu : public PSRendererFramed
{
public:
    // clock gives the present times of the frame-rate meter (milliseconds).
    explicit PSRendererCpu(std::function<uint32_t()> clock = nullptr);
    ~PSRendererCpu() override;

    void SurfaceSet(PSRendererSurface* surface) override;
    void Uninitialize(bool all) override;
    bool ResolutionSet(int x, int y) override;
    bool Present(int count) override;
    bool WindowSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height) override;

    // Presents counted with count > 0 since construction (benchmarks).
    uint64_t FramesPresentedGet();

private:
    // Guarded by m_StatusLock:
    uint64_t m_FramesPresented = 0;
    bool m_FrameReady = false; // a resolution has been set successfully
    bool m_NoFrameLogged = false;
};
