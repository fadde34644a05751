#include "peer/PeerPacket.h"

SAPacketHeader PeerPacket::Visibility(int32_t isVisible)
{
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_VISIBILITY);
    header.S32Set(SAWire::VISIBILITY_IS_VISIBLE, isVisible);
    return header;
}

SAPacketHeader PeerPacket::StreamReset(uint32_t replyRequest)
{
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_STREAM_RESET);
    header.U32Set(SAWire::STREAM_RESET_REPLY_REQUEST, replyRequest);
    return header;
}

SAPacketHeader PeerPacket::Disconnect(int32_t reason)
{
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_DISCONNECT);
    header.S32Set(SAWire::DISCONNECT_REASON, reason);
    return header;
}

SAPacketHeader PeerPacket::FrameBuffer(const PeerFrameBufferFields& fields)
{
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
    header.ByteCountSet(fields.PayloadBytes);
    header.S32Set(SAWire::FB_SCREEN_WIDTH, fields.ScreenWidth);
    header.S32Set(SAWire::FB_SCREEN_HEIGHT, fields.ScreenHeight);
    header.S32Set(SAWire::FB_PITCH_IN_BYTES, fields.PitchInBytes);
    header.U32Set(SAWire::FB_COLOR_FORMAT, fields.ColorFormat);
    header.S32Set(SAWire::FB_RECT_LEFT, fields.Left);
    header.S32Set(SAWire::FB_RECT_TOP, fields.Top);
    header.S32Set(SAWire::FB_RECT_RIGHT, fields.Right);
    header.S32Set(SAWire::FB_RECT_BOTTOM, fields.Bottom);
    header.U32Set(SAWire::FB_COMPRESSION_TYPE, fields.CompressionType);
    header.S32Set(SAWire::FB_COMPRESSION_QUALITY, fields.Quality);
    header.S16Set(SAWire::FB_COUNT_FRAGMENTS, fields.CountFragments);
    // The legacy field agrees with the count for the counts it can express.
    header.U32Set(SAWire::FB_FOUR_FRAGMENTS, fields.CountFragments == 4 ? 1u : 0u);
    return header;
}

SAPacketHeader PeerPacket::Malformed(int32_t kind, int32_t width, int32_t height)
{
    PeerFrameBufferFields fields;
    fields.ScreenWidth = width;
    fields.ScreenHeight = height;
    fields.PitchInBytes = 4 * width;
    fields.Right = width;
    fields.Bottom = height;
    fields.PayloadBytes = 4096;
    switch (kind)
    {
    case PEER_MALFORMED_TYPE:
    {
        SAPacketHeader header;
        header.HeaderTypeSet(15);
        return header;
    }
    case PEER_MALFORMED_HEADER_ONLY_BYTES:
    {
        SAPacketHeader header = Visibility(1);
        header.ByteCountSet(256);
        return header;
    }
    case PEER_MALFORMED_VISIBILITY_VALUE:
        return Visibility(2);
    case PEER_MALFORMED_RECT:
        fields.Left = -1;
        fields.Top = -1;
        return FrameBuffer(fields);
    case PEER_MALFORMED_PITCH:
        fields.PitchInBytes = 0;
        return FrameBuffer(fields);
    case PEER_MALFORMED_COMPRESSION:
        fields.CompressionType = 9;
        return FrameBuffer(fields);
    case PEER_MALFORMED_QUALITY:
    default:
        fields.CompressionType = PEER_COMPRESSION_JPEG;
        fields.Quality = 0;
        return FrameBuffer(fields);
    }
}
