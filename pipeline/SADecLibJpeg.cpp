#include "pipeline/SADecLibJpeg.h"

#include "core/PSExceptionGuard.h"
#include "core/SALog.h"

#include <turbojpeg.h>

#include <cstring>

SADecLibJpeg::SADecLibJpeg() : m_hInstance(tjInitDecompress())
{
    if (!m_hInstance)
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::SADecLibJpeg failed! tjInitDecompress %s\n",
              tjGetErrorStr2(nullptr));
}

SADecLibJpeg::~SADecLibJpeg()
{
    if (m_hInstance)
        tjDestroy(m_hInstance);
}

void SADecLibJpeg::PrivateAbandon(void* decoder)
{
    static_cast<SADecLibJpeg*>(decoder)->m_Abandoned = true;
}

void SADecLibJpeg::PrivateHandleRenew()
{
    m_Abandoned = false;
    // TurboJPEG 2.x leaves a handle mid-header when tjDecompressHeader3 fails
    // (it skips its own abort on that path), and every later image on the
    // same handle then fails with "two SOI markers": one damaged packet would
    // stop this decoder for good. A fresh handle after any failure costs one
    // allocation on an error path only.
    if (m_hInstance)
        tjDestroy(m_hInstance);
    m_hInstance = tjInitDecompress();
    if (!m_hInstance)
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::PrivateHandleRenew failed! tjInitDecompress %s\n",
              tjGetErrorStr2(nullptr));
}

bool SADecLibJpeg::PrivateDestinationCheck(const char* method, size_t destinationSize, int32_t width,
                                           int32_t pitch, int32_t height)
{
    // The last row needs only its pixels, the others a whole pitch.
    const int64_t row = int64_t(width) * 4;
    if (width <= 0 || height <= 0 || pitch < row ||
        uint64_t(int64_t(height - 1) * pitch + row) > uint64_t(destinationSize))
    {
        SALog(SA_LOG_FAILURE,
              "SADecLibJpeg::%s failed! destination of %zu bytes cannot hold %dx%d at pitch %d\n", method,
              destinationSize, width, height, pitch);
        return false;
    }
    return true;
}

bool SADecLibJpeg::HeaderRead(const uint8_t* jpeg, size_t jpegSize, SAJpegHeaderInfo& info)
{
    // A fault inside TurboJPEG abandons the handle mid-image; it is renewed
    // before its next use.
    PSExceptionGuardCleanup abandon(&PrivateAbandon, this);
    if (m_Abandoned)
        PrivateHandleRenew();
    if (!m_hInstance)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::Decode failed! NULL == m_hInstance\n");
        return false;
    }
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(m_hInstance, jpeg, static_cast<unsigned long>(jpegSize), &width, &height,
                            &subsampling, &colorspace) != 0)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::Decode failed! tjDecompressHeader3 %s\n",
              tjGetErrorStr2(m_hInstance));
        PrivateHandleRenew();
        return false;
    }
    info.Width = width;
    info.Height = height;
    info.Subsampling = subsampling;
    return true;
}

int SADecLibJpeg::ScanCountGet(const uint8_t* jpeg, size_t jpegSize)
{
    auto restart = [](uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; };
    int scans = 0;
    size_t i = 2; // past SOI
    while (i + 1 < jpegSize)
    {
        if (jpeg[i] != 0xFF || jpeg[i + 1] == 0xFF)
        {
            ++i; // stray byte, or fill before a marker
            continue;
        }
        const uint8_t marker = jpeg[i + 1];
        i += 2;
        if (marker == 0xD9)
            break; // EOI
        if (marker == 0x01 || restart(marker) || i + 1 >= jpegSize)
            continue; // no length follows
        i += (size_t(jpeg[i]) << 8) | jpeg[i + 1];
        if (marker != 0xDA)
            continue;
        ++scans;
        // The scan's data runs to the next marker other than a stuffed zero
        // or a restart. It is most of the image, and 0xFF is rare in it:
        // memchr keeps the walk a small part of the decode.
        while (i + 1 < jpegSize)
        {
            const void* found = std::memchr(jpeg + i, 0xFF, jpegSize - 1 - i);
            if (found == nullptr)
                return scans;
            i = static_cast<size_t>(static_cast<const uint8_t*>(found) - jpeg);
            if (jpeg[i + 1] != 0x00 && !restart(jpeg[i + 1]))
                break;
            i += 2;
        }
    }
    return scans;
}

bool SADecLibJpeg::Decode(const uint8_t* jpeg, size_t jpegSize, const SAJpegHeaderInfo& info,
                          uint8_t* destination, size_t destinationSize, int32_t pitch)
{
    PSExceptionGuardCleanup abandon(&PrivateAbandon, this);
    if (m_Abandoned)
        PrivateHandleRenew();
    if (!m_hInstance)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::Decode failed! NULL == m_hInstance\n");
        return false;
    }
    if (!PrivateDestinationCheck("Decode", destinationSize, info.Width, pitch, info.Height))
        return false;
    const int scans = ScanCountGet(jpeg, jpegSize);
    if (scans > SA_JPEG_SCAN_LIMIT)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::Decode failed! %d scans, more than %d\n", scans,
              SA_JPEG_SCAN_LIMIT);
        return false;
    }
    // Width and height equal to the image's own mean no scaling, so exactly
    // info.Height rows of info.Width pixels are written.
    if (tjDecompress2(m_hInstance, jpeg, static_cast<unsigned long>(jpegSize), destination, info.Width, pitch,
                      info.Height, TJPF_BGRA, 0) != 0)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::Decode failed! tjDecompress2 %s\n", tjGetErrorStr2(m_hInstance));
        PrivateHandleRenew();
        return false;
    }
    return true;
}

size_t SADecLibJpeg::YuvBufferSizeGet(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
    const unsigned long size = tjBufSizeYUV2(width, 4, height, TJSAMP_420);
    return size == static_cast<unsigned long>(-1) ? 0 : static_cast<size_t>(size);
}

bool SADecLibJpeg::YuvRgbConvert(const uint8_t* source, size_t sourceSize, uint8_t* destination,
                                 size_t destinationSize, int32_t width, int32_t pitch, int32_t height)
{
    PSExceptionGuardCleanup abandon(&PrivateAbandon, this);
    if (m_Abandoned)
        PrivateHandleRenew();
    if (!m_hInstance)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::YuvRgbConvert failed! NULL == m_hInstance\n");
        return false;
    }
    if (!PrivateDestinationCheck("YuvRgbConvert", destinationSize, width, pitch, height))
        return false;
    const size_t needed = YuvBufferSizeGet(width, height);
    if (needed == 0 || sourceSize < needed)
    {
        SALog(SA_LOG_FAILURE,
              "SADecLibJpeg::YuvRgbConvert failed! source of %zu bytes short of %zu for %dx%d\n", sourceSize,
              needed, width, height);
        return false;
    }
    if (tjDecodeYUV(m_hInstance, source, 4, TJSAMP_420, destination, width, pitch, height, TJPF_BGRA, 0) != 0)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::YuvRgbConvert failed! tjDecodeYUV %s\n",
              tjGetErrorStr2(m_hInstance));
        PrivateHandleRenew();
        return false;
    }
    return true;
}

bool SADecLibJpeg::YuvPlanarRgbConvert(const uint8_t* source, size_t sourceSize, uint8_t* destination,
                                       size_t destinationSize, int32_t width, int32_t height,
                                       int32_t destinationPitch)
{
    PSExceptionGuardCleanup abandon(&PrivateAbandon, this);
    if (m_Abandoned)
        PrivateHandleRenew();
    if (!m_hInstance)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::YuvPlanarRgbConvert failed! NULL == m_hInstance\n");
        return false;
    }
    if (!PrivateDestinationCheck("YuvPlanarRgbConvert", destinationSize, width, destinationPitch, height))
        return false;
    const int64_t lumaStride = (int64_t(width) + 15) / 16 * 16;
    const int64_t chromaStride = lumaStride / 2;
    const int64_t paddedHeight = (int64_t(height) + 15) / 16 * 16;
    const int64_t lumaSize = lumaStride * paddedHeight;
    const int64_t chromaSize = chromaStride * (paddedHeight / 2);
    // V starts half-way through what follows the luma plane, so that half must
    // hold a whole chroma plane.
    if (int64_t(sourceSize) < lumaSize || (int64_t(sourceSize) - lumaSize) / 2 < chromaSize)
    {
        SALog(SA_LOG_FAILURE,
              "SADecLibJpeg::YuvPlanarRgbConvert failed! source of %zu bytes short of %lld for %dx%d\n",
              sourceSize, static_cast<long long>(lumaSize + 2 * chromaSize), width, height);
        return false;
    }
    const unsigned char* planes[3] = {source, source + lumaSize,
                                      source + lumaSize + (sourceSize - lumaSize) / 2};
    const int strides[3] = {int(lumaStride), int(chromaStride), int(chromaStride)};
    if (tjDecodeYUVPlanes(m_hInstance, planes, strides, TJSAMP_420, destination, width, destinationPitch,
                          height, TJPF_BGRX, 0) != 0)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::YuvPlanarRgbConvert failed! tjDecodeYUVPlanes %s\n",
              tjGetErrorStr2(m_hInstance));
        PrivateHandleRenew();
        return false;
    }
    return true;
}

bool SADecLibJpeg::YuvPlanarRgbConvert(const uint8_t* const planes[3], const int32_t strides[3],
                                       uint8_t* destination, size_t destinationSize, int32_t width,
                                       int32_t height, int32_t destinationPitch)
{
    PSExceptionGuardCleanup abandon(&PrivateAbandon, this);
    if (m_Abandoned)
        PrivateHandleRenew();
    if (!m_hInstance)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::YuvPlanarRgbConvert failed! NULL == m_hInstance\n");
        return false;
    }
    if (!PrivateDestinationCheck("YuvPlanarRgbConvert", destinationSize, width, destinationPitch, height))
        return false;
    // A stride below its plane's width would make TurboJPEG read one row's
    // pixels from the next; a zero stride means "packed" to TurboJPEG, which
    // is not what a caller with its own strides means either.
    const int32_t chromaWidth = (width + 1) / 2;
    if (!planes || !strides || !planes[0] || !planes[1] || !planes[2] || strides[0] < width ||
        strides[1] < chromaWidth || strides[2] < chromaWidth)
    {
        SALog(SA_LOG_FAILURE,
              "SADecLibJpeg::YuvPlanarRgbConvert failed! planes or strides %d/%d/%d do not fit width %d\n",
              strides ? strides[0] : 0, strides ? strides[1] : 0, strides ? strides[2] : 0, width);
        return false;
    }
    const unsigned char* tjPlanes[3] = {planes[0], planes[1], planes[2]};
    const int tjStrides[3] = {strides[0], strides[1], strides[2]};
    if (tjDecodeYUVPlanes(m_hInstance, tjPlanes, tjStrides, TJSAMP_420, destination, width, destinationPitch,
                          height, TJPF_BGRX, 0) != 0)
    {
        SALog(SA_LOG_FAILURE, "SADecLibJpeg::YuvPlanarRgbConvert failed! tjDecodeYUVPlanes %s\n",
              tjGetErrorStr2(m_hInstance));
        PrivateHandleRenew();
        return false;
    }
    return true;
}
