#include "render/PSRendererFramed.h"

#include "core/PSTime.h"
#include "core/SALog.h"

PSRendererFramed::PSRendererFramed(const char* name, std::function<uint32_t()> clock)
    : m_Name(name), m_Camera(name), m_Frame(name),
      m_Clock(clock ? std::move(clock) : std::function<uint32_t()>(PSTimeGetTime))
{
}

void PSRendererFramed::WindowSizeSet(float width, float height)
{
    SALog(SA_LOG_RENDER, "%s::WindowSizeSet Width:%0.2f Height:%0.2f\n", m_Name, width, height);
    // Kept even before the first resolution: the window is usually sized
    // before it arrives.
    m_Camera.WindowSizeSet(width, height);
}

void PSRendererFramed::WindowSizeGet(float* width, float* height)
{
    m_Camera.WindowSizeGet(width, height);
}

void PSRendererFramed::PrivateRepaint()
{
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        if (m_Status.ResolutionX == 0 || m_Status.ResolutionY == 0)
            return;
    }
    m_Repaint.Run(*this);
}

void PSRendererFramed::PrivateFramePresented(uint32_t now)
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_Status.FramesPerSecond = m_FrameRateMeter.Stamp(now);
}

void PSRendererFramed::ParameterScaleAdjust(float delta)
{
    m_Camera.ParameterScaleAdjust(delta);
    PrivateRepaint();
}

void PSRendererFramed::ParameterTranslateAdjust(float dx, float dy)
{
    m_Camera.ParameterTranslateAdjust(dx, dy);
    PrivateRepaint();
}

void PSRendererFramed::ParameterRotateAdjust(float pitch, float yaw, float roll)
{
    m_Camera.ParameterRotateAdjust(pitch, yaw, roll);
    PrivateRepaint();
}

void PSRendererFramed::ParametersReset()
{
    m_Camera.ParametersReset();
    PrivateRepaint();
}

void PSRendererFramed::StatusValueSet(int value)
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_Status.StatusValue = value;
}

bool PSRendererFramed::FrameBufferPartialUpdate(const void* pixels, size_t pixelsBytes, int pitch,
                                                int /*colourFormat*/, const PSRendererRect* rect,
                                                int /*fragmentIndex*/)
{
    if (rect != nullptr && (SALogMaskGet() & SA_LOG_RENDER) != 0)
    {
        int width = 0, height = 0;
        m_Frame.SizeGet(&width, &height);
        SALog(SA_LOG_RENDER, "%s::FrameBufferPartialUpdate %dx%d rectangle %d-%d-%d-%d\n", m_Name, width,
              height, rect->left, rect->top, rect->right, rect->bottom);
    }
    return m_Frame.RectangleCopy(pixels, pixelsBytes, pitch, rect);
}

uint8_t* PSRendererFramed::FrameBufferRegionAcquire(const PSRendererRect& rect, int* pitch)
{
    return m_Frame.RegionAcquire(rect, pitch);
}

void PSRendererFramed::FrameBufferRegionRelease(const PSRendererRect& rect)
{
    m_Frame.RegionRelease(rect);
}

bool PSRendererFramed::FrameBufferPlanarUpdate(const SAPlanarPicture& picture)
{
    return m_Frame.PlanarSet(picture);
}

void PSRendererFramed::PointerPositionSet(int /*x*/, int /*y*/, bool /*visible*/)
{
    PrivateRepaint();
}

void PSRendererFramed::PointerShapeSet(int /*width*/, int /*height*/, int /*pitch*/, int /*type*/,
                                       const void* /*bits*/)
{
}

void PSRendererFramed::RenderModeSet(bool /*full*/) {}

bool PSRendererFramed::RenderModeGet()
{
    return true;
}

void PSRendererFramed::StatusClear()
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_Status = PSRendererStatus{};
}

PSRendererStatus PSRendererFramed::StatusGet()
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    return m_Status;
}

void PSRendererFramed::PictureCenterGet(float* x, float* y)
{
    m_Camera.PictureCenterGet(x, y);
}

bool PSRendererFramed::ScreenClientToTarget(float x, float y, float result[2], float size[2])
{
    return m_Camera.ScreenClientToTarget(x, y, result, size);
}

void PSRendererFramed::RepaintRequestSet(std::function<void()> request)
{
    m_Repaint.RequestSet(std::move(request));
}

bool PSRendererFramed::FrameSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height)
{
    return m_Frame.SnapshotGet(pixels, width, height);
}
