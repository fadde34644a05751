#pragma once
// Waiting briefly by spinning before a thread goes to sleep. On a machine
// with few cores, and on virtual ones above all, waking a sleeping thread
// costs tens of microseconds (the idle processor halts and must be
// interrupted). Between the frames of a fast stream the next job typically
// comes within that time, so a bounded spin saves the sleep and the
// wake-up; past the bound the caller sleeps as before, so no thread ever
// busy-waits for long.
#include <cstdint>
#include <functional>

// Polls `ready` until it returns true or `microseconds` have passed, letting
// other runnable threads of this core go first between polls. Returns the
// last answer of `ready`.
bool PSSpinWait(const std::function<bool()>& ready, uint32_t microseconds);
