#include "pipeline/SADecoderFrameBuffer.h"

#include "core/SALog.h"
#include "net/SANetProtocol.h"
#include "pipeline/PSCodecGlobal.h"
#include "pipeline/SAPipelineOptions.h"
#include "pipeline/SAUtilColorFormat.h"

#include <algorithm>
#include <new>
#include <string>

namespace
{
constexpr uint32_t COMPRESSION_NONE = 0;
constexpr uint32_t COMPRESSION_YUV = 1;
constexpr uint32_t COMPRESSION_JPEG = 3;
constexpr uint32_t COMPRESSION_H264 = 4;
} // namespace

SADecoderFrameBuffer::SADecoderFrameBuffer()
    : m_FileJpeg("JpegFrames", "jpg", 10), m_FileH264("H264Frames", "264", 10),
      m_H264Installed(PSCodecGlobal::IsInstalled())
{
}

uint8_t* SADecoderFrameBuffer::PrivateBufferReserve(size_t size)
{
    if (m_BufferSize < size)
    {
        m_pBuffer.reset();
        m_BufferSize = 0;
        m_pBuffer.reset(new (std::nothrow) uint8_t[size]);
        if (!m_pBuffer)
        {
            SALog(SA_LOG_FAILURE,
                  "SATaskQueuedDecoder::PrivateOnTaskSubmitted failed! NULL == pDecompressedBuffer\n");
            return nullptr;
        }
        m_BufferSize = size;
    }
    return m_pBuffer.get();
}

bool SADecoderFrameBuffer::PrivatePictureFits(const char* what, int64_t width, int64_t height,
                                              const SAFrameBufferInfo& info)
{
    if (width * height <= int64_t(info.ScreenWidth) * info.ScreenHeight)
        return true;
    SALog(SA_LOG_FAILURE, "SADecoderFrameBuffer::Decode failed! %s %lldx%lld larger than the screen %dx%d\n",
          what, static_cast<long long>(width), static_cast<long long>(height), info.ScreenWidth,
          info.ScreenHeight);
    return false;
}

bool SADecoderFrameBuffer::PrivateRectsGet(const SAFrameBufferInfo& info, SADecodeTarget& target,
                                           PrivateRect& rect, PrivateRect& visible)
{
    if (!SANetProtocol::ScreenSizeValid(info.ScreenWidth, info.ScreenHeight))
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! screen %dx%d outside 1..%d or above %lld pixels\n",
              info.ScreenWidth, info.ScreenHeight, SA_DECODE_SIDE_LIMIT,
              static_cast<long long>(SA_DECODE_AREA_LIMIT));
        return false;
    }
    if (info.Left == 0 && info.Top == 0 && info.Right == 0 && info.Bottom == 0)
        rect = {0, 0, info.ScreenWidth, info.ScreenHeight};
    else
        rect = {info.Left, info.Top, info.Right, info.Bottom};

    // 64-bit: right - left of two arbitrary 32-bit values overflows 32 bits.
    const int64_t width = int64_t(rect.Right) - rect.Left;
    const int64_t height = int64_t(rect.Bottom) - rect.Top;
    if (width <= 0 || height <= 0 || width > SA_DECODE_SIDE_LIMIT || height > SA_DECODE_SIDE_LIMIT)
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! PartialUpdateRect %d/%d/%d/%d empty, inverted or above "
              "%d\n",
              rect.Left, rect.Top, rect.Right, rect.Bottom, SA_DECODE_SIDE_LIMIT);
        return false;
    }

    // Clip: the part of the rectangle inside both the screen the packet
    // describes and the frame the target holds.
    int32_t frameWidth = info.ScreenWidth, frameHeight = info.ScreenHeight;
    int32_t targetWidth = 0, targetHeight = 0;
    if (target.FrameSizeGet(targetWidth, targetHeight))
    {
        frameWidth = std::min(frameWidth, std::max(targetWidth, 0));
        frameHeight = std::min(frameHeight, std::max(targetHeight, 0));
    }
    visible.Left = std::max(rect.Left, 0);
    visible.Top = std::max(rect.Top, 0);
    visible.Right = std::min(rect.Right, frameWidth);
    visible.Bottom = std::min(rect.Bottom, frameHeight);
    if (visible.Left >= visible.Right || visible.Top >= visible.Bottom)
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! PartialUpdateRect %d/%d/%d/%d outside the frame %dx%d\n",
              rect.Left, rect.Top, rect.Right, rect.Bottom, frameWidth, frameHeight);
        return false;
    }
    return true;
}

void SADecoderFrameBuffer::PrivateHandOver(const uint8_t* pixels, int32_t pitch, int32_t bytesPerPixel,
                                           const PrivateRect& rect, const PrivateRect& visible,
                                           SADecodeTarget& target)
{
    const uint8_t* first = pixels + ptrdiff_t(visible.Top - rect.Top) * pitch +
                           ptrdiff_t(visible.Left - rect.Left) * bytesPerPixel;
    target.FrameBufferPartialUpdate(visible.Left, visible.Top, visible.Right, visible.Bottom, first, pitch);
}

SADecodeResult SADecoderFrameBuffer::Decode(const uint8_t* packet, size_t packetSize, int32_t fragmentIndex,
                                            SADecodeTarget& target)
{
    return Decode(packet, packetSize, fragmentIndex, &target);
}

SADecodeResult SADecoderFrameBuffer::Decode(const uint8_t* packet, size_t packetSize, int32_t fragmentIndex,
                                            SADecodeTarget* pTarget)
{
    const SADecodeResult result = PrivateDecode(packet, packetSize, fragmentIndex, pTarget);
    if (m_BufferSize > SA_DECODE_BUFFER_KEEP_LIMIT)
    {
        m_pBuffer.reset();
        m_BufferSize = 0;
    }
    return result;
}

SADecodeResult SADecoderFrameBuffer::PrivateDecode(const uint8_t* packet, size_t packetSize,
                                                   int32_t fragmentIndex, SADecodeTarget* pTarget)
{
    if (!packet || packetSize < SA_PACKET_HEADER_SIZE)
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! packet of %zu bytes has no whole header\n", packetSize);
        return SADecodeResult::Failed;
    }
    const SAPacketHeader header = SAPacketHeader::FromBytes(packet);
    if (header.HeaderTypeGet() != SA_HEADER_FRAME_BUFFER)
    {
        SALog(SA_LOG_FAILURE, "SADecoderFrameBuffer::Decode failed! HeaderType %u is not FrameBuffer\n",
              header.HeaderTypeGet());
        return SADecodeResult::Failed;
    }
    const size_t payloadSize = header.ByteCountGet();
    if (payloadSize > packetSize - SA_PACKET_HEADER_SIZE)
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! ByteCount %zu beyond the %zu bytes received\n",
              payloadSize, packetSize - SA_PACKET_HEADER_SIZE);
        return SADecodeResult::Failed;
    }
    const uint8_t* payload = packet + SA_PACKET_HEADER_SIZE;
    const SAFrameBufferInfo info = SAPacketFrameBufferDecode(header);

    switch (info.CompressionType)
    {
    case COMPRESSION_NONE:
    case COMPRESSION_YUV:
    case COMPRESSION_JPEG:
        break;
    case COMPRESSION_H264:
        // A video stream decodes whole pictures whatever the rectangle says;
        // the H.264 branch does its own size checks.
        return PrivateDecodeH264(info, payload, payloadSize, fragmentIndex, pTarget);
    default:
        SALog(SA_LOG_FAILURE,
              "SATaskQueuedDecoder::PrivateOnTaskSubmitted failed! CompressionType invalid:%d\n",
              static_cast<int>(info.CompressionType));
        return SADecodeResult::Failed;
    }

    if (pTarget == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::FrameBufferPartialUpdate failed! NULL == m_pRenderer\n");
        return SADecodeResult::NoTarget;
    }
    SADecodeTarget& target = *pTarget;
    // An unknown format logs here, whatever the compression.
    const int32_t bytesPerPixel = SAUtilColorFormatBytesPerPixelGet(info.ColorFormat);
    PrivateRect rect, visible;
    if (!PrivateRectsGet(info, target, rect, visible))
        return SADecodeResult::Failed;

    SALog(SA_LOG_DECODER,
          "-> Decoder task submitted. FragmentIndex:%d Compression:%d Size:%d Uncompressed:%d\n",
          fragmentIndex, static_cast<int>(info.CompressionType), static_cast<int>(payloadSize),
          static_cast<int>(int64_t(rect.Width()) * rect.Height() * 4));

    switch (info.CompressionType)
    {
    case COMPRESSION_NONE:
        return PrivateDecodeRaw(info, bytesPerPixel, payload, payloadSize, rect, visible, target);
    case COMPRESSION_YUV:
        // Decoded output is 4 bytes per pixel whatever the header's format.
        return PrivateDecodeYuv(info, payload, payloadSize, rect, visible, target);
    default:
        return PrivateDecodeJpeg(info, payload, payloadSize, fragmentIndex, rect, visible, target);
    }
}

SADecodeResult SADecoderFrameBuffer::PrivateDecodeRaw(const SAFrameBufferInfo& info, int32_t bytesPerPixel,
                                                      const uint8_t* payload, size_t payloadSize,
                                                      const PrivateRect& rect, const PrivateRect& visible,
                                                      SADecodeTarget& target)
{
    const int64_t row = int64_t(rect.Width()) * bytesPerPixel;
    if (info.PitchInBytes < row)
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! PitchInBytes %d smaller than a row of %lld bytes\n",
              info.PitchInBytes, static_cast<long long>(row));
        return SADecodeResult::Failed;
    }
    const int64_t needed = int64_t(rect.Height()) * info.PitchInBytes;
    if (int64_t(payloadSize) < needed)
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! payload of %zu bytes short of %d rows x %d\n",
              payloadSize, rect.Height(), info.PitchInBytes);
        return SADecodeResult::Failed;
    }
    if (bytesPerPixel == 4)
    {
        // Already B, G, R, A/X: straight from the packet, no copy.
        PrivateHandOver(payload, info.PitchInBytes, 4, rect, visible, target);
        return SADecodeResult::Decoded;
    }
    const int32_t pitch = visible.Width() * 4;
    uint8_t* buffer = PrivateBufferReserve(size_t(pitch) * size_t(visible.Height()));
    if (!buffer)
        return SADecodeResult::Failed;
    const uint8_t* first = payload + ptrdiff_t(visible.Top - rect.Top) * info.PitchInBytes +
                           ptrdiff_t(visible.Left - rect.Left) * bytesPerPixel;
    SAUtilColorFormatToBgrx(info.ColorFormat, first, info.PitchInBytes, visible.Width(), visible.Height(),
                            buffer, pitch);
    target.FrameBufferPartialUpdate(visible.Left, visible.Top, visible.Right, visible.Bottom, buffer, pitch);
    return SADecodeResult::Decoded;
}

SADecodeResult SADecoderFrameBuffer::PrivateDecodeYuv(const SAFrameBufferInfo& info, const uint8_t* payload,
                                                      size_t payloadSize, const PrivateRect& rect,
                                                      const PrivateRect& visible, SADecodeTarget& target)
{
    if (!PrivatePictureFits("YUV", rect.Width(), rect.Height(), info))
        return SADecodeResult::Failed;
    // The payload is the whole rectangle; it is decoded whole and only the
    // visible part is handed on.
    const size_t needed = SADecLibJpeg::YuvBufferSizeGet(rect.Width(), rect.Height());
    if (needed == 0 || payloadSize < needed)
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! YUV payload of %zu bytes short of %zu for %dx%d\n",
              payloadSize, needed, rect.Width(), rect.Height());
        return SADecodeResult::Failed;
    }
    if (PrivateRectsEqual(rect, visible))
    {
        int32_t regionPitch = 0;
        if (uint8_t* region =
                target.FrameRegionAcquire(rect.Left, rect.Top, rect.Right, rect.Bottom, regionPitch))
        {
            const bool converted = m_DecLibJpeg.YuvRgbConvert(
                payload, payloadSize, region, PrivateRegionBytes(regionPitch, rect.Width(), rect.Height()),
                rect.Width(), regionPitch, rect.Height());
            target.FrameRegionRelease(rect.Left, rect.Top, rect.Right, rect.Bottom);
            return converted ? SADecodeResult::Decoded : SADecodeResult::Failed;
        }
    }
    const int32_t pitch = rect.Width() * 4;
    const size_t bufferSize = size_t(pitch) * size_t(rect.Height());
    uint8_t* buffer = PrivateBufferReserve(bufferSize);
    if (!buffer)
        return SADecodeResult::Failed;
    if (!m_DecLibJpeg.YuvRgbConvert(payload, payloadSize, buffer, bufferSize, rect.Width(), pitch,
                                    rect.Height()))
        return SADecodeResult::Failed;
    PrivateHandOver(buffer, pitch, 4, rect, visible, target);
    return SADecodeResult::Decoded;
}

SADecodeResult SADecoderFrameBuffer::PrivateDecodeJpeg(const SAFrameBufferInfo& info, const uint8_t* payload,
                                                       size_t payloadSize, int32_t fragmentIndex,
                                                       const PrivateRect& rect, const PrivateRect& visible,
                                                       SADecodeTarget& target)
{
    if (m_DumpEnabled)
        m_FileJpeg.Save(payload, payloadSize, "frag" + std::to_string(fragmentIndex));

    SAJpegHeaderInfo jpeg;
    if (!m_DecLibJpeg.HeaderRead(payload, payloadSize, jpeg))
        return SADecodeResult::Failed;
    // A picture larger than its rectangle would cover pixels the server did
    // not mean to update: dropped, not cropped.
    if (jpeg.Width < 1 || jpeg.Height < 1 || jpeg.Width > rect.Width() || jpeg.Height > rect.Height())
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! JPEG %dx%d does not fit PartialUpdateRect %dx%d\n",
              jpeg.Width, jpeg.Height, rect.Width(), rect.Height());
        return SADecodeResult::Failed;
    }
    if (!PrivatePictureFits("JPEG", jpeg.Width, jpeg.Height, info))
        return SADecodeResult::Failed;
    // A smaller picture updates only its own area from the top-left corner.
    const PrivateRect decoded = {rect.Left, rect.Top, rect.Left + jpeg.Width, rect.Top + jpeg.Height};
    PrivateRect shown = visible;
    shown.Right = std::min(shown.Right, decoded.Right);
    shown.Bottom = std::min(shown.Bottom, decoded.Bottom);
    if (shown.Left >= shown.Right || shown.Top >= shown.Bottom)
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! JPEG %dx%d at %d/%d lies outside the frame\n", jpeg.Width,
              jpeg.Height, rect.Left, rect.Top);
        return SADecodeResult::Failed;
    }

    if (PrivateRectsEqual(decoded, shown))
    {
        int32_t regionPitch = 0;
        if (uint8_t* region = target.FrameRegionAcquire(decoded.Left, decoded.Top, decoded.Right,
                                                        decoded.Bottom, regionPitch))
        {
            const bool ok =
                m_DecLibJpeg.Decode(payload, payloadSize, jpeg, region,
                                    PrivateRegionBytes(regionPitch, jpeg.Width, jpeg.Height), regionPitch);
            target.FrameRegionRelease(decoded.Left, decoded.Top, decoded.Right, decoded.Bottom);
            return ok ? SADecodeResult::Decoded : SADecodeResult::Failed;
        }
    }
    const int32_t pitch = jpeg.Width * 4;
    const size_t bufferSize = size_t(pitch) * size_t(jpeg.Height);
    uint8_t* buffer = PrivateBufferReserve(bufferSize);
    if (!buffer)
        return SADecodeResult::Failed;
    if (!m_DecLibJpeg.Decode(payload, payloadSize, jpeg, buffer, bufferSize, pitch))
        return SADecodeResult::Failed;
    PrivateHandOver(buffer, pitch, 4, decoded, shown, target);
    return SADecodeResult::Decoded;
}

SADecodeResult SADecoderFrameBuffer::PrivateDecodeH264(const SAFrameBufferInfo& info, const uint8_t* payload,
                                                       size_t payloadSize, int32_t fragmentIndex,
                                                       SADecodeTarget* pTarget)
{
    if (!m_H264Installed)
    {
        SALog(SA_LOG_FAILURE, "SATaskQueuedDecoder::OnExecute failed! no H.264 decoder available\n");
        return SADecodeResult::H264InitError;
    }
    // The picture fills the screen; a screen outside the limits would size
    // the decoder and its buffer from a broken header.
    if (!SANetProtocol::ScreenSizeValid(info.ScreenWidth, info.ScreenHeight))
    {
        SALog(SA_LOG_FAILURE,
              "SADecoderFrameBuffer::Decode failed! screen %dx%d outside 1..%d or above %lld pixels\n",
              info.ScreenWidth, info.ScreenHeight, SA_DECODE_SIDE_LIMIT,
              static_cast<long long>(SA_DECODE_AREA_LIMIT));
        return SADecodeResult::Failed;
    }
    // No access unit at all: a header whose payload the receiver read past
    // (it describes a rectangle beyond the viewer's bounds). There is nothing
    // to decode, and the stream itself is not at fault.
    if (payloadSize == 0)
    {
        SALog(SA_LOG_FAILURE, "SADecoderFrameBuffer::Decode failed! H.264 packet without an access unit\n");
        return SADecodeResult::Failed;
    }
    const int32_t pitch = info.ScreenWidth * 4;
    const size_t bufferSize = size_t(pitch) * size_t(info.ScreenHeight);
    SALog(SA_LOG_DECODER,
          "-> Decoder task submitted. FragmentIndex:%d Compression:%d Size:%d Uncompressed:%d\n",
          fragmentIndex, static_cast<int>(info.CompressionType), static_cast<int>(payloadSize),
          static_cast<int>(bufferSize));

    if (!m_DecoderH264.Initialize(info.ScreenWidth, info.ScreenHeight))
    {
        SALog(SA_LOG_FAILURE, "SATaskQueuedDecoder::OnExecute failed! m_DecoderH264.Initialize\n");
        return SADecodeResult::H264InitError;
    }
    if (SAPipelineOptions::s_TraceH264Nalu.load(std::memory_order_relaxed))
        PSDecoderH264::NalUnitsTrace(payload, payloadSize);
    if (m_DumpEnabled)
        m_FileH264.Save(payload, payloadSize, "");

    uint8_t* buffer = PrivateBufferReserve(bufferSize);
    if (!buffer)
        return SADecodeResult::Failed;
    bool noOutput = false;
    int32_t pictureWidth = 0, pictureHeight = 0;
    // Converting a whole picture costs more than decoding it; a target that
    // can show the planes as they are (the GL renderer converts while it
    // draws) spares the decoder thread that work.
    SAPlanarPicture shared;
    if (!m_DecoderH264.Decode(payload, payloadSize, buffer, bufferSize, pitch, pictureWidth, pictureHeight,
                              noOutput, &shared))
        return noOutput ? SADecodeResult::NeedMoreInput : SADecodeResult::H264DecodeError;
    if (pTarget == nullptr)
    {
        // Decoded for the pictures that refer to it; there is nowhere to show it.
        SALog(SA_LOG_FAILURE, "SAMvcViewFrmDisplay::FrameBufferPartialUpdate failed! NULL == m_pRenderer\n");
        return SADecodeResult::NoTarget;
    }
    SADecodeTarget& target = *pTarget;
    if (shared.IsValid() && target.FramePlanarUpdate(shared))
        return SADecodeResult::Decoded;

    // The picture's part inside the target's frame.
    PrivateRect rect = {0, 0, pictureWidth, pictureHeight};
    PrivateRect visible = rect;
    int32_t targetWidth = 0, targetHeight = 0;
    if (target.FrameSizeGet(targetWidth, targetHeight))
    {
        visible.Right = std::min(visible.Right, std::max(targetWidth, 0));
        visible.Bottom = std::min(visible.Bottom, std::max(targetHeight, 0));
    }
    if (visible.Right <= 0 || visible.Bottom <= 0)
    {
        SALog(SA_LOG_FAILURE, "SADecoderFrameBuffer::Decode failed! picture %dx%d outside the frame %dx%d\n",
              pictureWidth, pictureHeight, targetWidth, targetHeight);
        return SADecodeResult::Failed;
    }
    if (shared.IsValid())
    {
        const auto convert =
            [&](uint8_t* output, size_t outputSize, int32_t width, int32_t height, int32_t outputPitch)
        {
            if (m_DecLibJpeg.YuvPlanarRgbConvert(shared.Planes, shared.Strides, output, outputSize, width,
                                                 height, outputPitch))
                return true;
            SALog(SA_LOG_FAILURE, "PSDecoderH264::Decode failed! m_LibJpeg.YuvPlanarRgbConvert\n");
            return false;
        };
        // Converted straight into the frame where it lends its pixels: a
        // whole picture moves once instead of twice.
        int32_t regionPitch = 0;
        if (uint8_t* region = target.FrameRegionAcquire(visible.Left, visible.Top, visible.Right,
                                                        visible.Bottom, regionPitch))
        {
            const bool converted =
                convert(region, PrivateRegionBytes(regionPitch, visible.Width(), visible.Height()),
                        visible.Width(), visible.Height(), regionPitch);
            target.FrameRegionRelease(visible.Left, visible.Top, visible.Right, visible.Bottom);
            return converted ? SADecodeResult::Decoded : SADecodeResult::H264DecodeError;
        }
        if (!convert(buffer, bufferSize, shared.Width, shared.Height, pitch))
            return SADecodeResult::H264DecodeError;
    }
    PrivateHandOver(buffer, pitch, 4, rect, visible, target);
    return SADecodeResult::Decoded;
}
