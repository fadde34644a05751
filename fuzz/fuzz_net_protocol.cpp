// libFuzzer target for everything that reads network bytes in the wire
// protocol: header validation, the FrameBuffer decoder, the connect request
// decoder and the UTF-16 field reader. Besides crashes and sanitizer reports
// it stops on any accepted header that breaks the bounds the pipeline
// relies on.
#include "fuzz/FuzzSupport.h"

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLogQuiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size >= SA_PACKET_HEADER_SIZE)
    {
        SAPacketHeader header = SAPacketHeader::FromBytes(data);
        const bool valid = SANetProtocol::PacketValidate(header);
        const SAFrameBufferInfo fb = SAPacketFrameBufferDecode(header);
        if (valid)
        {
            const uint32_t type = header.HeaderTypeGet();
            const uint32_t count = header.ByteCountGet();
            if (type > SA_HEADER_TYPE_MAX || count >= SA_PACKET_BYTE_COUNT_LIMIT)
                std::abort();
            if (count != 0 && type != SA_HEADER_FRAME_BUFFER && type != SA_HEADER_AUDIO_DATA)
                std::abort();
            if (type == SA_HEADER_FRAME_BUFFER)
            {
                if (fb.ScreenWidth < 1 || fb.ScreenHeight < 1 ||
                    fb.ScreenWidth > SA_FRAME_BUFFER_SIDE_LIMIT ||
                    fb.ScreenHeight > SA_FRAME_BUFFER_SIDE_LIMIT)
                    std::abort();
                if (fb.PitchInBytes < 1 || fb.PitchInBytes > SA_FRAME_BUFFER_PITCH_LIMIT)
                    std::abort();
                if (fb.Right < fb.Left || fb.Bottom < fb.Top ||
                    fb.Right - fb.Left > SA_FRAME_BUFFER_SIDE_LIMIT ||
                    fb.Bottom - fb.Top > SA_FRAME_BUFFER_SIDE_LIMIT ||
                    count > SA_FRAME_BUFFER_BYTE_COUNT_LIMIT)
                    std::abort();
                volatile int32_t fragments = fb.FragmentCount();
                (void)fragments;
            }
        }
        SAPacketHeader copy;
        SAPacketFrameBufferEncode(copy, fb);
        if (SAPacketFrameBufferDecode(copy).PitchInBytes != fb.PitchInBytes)
            std::abort();
    }

    SAConnectRequestInfo info;
    if (SAPacketConnectRequestDecode(data, size, info))
    {
        if (size < SA_CONNECT_REQUEST_SIZE)
            std::abort();
        // A decoded text always fits back into its field.
        uint8_t field[SAWire::CR_COMPUTER_NAME_UNITS * 2];
        SAWireUtf16Write(field, SAWire::CR_COMPUTER_NAME_UNITS, info.ComputerName);
        if (SAWireUtf16Read(field, SAWire::CR_COMPUTER_NAME_UNITS) != info.ComputerName)
            std::abort();
    }

    // The field reader on arbitrary lengths, including odd ones.
    const size_t units = size / 2 < 512 ? size / 2 : 512;
    std::string text = SAWireUtf16Read(data, units);
    std::vector<uint8_t> field(units * 2 + 2);
    SAWireUtf16Write(field.data(), units + 1, text);
    return 0;
}
