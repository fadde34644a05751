#pragma once
// What the renderers that show the whole server frame share (PSRendererGL on
// a GPU, PSRendererCpu in memory only): the staging frame the decoder threads
// write into, the camera that places the picture in the window, the status
// record with its frame-rate meter, and the repaint request. A subclass adds
// what it does with the frame: ResolutionSet, Present, its surface,
// Uninitialize and WindowSnapshotGet.
//
// Threads as in PSRendererBase. m_StatusLock guards the status record and
// the meter; the frame, the camera and the repaint request lock themselves.
// A subclass that has a lock of its own takes it before m_StatusLock.
#include "render/PSRendererBase.h"
#include "render/PSRendererCamera.h"
#include "render/PSRendererFrame.h"
#include "render/PSRendererFrameRateMeter.h"
#include "render/PSRendererRepaint.h"

#include <cstdint>
#include <functional>
#include <mutex>

class PSRendererFramed : public PSRendererBase
{
public:
    void WindowSizeSet(float width, float height) override;
    void WindowSizeGet(float* width, float* height) override;
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
    // Neither renderer draws a pointer; a move only shows the picture again.
    void PointerPositionSet(int x, int y, bool visible) override;
    void PointerShapeSet(int width, int height, int pitch, int type, const void* bits) override;
    void RenderModeSet(bool full) override;
    bool RenderModeGet() override;
    void StatusClear() override;
    PSRendererStatus StatusGet() override;
    void PictureCenterGet(float* x, float* y) override;
    bool ScreenClientToTarget(float x, float y, float result[2], float size[2]) override;
    void RepaintRequestSet(std::function<void()> request) override;
    bool FrameSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height) override;

protected:
    // name: the class name in log lines ("PSRendererGL"), a literal. clock
    // gives the present times of the frame-rate meter (milliseconds); null
    // means the system's.
    PSRendererFramed(const char* name, std::function<uint32_t()> clock);

    // The meter's clock, read before a counted present.
    uint32_t PrivateClockGet() { return m_Clock(); }
    // Stamps a counted present at `now` into the meter and the status record.
    void PrivateFramePresented(uint32_t now);
    // Asks for the picture to be shown again: through the repaint request
    // when one is set, otherwise Present(0) on the calling thread.
    void PrivateRepaint();

    const char* const m_Name;
    PSRendererCamera m_Camera;
    PSRendererFrame m_Frame;

    std::mutex m_StatusLock;
    // Guarded by m_StatusLock:
    PSRendererStatus m_Status{};

private:
    std::function<uint32_t()> m_Clock;
    // Guarded by m_StatusLock:
    PSRendererFrameRateMeter m_FrameRateMeter;
    PSRendererRepaint m_Repaint; // locks itself
};
