#pragma once
// The OpenGL renderer: the remote screen as one server-sized texture on the
// front face of a thin box seen through a perspective camera (PSRendererCamera),
// letterboxed on a dark grey (0.04) background. It runs on an OpenGL 3.3 core
// or an OpenGL ES 3.0 context (PSRendererGLApi).
//
// Where the GL work happens, and why
// ----------------------------------
// A GL context is current on one thread at a time, and an on-screen window's
// context belongs to one thread. If decoder threads uploaded their rectangles
// themselves they would fight over the context, and if Present needed the GUI
// thread, a GUI thread waiting for the processor thread (as on close) would
// deadlock. So:
// - decoder threads never touch GL: FrameBufferPartialUpdate copies the
//   rectangle into a CPU-side staging frame (PSRendererFrame), or the decoder
//   writes straight into a region of it, and the dirty rectangle widens;
//   decoders of disjoint rectangles write at the same time. An H.264 picture
//   is kept planar (FrameBufferPlanarUpdate) and converted by the shader,
//   except on a software rasteriser, where the decoder converts it;
// - every GL call is made by the thread that calls Present (the frame buffer
//   processor thread): Present uploads the dirty part of the staging frame
//   with one glTexSubImage2D, draws, swaps. ResolutionSet, Uninitialize and
//   WindowSnapshotGet are GL work too and belong to the same thread;
// - each GL method makes the surface's context current at its start and
//   releases it at its end, all under m_GlLock, so that no context is left
//   current on a thread between calls;
// - teardown: an off-screen EGL context may be taken over by another thread
//   once the processor thread has stopped, but an on-screen Qt context can
//   only be made current on the thread it belongs to. So the application
//   calls Uninitialize on the processor thread before stopping it (the
//   display view's RendererRelease); the destructor, later on the GUI
//   thread, then finds no GL objects left;
// - the view operations (zoom, move, tilt, window size) only change the camera
//   and ask for a repaint through the repaint request, which the application
//   turns into a repaint marker for the processor thread.
// In exchange for the staging frame Present never waits for anything but the
// frame's writers while it uploads.
//
// On a software rasteriser a picture shown untransformed is not drawn at
// all when the surface can show pixels itself (PixelsShow, X11 shared
// memory): the changed part of the staging frame goes to the window as it
// is, which is one copy where upload, blit and swap are three. The texture
// is then left behind and is brought up to date, whole, as soon as GL
// draws again (a transformed picture, a hidden window, a snapshot).
//
// Locks: m_GlLock (all GL objects and the surface) is taken before the frame's
// lock and before m_StatusLock, never after them.
// m_GlLock is held across driver calls, so a fault inside the driver (caught
// by the processor's guard) must not leave it held: it is taken with
// PSExceptionGuardLock, which the guard unlocks when it abandons the job.
#include "render/PSRendererFramed.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class PSRendererGL : public PSRendererFramed
{
public:
    // clock gives the present times of the frame-rate meter (milliseconds).
    explicit PSRendererGL(std::function<uint32_t()> clock = nullptr);
    ~PSRendererGL() override;

    void SurfaceSet(PSRendererSurface* surface) override;
    void Uninitialize(bool all) override;
    bool ResolutionSet(int x, int y) override;
    bool Present(int count) override;
    // Refused (the decoder converts) on a software rasteriser, unless
    // PlanarAlwaysSet(true) asks for the shader's conversion there too.
    bool FrameBufferPlanarUpdate(const SAPlanarPicture& picture) override;
    void PlanarAlwaysSet(bool always) { m_PlanarAlways.store(always); }
    uint64_t PresentUploadNsGet() const override { return m_UploadNs; }
    bool WindowSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height) override;

private:
    // All Private* GL steps run with m_GlLock held and the context current;
    // they return 0 or the GL error (or -1 for a failure without one).
    int PrivateInitializePipeline(int x, int y);
    int PrivateInitializeDeviceAndSwapChain();
    int PrivateVertexBufferInitialize();
    int PrivateIndexBufferInitialize();
    int PrivateModelViewProjectionBufferInitialize();
    int PrivateShaderCreate();
    int PrivateProgramBuild(const char* fragmentSource, uint32_t* program);
    // Uploads a planar picture into the three sample textures (made or
    // resized here) and builds their program at first use.
    int PrivatePlanarUpload(const SAPlanarPicture& picture);
    void PrivatePlanarForget(); // names only; the objects are gone or left to the context
    int PrivateSetTextureDisplayAsShaderResourceView(int x, int y);
    int PrivateCreateRenderTargetView(uint32_t* framebuffer, int* width, int* height);
    int PrivateDraw(int* width, int* height);
    // Copies the untransformed picture to (x, y) of the drawable instead of
    // drawing it.
    int PrivateCopy(uint32_t framebuffer, int width, int height, int x, int y);
    // Context current: shows the picture through the surface's PixelsShow
    // when it is untransformed and the surface can; false when GL must draw
    // (also after the surface failed, logged by it).
    bool PrivateShowWithoutGl(int count);
    bool PrivateShowWithoutGlEnd(bool shown); // logs a change of path; returns shown
    void PrivateUninitialize();               // m_GlLock held, context not current
    void PrivateObjectsDelete();              // context current

    PSRendererSurface* m_pSurface = nullptr; // borrowed: outlives the renderer

    std::mutex m_GlLock;
    // Guarded by m_GlLock:
    uint64_t m_UploadNs = 0; // of the last draw
    uint32_t m_VertexArray = 0;
    uint32_t m_VertexBuffer = 0;
    uint32_t m_IndexBuffer = 0;
    uint32_t m_ModelViewProjectionBuffer = 0;
    uint32_t m_Program = 0;
    uint32_t m_TextureDisplay = 0;
    int m_TextureWidth = 0;
    int m_TextureHeight = 0;
    uint32_t m_CopyFramebuffer = 0;                // reads m_TextureDisplay; 0 where it cannot (OpenGL ES)
    bool m_Copying = false;                        // the last draw copied the picture
    bool m_ShownWithoutGl = false;                 // the last present went through PixelsShow
    bool m_TextureStale = false;                   // PixelsShow took changes the texture has not had
    int m_Shown[6] = {};                           // window size, frame size and place PixelsShow had
    int m_SwapSize[2] = {};                        // window size at the last swap
    bool m_DrawableStale = false;                  // PixelsShow ran at another size since that swap
    std::atomic<bool> m_SoftwareRasteriser{false}; // read by decoder threads
    std::atomic<bool> m_PlanarAlways{false};
    // A planar video picture is drawn from its own Y, U and V textures by a
    // program that converts while it samples; m_PlanarShown tells which of
    // the two the last upload fed.
    uint32_t m_ProgramPlanar = 0;
    uint32_t m_TexturesPlanar[3] = {0, 0, 0};
    int m_PlanarWidth = 0;
    int m_PlanarHeight = 0;
    float m_PlanarAnisotropyApplied = 1.0f;
    bool m_PlanarShown = false;
    float m_Anisotropy = 1.0f;        // the most the GL offers, up to 16
    float m_AnisotropyApplied = 1.0f; // what the texture is set to now
    bool m_Es = false;                // the context is OpenGL ES (else desktop OpenGL core)
    bool m_BytesAsRgba = false;       // the picture's B, G, R, X bytes are held as R, G, B, A
    bool m_PipelineBuilt = false;
    bool m_PipelineFailed = false; // the last build failed: the same size is not retried
    bool m_NoPipelineLogged = false;
};
