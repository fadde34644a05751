#include "pipeline/PSCodecTransform.h"

#include "core/SALog.h"
#include "pipeline/PSCodecEnumerator.h"
#include "pipeline/PSCodecGlobal.h"
#include "pipeline/SADecoderFrameBuffer.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/hwcontext.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <climits>

namespace
{
// Slice threads asked of the decoder: eight, as the viewer has always given
// its H.264 decoder; frame threads would add a frame of latency each.
constexpr int PS_CODEC_THREADS = 8;

const char* PrivateErrorText(int result, char (&text)[AV_ERROR_MAX_STRING_SIZE])
{
    av_strerror(result, text, sizeof(text));
    return text;
}

const char* PrivateFormatName(int format)
{
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
    return name ? name : "none";
}

// The stream, not the header, sizes libavcodec's pictures: a server could
// announce any screen in its parameter sets and have a dozen reference
// pictures of gigabytes allocated. A picture as coded (whole macroblocks,
// before cropping) that no screen the viewer accepts could need is refused
// before its memory is allocated, and so is one of more than twice the area
// of the screen announced in the packets' headers: only that much of it is
// ever shown, and up to 16 references plus the pictures in flight are held
// at its size.
int PrivateBufferGet(AVCodecContext* context, AVFrame* frame, int flags)
{
    constexpr int64_t padding = 31; // a screen side rounded up to whole macroblock pairs
    const int64_t width = frame->width, height = frame->height;
    const int64_t area = std::max<int64_t>(width - padding, 0) * std::max<int64_t>(height - padding, 0);
    if (width - padding > SA_DECODE_SIDE_LIMIT || height - padding > SA_DECODE_SIDE_LIMIT ||
        area > SA_DECODE_AREA_LIMIT)
    {
        SALog(SA_LOG_FAILURE,
              "PSCodecTransform::BufferGet failed! picture %lldx%lld larger than any screen accepted\n",
              static_cast<long long>(width), static_cast<long long>(height));
        return AVERROR(EINVAL);
    }
    const auto* announced = static_cast<const PSCodecAnnouncedSize*>(context->opaque);
    if (announced != nullptr && area > 2 * int64_t(announced->Width) * announced->Height)
    {
        SALog(SA_LOG_FAILURE,
              "PSCodecTransform::BufferGet failed! picture %lldx%lld larger than the %dx%d screen allows\n",
              static_cast<long long>(width), static_cast<long long>(height), announced->Width,
              announced->Height);
        return AVERROR(EINVAL);
    }
    return avcodec_default_get_buffer2(context, frame, flags);
}
} // namespace

PSCodecTransform::PSCodecTransform() = default;

PSCodecTransform::~PSCodecTransform()
{
    Release();
}

void PSCodecTransform::Release()
{
    avcodec_free_context(&m_pContext);
    av_packet_free(&m_pPacket);
    av_frame_free(&m_pFrame);
    av_frame_free(&m_pFrameNewest);
    av_frame_free(&m_pFrameSoftware);
    m_InstanceName.clear();
    m_Hardware = false;
    m_HardwareFailed = false;
    m_LastWidth = 0;
    m_LastHeight = 0;
    m_LastFormat = -1;
    m_StreamChanges = 0;
}

bool PSCodecTransform::PrivateAttributesSet(AVCodecContext* context)
{
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->flags2 |= AV_CODEC_FLAG2_FAST;
    context->thread_count = PS_CODEC_THREADS;
    context->thread_type = FF_THREAD_SLICE;
    context->get_buffer2 = PrivateBufferGet;
    return true;
}

bool PSCodecTransform::PrivateMediaTypesSet(AVCodecContext* context, int32_t width, int32_t height)
{
    if (width < 1 || height < 1)
    {
        SALog(SA_LOG_FAILURE, "PSCodecTransform::MediaTypesSet failed! frame size %d;%d\n", width, height);
        return false;
    }
    context->width = width;
    context->height = height;
    m_Announced = PSCodecAnnouncedSize{width, height};
    context->opaque = &m_Announced;
    context->framerate = AVRational{60, 1};
    // Sample times are in 100-ns units.
    context->pkt_timebase = AVRational{1, 10000000};
    context->sample_aspect_ratio = AVRational{1, 1};
    return true;
}

bool PSCodecTransform::Initialize(int32_t width, int32_t height, bool hardwareAllowed)
{
    Release();
    PSCodecGlobal::LogRoute();
    m_pPacket = av_packet_alloc();
    m_pFrame = av_frame_alloc();
    m_pFrameNewest = av_frame_alloc();
    m_pFrameSoftware = av_frame_alloc();
    if (!m_pPacket || !m_pFrame || !m_pFrameNewest || !m_pFrameSoftware)
    {
        SALog(SA_LOG_FAILURE, "PSCodecTransform::Initialize failed! av_packet_alloc/av_frame_alloc\n");
        Release();
        return false;
    }
    PSCodecEnumerator enumerator(hardwareAllowed);
    enumerator.InstancesAvailableList();
    size_t index = 0;
    m_pContext = enumerator.InstanceCreate(
        [&](AVCodecContext* context)
        {
            if (!PrivateAttributesSet(context))
                return false;
            if (!PrivateMediaTypesSet(context, width, height))
            {
                SALog(SA_LOG_FAILURE, "PSCodecTransform::Initialize failed! MediaTypesSet\n");
                return false;
            }
            return true;
        },
        index, m_HardwareFailed);
    if (!m_pContext)
    {
        SALog(SA_LOG_FAILURE, "PSCodecTransform::Initialize failed! Enumerator.InstanceCreate\n");
        Release();
        return false;
    }
    m_InstanceName = enumerator.InstanceGet(index).Name;
    m_Hardware = enumerator.InstanceGet(index).Hardware;
    SALog(SA_LOG_CODEC, "PSCodecTransform::Initialize %dx%d decoding with %s, %d slice threads\n", width,
          height, m_InstanceName.c_str(), m_pContext->thread_count);
    return true;
}

bool PSCodecTransform::InputSubmit(const uint8_t* data, size_t size, int64_t sampleTime)
{
    if (!m_pContext)
    {
        SALog(SA_LOG_FAILURE, "PSCodecTransform::InputSubmit failed! NULL == m_pContext\n");
        return false;
    }
    if (!data || size == 0 || size > size_t(INT_MAX) - AV_INPUT_BUFFER_PADDING_SIZE)
    {
        SALog(SA_LOG_FAILURE, "PSCodecTransform::InputSubmit failed! packet of %zu bytes\n", size);
        return false;
    }
    // A packet without a buffer of its own is copied once by libavcodec, into
    // a block with the zero padding its bit reader needs; the caller's data
    // stays untouched.
    av_packet_unref(m_pPacket);
    m_pPacket->data = const_cast<uint8_t*>(data);
    m_pPacket->size = static_cast<int>(size);
    m_pPacket->pts = sampleTime;
    m_pPacket->dts = sampleTime;
    const int result = avcodec_send_packet(m_pContext, m_pPacket);
    m_pPacket->data = nullptr;
    m_pPacket->size = 0;
    if (result < 0)
    {
        char text[AV_ERROR_MAX_STRING_SIZE];
        SALog(SA_LOG_FAILURE, "PSCodecTransform::InputSubmit failed! avcodec_send_packet %d - %s\n", result,
              PrivateErrorText(result, text));
        return false;
    }
    return true;
}

bool PSCodecTransform::PrivateDownload(AVFrame* frame)
{
    av_frame_unref(m_pFrameSoftware);
    const int result = av_hwframe_transfer_data(m_pFrameSoftware, frame, 0);
    if (result < 0)
    {
        char text[AV_ERROR_MAX_STRING_SIZE];
        SALog(SA_LOG_FAILURE, "PSCodecTransform::OutputGet failed! av_hwframe_transfer_data %d - %s\n",
              result, PrivateErrorText(result, text));
        return false;
    }
    av_frame_copy_props(m_pFrameSoftware, frame);
    return true;
}

bool PSCodecTransform::OutputGet(const AVFrame*& frame, bool& needMoreInput)
{
    frame = nullptr;
    needMoreInput = false;
    if (!m_pContext)
    {
        SALog(SA_LOG_FAILURE, "PSCodecTransform::OutputGet failed! NULL == m_pContext\n");
        return false;
    }
    // Everything ready is taken so the decoder never refuses the next input;
    // only the newest picture is worth showing.
    bool got = false;
    int result = 0;
    for (;;)
    {
        result = avcodec_receive_frame(m_pContext, m_pFrame);
        if (result < 0)
            break;
        av_frame_unref(m_pFrameNewest);
        av_frame_move_ref(m_pFrameNewest, m_pFrame);
        got = true;
    }
    const bool empty = result == AVERROR(EAGAIN) || result == AVERROR_EOF;
    if (!got)
    {
        char text[AV_ERROR_MAX_STRING_SIZE];
        SALog(SA_LOG_FAILURE, "PSCodecTransform::OutputGet failed! avcodec_receive_frame %d - %s\n", result,
              PrivateErrorText(result, text));
        needMoreInput = empty;
        return false;
    }
    if (!empty)
    {
        // What failed is the input after the picture, not the picture: it is
        // shown, and the failure is logged as what it was.
        char text[AV_ERROR_MAX_STRING_SIZE];
        SALog(SA_LOG_FAILURE,
              "PSCodecTransform::OutputGet failed! avcodec_receive_frame %d - %s after a picture, which is "
              "kept\n",
              result, PrivateErrorText(result, text));
    }

    AVFrame* picture = m_pFrameNewest;
    if (picture->format == AV_PIX_FMT_VAAPI)
    {
        if (!PrivateDownload(picture))
            return false;
        picture = m_pFrameSoftware;
    }
    if (m_LastFormat >= 0 &&
        (picture->width != m_LastWidth || picture->height != m_LastHeight || picture->format != m_LastFormat))
    {
        ++m_StreamChanges;
        SALog(SA_LOG_CODEC, "PSCodecTransform::OutputGet stream change %dx%d %s -> %dx%d %s\n", m_LastWidth,
              m_LastHeight, PrivateFormatName(m_LastFormat), picture->width, picture->height,
              PrivateFormatName(picture->format));
    }
    m_LastWidth = picture->width;
    m_LastHeight = picture->height;
    m_LastFormat = picture->format;
    frame = picture;
    return true;
}

void PSCodecTransform::Flush()
{
    if (!m_pContext)
    {
        SALog(SA_LOG_FAILURE, "PSCodecTransform::Flush failed! NULL == m_pContext\n");
        return;
    }
    SALog(SA_LOG_CODEC, "PSCodecTransform::Flush Old Frames\n");
    avcodec_flush_buffers(m_pContext);
}
