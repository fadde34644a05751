#include "render/SADisplayViewOffscreen.h"

#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "render/PSRendererCpu.h"
#include "render/PSRendererGL.h"
#include "render/PSRendererGLApi.h"
#include "render/PSRendererGLUpdateAreas.h"
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

std::unique_ptr<PSRendererBase> SADisplayViewOffscreen::PrivateRendererGlBuild(PSRendererSurfaceEgl* surface,
                                                                               bool full, int32_t width,
                                                                               int32_t height)
{
    std::unique_ptr<PSRendererBase> renderer;
    if (full)
        renderer = std::make_unique<PSRendererGL>();
    else
        renderer = std::make_unique<PSRendererGLUpdateAreas>();
    renderer->SurfaceSet(surface);
    renderer->RenderModeSet(full);
    renderer->WindowSizeSet(static_cast<float>(m_WindowWidth), static_cast<float>(m_WindowHeight));
    // Built here, so that a context whose renderer cannot work gives way to
    // the next kind.
    if (!renderer->ResolutionSet(width, height))
        return nullptr;
    return renderer;
}

bool SADisplayViewOffscreen::PrivateRendererGlCreate(bool es, bool full, int32_t width, int32_t height)
{
    auto surface = std::make_unique<PSRendererSurfaceEgl>(es ? PSRendererSurfaceEgl::Api::OpenGLES
                                                             : PSRendererSurfaceEgl::Api::OpenGL);
    if (!surface->Initialize())
        return false;
    if (m_Kind == Kind::GlOrCpu && surface->MakeCurrent())
    {
        // Nobody looks at this surface: drawing it on the CPU would only
        // take the time the decoders need.
        m_GlSoftware = PSRendererGLApi::SoftwareRasteriserIs();
        surface->DoneCurrent();
        if (m_GlSoftware)
            return false;
    }
    std::unique_ptr<PSRendererBase> renderer = PrivateRendererGlBuild(surface.get(), full, width, height);
    if (!renderer)
        return false; // the renderer is gone before its surface
    std::lock_guard<std::mutex> guard(m_Lock);
    m_pSurface = std::move(surface);
    m_pRenderer = std::move(renderer);
    m_IsGl = true;
    SALog(SA_LOG_THREAD, "SADisplayViewOffscreen::ResolutionSet %s\n",
          full ? "PSRendererGL" : "PSRendererGLUpdateAreas");
    return true;
}

bool SADisplayViewOffscreen::PrivateRendererCreate(int32_t width, int32_t height, bool full)
{
    m_CreateTried = true;
    m_RendererFull = full;
    if (m_pSurface)
    {
        // A change of mode: the new renderer goes on the context that works.
        std::unique_ptr<PSRendererBase> renderer =
            PrivateRendererGlBuild(m_pSurface.get(), full, width, height);
        if (!renderer)
        {
            SALog(SA_LOG_FAILURE, "SADisplayViewOffscreen::ResolutionSet failed! %s\n",
                  full ? "PSRendererGL" : "PSRendererGLUpdateAreas");
            return false;
        }
        std::lock_guard<std::mutex> guard(m_Lock);
        m_pRenderer = std::move(renderer);
        m_pDecodeTarget = std::make_unique<PSRendererDecodeTarget>(m_pRenderer.get());
        return true;
    }
    // Desktop OpenGL first, OpenGL ES where that does not work, as the
    // application does; tried once.
    if (m_Kind != Kind::Cpu && !m_GlTried)
    {
        m_GlTried = true;
        if (!PrivateRendererGlCreate(false, full, width, height) &&
            (m_GlSoftware || !PrivateRendererGlCreate(true, full, width, height)))
        {
            if (m_Kind == Kind::Gl)
                m_PictureShowable = false;
            else if (m_GlSoftware)
                SALog(SA_LOG_THREAD, "SADisplayViewOffscreen::ResolutionSet OpenGL draws on the CPU, using "
                                     "PSRendererCpu\n");
            else
                SALog(
                    SA_LOG_FAILURE,
                    "SADisplayViewOffscreen::ResolutionSet failed! No OpenGL context, using PSRendererCpu\n");
        }
    }
    if (m_Kind == Kind::Gl && !m_pRenderer)
    {
        SALog(SA_LOG_FAILURE, "SADisplayViewOffscreen::ResolutionSet failed! neither OpenGL 3.3 core nor "
                              "OpenGL ES 3.0 renders, frames are not acknowledged\n");
        return false;
    }
    if (!m_pRenderer)
    {
        auto renderer = std::make_unique<PSRendererCpu>();
        renderer->RenderModeSet(full);
        renderer->WindowSizeSet(static_cast<float>(m_WindowWidth), static_cast<float>(m_WindowHeight));
        std::lock_guard<std::mutex> guard(m_Lock);
        m_pRenderer = std::move(renderer);
    }
    m_pDecodeTarget = std::make_unique<PSRendererDecodeTarget>(m_pRenderer.get());
    return true;
}

bool SADisplayViewOffscreen::ResolutionSet(int32_t width, int32_t height, bool allowFull)
{
    // A change of render mode replaces the renderer, as the windowed view
    // does; its GL objects go on this thread, where they were made.
    if (m_pRenderer && m_RendererFull != allowFull)
    {
        std::unique_ptr<PSRendererBase> old;
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_pDecodeTarget.reset();
            old = std::move(m_pRenderer);
        }
        old->Uninitialize(true);
        m_CreateTried = false;
    }
    if (!m_pRenderer && (m_CreateTried || !PrivateRendererCreate(width, height, allowFull)))
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

uint64_t SADisplayViewOffscreen::PresentUploadNsGet()
{
    return m_pRenderer ? m_pRenderer->PresentUploadNsGet() : 0;
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
