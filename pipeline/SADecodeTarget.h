#pragma once
// Where a decoded rectangle goes. The decoder knows nothing of renderers: the
// decoder task routes this to the renderer's FrameBufferPartialUpdate, tests
// route it to a plain pixel buffer.
//
// Called from the decoder worker threads, up to four at once; an
// implementation serialises its own state.
#include "pipeline/SAPlanarPicture.h"

#include <cstdint>

class SADecodeTarget
{
public:
    virtual ~SADecodeTarget() = default;

    // Size of the frame the target holds now; false when it holds none yet.
    // The decoder clips every rectangle to this size (and to the screen size
    // of the packet), so a target that may change size concurrently must
    // still clip under its own lock.
    virtual bool FrameSizeGet(int32_t& width, int32_t& height) = 0;

    // Copies the rectangle [left, right) x [top, bottom) of the frame from
    // `bgrx`: (bottom - top) rows of `pitch` bytes, 4 bytes per pixel in B, G,
    // R, X order. The rectangle is never empty and lies inside the frame.
    virtual void FrameBufferPartialUpdate(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                          const uint8_t* bgrx, int32_t pitch) = 0;

    // Optional: lends the target's own pixels of [left, right) x [top,
    // bottom) so that the decoder writes straight into them and saves a copy.
    // nullptr when the target has none to lend (the decoder then decodes into
    // its own buffer and calls FrameBufferPartialUpdate). Otherwise *pitch is
    // the distance between rows and the decoder, after writing inside the
    // rectangle only, calls FrameRegionRelease with the same rectangle.
    virtual uint8_t* FrameRegionAcquire(int32_t /*left*/, int32_t /*top*/, int32_t /*right*/,
                                        int32_t /*bottom*/, int32_t& /*pitch*/)
    {
        return nullptr;
    }
    virtual void FrameRegionRelease(int32_t /*left*/, int32_t /*top*/, int32_t /*right*/, int32_t /*bottom*/)
    {
    }

    // Optional: takes a whole-screen video picture in its planar form (the
    // picture covers the frame from its top-left corner). False when the
    // target cannot keep it that way or its frame has another size; the
    // decoder then converts the picture itself and calls
    // FrameBufferPartialUpdate.
    virtual bool FramePlanarUpdate(const SAPlanarPicture& /*picture*/) { return false; }

    // The fragment index of the packet being decoded on the calling thread.
    // The decoder task sets it around each decode, so that a target that
    // keeps one area per fragment (the update-areas renderer) can tell them
    // apart without the decode step knowing about fragments.
    static int32_t FragmentIndexCurrentGet() { return s_FragmentIndexCurrent; }
    static void FragmentIndexCurrentSet(int32_t index) { s_FragmentIndexCurrent = index; }

private:
    static thread_local int32_t s_FragmentIndexCurrent;
};
