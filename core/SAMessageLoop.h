#pragma once
// A headless message target: a loop that hands every posted or sent message
// to one handler, on one thread, in the order the messages arrived. Tools and
// tests use it where the application uses its window objects.
//
// Lifecycle: Idle -> Running (Start: a thread of its own; or
// RunOnCurrentThread: the calling thread) -> Quitting (Quit, Stop) -> Idle.
// While Quitting, new messages are refused (Post false, Send 0) and the loop
// still handles everything queued before the Quit, then ends. A loop can be
// started again after it ended.
//
// Threads: Post, Send, Invoke, Quit, IsLoopThread from any thread; the
// handler runs only on the loop thread. Start and Stop are called by the one
// thread that controls the loop (Stop on the loop thread only quits).
// m_Lock guards m_Queue, m_State, m_LoopThread and every reply record.
#include "core/SAMessageTarget.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class SAMessageLoop : public SAMessageTarget
{
public:
    using Handler = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

    explicit SAMessageLoop(Handler handler);
    ~SAMessageLoop() override; // Stop
    SAMessageLoop(const SAMessageLoop&) = delete;
    SAMessageLoop& operator=(const SAMessageLoop&) = delete;

    // Starts the loop on a new thread. False (logged) when it is not idle.
    bool Start();
    // Quit, then wait for the loop thread started by Start.
    void Stop();
    // Runs the loop on the calling thread until Quit. False when not idle.
    bool RunOnCurrentThread();
    // Refuses new messages from now on; the loop ends once the queued ones
    // are handled.
    void Quit();

    bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // Runs closure on the loop thread and waits for it (at once when called
    // on the loop thread). False when the loop does not take messages.
    bool Invoke(const std::function<void()>& closure);

    bool IsLoopThread() const;

private:
    enum class State
    {
        Idle,
        Running,
        Quitting,
    };
    struct Reply
    {
        intptr_t result = 0;
        bool done = false;
    };
    struct Entry
    {
        uint32_t message;
        uintptr_t wParam;
        intptr_t lParam;
        Reply* pReply;                         // Send and Invoke: the waiting caller's record
        const std::function<void()>* pClosure; // Invoke only
    };

    void PrivateLoop();
    intptr_t PrivateDispatch(const Entry& entry);
    bool PrivateQueueAndWait(Entry entry, intptr_t* pResult);

    Handler m_Handler;
    mutable std::mutex m_Lock;
    std::condition_variable m_Wake;    // the loop waits for entries
    std::condition_variable m_Replied; // senders wait for their reply
    std::deque<Entry> m_Queue;         // guarded by m_Lock
    State m_State = State::Idle;       // guarded by m_Lock
    std::thread::id m_LoopThread;      // guarded by m_Lock
    std::thread m_Thread;              // Start and Stop only
};
