#include "peer/PeerEncoder.h"

#include "core/SALog.h"
#include "peer/PeerPacket.h"

#include <turbojpeg.h>

PeerEncoder::PeerEncoder(PeerCodec codec, int quality, int gop, int64_t bitRate, int fps)
    : m_Codec(codec), m_Quality(quality)
{
    if (m_Codec == PeerCodec::H264)
    {
        m_pH264 = std::make_unique<PeerEncoderH264>(quality, gop, bitRate, fps);
    }
    else if (m_Codec != PeerCodec::Raw)
    {
        m_Handle = tjInitCompress();
        if (m_Handle == nullptr)
        {
            SALog(SA_LOG_FAILURE, "PeerEncoder::PeerEncoder failed! tjInitCompress %s\n",
                  tjGetErrorStr2(nullptr));
        }
    }
}

PeerEncoder::~PeerEncoder()
{
    if (m_Handle != nullptr)
    {
        tjDestroy(m_Handle);
    }
}

PeerCodec PeerEncoder::CodecFit(PeerCodec codec, int width, int height)
{
    if (codec == PeerCodec::H264 && (width % 2 != 0 || height % 2 != 0))
    {
        return PeerCodec::Jpeg;
    }
    return codec;
}

uint32_t PeerEncoder::CompressionTypeGet() const
{
    switch (m_Codec)
    {
    case PeerCodec::Yuv:
        return PEER_COMPRESSION_YUV;
    case PeerCodec::Jpeg:
        return PEER_COMPRESSION_JPEG;
    case PeerCodec::H264:
        return PEER_COMPRESSION_H264;
    case PeerCodec::Raw:
        break;
    }
    return PEER_COMPRESSION_RAW;
}

int32_t PeerEncoder::QualityFieldGet() const
{
    return (m_Codec == PeerCodec::Jpeg || m_Codec == PeerCodec::H264) ? m_Quality : 0;
}

SAPacketHeader PeerEncoder::BandHeaderGet(int screenWidth, int screenHeight, int width, size_t pitch, int top,
                                          int rows, int fragments, size_t payloadBytes) const
{
    PeerFrameBufferFields fields;
    fields.ScreenWidth = screenWidth;
    fields.ScreenHeight = screenHeight;
    fields.PitchInBytes = static_cast<int32_t>(pitch);
    fields.ColorFormat = PEER_COLOR_FORMAT_X8R8G8B8;
    fields.Left = 0;
    fields.Top = top;
    fields.Right = width;
    fields.Bottom = top + rows;
    fields.CompressionType = CompressionTypeGet();
    fields.Quality = QualityFieldGet();
    fields.CountFragments = static_cast<int16_t>(fragments);
    fields.PayloadBytes = static_cast<uint32_t>(payloadBytes);
    return PeerPacket::FrameBuffer(fields);
}

bool PeerEncoder::BandEncode(const uint8_t* band, int width, size_t pitch, int rows, const uint8_t*& payload,
                             size_t& payloadBytes)
{
    if (m_Codec == PeerCodec::Raw)
    {
        payload = band;
        payloadBytes = pitch * static_cast<size_t>(rows);
        return true;
    }
    if (m_Codec == PeerCodec::H264)
    {
        return m_pH264->FrameEncode(band, width, pitch, rows, payload, payloadBytes);
    }
    if (m_Handle == nullptr)
    {
        SALog(SA_LOG_FAILURE, "PeerEncoder::BandEncode failed! NULL == m_Handle\n");
        return false;
    }
    if (m_Codec == PeerCodec::Yuv)
    {
        // The viewer decodes with 4-byte row alignment and 4:2:0 subsampling.
        unsigned long size = tjBufSizeYUV2(width, 4, rows, TJSAMP_420);
        if (size == static_cast<unsigned long>(-1))
        {
            SALog(SA_LOG_FAILURE, "PeerEncoder::BandEncode failed! tjBufSizeYUV2 %s\n",
                  tjGetErrorStr2(nullptr));
            return false;
        }
        m_Buffer.resize(size);
        if (tjEncodeYUV3(m_Handle, band, width, static_cast<int>(pitch), rows, TJPF_BGRX, m_Buffer.data(), 4,
                         TJSAMP_420, 0) != 0)
        {
            SALog(SA_LOG_FAILURE, "PeerEncoder::BandEncode failed! tjEncodeYUV3 %s\n",
                  tjGetErrorStr2(m_Handle));
            return false;
        }
        payload = m_Buffer.data();
        payloadBytes = size;
        return true;
    }
    unsigned long bound = tjBufSize(width, rows, TJSAMP_420);
    if (bound == static_cast<unsigned long>(-1))
    {
        SALog(SA_LOG_FAILURE, "PeerEncoder::BandEncode failed! tjBufSize %s\n", tjGetErrorStr2(nullptr));
        return false;
    }
    m_Buffer.resize(bound);
    unsigned char* out = m_Buffer.data();
    unsigned long size = bound;
    if (tjCompress2(m_Handle, band, width, static_cast<int>(pitch), rows, TJPF_BGRX, &out, &size, TJSAMP_420,
                    m_Quality, TJFLAG_NOREALLOC) != 0)
    {
        SALog(SA_LOG_FAILURE, "PeerEncoder::BandEncode failed! tjCompress2 %s\n", tjGetErrorStr2(m_Handle));
        return false;
    }
    payload = m_Buffer.data();
    payloadBytes = size;
    return true;
}
