#include "peer/PeerEncoderH264.h"

#include "core/SALog.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <turbojpeg.h>

#include <string>

namespace
{
constexpr int PEER_H264_THREADS = 4;

std::string PrivateErrorText(int result)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(result, text, sizeof(text));
    return text;
}
} // namespace

PeerEncoderH264::PeerEncoderH264(int quality, int gop, int64_t bitRate, int fps)
    : m_Quality(quality), m_Gop(gop > 0 ? gop : 60), m_BitRate(bitRate), m_Fps(fps > 0 ? fps : 60)
{
}

PeerEncoderH264::~PeerEncoderH264()
{
    PrivateClose();
}

int PeerEncoderH264::CrfFromQuality(int quality)
{
    if (quality < 1)
        quality = 1;
    if (quality > 100)
        quality = 100;
    return 51 - (quality * 40 + 50) / 100;
}

void PeerEncoderH264::PrivateClose()
{
    avcodec_free_context(&m_pContext);
    av_frame_free(&m_pFrame);
    av_packet_free(&m_pPacket);
    if (m_hTurboJpeg != nullptr)
    {
        tjDestroy(m_hTurboJpeg);
        m_hTurboJpeg = nullptr;
    }
    m_Width = 0;
    m_Height = 0;
}

bool PeerEncoderH264::PrivateOpen(int width, int height)
{
    PrivateClose();
    // libx264's banner and closing statistics would otherwise go to standard
    // error once per connection; warnings and errors still do.
    if (av_log_get_level() > AV_LOG_WARNING)
    {
        av_log_set_level(AV_LOG_WARNING);
    }
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr)
    {
        SALog(SA_LOG_FAILURE, "PeerEncoderH264::PrivateOpen failed! avcodec_find_encoder_by_name libx264\n");
        return false;
    }
    m_pContext = avcodec_alloc_context3(codec);
    m_pFrame = av_frame_alloc();
    m_pPacket = av_packet_alloc();
    m_hTurboJpeg = tjInitCompress();
    if (m_pContext == nullptr || m_pFrame == nullptr || m_pPacket == nullptr || m_hTurboJpeg == nullptr)
    {
        SALog(SA_LOG_FAILURE, "PeerEncoderH264::PrivateOpen failed! allocation\n");
        PrivateClose();
        return false;
    }
    m_pContext->width = width;
    m_pContext->height = height;
    m_pContext->time_base = AVRational{1, m_Fps};
    m_pContext->framerate = AVRational{m_Fps, 1};
    m_pContext->pix_fmt = AV_PIX_FMT_YUVJ420P;
    m_pContext->color_range = AVCOL_RANGE_JPEG;
    m_pContext->colorspace = AVCOL_SPC_SMPTE170M;
    m_pContext->color_primaries = AVCOL_PRI_SMPTE170M;
    m_pContext->color_trc = AVCOL_TRC_SMPTE170M;
    m_pContext->gop_size = m_Gop;
    m_pContext->max_b_frames = 0;
    m_pContext->thread_count = PEER_H264_THREADS;
    if (m_BitRate > 0)
    {
        m_pContext->bit_rate = m_BitRate;
    }
    // libx264's own options: set on the private context, before opening.
    std::string params = "repeat-headers=1:annexb=1:bframes=0:rc-lookahead=0:sliced-threads=1:aud=0";
    if (av_opt_set(m_pContext->priv_data, "preset", "ultrafast", 0) < 0 ||
        av_opt_set(m_pContext->priv_data, "tune", "zerolatency", 0) < 0 ||
        (m_BitRate <= 0 &&
         av_opt_set_double(m_pContext->priv_data, "crf", CrfFromQuality(m_Quality), 0) < 0) ||
        av_opt_set(m_pContext->priv_data, "x264-params", params.c_str(), 0) < 0)
    {
        SALog(SA_LOG_FAILURE, "PeerEncoderH264::PrivateOpen failed! av_opt_set\n");
        PrivateClose();
        return false;
    }
    int result = avcodec_open2(m_pContext, codec, nullptr);
    if (result < 0)
    {
        SALog(SA_LOG_FAILURE, "PeerEncoderH264::PrivateOpen failed! avcodec_open2 %d - %s\n", result,
              PrivateErrorText(result).c_str());
        PrivateClose();
        return false;
    }
    m_pFrame->format = AV_PIX_FMT_YUVJ420P;
    m_pFrame->width = width;
    m_pFrame->height = height;
    m_pFrame->color_range = AVCOL_RANGE_JPEG;
    m_pFrame->colorspace = AVCOL_SPC_SMPTE170M;
    result = av_frame_get_buffer(m_pFrame, 0);
    if (result < 0)
    {
        SALog(SA_LOG_FAILURE, "PeerEncoderH264::PrivateOpen failed! av_frame_get_buffer %d - %s\n", result,
              PrivateErrorText(result).c_str());
        PrivateClose();
        return false;
    }
    m_Width = width;
    m_Height = height;
    m_Pts = 0;
    ++m_OpenCount;
    return true;
}

bool PeerEncoderH264::FrameEncode(const uint8_t* bgrx, int width, size_t pitch, int height,
                                  const uint8_t*& payload, size_t& payloadBytes)
{
    if (m_pContext == nullptr || width != m_Width || height != m_Height)
    {
        if (!PrivateOpen(width, height))
        {
            return false;
        }
    }
    int result = av_frame_make_writable(m_pFrame);
    if (result < 0)
    {
        SALog(SA_LOG_FAILURE, "PeerEncoderH264::FrameEncode failed! av_frame_make_writable %d - %s\n", result,
              PrivateErrorText(result).c_str());
        return false;
    }
    unsigned char* planes[3] = {m_pFrame->data[0], m_pFrame->data[1], m_pFrame->data[2]};
    int strides[3] = {m_pFrame->linesize[0], m_pFrame->linesize[1], m_pFrame->linesize[2]};
    if (tjEncodeYUVPlanes(m_hTurboJpeg, bgrx, width, static_cast<int>(pitch), height, TJPF_BGRX, planes,
                          strides, TJSAMP_420, 0) != 0)
    {
        SALog(SA_LOG_FAILURE, "PeerEncoderH264::FrameEncode failed! tjEncodeYUVPlanes %s\n",
              tjGetErrorStr2(m_hTurboJpeg));
        return false;
    }
    m_pFrame->pts = m_Pts++;
    result = avcodec_send_frame(m_pContext, m_pFrame);
    if (result < 0)
    {
        SALog(SA_LOG_FAILURE, "PeerEncoderH264::FrameEncode failed! avcodec_send_frame %d - %s\n", result,
              PrivateErrorText(result).c_str());
        return false;
    }
    av_packet_unref(m_pPacket);
    result = avcodec_receive_packet(m_pContext, m_pPacket);
    if (result < 0)
    {
        // With zero-latency tuning every frame leaves at once; anything else
        // would desynchronise frames and packets.
        SALog(SA_LOG_FAILURE, "PeerEncoderH264::FrameEncode failed! avcodec_receive_packet %d - %s\n", result,
              PrivateErrorText(result).c_str());
        return false;
    }
    payload = m_pPacket->data;
    payloadBytes = static_cast<size_t>(m_pPacket->size);
    return true;
}
