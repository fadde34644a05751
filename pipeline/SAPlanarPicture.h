#pragma once
// A decoded 4:2:0 picture handed on in its planar form instead of being
// converted to B, G, R, X on the decoding thread: Y at full size, U and V at
// (width + 1) / 2 x (height + 1) / 2, 8 bits per sample, full-range BT.601
// (JPEG) coefficients. The planes stay where the video decoder put them;
// Owner keeps them alive (and unchanged) for as long as anyone holds a copy
// of this record, so a renderer may keep the picture until it is replaced.
#include <cstdint>
#include <memory>

struct SAPlanarPicture
{
    const uint8_t* Planes[3] = {nullptr, nullptr, nullptr}; // Y, U, V
    int32_t Strides[3] = {0, 0, 0};                         // bytes from one row to the next
    int32_t Width = 0;
    int32_t Height = 0;
    std::shared_ptr<const void> Owner; // empty: no picture

    bool IsValid() const { return Owner != nullptr && Width > 0 && Height > 0; }
};
