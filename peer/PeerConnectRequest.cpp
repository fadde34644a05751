#include "peer/PeerConnectRequest.h"

#include "net/SANetProtocol.h"

namespace
{
void PrivateUtf8Append(std::string& out, uint32_t cp)
{
    if (cp < 0x80)
    {
        out.push_back(static_cast<char>(cp));
    }
    else if (cp < 0x800)
    {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    else if (cp < 0x10000)
    {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    else
    {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}
} // namespace

std::string PeerConnectRequest::Utf16Read(const uint8_t* field, size_t units)
{
    std::string out;
    for (size_t i = 0; i < units; ++i)
    {
        uint32_t unit = SAWireU16Get(field + 2 * i);
        if (unit == 0)
        {
            break;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units)
        {
            uint32_t low = SAWireU16Get(field + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF)
            {
                PrivateUtf8Append(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF)
        {
            unit = 0xFFFD;
        }
        PrivateUtf8Append(out, unit);
    }
    return out;
}

bool PeerConnectRequest::Decode(const uint8_t* packet, size_t size, PeerConnectRequest& request)
{
    if (packet == nullptr || size < SA_CONNECT_REQUEST_SIZE)
    {
        return false;
    }
    request.HeaderType = SAWireU32Get(packet);
    request.ByteCount = SAWireU32Get(packet + 4);
    if (request.HeaderType != SA_HEADER_CONNECT_REQUEST ||
        request.ByteCount != SA_CONNECT_REQUEST_PAYLOAD_SIZE)
    {
        return false;
    }
    request.Constants[0] = SAWireU32Get(packet + 8);
    request.Constants[1] = SAWireU32Get(packet + 12);
    request.Constants[2] = SAWireU32Get(packet + 20);
    request.Constants[3] = SAWireU32Get(packet + 28);
    request.Constants[4] = SAWireU16Get(packet + 38);
    request.Constants[5] = SAWireU16Get(packet + 46);
    request.RequestKind = SAWireU32Get(packet + SAWire::CR_REQUEST_KIND);
    request.CompressionFlag = SAWireU32Get(packet + SAWire::CR_COMPRESSION_FLAG);
    request.Quality = SAWireU32Get(packet + SAWire::CR_QUALITY);
    request.CompressionType = SAWireU16Get(packet + SAWire::CR_COMPRESSION_TYPE);
    request.Framerate = SAWireU16Get(packet + SAWire::CR_FRAMERATE);
    request.ResolutionCount = SAWireU32Get(packet + SAWire::CR_RESOLUTION_COUNT);
    request.Resolutions.clear();
    for (uint32_t i = 0; i < request.ResolutionCount && i < SAWire::CR_MAX_RESOLUTIONS; ++i)
    {
        request.Resolutions.emplace_back(SAWireU32Get(packet + SAWire::CR_WIDTHS + 4 * i),
                                         SAWireU32Get(packet + SAWire::CR_HEIGHTS + 4 * i));
    }
    request.InstanceId = Utf16Read(packet + SAWire::CR_INSTANCE_ID, SAWire::CR_INSTANCE_ID_UNITS);
    request.ComputerName = Utf16Read(packet + SAWire::CR_COMPUTER_NAME, SAWire::CR_COMPUTER_NAME_UNITS);
    return true;
}
