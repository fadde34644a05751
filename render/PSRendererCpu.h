#pragma once
// A renderer that keeps the frame in memory only: no GPU, nothing drawn.
// FrameBufferPartialUpdate copies into the frame, Present counts frames for
// the frame-rate meter and the status record, the camera still answers
// PictureCenterGet and ScreenClientToTarget for the window size it is given.
// The headless tool falls back to it when no GL context can be had, and the
// benchmarks use it to measure the pipeline without the rasteriser.
//
// Threads as in PSRendererBase; nothing here needs a particular thread.
// m_StatusLock guards the status record, the meter and the repaint request;
// the frame and the camera lock themselves.
#include "render/PSRendererBase.h"
#include "render/PSRendererCamera.h"
#include "render/PSRendererFrame.h"
#include "render/PSRendererFrameRateMeter.h"

#include <cstdint>
#include <functional>
#include <mutex>

class PSRendererCpu : public PSRendererBase
{
public:
    // clock gives the present times of the frame-rate meter (milliseconds).
    explicit PSRendererCpu(std::function<uint32_t()> clock = nullptr);
    ~PSRendererCpu() override;

    void SurfaceSet(PSRendererSurface* surface) override;
    void Uninitialize(bool all) override;
    void WindowSizeSet(float width, float height) override;
    void WindowSizeGet(float* width, float* height) override;
    bool ResolutionSet(int x, int y) override;
    void ParameterScaleAdjust(float delta) override;
    void ParameterTranslateAdjust(float dx, float dy) override;
    void ParameterRotateAdjust(float pitch, float yaw, float roll) override;
    void ParametersReset() override;
    void StatusValueSet(int value) override;
    bool FrameBufferPartialUpdate(const void* pixels, size_t pixelsBytes, int pitch, int colourFormat,
                                  const PSRendererRect* rect, int fragmentIndex) override;
    uint8_t* FrameBufferRegionAcquire(const PSRendererRect& rect, int* pitch) override;
    void FrameBufferRegionRelease(const PSRendererRect& rect) override;
    bool FrameBufferPlanarUpdate(const SAPlanarPicture& picture) override;
    void PointerPositionSet(int x, int y, bool visible) override;
    void PointerShapeSet(int width, int height, int pitch, int type, const void* bits) override;
    bool Present(int count) override;
    void RenderModeSet(bool full) override;
    bool RenderModeGet() override;
    void StatusClear() override;
    PSRendererStatus StatusGet() override;
    void PictureCenterGet(float* x, float* y) override;
    bool ScreenClientToTarget(float x, float y, float result[2], float size[2]) override;
    void RepaintRequestSet(std::function<void()> request) override;
    bool FrameSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height) override;
    bool WindowSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height) override;

    // Presents counted with count > 0 since construction (benchmarks).
    uint64_t FramesPresentedGet();

private:
    void PrivateRepaint();

    std::function<uint32_t()> m_Clock;
    PSRendererCamera m_Camera;
    PSRendererFrame m_Frame;

    std::mutex m_StatusLock;
    // Guarded by m_StatusLock:
    PSRendererStatus m_Status{};
    PSRendererFrameRateMeter m_FrameRateMeter;
    std::function<void()> m_RepaintRequest;
    uint64_t m_FramesPresented = 0;
    bool m_FrameReady = false; // a resolution has been set successfully
    bool m_NoFrameLogged = false;
};
