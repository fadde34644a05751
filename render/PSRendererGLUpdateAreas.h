#pragma once
// The update-areas renderer: keeps no full-screen texture of the received
// pixels. Each received rectangle becomes a small texture of its own, one per
// fragment index (PSRendererScreenUpdateArea), drawn at its place into an
// accumulating off-screen framebuffer of the server's size, the "back
// buffer", which is never cleared: it holds the screen as the sum of every
// rectangle drawn so far. Present shows the back buffer 1:1 on the surface
// (top-left at top-left, no scaling; what does not fit the window is cut,
// window area beyond it is dark grey). The picture cannot be zoomed, moved or
// tilted, and window points map to server points one to one.
//
// It runs on an OpenGL 3.3 core or an OpenGL ES 3.0 context (PSRendererGLApi).
//
// Render modes (fixed before ResolutionSet; the view replaces the renderer to
// change it): "full32" draws each rectangle's pixels; "texturingDisabled"
// draws each rectangle as a quad shaded from its corners (top-left green,
// top-right yellow, bottom-left red, bottom-right blue), which shows where
// the server sends updates.
//
// The pointer overlay (DNRPointer) is composited into the back buffer for the
// present and its background written back right after.
//
// Where the GL work happens (the same design as PSRendererGL)
// -----------------------------------------------------------
// - decoder threads never touch GL: FrameBufferPartialUpdate bounds the
//   rectangle and copies it into the fragment's area (CPU staging under the
//   area's lock) and into the CPU frame kept for FrameSnapshotGet;
// - every GL call is made by the thread that calls Present, ResolutionSet,
//   Uninitialize, WindowSnapshotGet or BackBufferSnapshotGet (the frame
//   buffer processor thread in the application), with the surface's context
//   made current at the start of the call and released at its end, all under
//   m_GlLock;
// - the pointer operations only store and ask for a repaint.
//
// Which areas a present draws: Present(count) draws areas 0 .. count - 1 that
// received pixels since they were last drawn, in index order. An area is
// drawn once per update: with a single accumulating buffer, drawing an old
// rectangle again would paint stale pixels over newer ones when a fragment
// of a later frame failed to arrive. Present(0) draws no area.
//
// Locks: m_GlLock (GL objects, the surface, the areas' textures and the
// pointer's background) is taken before an area's lock, the pointer's lock,
// the frame's lock and m_StatusLock, never after them.
// m_GlLock is held across driver calls, so a fault inside the driver (caught
// by the processor's guard) must not leave it held: it is taken with
// PSExceptionGuardLock, which the guard unlocks when it abandons the job.
#include "render/DNRPointer.h"
#include "render/PSRendererBase.h"
#include "render/PSRendererFrame.h"
#include "render/PSRendererFrameRateMeter.h"
#include "render/PSRendererRepaint.h"
#include "render/PSRendererScreenUpdateArea.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class PSRendererGLUpdateAreas : public PSRendererBase
{
public:
    // One area per fragment index; the frame buffer processor never uses more.
    static constexpr int AREA_COUNT = 4;

    // clock gives the present times of the frame-rate meter (milliseconds).
    explicit PSRendererGLUpdateAreas(std::function<uint32_t()> clock = nullptr);
    ~PSRendererGLUpdateAreas() override;
    PSRendererGLUpdateAreas(const PSRendererGLUpdateAreas&) = delete;
    PSRendererGLUpdateAreas& operator=(const PSRendererGLUpdateAreas&) = delete;

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
    void PointerPositionSet(int x, int y, bool visible) override;
    void PointerShapeSet(int width, int height, int pitch, int type, const void* bits) override;
    bool Present(int count) override;
    uint64_t PresentUploadNsGet() const override { return m_UploadNs; }
    void RenderModeSet(bool full) override;
    bool RenderModeGet() override;
    void StatusClear() override;
    PSRendererStatus StatusGet() override;
    void PictureCenterGet(float* x, float* y) override;
    bool ScreenClientToTarget(float x, float y, float result[2], float size[2]) override;
    void RepaintRequestSet(std::function<void()> request) override;
    // Every rectangle received so far, B, G, R, X as received (presented or
    // not, in either render mode).
    bool FrameSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height) override;
    bool WindowSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height) override;

    // The accumulating back buffer as it stands (render thread), server-sized,
    // top-down, B, G, R, A: what the presents so far have drawn into it.
    bool BackBufferSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height);

private:
    // All Private* GL steps run with m_GlLock held and the context current;
    // the int ones return 0 or the GL error (or -1 for a failure without one).
    int PrivateInitialize(int x, int y);
    int PrivateRenderTargetViewCreate(int x, int y);
    int PrivateLoadShadersAndCreateInputLayouts(bool full);
    int PrivateVertexBufferCreate();
    bool PrivateRectangleDraw(PSRendererScreenUpdateArea& area);
    void PrivateScreenUpdatesDraw(int count);
    bool PrivatePointerDraw();
    int PrivateShow(int* width, int* height);
    void PrivateUninitialize(bool all); // m_GlLock held, context not current
    void PrivateObjectsDelete();        // context current
    void PrivateRepaint();

    PSRendererSurface* m_pSurface = nullptr; // borrowed: outlives the renderer
    std::function<uint32_t()> m_Clock;
    PSRendererFrame m_Frame;
    std::array<std::unique_ptr<PSRendererScreenUpdateArea>, AREA_COUNT> m_Areas;
    PSRendererScreenUpdateArea m_PointerArea;
    DNRPointer m_Pointer;

    std::mutex m_GlLock;
    // Guarded by m_GlLock:
    uint32_t m_Program = 0; // the technique's program
    uint32_t m_VertexArray = 0;
    uint32_t m_VertexBuffer = 0;
    uint32_t m_BackBufferTexture = 0;
    uint32_t m_BackBufferFramebuffer = 0;
    int m_BackBufferWidth = 0;
    int m_BackBufferHeight = 0;
    int m_UniformTextureWidth = -1;
    int m_UniformTextureHeight = -1;
    int m_UniformUpdateRect = -1;
    int m_UniformTexelDistance = -1;
    bool m_Es = false; // the context is OpenGL ES (else desktop OpenGL core)
    bool m_Built = false;
    uint64_t m_UploadNs = 0; // of the last present
    bool m_NotBuiltLogged = false;

    PSRendererRepaint m_Repaint; // locks itself

    std::mutex m_StatusLock;
    // Guarded by m_StatusLock:
    PSRendererStatus m_Status{};
    PSRendererFrameRateMeter m_FrameRateMeter;
    float m_WindowWidth = 0.0f;
    float m_WindowHeight = 0.0f;
    bool m_RenderModeFull = true;
};
