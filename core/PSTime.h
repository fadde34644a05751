#pragma once
// Monotonic clocks. PSTimeGetTime wraps every 49.7 days like the 32-bit
// millisecond counter that the wire statistics and touch packets carry.
#include <cstdint>

uint32_t PSTimeGetTime();     // milliseconds, 32-bit, wrapping
uint64_t PSTimeTickCount64(); // milliseconds, 64-bit
uint64_t PSTimeNanoseconds(); // nanoseconds, 64-bit
void PSTimeSleep(uint32_t milliseconds);
