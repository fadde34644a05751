#pragma once
// The colour formats a FrameBuffer header may announce (Direct3D 9 format
// numbers, as the server sends them) and their conversion to the 4-byte
// B, G, R, X pixels every renderer takes.
#include <cstdint>

enum SAColorFormat : uint32_t
{
    SA_COLOR_FORMAT_R8G8B8 = 20,   // 3 bytes: B, G, R
    SA_COLOR_FORMAT_A8R8G8B8 = 21, // 4 bytes: B, G, R, A
    SA_COLOR_FORMAT_X8R8G8B8 = 22, // 4 bytes: B, G, R, X
    SA_COLOR_FORMAT_R5G6B5 = 23,   // 16-bit little-endian word, red in the top bits
    SA_COLOR_FORMAT_R3G3B2 = 27,   // 1 byte, red in the top bits
};

// Bytes per pixel of a format; an unknown format logs a line and counts as 4
// bytes (it is then treated as B, G, R, X).
int32_t SAUtilColorFormatBytesPerPixelGet(uint32_t format);

// Converts `height` rows of `width` pixels of `format` (source rows `sourcePitch`
// bytes apart) into B, G, R, X rows `destinationPitch` bytes apart. The caller
// has checked both buffers; alpha/X comes out as 0xFF for 1-, 2- and 3-byte
// formats and is copied for 4-byte ones.
void SAUtilColorFormatToBgrx(uint32_t format, const uint8_t* source, int32_t sourcePitch, int32_t width,
                             int32_t height, uint8_t* destination, int32_t destinationPitch);
