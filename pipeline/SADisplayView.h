#pragma once
// The display view's role toward the screen pipeline: it owns the renderer,
// creates or resizes it on demand, presents it, and receives the decoder
// tasks' H.264 error message. The Qt display view and the headless tool's
// off-screen view implement it.
//
// Threads: ResolutionSet, Present and DecodeTargetGet are called on the
// frame buffer processor thread only; the processor hands the target to each
// decoder task with its packet, and up to four decoder threads use it at once.
// A view replaces or resizes its renderer and decode target only inside
// ResolutionSet, and only when it has none or the arguments differ from the
// previous call; the processor makes such a call only once every decoder task
// has finished. MessageTargetGet may be called from any thread.
#include <cstdint>

class SADecodeTarget;
class SAMessageTarget;

class SADisplayView
{
public:
    virtual ~SADisplayView() = default;

    // Makes a renderer for a server screen of width x height exist: creates,
    // replaces or resizes it, and returns at once when nothing changed.
    // allowFull false asks for the update-rectangles renderer.
    virtual bool ResolutionSet(int32_t width, int32_t height, bool allowFull) = 0;
    // Announces the frame to the frame window (WM_APP+19), then has the
    // renderer draw and show it; count is the number of fragments of the
    // frame, 0 for a repaint.
    virtual void Present(int32_t count) = 0;
    // Of the last Present, the nanoseconds its renderer spent uploading
    // pixels (processor thread; 0 when there is no renderer or no GPU).
    virtual uint64_t PresentUploadNsGet() { return 0; }
    // Where decoded rectangles go; null while there is no renderer.
    virtual SADecodeTarget* DecodeTargetGet() = 0;
    // False once the view has found that it cannot show pictures at all (no
    // renderer works on any kind of GL context): the processor then
    // acknowledges no frame, because the server takes an acknowledgement
    // for a frame shown. A view that merely has no renderer yet answers
    // true. Processor thread.
    virtual bool PictureShowableGet() { return true; }
    // The view's own message target: H.264 errors are sent there
    // (WM_APP+22, lParam = kind).
    virtual SAMessageTarget* MessageTargetGet() = 0;
};
