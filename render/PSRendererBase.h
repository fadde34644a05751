#pragma once
// The renderer interface. The display view owns one renderer and reaches it
// only through this class; the pipeline's decoder tasks copy decoded pixels
// into it and the frame buffer processor presents it.
//
// Threads (the same for every implementation):
// - FrameBufferPartialUpdate (and the region and planar calls): up to four
//   decoder threads at once; the renderer keeps writers of overlapping
//   rectangles apart and holds all of them off while Present reads the frame.
// - Present, ResolutionSet, Uninitialize, WindowSnapshotGet: the render thread
//   (the frame buffer processor thread in the application), one call at a time.
//   Implementations that hold a GL context make it current for the call and
//   release it afterwards. An off-screen context may be taken over by another
//   thread once the render thread has stopped; an on-screen one may not, so
//   the application has Uninitialize run on the render thread before it
//   stops, and only then deletes the renderer on the GUI thread.
// - Window size, view parameters, StatusGet/StatusClear, PictureCenterGet,
//   ScreenClientToTarget: any thread (the GUI thread in the application).
//
// Pixels handed to a renderer are 4 bytes each in B, G, R, X order.
#include "pipeline/SAPlanarPicture.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class PSRendererSurface;

// A rectangle of the server screen: left and top inclusive, right and bottom
// exclusive, as the wire header carries it.
struct PSRendererRect
{
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// The status record read by the status bar: 16 bytes in this order.
struct PSRendererStatus
{
    int32_t StatusValue;
    int32_t ResolutionX;
    int32_t ResolutionY;
    int32_t FramesPerSecond;
};
static_assert(sizeof(PSRendererStatus) == 16, "the status record is four 32-bit words");

// Largest server screen a renderer accepts: per side, and in pixels (four
// 4K screens side by side fit). A size from the network beyond it is refused
// instead of allocating gigabytes.
constexpr int PS_RENDERER_RESOLUTION_MAX = 16384;
constexpr int64_t PS_RENDERER_PIXELS_MAX = 8192LL * 8192LL;

inline bool PSRendererResolutionValid(int x, int y)
{
    return x > 0 && y > 0 && x <= PS_RENDERER_RESOLUTION_MAX && y <= PS_RENDERER_RESOLUTION_MAX &&
           static_cast<int64_t>(x) * y <= PS_RENDERER_PIXELS_MAX;
}

// Whether `pixelsBytes` bytes at `pitch` hold the rectangle a sender
// described: non-empty, a pitch at least a row of it, and every row but the
// last a whole pitch (the last only its pixels). Computed in 64 bits, since
// all of it comes from the network. A refusal logs one line,
// "<where> failed! ..." (e.g. where = "PSRendererGL::FrameBufferPartialUpdate").
bool PSRendererSourceCheck(const char* owner, const char* method, size_t pixelsBytes, int pitch,
                           const PSRendererRect& rect);

class PSRendererBase
{
public:
    virtual ~PSRendererBase() = default;

    // The surface the renderer draws into (borrowed: the surface must outlive
    // the renderer). Set before ResolutionSet. Renderers without GPU ignore it.
    virtual void SurfaceSet(PSRendererSurface* surface) = 0;
    // Releases every GPU object; the object stays usable and the next
    // ResolutionSet rebuilds. The flag matters only to the update-area renderer.
    virtual void Uninitialize(bool all) = 0;
    // Window client size in pixels. Kept even before the first ResolutionSet.
    virtual void WindowSizeSet(float width, float height) = 0;
    virtual void WindowSizeGet(float* width, float* height) = 0;
    // Server screen size; (re)creates the renderer's objects. Same size as
    // stored returns true at once (after StatusClear it rebuilds).
    virtual bool ResolutionSet(int x, int y) = 0;
    // Zoom, move, tilt, reset. Each asks for a repaint afterwards.
    virtual void ParameterScaleAdjust(float delta) = 0;
    virtual void ParameterTranslateAdjust(float dx, float dy) = 0;
    virtual void ParameterRotateAdjust(float pitch, float yaw, float roll) = 0;
    virtual void ParametersReset() = 0;
    virtual void StatusValueSet(int value) = 0;
    // Copies a rectangle of pixels (B, G, R, X; `pitch` bytes from one source
    // row to the next; `pixelsBytes` is the size of the readable source) into
    // the frame. A rectangle partly outside the frame is clipped; one entirely
    // outside, empty or negative, or one the source cannot hold is refused
    // with a log line and false. The colour format and fragment index are
    // carried for the update-area renderer.
    virtual bool FrameBufferPartialUpdate(const void* pixels, size_t pixelsBytes, int pitch, int colourFormat,
                                          const PSRendererRect* rect, int fragmentIndex) = 0;
    // Lends the frame's own pixels of `rect` so that a decoder can write
    // straight into them instead of into a buffer of its own that is copied
    // afterwards. Returns nullptr when the renderer keeps no such frame or
    // the rectangle does not lie wholly inside it (the caller then uses
    // FrameBufferPartialUpdate); otherwise *pitch is the byte distance between
    // rows, the caller writes B, G, R, X pixels inside the rectangle only and
    // must call FrameBufferRegionRelease with the same rectangle, which marks
    // it changed. Same threads as FrameBufferPartialUpdate.
    virtual uint8_t* FrameBufferRegionAcquire(const PSRendererRect& /*rect*/, int* /*pitch*/)
    {
        return nullptr;
    }
    virtual void FrameBufferRegionRelease(const PSRendererRect& /*rect*/) {}
    // Takes a whole-frame video picture in planar 4:2:0 form (the record
    // keeps the planes alive) instead of B, G, R, X pixels, so that the
    // conversion happens where it is cheapest (the GL renderer's shader) or
    // only when the pixels are read. False when the renderer cannot, or the
    // picture's size is not the frame's: the caller converts and uses
    // FrameBufferPartialUpdate. Same threads as FrameBufferPartialUpdate.
    virtual bool FrameBufferPlanarUpdate(const SAPlanarPicture& /*picture*/) { return false; }
    virtual void PointerPositionSet(int x, int y, bool visible) = 0;
    virtual void PointerShapeSet(int width, int height, int pitch, int type, const void* bits) = 0;
    // Draws and shows; count > 0 marks a new frame for the frame-rate meter.
    virtual bool Present(int count) = 0;
    // Of the last Present, the nanoseconds spent handing changed pixels to
    // the GPU, or to the window system where they bypass it (the rest is
    // drawing and showing). Render thread; renderers without a GPU answer 0.
    virtual uint64_t PresentUploadNsGet() const { return 0; }
    virtual void RenderModeSet(bool full) = 0;
    virtual bool RenderModeGet() = 0;
    // Zeroes the status record, including the stored resolution, so that the
    // next ResolutionSet rebuilds even with the same size.
    virtual void StatusClear() = 0;
    virtual PSRendererStatus StatusGet() = 0;
    // Window position of the picture's centre (client coordinates, y down).
    virtual void PictureCenterGet(float* x, float* y) = 0;
    // Window point to picture point: result = (u * window width, v * window
    // height) where (u, v) in [0, 1] is the position on the picture; size is
    // the picture size the caller scales by. False when the point misses the
    // picture.
    virtual bool ScreenClientToTarget(float x, float y, float result[2], float size[2]) = 0;

    // How the parameter operations and PointerPositionSet get the picture
    // redrawn. Unset, they call Present(0) themselves on the calling thread;
    // set, they call the function instead (the application posts a repaint
    // marker to the frame buffer processor so that only the render thread
    // draws).
    virtual void RepaintRequestSet(std::function<void()> request) = 0;

    // Snapshots, both top-down with a pitch of width * 4.
    // The server-sized frame as the renderer holds it, B, G, R, X as received
    // (every update copied so far, presented or not).
    virtual bool FrameSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height) = 0;
    // The window-sized picture as drawn, B, G, R, A with A = 255 (render
    // thread only). Renderers that draw nothing return false.
    virtual bool WindowSnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height) = 0;
};
