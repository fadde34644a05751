#include "pipeline/PSDecoderH264.h"

#include "core/PSExceptionGuard.h"
#include "core/PSTime.h"
#include "core/SALog.h"
#include "pipeline/PSCodecTransform.h"

extern "C"
{
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
constexpr int32_t PS_H264_FRAME_RATE = 60;
// One sixtieth of a second in 100-ns units.
constexpr int64_t PS_H264_SAMPLE_DURATION = 166666;
// Access units a hardware decoder may hold back before its first picture;
// the stream gives one picture per unit, so a decoder that has given none
// after these is not working.
constexpr size_t PS_H264_HARDWARE_TRIAL_UNITS = 8;

// A picture TurboJPEG converts exactly: 8-bit 4:2:0 in full range (or with no
// range given, which this stream format means as full range) and BT.601 (or
// no matrix given).
bool PrivateTurboJpegFits(const AVFrame* frame)
{
    if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P)
        return false;
    if (frame->color_range == AVCOL_RANGE_MPEG)
        return false;
    return frame->colorspace == AVCOL_SPC_UNSPECIFIED || frame->colorspace == AVCOL_SPC_BT470BG ||
           frame->colorspace == AVCOL_SPC_SMPTE170M;
}

// The "J" formats only say "full range"; libswscale wants the plain format
// with the range given separately.
AVPixelFormat PrivateUnJ(int format)
{
    switch (format)
    {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    default:
        return static_cast<AVPixelFormat>(format);
    }
}

const char* PrivateNalName(int type)
{
    static const char* const names[] = {
        "Unknown or reserved NAL type",
        "P-Frame",
        "Coded slice data partition A",
        "Coded slice data partition B",
        "Coded slice data partition C",
        "I-Frame",
        "SEI",
        "SPS",
        "PPS",
        "AUD",
        "End of sequence",
        "End of stream",
        "Filler data",
        "Sequence parameter set extension",
        "Prefix NAL unit",
        "Subset sequence parameter set",
    };
    return type >= 1 && type <= 15 ? names[type] : names[0];
}
} // namespace

PSDecoderH264::PSDecoderH264()
    : m_pTransform(std::make_unique<PSCodecTransform>()),
      m_SampleTime(static_cast<int64_t>(PSTimeNanoseconds() / 100))
{
}

PSDecoderH264::~PSDecoderH264()
{
    sws_freeContext(m_pSws);
}

void PSDecoderH264::PrivateAbandon(void* decoder)
{
    static_cast<PSDecoderH264*>(decoder)->m_Abandoned = true;
}

bool PSDecoderH264::Initialize(int32_t width, int32_t height)
{
    if (m_Initialized && !m_Abandoned && width == m_Width && height == m_Height &&
        m_FrameRate == PS_H264_FRAME_RATE)
        return true;
    if (m_Abandoned)
    {
        // A fault inside the codec left the decoder mid-picture: it starts
        // anew, with the next key frame.
        SALog(SA_LOG_FAILURE, "PSDecoderH264::Initialize decoder renewed after a fault\n");
        m_Abandoned = false;
        sws_freeContext(m_pSws);
        m_pSws = nullptr;
    }

    m_pTransform->Release();
    m_LatencyCount = 0;
    m_Initialized = false;
    m_HardwareTrialUnits.clear();
    m_HardwareProven = false;
    if (!m_pTransform->Initialize(width, height, !m_HardwareRefused))
    {
        SALog(SA_LOG_FAILURE, "PSDecoderH264::Initialize failed! m_Transform.Initialize\n");
        return false;
    }
    if (m_pTransform->HardwareFailedGet())
        m_HardwareRefused = true;
    m_Width = width;
    m_Height = height;
    m_FrameRate = PS_H264_FRAME_RATE;
    m_SampleDuration = PS_H264_SAMPLE_DURATION;
    m_Initialized = true;
    m_MismatchWidth = 0;
    m_MismatchHeight = 0;
    ++m_Creations;
    return true;
}

bool PSDecoderH264::PrivateDecode(const uint8_t* data, size_t size, const AVFrame*& frame, bool& noOutput)
{
    noOutput = false;
    frame = nullptr;
    if (!m_Initialized || m_Abandoned)
    {
        SALog(SA_LOG_FAILURE, "PSDecoderH264::Decode failed! uninitialized...\n");
        return false;
    }
    m_SampleTime += m_SampleDuration;
    // Until a hardware decoder has shown a picture it is on trial.
    const bool trial = m_pTransform->IsHardwareGet() && !m_HardwareProven;
    if (trial)
        m_HardwareTrialUnits.emplace_back(data, data + size);
    if (!m_pTransform->InputSubmit(data, size, m_SampleTime))
    {
        if (trial)
            return PrivateSoftwareFallback("it refused an access unit", frame, noOutput);
        SALog(SA_LOG_FAILURE, "PSDecoderH264::Decode failed! m_Transform.InputSubmit\n");
        // Whatever the decoder still holds belongs to the broken stream.
        m_pTransform->Flush();
        m_LatencyCount = 0;
        return false;
    }
    bool needMoreInput = false;
    if (!m_pTransform->OutputGet(frame, needMoreInput))
    {
        if (trial && (!needMoreInput || m_HardwareTrialUnits.size() >= PS_H264_HARDWARE_TRIAL_UNITS))
            return PrivateSoftwareFallback(needMoreInput ? "no picture after the first access units"
                                                         : "it failed to give a picture",
                                           frame, noOutput);
        noOutput = needMoreInput;
        ++m_LatencyCount;
        SALog(SA_LOG_FAILURE, "PSDecoderH264::Decode failed! m_Transform.OutputGet Latency:%d frames\n",
              m_LatencyCount);
        return false;
    }
    if (trial)
    {
        m_HardwareProven = true;
        m_HardwareTrialUnits.clear();
    }
    return true;
}

bool PSDecoderH264::PrivateSoftwareFallback(const char* why, const AVFrame*& frame, bool& noOutput)
{
    SALog(SA_LOG_FAILURE,
          "PSDecoderH264::Decode %s failed before its first picture (%s): decoding in software\n",
          m_pTransform->InstanceNameGet().c_str(), why);
    m_HardwareRefused = true;
    std::vector<std::vector<uint8_t>> units = std::move(m_HardwareTrialUnits);
    m_HardwareTrialUnits.clear();
    m_LatencyCount = 0;
    if (!m_pTransform->Initialize(m_Width, m_Height, false))
    {
        SALog(SA_LOG_FAILURE, "PSDecoderH264::Initialize failed! m_Transform.Initialize\n");
        m_Initialized = false;
        return false;
    }
    ++m_Creations;
    // The units again, stamped as they were; the picture of the last one is
    // this call's.
    bool got = false;
    bool needMoreInput = false;
    for (size_t i = 0; i < units.size(); ++i)
    {
        const int64_t time = m_SampleTime - int64_t(units.size() - 1 - i) * m_SampleDuration;
        if (!m_pTransform->InputSubmit(units[i].data(), units[i].size(), time))
        {
            SALog(SA_LOG_FAILURE, "PSDecoderH264::Decode failed! m_Transform.InputSubmit\n");
            m_pTransform->Flush();
            return false;
        }
        got = m_pTransform->OutputGet(frame, needMoreInput);
    }
    if (!got)
    {
        noOutput = needMoreInput;
        ++m_LatencyCount;
        SALog(SA_LOG_FAILURE, "PSDecoderH264::Decode failed! m_Transform.OutputGet Latency:%d frames\n",
              m_LatencyCount);
        return false;
    }
    return true;
}

bool PSDecoderH264::PictureDecode(const uint8_t* data, size_t size, bool& noOutput)
{
    PSExceptionGuardCleanup abandon(&PrivateAbandon, this);
    const AVFrame* frame = nullptr;
    return PrivateDecode(data, size, frame, noOutput);
}

bool PSDecoderH264::Decode(const uint8_t* data, size_t size, uint8_t* output, size_t outputSize,
                           int32_t outputPitch, int32_t& pictureWidth, int32_t& pictureHeight, bool& noOutput,
                           SAPlanarPicture* shared)
{
    pictureWidth = 0;
    pictureHeight = 0;
    PSExceptionGuardCleanup abandon(&PrivateAbandon, this);
    const AVFrame* frame = nullptr;
    if (!PrivateDecode(data, size, frame, noOutput))
        return false;

    if (shared != nullptr && frame->width == m_Width && frame->height == m_Height &&
        PrivateTurboJpegFits(frame))
    {
        // The decoder hands out a new reference and never writes into a
        // picture it has output, so the planes stay valid and unchanged for
        // whoever holds the reference.
        AVFrame* copy = av_frame_clone(frame);
        if (copy != nullptr)
        {
            shared->Owner = std::shared_ptr<const void>(copy,
                                                        [](const void* held)
                                                        {
                                                            AVFrame* picture = static_cast<AVFrame*>(
                                                                const_cast<void*>(held));
                                                            av_frame_free(&picture);
                                                        });
            for (int plane = 0; plane < 3; ++plane)
            {
                shared->Planes[plane] = copy->data[plane];
                shared->Strides[plane] = copy->linesize[plane];
            }
            shared->Width = copy->width;
            shared->Height = copy->height;
            pictureWidth = copy->width;
            pictureHeight = copy->height;
            return true;
        }
        // No memory for a reference: convert as usual.
    }

    // The stream's own size rules the picture; the announced size rules the
    // output buffer. Only what both hold is converted.
    const int32_t width = std::min<int32_t>(frame->width, m_Width);
    const int32_t height = std::min<int32_t>(frame->height, m_Height);
    if ((frame->width != m_Width || frame->height != m_Height) &&
        (frame->width != m_MismatchWidth || frame->height != m_MismatchHeight))
    {
        m_MismatchWidth = frame->width;
        m_MismatchHeight = frame->height;
        SALog(SA_LOG_FAILURE,
              "PSDecoderH264::Decode picture %dx%d differs from the announced %dx%d; %dx%d of it is shown\n",
              frame->width, frame->height, m_Width, m_Height, width, height);
    }
    if (width < 1 || height < 1 || !PrivateConvert(frame, output, outputSize, outputPitch, width, height))
    {
        SALog(SA_LOG_FAILURE, "PSDecoderH264::Decode failed! m_LibJpeg.YuvPlanarRgbConvert\n");
        return false;
    }
    pictureWidth = width;
    pictureHeight = height;
    return true;
}

bool PSDecoderH264::PrivateConvert(const AVFrame* frame, uint8_t* output, size_t outputSize,
                                   int32_t outputPitch, int32_t width, int32_t height)
{
    if (PrivateTurboJpegFits(frame))
    {
        const uint8_t* planes[3] = {frame->data[0], frame->data[1], frame->data[2]};
        const int32_t strides[3] = {frame->linesize[0], frame->linesize[1], frame->linesize[2]};
        return m_LibJpeg.YuvPlanarRgbConvert(planes, strides, output, outputSize, width, height, outputPitch);
    }
    const int64_t row = int64_t(width) * 4;
    if (!output || outputPitch < row ||
        uint64_t(int64_t(height - 1) * outputPitch + row) > uint64_t(outputSize))
    {
        SALog(SA_LOG_FAILURE,
              "PSDecoderH264::PrivateScale failed! destination of %zu bytes cannot hold %dx%d at pitch %d\n",
              outputSize, width, height, outputPitch);
        return false;
    }
    return PrivateScale(frame, output, outputPitch, width, height);
}

bool PSDecoderH264::PrivateScale(const AVFrame* frame, uint8_t* output, int32_t outputPitch, int32_t width,
                                 int32_t height)
{
    const AVPixelFormat source = PrivateUnJ(frame->format);
    // Full range unless the stream says limited; a "J" format is full range
    // whatever the field says.
    const int sourceFull = (frame->color_range != AVCOL_RANGE_MPEG || source != frame->format) ? 1 : 0;
    const int matrix =
        (frame->colorspace >= 1 && frame->colorspace <= 9) ? frame->colorspace : SWS_CS_DEFAULT;
    // Same size in and out: only the chroma is interpolated. The cached
    // context is rebuilt only when the stream's format or size changes.
    m_pSws =
        sws_getCachedContext(m_pSws, width, height, source, width, height, AV_PIX_FMT_BGR0,
                             SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    if (!m_pSws)
    {
        const char* name = av_get_pix_fmt_name(source);
        SALog(SA_LOG_FAILURE, "PSDecoderH264::PrivateScale failed! sws_getCachedContext %s %dx%d\n",
              name ? name : "none", width, height);
        return false;
    }
    // Output: full-range RGB. Brightness, contrast and saturation neutral.
    sws_setColorspaceDetails(m_pSws, sws_getCoefficients(matrix), sourceFull,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    uint8_t* destination[4] = {output, nullptr, nullptr, nullptr};
    const int destinationStride[4] = {outputPitch, 0, 0, 0};
    const int rows =
        sws_scale(m_pSws, frame->data, frame->linesize, 0, height, destination, destinationStride);
    if (rows != height)
    {
        SALog(SA_LOG_FAILURE, "PSDecoderH264::PrivateScale failed! sws_scale %d of %d rows\n", rows, height);
        return false;
    }
    return true;
}

void PSDecoderH264::NalUnitsTrace(const uint8_t* data, size_t size)
{
    SALog(SA_LOG_CODEC, "\n");
    std::vector<size_t> boundaries;
    if (data && size > 3)
    {
        size_t p = 0;
        while (p + 4 <= size)
        {
            if (data[p] == 0 && data[p + 1] == 0 && data[p + 2] == 1)
            {
                boundaries.push_back(p);
                p += 3;
            }
            else if (data[p] == 0 && data[p + 1] == 0 && data[p + 2] == 0 && data[p + 3] == 1 && p + 4 < size)
            {
                boundaries.push_back(p);
                p += 4;
            }
            else
            {
                ++p;
            }
        }
    }
    boundaries.push_back(size);
    if (boundaries.size() < 2)
    {
        SALog(SA_LOG_CODEC, "PSDecoderH264::NalUnitsTrace failed! NalUnitsStartCodesFind_\n");
        return;
    }
    for (size_t i = 0; i + 1 < boundaries.size(); ++i)
    {
        const size_t begin = boundaries[i];
        const size_t end = boundaries[i + 1];
        const size_t header = data[begin + 2] == 1 ? begin + 3 : begin + 4;
        if (header >= end)
            continue;
        const int type = data[header] & 0x1F;
        std::string first = std::string(" -") + PrivateNalName(type) +
                            " Length:" + std::to_string(end - header) + " Offset:" + std::to_string(begin);
        std::string second;
        if (type != 1 && type != 5)
        {
            first += " Sequence:";
            // The log line is cut at its buffer size anyway; no need to
            // format more bytes than fit.
            const size_t last = std::min(end, begin + 2048);
            second.reserve((last - begin) * 3);
            char hex[4];
            for (size_t b = begin; b < last; ++b)
            {
                std::snprintf(hex, sizeof(hex), "%x ", data[b]);
                second += hex;
            }
        }
        SALog(SA_LOG_CODEC, "    %s %s\n", first.c_str(), second.c_str());
    }
}
