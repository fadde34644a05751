#pragma once
// The frame's pixel memory, placed 16 bytes past a 64-byte boundary.
//
// TurboJPEG's colour conversion takes another path for rows that start on a
// 32-byte boundary (streaming stores that bypass the cache). Measured on a
// 1920-wide band, such rows converted 3 % slower at a 64-byte boundary and
// 13 % slower at 32 past it than rows at 16 past it. Left to the heap, the
// frame's place, and with it the decode speed, changed from one frame
// allocation to the next. Every row shares the first row's place whenever
// the width is a multiple of 8.
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

template <typename T> struct PSPixelAllocator
{
    static constexpr size_t OFFSET = 16;
    static constexpr std::align_val_t ALIGNMENT{64};

    using value_type = T;
    PSPixelAllocator() = default;
    template <typename U> PSPixelAllocator(const PSPixelAllocator<U>&) noexcept {}
    T* allocate(size_t count)
    {
        auto* block = static_cast<uint8_t*>(::operator new(count * sizeof(T) + OFFSET, ALIGNMENT));
        return reinterpret_cast<T*>(block + OFFSET);
    }
    void deallocate(T* pointer, size_t) noexcept
    {
        ::operator delete(reinterpret_cast<uint8_t*>(pointer) - OFFSET, ALIGNMENT);
    }
    template <typename U> bool operator==(const PSPixelAllocator<U>&) const noexcept { return true; }
};

using PSPixelVector = std::vector<uint8_t, PSPixelAllocator<uint8_t>>;
