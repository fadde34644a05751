#include "render/PSRendererDecodeTarget.h"

#include "render/PSRendererBase.h"

namespace
{
// Pixels always reach a renderer as 4-byte B, G, R, X.
constexpr int PS_RENDERER_DECODE_FORMAT_X8R8G8B8 = 22;
} // namespace

bool PSRendererDecodeTarget::FrameSizeGet(int32_t& width, int32_t& height)
{
    PSRendererStatus status = m_pRenderer->StatusGet();
    width = status.ResolutionX;
    height = status.ResolutionY;
    return width > 0 && height > 0;
}

void PSRendererDecodeTarget::FrameBufferPartialUpdate(int32_t left, int32_t top, int32_t right,
                                                      int32_t bottom, const uint8_t* bgrx, int32_t pitch)
{
    const PSRendererRect rect = {left, top, right, bottom};
    const int64_t rows = static_cast<int64_t>(bottom) - top;
    const int64_t lastRow = static_cast<int64_t>(right - left) * 4;
    // The source holds rows - 1 full pitches and one last row of pixels.
    const size_t bytes = rows > 0 ? static_cast<size_t>((rows - 1) * pitch + lastRow) : 0;
    m_pRenderer->FrameBufferPartialUpdate(bgrx, bytes, pitch, PS_RENDERER_DECODE_FORMAT_X8R8G8B8, &rect,
                                          FragmentIndexCurrentGet());
}

uint8_t* PSRendererDecodeTarget::FrameRegionAcquire(int32_t left, int32_t top, int32_t right, int32_t bottom,
                                                    int32_t& pitch)
{
    int rendererPitch = 0;
    uint8_t* pixels = m_pRenderer->FrameBufferRegionAcquire({left, top, right, bottom}, &rendererPitch);
    pitch = rendererPitch;
    return pixels;
}

void PSRendererDecodeTarget::FrameRegionRelease(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    m_pRenderer->FrameBufferRegionRelease({left, top, right, bottom});
}

bool PSRendererDecodeTarget::FramePlanarUpdate(const SAPlanarPicture& picture)
{
    return m_pRenderer->FrameBufferPlanarUpdate(picture);
}
