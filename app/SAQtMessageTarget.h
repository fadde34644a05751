#pragma once
// A message target living on the Qt GUI thread: the frame's and the display
// view's way to be reached by worker threads.
//
// Post queues a QEvent carrying the message; it is handled by the GUI event
// loop in posting order. Send on the GUI thread calls the handler at once;
// from another thread it posts the same event and waits until the GUI
// thread has run the handler, like a blocking queued invocation. Close()
// (called when the window starts closing) makes every pending and later
// Send return 0 (on any thread) and every later Post return false, so a worker blocked in a
// Send never holds up a GUI thread that waits for that worker to end.
//
// Threads: Post and Send from any thread; Close and HandlerSet on the GUI
// thread. m_Lock guards m_Closed and the waits of cross-thread sends.
// Lifetime: the target must outlive every thread that may still call it
// (the frame stops its workers before destroying it).
#include "core/SAMessageTarget.h"

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class SAQtMessageTarget : public QObject, public SAMessageTarget
{
public:
    using Handler = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

    explicit SAQtMessageTarget(QObject* parent = nullptr);
    ~SAQtMessageTarget() override;

    void HandlerSet(Handler handler);
    bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    void Close();
    bool ClosedGet() const;

protected:
    bool event(QEvent* e) override;

private:
    struct SendWait;
    intptr_t PrivateDispatch(uint32_t message, uintptr_t wParam, intptr_t lParam);

    Handler m_Handler; // GUI thread only
    mutable std::mutex m_Lock;
    std::condition_variable m_Done;
    bool m_Closed = false; // guarded by m_Lock
};
