#include "render/PSRendererCpu.h"

#include "core/PSTime.h"
#include "core/SALog.h"

PSRendererCpu::PSRendererCpu(std::function<uint32_t()> clock)
    : m_Clock(clock ? std::move(clock) : std::function<uint32_t()>(PSTimeGetTime)), m_Camera("PSRendererCpu"),
      m_Frame("PSRendererCpu")
{
}

PSRendererCpu::~PSRendererCpu() = default;

void PSRendererCpu::SurfaceSet(PSRendererSurface* /*surface*/) {}

void PSRendererCpu::Uninitialize(bool /*all*/)
{
    // Nothing lives outside memory; the frame is kept for snapshots.
}

void PSRendererCpu::WindowSizeSet(float width, float height)
{
    SALog(SA_LOG_RENDER, "PSRendererCpu::WindowSizeSet Width:%0.2f Height:%0.2f\n", width, height);
    m_Camera.WindowSizeSet(width, height);
}

void PSRendererCpu::WindowSizeGet(float* width, float* height)
{
    m_Camera.WindowSizeGet(width, height);
}

bool PSRendererCpu::ResolutionSet(int x, int y)
{
    if (!PSRendererResolutionValid(x, y))
    {
        SALog(SA_LOG_FAILURE, "PSRendererCpu::ResolutionSet failed! X:%d Y:%d out of range\n", x, y);
        return false;
    }
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        if (m_Status.ResolutionX == x && m_Status.ResolutionY == y)
            return true;
        SALog(SA_LOG_RENDER, "PSRendererCpu::ResolutionSet X:%d Y:%d\n", x, y);
        m_Status.ResolutionX = x;
        m_Status.ResolutionY = y;
        m_FrameReady = false;
    }
    m_Camera.ResolutionAspectSet(static_cast<float>(x) / static_cast<float>(y));
    if (!m_Frame.ResolutionSet(x, y))
    {
        SALog(SA_LOG_FAILURE, "PSRendererCpu::ResolutionSet failed! PSRendererFrame::ResolutionSet\n");
        return false;
    }
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        m_FrameReady = true;
        m_NoFrameLogged = false;
    }
    m_Camera.ParametersReset();
    return true;
}

bool PSRendererCpu::FrameBufferPartialUpdate(const void* pixels, size_t pixelsBytes, int pitch,
                                             int /*colourFormat*/, const PSRendererRect* rect,
                                             int /*fragmentIndex*/)
{
    if (rect != nullptr && (SALogMaskGet() & SA_LOG_RENDER) != 0)
    {
        int width = 0, height = 0;
        m_Frame.SizeGet(&width, &height);
        SALog(SA_LOG_RENDER, "PSRendererCpu::FrameBufferPartialUpdate %dx%d rectangle %d-%d-%d-%d\n", width,
              height, rect->left, rect->top, rect->right, rect->bottom);
    }
    return m_Frame.RectangleCopy(pixels, pixelsBytes, pitch, rect);
}

uint8_t* PSRendererCpu::FrameBufferRegionAcquire(const PSRendererRect& rect, int* pitch)
{
    return m_Frame.RegionAcquire(rect, pitch);
}

void PSRendererCpu::FrameBufferRegionRelease(const PSRendererRect& rect)
{
    m_Frame.RegionRelease(rect);
}

bool PSRendererCpu::FrameBufferPlanarUpdate(const SAPlanarPicture& picture)
{
    return m_Frame.PlanarSet(picture);
}

bool PSRendererCpu::Present(int count)
{
    uint32_t now = count > 0 ? m_Clock() : 0;
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        if (!m_FrameReady)
        {
            if (!m_NoFrameLogged)
                SALog(SA_LOG_FAILURE, "PSRendererCpu::Present failed! no resolution set\n");
            m_NoFrameLogged = true;
            return false;
        }
    }
    // What a GPU renderer would upload is consumed, so the dirty area does not
    // grow without end.
    // Nothing to draw: a planar picture stays planar until its pixels are read.
    m_Frame.DirtyUpload([](const uint8_t*, int, int, const PSRendererRect&) { return true; },
                        [](const SAPlanarPicture&) { return true; });
    if (count > 0)
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        m_Status.FramesPerSecond = m_FrameRateMeter.Stamp(now);
        ++m_FramesPresented;
    }
    return true;
}

uint64_t PSRendererCpu::FramesPresentedGet()
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    return m_FramesPresented;
}

void PSRendererCpu::PrivateRepaint()
{
    std::function<void()> request;
    {
        std::lock_guard<std::mutex> status(m_StatusLock);
        if (m_Status.ResolutionX == 0 || m_Status.ResolutionY == 0)
            return;
        request = m_RepaintRequest;
    }
    if (request)
        request();
    else
        Present(0);
}

void PSRendererCpu::ParameterScaleAdjust(float delta)
{
    m_Camera.ParameterScaleAdjust(delta);
    PrivateRepaint();
}

void PSRendererCpu::ParameterTranslateAdjust(float dx, float dy)
{
    m_Camera.ParameterTranslateAdjust(dx, dy);
    PrivateRepaint();
}

void PSRendererCpu::ParameterRotateAdjust(float pitch, float yaw, float roll)
{
    m_Camera.ParameterRotateAdjust(pitch, yaw, roll);
    PrivateRepaint();
}

void PSRendererCpu::ParametersReset()
{
    m_Camera.ParametersReset();
    PrivateRepaint();
}

void PSRendererCpu::PointerPositionSet(int /*x*/, int /*y*/, bool /*visible*/)
{
    PrivateRepaint();
}

void PSRendererCpu::PointerShapeSet(int /*width*/, int /*height*/, int /*pitch*/, int /*type*/,
                                    const void* /*bits*/)
{
}

void PSRendererCpu::RenderModeSet(bool /*full*/) {}

bool PSRendererCpu::RenderModeGet()
{
    return true;
}

void PSRendererCpu::StatusValueSet(int value)
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_Status.StatusValue = value;
}

void PSRendererCpu::StatusClear()
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_Status = PSRendererStatus{};
}

PSRendererStatus PSRendererCpu::StatusGet()
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    return m_Status;
}

void PSRendererCpu::PictureCenterGet(float* x, float* y)
{
    m_Camera.PictureCenterGet(x, y);
}

bool PSRendererCpu::ScreenClientToTarget(float x, float y, float result[2], float size[2])
{
    return m_Camera.ScreenClientToTarget(x, y, result, size);
}

void PSRendererCpu::RepaintRequestSet(std::function<void()> request)
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    m_RepaintRequest = std::move(request);
}

bool PSRendererCpu::FrameSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height)
{
    return m_Frame.SnapshotGet(pixels, width, height);
}

bool PSRendererCpu::WindowSnapshotGet(std::vector<uint8_t>* /*pixels*/, int* /*width*/, int* /*height*/)
{
    SALog(SA_LOG_FAILURE, "PSRendererCpu::WindowSnapshotGet failed! this renderer draws no window\n");
    return false;
}
