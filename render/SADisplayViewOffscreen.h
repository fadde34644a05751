#pragma once
// A display view without a window, for the headless viewer, tests and
// benchmarks: it owns a renderer drawing into an off-screen EGL surface
// (Mesa surfaceless, no display server at all; OpenGL 3.3 core, else OpenGL
// ES 3.0) or, where no GL renderer works or none is wanted, the memory-only
// renderer. Asking for the other render mode replaces the renderer (GL: the
// update-areas one when full rendering is not allowed), as the windowed view
// does.
//
// Threads: ResolutionSet, Present and WindowSnapshotGet run on the frame
// buffer processor thread, which therefore does all GL work (the surface is
// created there, on the first ResolutionSet). FrameSnapshotGet, StatusGet and
// the counters may be read from any thread.
#include "pipeline/SADisplayView.h"
#include "render/PSRendererBase.h"
#include "render/PSRendererDecodeTarget.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class PSRendererSurfaceEgl;

class SADisplayViewOffscreen : public SADisplayView
{
public:
    enum class Kind
    {
        GlOrCpu, // GL when a context can be had and draws on a GPU, else the memory-only renderer
        Gl,
        Cpu,
    };

    // target: where WM_APP+19 is posted and H.264 errors are sent (borrowed,
    // outlives the view); may be null for benchmarks.
    SADisplayViewOffscreen(Kind kind, SAMessageTarget* target, int windowWidth, int windowHeight);
    ~SADisplayViewOffscreen() override;

    bool ResolutionSet(int32_t width, int32_t height, bool allowFull) override;
    void Present(int32_t count) override;
    uint64_t PresentUploadNsGet() override;
    SADecodeTarget* DecodeTargetGet() override;
    SAMessageTarget* MessageTargetGet() override { return m_pTarget; }
    // False when GL was required (Kind::Gl) and no renderer works on either
    // kind of context.
    bool PictureShowableGet() override { return m_PictureShowable.load(); }

    // True once a GL renderer runs; false for the memory-only one.
    bool IsGlGet() const { return m_IsGl.load(); }
    uint64_t FramesPresentedGet() const { return m_FramesPresented.load(); }
    PSRendererStatus StatusGet();
    // The server-sized frame as held (B, G, R, X).
    bool FrameSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height);
    // The window-sized picture as drawn (processor thread only; GL only).
    bool WindowSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height);

private:
    // A renderer for the mode (full, or update rectangles); GL contexts are
    // tried once, at the first call.
    bool PrivateRendererCreate(int32_t width, int32_t height, bool full);
    // A GL renderer for the mode built at width x height on an OpenGL ES 3.0
    // (es) or an OpenGL 3.3 core context, or none.
    bool PrivateRendererGlCreate(bool es, bool full, int32_t width, int32_t height);
    std::unique_ptr<PSRendererBase> PrivateRendererGlBuild(PSRendererSurfaceEgl* surface, bool full,
                                                           int32_t width, int32_t height);

    const Kind m_Kind;
    SAMessageTarget* const m_pTarget;
    const int m_WindowWidth;
    const int m_WindowHeight;

    // Replaced on the processor thread only; m_Lock lets other threads read
    // the renderer safely meanwhile.
    std::mutex m_Lock;
    std::unique_ptr<PSRendererSurfaceEgl> m_pSurface;
    std::unique_ptr<PSRendererBase> m_pRenderer;
    std::unique_ptr<PSRendererDecodeTarget> m_pDecodeTarget;
    bool m_CreateTried = false;
    bool m_GlSoftware = false; // the context offered draws on the CPU
    bool m_GlTried = false;
    bool m_RendererFull = true; // the mode m_pRenderer was made for
    std::atomic<bool> m_IsGl{false};
    std::atomic<bool> m_PictureShowable{true};
    std::atomic<uint64_t> m_FramesPresented{0};
};
