#include "core/PSTime.h"

#include <chrono>
#include <thread>
#include <time.h>

uint64_t PSTimeNanoseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t PSTimeTickCount64()
{
    return PSTimeNanoseconds() / 1000000ull;
}

uint32_t PSTimeGetTime()
{
    return static_cast<uint32_t>(PSTimeTickCount64());
}

void PSTimeSleep(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
