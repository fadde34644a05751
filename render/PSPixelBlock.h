#pragma once
// Pixel memory that something other than the heap lends a frame: a shared
// memory segment the window system reads straight from, so that showing the
// frame needs no copy. Its pixels start 16 bytes past a 64-byte boundary, as
// PSPixelAllocator places them, and are zero when lent.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class PSPixelBlock
{
public:
    virtual ~PSPixelBlock() = default;
    virtual uint8_t* DataGet() = 0;
    virtual size_t SizeGet() const = 0;
};

// Lends a block of at least `bytes`, or gives null (the heap is used then).
using PSPixelBlockSource = std::function<std::shared_ptr<PSPixelBlock>(size_t bytes)>;
