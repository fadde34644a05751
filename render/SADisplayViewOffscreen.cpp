#include "render/SADisplayViewOffscreen.h"

#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "render/PSRendererCpu.h"
#include "render/PSRendererGL.h"
#include "render/PSRendererSurfaceEgl.h"

SADisplayViewOffscreen::SADisplayViewOffscreen(Kind kind, SAMessageTarget* target, int windowWidth,
                                               int windowHeight)
    : m_Kind(kind), m_pTarget(target), m_WindowWidth(windowWidth), m_WindowHeight(windowHeight)
{
}

SADisplayViewOffscreen::~SADisplayViewOffscreen()
{
    // The renderer releases its GL objects through the surface, so it goes
    // first.
    m_pDecodeTarget.reset();
    m_pRenderer.reset();
    m_pSurface.reset();
}

bool SADisplayViewOffscreen::PrivateRendererGlCreate(bool es, int32_t width, int32_t height)
{
    auto surface = std::make_unique<PSRendererSurfaceEgl>(es ? PSRendererSurfaceEgl::Api::OpenGLES
                                                             : PSRendererSurfaceEgl::Api::OpenGL);
    if (!surface->Initialize())
        return false;
    auto renderer = std::make_unique<PSRendererGL>();
    renderer->SurfaceSet(surface.get());
    renderer->WindowSizeSet(static_cast<float>(m_WindowWidth), static_cast<float>(m_WindowHeight));
    // Built here, so that a context whose renderer cannot work gives way to
    // the next kind.
    if (!renderer->ResolutionSet(width, height))
    {
        renderer.reset(); // before its surface
        return false;
    }
    std::lock_guard<std::mutex> guard(m_Lock);
    m_pSurface = std::move(surface);
    m_pRenderer = std::move(renderer);
    m_IsGl = true;
    SALog(SA_LOG_THREAD, "SADisplayViewOffscreen::ResolutionSet PSRendererGL\n");
    return true;
}

bool SADisplayViewOffscreen::PrivateRendererCreate(int32_t width, int32_t height)
{
    m_CreateTried = true;
    // Desktop OpenGL first, OpenGL ES where that does not work, as the
    // application does.
    if (m_Kind != Kind::Cpu && !PrivateRendererGlCreate(false, width, height) &&
        !PrivateRendererGlCreate(true, width, height))
    {
        if (m_Kind == Kind::Gl)
        {
            m_PictureShowable = false;
            SALog(SA_LOG_FAILURE, "SADisplayViewOffscreen::ResolutionSet failed! neither OpenGL 3.3 core nor "
                                  "OpenGL ES 3.0 renders, frames are not acknowledged\n");
            return false;
        }
        SALog(SA_LOG_FAILURE,
              "SADisplayViewOffscreen::ResolutionSet failed! No OpenGL context, using PSRendererCpu\n");
    }
    if (!m_pRenderer)
    {
        auto renderer = std::make_unique<PSRendererCpu>();
        renderer->WindowSizeSet(static_cast<float>(m_WindowWidth), static_cast<float>(m_WindowHeight));
        std::lock_guard<std::mutex> guard(m_Lock);
        m_pRenderer = std::move(renderer);
    }
    m_pDecodeTarget = std::make_unique<PSRendererDecodeTarget>(m_pRenderer.get());
    return true;
}

bool SADisplayViewOffscreen::ResolutionSet(int32_t width, int32_t height, bool allowFull)
{
    if (!m_pRenderer && (m_CreateTried || !PrivateRendererCreate(width, height)))
        return false;
    return m_pRenderer->ResolutionSet(width, height);
}

void SADisplayViewOffscreen::Present(int32_t count)
{
    if (m_pTarget != nullptr)
        m_pTarget->Post(SA_WM_APP_PRESENT, 0, 0);
    if (!m_pRenderer)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::Present failed! NULL == m_pRenderer\n");
        return;
    }
    m_pRenderer->Present(count);
    if (count > 0)
        m_FramesPresented.fetch_add(1);
}

SADecodeTarget* SADisplayViewOffscreen::DecodeTargetGet()
{
    return m_pDecodeTarget.get();
}

PSRendererStatus SADisplayViewOffscreen::StatusGet()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (!m_pRenderer)
        return PSRendererStatus{0, 0, 0, 0};
    return m_pRenderer->StatusGet();
}

bool SADisplayViewOffscreen::FrameSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_pRenderer && m_pRenderer->FrameSnapshotGet(pixels, width, height);
}

bool SADisplayViewOffscreen::WindowSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height)
{
    return m_pRenderer && m_pRenderer->WindowSnapshotGet(pixels, width, height);
}
