#include "render/PSRendererFrame.h"

#include "core/SALog.h"

#include <algorithm>
#include <cstring>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
bool RectsOverlap(const PSRendererRect& a, const PSRendererRect& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool RectsEqual(const PSRendererRect& a, const PSRendererRect& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
} // namespace

bool PSRendererSourceCheck(const char* owner, const char* method, size_t pixelsBytes, int pitch,
                           const PSRendererRect& rect)
{
    const int64_t left = rect.left, top = rect.top, right = rect.right, bottom = rect.bottom;
    const int64_t width = right - left, height = bottom - top;
    if (width <= 0 || height <= 0)
    {
        SALog(SA_LOG_FAILURE, "%s::%s failed! empty rectangle %lld-%lld-%lld-%lld\n", owner, method,
              static_cast<long long>(left), static_cast<long long>(top), static_cast<long long>(right),
              static_cast<long long>(bottom));
        return false;
    }
    if (static_cast<int64_t>(pitch) < width * 4)
    {
        SALog(SA_LOG_FAILURE, "%s::%s failed! pitch %d shorter than a row of %lld pixels\n", owner, method,
              pitch, static_cast<long long>(width));
        return false;
    }
    const uint64_t needed =
        static_cast<uint64_t>(height - 1) * static_cast<uint64_t>(pitch) + static_cast<uint64_t>(width) * 4u;
    if (static_cast<uint64_t>(pixelsBytes) < needed)
    {
        SALog(SA_LOG_FAILURE, "%s::%s failed! source of %zu bytes, rectangle needs %llu\n", owner, method,
              pixelsBytes, static_cast<unsigned long long>(needed));
        return false;
    }
    return true;
}

PSRendererFrame::PSRendererFrame(const char* owner) : m_Owner(owner) {}

void PSRendererFrame::PrivateWritersDrain(std::unique_lock<std::mutex>& guard)
{
    ++m_ExclusiveWaiting;
    m_Changed.wait(guard, [this] { return m_Writers.empty(); });
    --m_ExclusiveWaiting;
    // Writers held back by this operation may go once the caller lets go of
    // the lock; waking them now costs nothing, they block on it until then.
    m_Changed.notify_all();
}

bool PSRendererFrame::PrivateWriterBegin(std::unique_lock<std::mutex>& guard, const PSRendererRect& rect)
{
    m_Changed.wait(guard,
                   [&]
                   {
                       if (m_ExclusiveWaiting > 0)
                           return false;
                       for (const PrivateWriter& other : m_Writers)
                           if (RectsOverlap(other.Rect, rect))
                               return false;
                       return true;
                   });
    // A rectangle lands on the picture as pixels; nobody else writes now.
    if (m_Planar.IsValid())
    {
        // m_Lock is held across a conversion in TurboJPEG.
        PSExceptionGuardCleanup unlock(&PSExceptionGuardLock::PrivateUnlock, &m_Lock);
        PrivatePlanarConvert();
    }
    try
    {
        m_Writers.push_back({rect, std::this_thread::get_id(), {}});
        m_Writers.back().Token = PSExceptionGuard::CleanupPush(&PrivateWritersAbandon, this);
    }
    catch (const std::bad_alloc&)
    {
        SALog(SA_LOG_FAILURE, "%s::FrameBufferPartialUpdate failed! no memory for a writer\n", m_Owner);
        return false;
    }
    return true;
}

void PSRendererFrame::PrivateWriterEnd(const PSRendererRect& reserved, const PSRendererRect* changed)
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        const std::thread::id self = std::this_thread::get_id();
        for (auto it = m_Writers.begin(); it != m_Writers.end(); ++it)
            if (it->Owner == self && RectsEqual(it->Rect, reserved))
            {
                PSExceptionGuard::CleanupPop(it->Token);
                m_Writers.erase(it);
                break;
            }
        if (changed != nullptr)
            PrivateDirtyWiden(*changed);
    }
    m_Changed.notify_all();
}

void PSRendererFrame::PrivateDirtyWiden(const PSRendererRect& changed)
{
    if (m_Dirty.right <= m_Dirty.left)
        m_Dirty = changed;
    else
        m_Dirty = {std::min(m_Dirty.left, changed.left), std::min(m_Dirty.top, changed.top),
                   std::max(m_Dirty.right, changed.right), std::max(m_Dirty.bottom, changed.bottom)};
}

void PSRendererFrame::PrivateWritersAbandon(void* frame)
{
    PSRendererFrame* self = static_cast<PSRendererFrame*>(frame);
    {
        std::lock_guard<std::mutex> guard(self->m_Lock);
        const std::thread::id owner = std::this_thread::get_id();
        for (auto it = self->m_Writers.begin(); it != self->m_Writers.end();)
        {
            if (it->Owner != owner)
            {
                ++it;
                continue;
            }
            // Whatever was written before the fault stays; the texture must
            // learn of it.
            const PSRendererRect clipped = {std::max(it->Rect.left, 0), std::max(it->Rect.top, 0),
                                            std::min(it->Rect.right, self->m_Width),
                                            std::min(it->Rect.bottom, self->m_Height)};
            if (clipped.left < clipped.right && clipped.top < clipped.bottom)
                self->PrivateDirtyWiden(clipped);
            SALog(SA_LOG_FAILURE,
                  "%s::FrameBufferRegionRelease rectangle %d-%d-%d-%d released after a fault\n",
                  self->m_Owner, it->Rect.left, it->Rect.top, it->Rect.right, it->Rect.bottom);
            it = self->m_Writers.erase(it);
        }
    }
    self->m_Changed.notify_all();
}

void PSRendererFrame::PrivatePlanarConvert()
{
    SAPlanarPicture picture = std::move(m_Planar);
    m_Planar = {};
    // Whatever the outcome the texture no longer matches: upload it all.
    m_Dirty = {0, 0, m_Width, m_Height};
    if (!m_pConverter)
        m_pConverter.reset(new (std::nothrow) SADecLibJpeg());
    if (!m_pConverter || picture.Width != m_Width || picture.Height != m_Height ||
        !m_pConverter->YuvPlanarRgbConvert(picture.Planes, picture.Strides, m_pPixels, m_Bytes, m_Width,
                                           m_Height, m_Width * 4))
        SALog(SA_LOG_FAILURE, "%s::FrameBufferPlanarUpdate failed! picture %dx%d not converted\n", m_Owner,
              picture.Width, picture.Height);
}

bool PSRendererFrame::PlanarSet(const SAPlanarPicture& picture)
{
    std::unique_lock<std::mutex> guard(m_Lock);
    PrivateWritersDrain(guard);
    if (!picture.IsValid() || picture.Width != m_Width || picture.Height != m_Height)
        return false;
    m_Planar = picture;
    m_Dirty = {0, 0, m_Width, m_Height};
    return true;
}

void PSRendererFrame::BlockSourceSet(PSPixelBlockSource source)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_BlockSource = std::move(source);
}

bool PSRendererFrame::ResolutionSet(int x, int y, bool keepPixels)
{
    std::unique_lock<std::mutex> guard(m_Lock);
    PrivateWritersDrain(guard);
    if (x == m_Width && y == m_Height && !keepPixels)
    {
        m_Planar = {};
        if (m_Bytes > 0)
            std::memset(m_pPixels, 0, m_Bytes);
    }
    else if (x != m_Width || y != m_Height)
    {
        m_Planar = {};
        const size_t bytes = static_cast<size_t>(x) * static_cast<size_t>(y) * 4u;
        // The old pixels go first: a frame and its successor need not fit
        // in memory side by side.
        m_pBlock.reset();
        PSPixelVector().swap(m_Heap);
        m_pPixels = nullptr;
        m_Bytes = 0;
        try
        {
            std::shared_ptr<PSPixelBlock> block = m_BlockSource ? m_BlockSource(bytes) : nullptr;
            if (block != nullptr && block->SizeGet() >= bytes)
            {
                m_pBlock = std::move(block);
                m_pPixels = m_pBlock->DataGet();
            }
            else
            {
                m_Heap.assign(bytes, 0);
                m_pPixels = m_Heap.data();
            }
            m_Bytes = bytes;
        }
        catch (const std::bad_alloc&)
        {
            SALog(SA_LOG_FAILURE, "%s::ResolutionSet failed! no memory for %dx%d\n", m_Owner, x, y);
            m_Width = 0;
            m_Height = 0;
            m_Dirty = {};
            return false;
        }
        m_Width = x;
        m_Height = y;
    }
    m_Dirty = {0, 0, m_Width, m_Height};
    return true;
}

void PSRendererFrame::SizeGet(int* width, int* height)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    *width = m_Width;
    *height = m_Height;
}

bool PSRendererFrame::RectangleCopy(const void* pixels, size_t pixelsBytes, int pitch,
                                    const PSRendererRect* rect)
{
    if (pixels == nullptr || rect == nullptr)
    {
        SALog(SA_LOG_FAILURE,
              "%s::FrameBufferPartialUpdate failed! pBuffer(%p) = NULL || pPartialUpdateRect(%p) = NULL\n",
              m_Owner, pixels, static_cast<const void*>(rect));
        return false;
    }
    // The source must hold what the sender described. Rows are read only
    // where they land inside the frame, but the whole rectangle is what was
    // sent.
    if (!PSRendererSourceCheck(m_Owner, "FrameBufferPartialUpdate", pixelsBytes, pitch, *rect))
        return false;
    // 64-bit arithmetic: the four coordinates are arbitrary 32-bit values.
    const int64_t left = rect->left, top = rect->top, right = rect->right, bottom = rect->bottom;

    std::unique_lock<std::mutex> guard(m_Lock);
    // Reserved as the sender described it: the frame may be resized while
    // this writer waits, so the clip follows the reservation.
    const PSRendererRect reserved = *rect;
    if (!PrivateWriterBegin(guard, reserved))
        return false;
    const int64_t clipLeft = std::max<int64_t>(left, 0), clipTop = std::max<int64_t>(top, 0);
    const int64_t clipRight = std::min<int64_t>(right, m_Width),
                  clipBottom = std::min<int64_t>(bottom, m_Height);
    if (clipRight <= clipLeft || clipBottom <= clipTop)
    {
        SALog(SA_LOG_FAILURE,
              "%s::FrameBufferPartialUpdate failed! rectangle %lld-%lld-%lld-%lld outside %dx%d\n", m_Owner,
              static_cast<long long>(left), static_cast<long long>(top), static_cast<long long>(right),
              static_cast<long long>(bottom), m_Width, m_Height);
        guard.unlock();
        PrivateWriterEnd(reserved, nullptr);
        return false;
    }
    if (clipLeft != left || clipTop != top || clipRight != right || clipBottom != bottom)
    {
        SALog(SA_LOG_RENDER,
              "%s::FrameBufferPartialUpdate rectangle %lld-%lld-%lld-%lld clipped to %lld-%lld-%lld-%lld\n",
              m_Owner, static_cast<long long>(left), static_cast<long long>(top),
              static_cast<long long>(right), static_cast<long long>(bottom), static_cast<long long>(clipLeft),
              static_cast<long long>(clipTop), static_cast<long long>(clipRight),
              static_cast<long long>(clipBottom));
    }
    const size_t framePitch = static_cast<size_t>(m_Width) * 4u;
    uint8_t* target =
        m_pPixels + static_cast<size_t>(clipTop) * framePitch + static_cast<size_t>(clipLeft) * 4u;
    const bool readElsewhere = m_pBlock != nullptr;
    guard.unlock();

    // The copy runs outside the lock: other writers of other rectangles copy
    // at the same time, and nothing resizes the frame while this one holds
    // its reservation.
    const uint8_t* source = static_cast<const uint8_t*>(pixels) +
                            (clipTop - top) * static_cast<int64_t>(pitch) + (clipLeft - left) * 4;
    const size_t rowBytes = static_cast<size_t>(clipRight - clipLeft) * 4u;
    if (rowBytes == framePitch && static_cast<size_t>(pitch) == framePitch)
    {
        // Whole rows back to back on both sides: one copy of the band rather
        // than a call a row.
        PrivateBandCopy(target, source, rowBytes * static_cast<size_t>(clipBottom - clipTop), readElsewhere);
    }
    else
    {
        for (int64_t row = clipTop; row < clipBottom; ++row)
        {
            std::memcpy(target, source, rowBytes);
            target += framePitch;
            source += pitch;
        }
    }
    const PSRendererRect changed = {static_cast<int32_t>(clipLeft), static_cast<int32_t>(clipTop),
                                    static_cast<int32_t>(clipRight), static_cast<int32_t>(clipBottom)};
    PrivateWriterEnd(reserved, &changed);
    return true;
}

void PSRendererFrame::PrivateBandCopy(uint8_t* target, const uint8_t* source, size_t bytes,
                                      bool readElsewhere)
{
#if defined(__SSE2__)
    // Lent pixels are read next by the window system, not by this process: a
    // band of a megabyte or more is stored past the caches there, which saves
    // reading in every target line (last read by the X server) before it is
    // overwritten, and leaves the caches to the rest of the pipeline. Pixels
    // this process reads next (a GL upload, a snapshot) are stored as usual,
    // since they are still in the caches when read.
    if (readElsewhere && bytes >= BAND_STREAM_FROM)
    {
        const size_t head = (16 - (reinterpret_cast<uintptr_t>(target) & 15)) & 15;
        std::memcpy(target, source, head);
        target += head;
        source += head;
        bytes -= head;
        const size_t blocks = bytes / 64;
        for (size_t i = 0; i < blocks; ++i)
        {
            const __m128i* s = reinterpret_cast<const __m128i*>(source);
            __m128i* d = reinterpret_cast<__m128i*>(target);
            const __m128i a = _mm_loadu_si128(s), b = _mm_loadu_si128(s + 1), c = _mm_loadu_si128(s + 2),
                          e = _mm_loadu_si128(s + 3);
            _mm_stream_si128(d, a);
            _mm_stream_si128(d + 1, b);
            _mm_stream_si128(d + 2, c);
            _mm_stream_si128(d + 3, e);
            source += 64;
            target += 64;
        }
        std::memcpy(target, source, bytes % 64);
        // The stores must be visible before the writer's end publishes the
        // rectangle to the presenting thread.
        _mm_sfence();
        return;
    }
#endif
    std::memcpy(target, source, bytes);
}

uint8_t* PSRendererFrame::RegionAcquire(const PSRendererRect& rect, int* pitch)
{
    std::unique_lock<std::mutex> guard(m_Lock);
    if (!PrivateWriterBegin(guard, rect))
        return nullptr;
    if (rect.left < 0 || rect.top < 0 || rect.left >= rect.right || rect.top >= rect.bottom ||
        rect.right > m_Width || rect.bottom > m_Height)
    {
        // Not a failure: the caller falls back to its own buffer.
        SALog(SA_LOG_RENDER, "%s::FrameBufferRegionAcquire rectangle %d-%d-%d-%d outside %dx%d\n", m_Owner,
              rect.left, rect.top, rect.right, rect.bottom, m_Width, m_Height);
        guard.unlock();
        PrivateWriterEnd(rect, nullptr);
        return nullptr;
    }
    *pitch = m_Width * 4;
    return m_pPixels +
           (static_cast<size_t>(rect.top) * static_cast<size_t>(m_Width) + static_cast<size_t>(rect.left)) *
               4u;
}

void PSRendererFrame::RegionRelease(const PSRendererRect& rect)
{
    PrivateWriterEnd(rect, &rect);
}

void PSRendererFrame::DirtyAll()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Dirty = {0, 0, m_Width, m_Height};
}

bool PSRendererFrame::DirtyUpload(const PixelsUpload& upload, const PlanarUpload& uploadPlanar)
{
    std::unique_lock<std::mutex> guard(m_Lock);
    PrivateWritersDrain(guard);
    if (m_Dirty.right <= m_Dirty.left || m_Dirty.bottom <= m_Dirty.top || m_Bytes == 0)
        return true;
    // m_Lock is held across the upload into the graphics driver (and a
    // conversion in TurboJPEG).
    PSExceptionGuardCleanup unlock(&PSExceptionGuardLock::PrivateUnlock, &m_Lock);
    bool result = false;
    if (m_Planar.IsValid() && uploadPlanar)
    {
        result = uploadPlanar(m_Planar);
    }
    else
    {
        if (m_Planar.IsValid())
            PrivatePlanarConvert();
        result = upload(m_pPixels, m_Width, m_Height, m_Dirty);
    }
    m_Dirty = {};
    return result;
}

bool PSRendererFrame::SnapshotGet(std::vector<uint8_t>* pixels, int* width, int* height)
{
    std::unique_lock<std::mutex> guard(m_Lock);
    PrivateWritersDrain(guard);
    if (m_Planar.IsValid())
    {
        PSExceptionGuardCleanup unlock(&PSExceptionGuardLock::PrivateUnlock, &m_Lock);
        PrivatePlanarConvert();
    }
    if (m_Bytes == 0)
    {
        SALog(SA_LOG_FAILURE, "%s::FrameSnapshotGet failed! no resolution set\n", m_Owner);
        return false;
    }
    pixels->assign(m_pPixels, m_pPixels + m_Bytes);
    *width = m_Width;
    *height = m_Height;
    return true;
}
