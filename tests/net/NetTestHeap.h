#pragma once
// Bytes the process's heap holds now, allocated or mapped, touched or not:
// what a peer made the viewer keep shows here the moment it is allocated.
// Under a sanitizer, whose allocator replaces malloc's, that allocator is
// asked instead.
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// gcc ships no header for the allocator's interface; the runtime has it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
inline size_t NetTestHeapHeldGet()
{
    return __sanitizer_get_current_allocated_bytes();
}
#else
#include <malloc.h>
inline size_t NetTestHeapHeldGet()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}
#endif
