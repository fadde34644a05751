#pragma once
// The server-sized frame as the renderer holds it on the CPU: 4 bytes per
// pixel (B, G, R, X), top-down, pitch = width * 4, plus the bounding rectangle
// of what changed since the last upload.
//
// Decoder threads copy rectangles in (RectangleCopy) while the render thread
// takes the changed part out (DirtyUpload); m_Lock guards every field. Every
// rectangle is bounded against the frame and the source before a byte moves:
// rectangles and pitches come from the network.
#include "render/PSRendererBase.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class PSRendererFrame
{
public:
    // owner names the renderer class in log lines ("PSRendererGL").
    explicit PSRendererFrame(const char* owner);

    // Resizes to x by y (new pixels are black) or keeps the pixels when the
    // size is unchanged; either way the whole frame becomes dirty.
    bool ResolutionSet(int x, int y);
    void SizeGet(int* width, int* height);
    // The bounded copy behind FrameBufferPartialUpdate.
    bool RectangleCopy(const void* pixels, size_t pixelsBytes, int pitch, const PSRendererRect* rect);
    // Marks the whole frame for the next upload (after the texture was rebuilt).
    void DirtyAll();
    // Calls upload(frame, width, height, dirty) under the lock when something
    // changed, then forgets the dirty area. Returns upload's result, or true
    // when nothing changed.
    bool DirtyUpload(const std::function<bool(const uint8_t* frame, int width, int height,
                                              const PSRendererRect& dirty)>& upload);
    bool SnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height);

private:
    const char* m_Owner;
    std::mutex m_Lock;
    std::vector<uint8_t> m_Pixels; // guarded by m_Lock
    int m_Width = 0;               // guarded by m_Lock
    int m_Height = 0;              // guarded by m_Lock
    PSRendererRect m_Dirty{};      // guarded by m_Lock; empty when right <= left
};
