#include "core/PSSpinWait.h"

#include "core/PSTime.h"

#include <sched.h>

bool PSSpinWait(const std::function<bool()>& ready, uint32_t microseconds)
{
    const uint64_t deadline = PSTimeNanoseconds() + static_cast<uint64_t>(microseconds) * 1000;
    for (;;)
    {
        if (ready())
            return true;
        if (PSTimeNanoseconds() >= deadline)
            return false;
        // A thread that has work on this core gets it: the spin only uses
        // time nobody else wants.
        sched_yield();
    }
}
