#include "core/PSMemory.h"

// Any C library header names the library; without one, __GLIBC__ is not yet
// defined here and the tuning below would silently compile to nothing.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void PSMemoryLargeBlocksKeep()
{
#if defined(__GLIBC__)
    // Blocks below MMAP come from the heap rather than from a mapping of
    // their own; the heap gives memory back only when more than TRIM is
    // free at its top. 32 MB is the largest threshold the C library takes,
    // and more than any packet of a 4K screen in four fragments.
    constexpr int MMAP = 32 << 20;
    constexpr int TRIM = 128 << 20;
    // An allocator that replaces the C library's (a sanitizer's) refuses;
    // nothing is lost then but the speed.
    mallopt(M_MMAP_THRESHOLD, MMAP);
    mallopt(M_TRIM_THRESHOLD, TRIM);
#endif
}
