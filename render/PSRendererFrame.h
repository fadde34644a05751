#pragma once
// The server-sized frame as the renderer holds it on the CPU: 4 bytes per
// pixel (B, G, R, X), top-down, pitch = width * 4, plus the bounding rectangle
// of what changed since the last upload.
//
// Decoder threads write rectangles in (RectangleCopy, or RegionAcquire /
// RegionRelease to decode straight into the frame) while the render thread
// takes the changed part out (DirtyUpload).
//
// Locking: the four decoder threads write disjoint bands of one frame, so a
// single lock around every copy would make them take turns for nothing.
// Instead a writer reserves its rectangle: writers whose rectangles do not
// overlap write at the same time, one that overlaps a running writer waits
// for it (a server may send overlapping rectangles; they must not race on
// the same bytes). Everything else (resize, upload, snapshot) holds m_Lock
// and waits until no writer is left, and new writers wait while such an
// operation is pending, so the render thread is never starved.
// m_Lock guards every field; the pixels inside a reserved rectangle belong to
// its writer until it releases them.
//
// A writer that faults inside a guarded job (PSExceptionGuard) never reaches
// its release: each reservation, and m_Lock wherever it is held across code
// that may fault (a conversion, an upload), is registered with the guard,
// which gives it back when it abandons the job. The abandoned rectangle is
// marked changed, like a decode that fails half way.
//
// A video picture may arrive planar (PlanarSet): the frame then keeps the
// picture as it is and converts it into its pixels only when they are needed
// (a rectangle written over it, a snapshot, an upload that wants pixels); a
// GL upload takes the planes themselves and converts while drawing.
//
// Every rectangle is bounded against the frame and the source before a byte
// moves: rectangles and pitches come from the network.
//
// The pixels live on the heap, or in a block a source lends (BlockSourceSet),
// asked for at each resize.
#include "core/PSExceptionGuard.h"
#include "pipeline/SADecLibJpeg.h"
#include "pipeline/SAPlanarPicture.h"
#include "render/PSPixelBlock.h"
#include "render/PSPixelVector.h"
#include "render/PSRendererBase.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class PSRendererFrame
{
public:
    // owner names the renderer class in log lines ("PSRendererGL").
    explicit PSRendererFrame(const char* owner);

    // Resizes to x by y (new pixels are black) or, when the size is
    // unchanged, keeps the pixels if keepPixels is set and blackens them
    // otherwise; either way the whole frame becomes dirty.
    bool ResolutionSet(int x, int y, bool keepPixels = true);
    // Where the pixels of the next resize come from (null: the heap).
    void BlockSourceSet(PSPixelBlockSource source);
    void SizeGet(int* width, int* height);
    // The bounded copy behind FrameBufferPartialUpdate.
    bool RectangleCopy(const void* pixels, size_t pixelsBytes, int pitch, const PSRendererRect* rect);
    // Lends the frame's own pixels of `rect`, which must lie wholly inside
    // the frame (nullptr and a log line otherwise): the caller writes rows
    // *pitch bytes apart inside the rectangle only, then hands them back with
    // RegionRelease(rect), which marks them changed. Between the two calls the
    // frame cannot be resized, uploaded or read.
    uint8_t* RegionAcquire(const PSRendererRect& rect, int* pitch);
    void RegionRelease(const PSRendererRect& rect);
    // Replaces the whole frame with a planar picture of the frame's size
    // (false, nothing changed, for any other size).
    bool PlanarSet(const SAPlanarPicture& picture);
    // Marks the whole frame for the next upload (after the texture was rebuilt).
    void DirtyAll();
    using PixelsUpload =
        std::function<bool(const uint8_t* frame, int width, int height, const PSRendererRect& dirty)>;
    using PlanarUpload = std::function<bool(const SAPlanarPicture& picture)>;
    // With every writer finished and something changed: calls
    // uploadPlanar(picture) when the frame holds a planar picture and
    // uploadPlanar is given, otherwise upload(frame, width, height, dirty)
    // (converting a planar picture first); then forgets the dirty area.
    // Returns the call's result, or true when nothing changed.
    bool DirtyUpload(const PixelsUpload& upload, const PlanarUpload& uploadPlanar = nullptr);
    bool SnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height);

private:
    static constexpr size_t BAND_STREAM_FROM = size_t(1) << 20;
    static void PrivateBandCopy(uint8_t* target, const uint8_t* source, size_t bytes, bool readElsewhere);
    // Both with m_Lock held by `guard`.
    void PrivateWritersDrain(std::unique_lock<std::mutex>& guard);
    bool PrivateWriterBegin(std::unique_lock<std::mutex>& guard, const PSRendererRect& rect);
    // Ends a reservation and widens the dirty rectangle by `changed` (none
    // when nothing was written).
    void PrivateWriterEnd(const PSRendererRect& reserved, const PSRendererRect* changed);
    // With m_Lock held and no writer: turns a held planar picture into pixels.
    void PrivatePlanarConvert();
    // The guard's cleanup of a faulted job: ends every reservation of the
    // calling thread.
    static void PrivateWritersAbandon(void* frame);
    void PrivateDirtyWiden(const PSRendererRect& changed);

    struct PrivateWriter
    {
        PSRendererRect Rect;
        std::thread::id Owner;
        PSExceptionGuard::CleanupToken Token;
    };

    const char* m_Owner;
    std::mutex m_Lock;
    std::condition_variable m_Changed;          // a writer finished or an exclusive operation ended
    std::vector<PrivateWriter> m_Writers;       // guarded by m_Lock; rectangles being written
    int m_ExclusiveWaiting = 0;                 // guarded by m_Lock; operations waiting for the writers
    PSPixelBlockSource m_BlockSource;           // guarded by m_Lock
    PSPixelVector m_Heap;                       // guarded by m_Lock; the pixels unless a block holds them
    std::shared_ptr<PSPixelBlock> m_pBlock;     // guarded by m_Lock; the lent pixels, if any
    uint8_t* m_pPixels = nullptr;               // guarded by m_Lock; bytes as described above
    size_t m_Bytes = 0;                         // guarded by m_Lock; width * height * 4
    int m_Width = 0;                            // guarded by m_Lock
    int m_Height = 0;                           // guarded by m_Lock
    PSRendererRect m_Dirty{};                   // guarded by m_Lock; empty when right <= left
    SAPlanarPicture m_Planar;                   // guarded by m_Lock; valid while the pixels are stale
    std::unique_ptr<SADecLibJpeg> m_pConverter; // guarded by m_Lock; made at the first conversion
};
