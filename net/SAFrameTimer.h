#pragma once
// A single-shot timer on its own thread, for the frame's paced reconnect
// attempts: after the delay it calls the callback (on the timer thread) with
// the token given to Start. The frame's callback only posts a message to its
// window, so the attempt itself runs on the window thread.
//
// Threads: Start, Cancel and Stop may be called from any thread; m_Lock
// guards m_Pending, m_Stop, m_Due and m_Token. The callback runs on the
// timer thread without the lock held. The thread starts with the first Start
// and ends in Stop (also called by the destructor). A callback already
// running when Cancel returns may still complete; receivers check the token.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class SAFrameTimer
{
public:
    using Callback = std::function<void(uintptr_t token)>;

    explicit SAFrameTimer(Callback onDue);
    virtual ~SAFrameTimer();
    SAFrameTimer(const SAFrameTimer&) = delete;
    SAFrameTimer& operator=(const SAFrameTimer&) = delete;

    // Replaces any pending expiry. False after Stop or when the thread
    // cannot be started (logged).
    bool Start(uint32_t delayMs, uintptr_t token);
    void Cancel();
    // Ends the thread and waits for it; no callback runs afterwards.
    void Stop();

private:
    void PrivateRun();

    Callback m_OnDue;
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    bool m_Pending = false;
    bool m_Stop = false;
    std::chrono::steady_clock::time_point m_Due;
    uintptr_t m_Token = 0;
    std::thread m_Thread;
};
