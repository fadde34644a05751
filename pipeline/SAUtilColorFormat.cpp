#include "pipeline/SAUtilColorFormat.h"

#include "core/SALog.h"

#include <cstddef>
#include <cstring>

int32_t SAUtilColorFormatBytesPerPixelGet(uint32_t format)
{
    switch (format)
    {
    case SA_COLOR_FORMAT_R8G8B8:
        return 3;
    case SA_COLOR_FORMAT_A8R8G8B8:
    case SA_COLOR_FORMAT_X8R8G8B8:
        return 4;
    case SA_COLOR_FORMAT_R5G6B5:
        return 2;
    case SA_COLOR_FORMAT_R3G3B2:
        return 1;
    default:
        SALog(SA_LOG_FAILURE, "SAUtilColorFormatBytesPerPixelGet Invalid Parameter! %d\n",
              static_cast<int>(format));
        return 4;
    }
}

namespace
{
// Widening by bit replication maps the full-scale value to 0xFF and 0 to 0.
inline uint8_t PrivateExpand5(uint32_t v)
{
    return static_cast<uint8_t>((v << 3) | (v >> 2));
}
inline uint8_t PrivateExpand6(uint32_t v)
{
    return static_cast<uint8_t>((v << 2) | (v >> 4));
}
inline uint8_t PrivateExpand3(uint32_t v)
{
    return static_cast<uint8_t>((v << 5) | (v << 2) | (v >> 1));
}
inline uint8_t PrivateExpand2(uint32_t v)
{
    return static_cast<uint8_t>(v * 0x55);
}
} // namespace

void SAUtilColorFormatToBgrx(uint32_t format, const uint8_t* source, int32_t sourcePitch, int32_t width,
                             int32_t height, uint8_t* destination, int32_t destinationPitch)
{
    for (int32_t y = 0; y < height; ++y)
    {
        const uint8_t* s = source + static_cast<ptrdiff_t>(y) * sourcePitch;
        uint8_t* d = destination + static_cast<ptrdiff_t>(y) * destinationPitch;
        switch (format)
        {
        case SA_COLOR_FORMAT_R8G8B8:
            for (int32_t x = 0; x < width; ++x, s += 3, d += 4)
            {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                d[3] = 0xFF;
            }
            break;
        case SA_COLOR_FORMAT_R5G6B5:
            for (int32_t x = 0; x < width; ++x, s += 2, d += 4)
            {
                const uint32_t v = uint32_t(s[0]) | (uint32_t(s[1]) << 8);
                d[0] = PrivateExpand5(v & 0x1F);
                d[1] = PrivateExpand6((v >> 5) & 0x3F);
                d[2] = PrivateExpand5(v >> 11);
                d[3] = 0xFF;
            }
            break;
        case SA_COLOR_FORMAT_R3G3B2:
            for (int32_t x = 0; x < width; ++x, ++s, d += 4)
            {
                d[0] = PrivateExpand2(*s & 0x3);
                d[1] = PrivateExpand3((*s >> 2) & 0x7);
                d[2] = PrivateExpand3(*s >> 5);
                d[3] = 0xFF;
            }
            break;
        default: // 4-byte formats and unknown ones, which count as 4 bytes
            std::memcpy(d, s, static_cast<size_t>(width) * 4);
            break;
        }
    }
}
