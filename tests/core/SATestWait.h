#pragma once
// Polling for a condition that another thread brings about.
#include "core/PSTime.h"

#include <chrono>
#include <functional>

// Polls until pred holds; the limit is a guard against a hang, not a timing
// check.
inline bool SATestWaitFor(const std::function<bool()>& pred, int seconds = 20)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!pred())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        PSTimeSleep(5);
    }
    return true;
}
