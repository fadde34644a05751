#include "render/PSRendererCpu.h"

#include "core/SALog.h"

PSRendererCpu::PSRendererCpu(std::function<uint32_t()> clock)
    : PSRendererFramed("PSRendererCpu", std::move(clock))
{
}

PSRendererCpu::~PSRendererCpu() = default;

void PSRendererCpu::SurfaceSet(PSRendererSurface* /*surface*/) {}

void PSRendererCpu::Uninitialize(bool /*all*/)
{
    // Nothing lives outside memory; the frame is kept for snapshots.
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
    // Only reached for a new size or after StatusClear (a new connection),
    // where the last session's picture must not show through.
    if (!m_Frame.ResolutionSet(x, y, false))
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

bool PSRendererCpu::Present(int count)
{
    uint32_t now = count > 0 ? PrivateClockGet() : 0;
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
    // grow without end; a planar picture stays planar until its pixels are
    // read.
    m_Frame.DirtyUpload([](const uint8_t*, int, int, const PSRendererRect&) { return true; },
                        [](const SAPlanarPicture&) { return true; });
    if (count > 0)
    {
        PrivateFramePresented(now);
        std::lock_guard<std::mutex> status(m_StatusLock);
        ++m_FramesPresented;
    }
    return true;
}

uint64_t PSRendererCpu::FramesPresentedGet()
{
    std::lock_guard<std::mutex> status(m_StatusLock);
    return m_FramesPresented;
}

bool PSRendererCpu::WindowSnapshotGet(std::vector<uint8_t>* /*pixels*/, int* /*width*/, int* /*height*/)
{
    SALog(SA_LOG_FAILURE, "PSRendererCpu::WindowSnapshotGet failed! this renderer draws no window\n");
    return false;
}
