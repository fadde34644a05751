#include "app/SAQtMessageTarget.h"

#include "core/SALog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <memory>

namespace
{
const QEvent::Type SA_QT_MESSAGE_EVENT = static_cast<QEvent::Type>(QEvent::registerEventType());
} // namespace

// What a cross-thread Send waits on; shared by the waiter and the event.
struct SAQtMessageTarget::SendWait
{
    bool done = false;
    intptr_t result = 0;
};

namespace
{
class SAQtMessageEvent : public QEvent
{
public:
    SAQtMessageEvent(uint32_t message, uintptr_t wParam, intptr_t lParam, std::shared_ptr<void> wait)
        : QEvent(SA_QT_MESSAGE_EVENT), m_Message(message), m_WParam(wParam), m_LParam(lParam),
          m_Wait(std::move(wait))
    {
    }
    uint32_t m_Message;
    uintptr_t m_WParam;
    intptr_t m_LParam;
    std::shared_ptr<void> m_Wait; // set for a Send from another thread
};
} // namespace

SAQtMessageTarget::SAQtMessageTarget(QObject* parent) : QObject(parent) {}

SAQtMessageTarget::~SAQtMessageTarget()
{
    Close();
}

void SAQtMessageTarget::HandlerSet(Handler handler)
{
    m_Handler = std::move(handler);
}

void SAQtMessageTarget::Close()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Closed = true;
    m_Done.notify_all();
}

bool SAQtMessageTarget::ClosedGet() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Closed;
}

bool SAQtMessageTarget::Post(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_Closed)
            return false;
    }
    QCoreApplication::postEvent(this, new SAQtMessageEvent(message, wParam, lParam, nullptr));
    return true;
}

intptr_t SAQtMessageTarget::Send(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (QThread::currentThread() == thread())
        return ClosedGet() ? 0 : PrivateDispatch(message, wParam, lParam);

    auto wait = std::make_shared<SendWait>();
    std::unique_lock<std::mutex> lock(m_Lock);
    if (m_Closed)
        return 0;
    QCoreApplication::postEvent(this, new SAQtMessageEvent(message, wParam, lParam, wait));
    m_Done.wait(lock, [&] { return wait->done || m_Closed; });
    return wait->done ? wait->result : 0;
}

intptr_t SAQtMessageTarget::PrivateDispatch(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (!m_Handler)
    {
        SALog(SA_LOG_FAILURE, "SAQtMessageTarget::PrivateDispatch failed! no handler for 0x%x\n", message);
        return 0;
    }
    return m_Handler(message, wParam, lParam);
}

bool SAQtMessageTarget::event(QEvent* e)
{
    if (e->type() != SA_QT_MESSAGE_EVENT)
        return QObject::event(e);
    auto* message = static_cast<SAQtMessageEvent*>(e);
    auto wait = std::static_pointer_cast<SendWait>(message->m_Wait);
    if (ClosedGet())
        return true; // the sender, if any, was already released by Close
    const intptr_t result = PrivateDispatch(message->m_Message, message->m_WParam, message->m_LParam);
    if (wait)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        wait->result = result;
        wait->done = true;
        m_Done.notify_all();
    }
    return true;
}
