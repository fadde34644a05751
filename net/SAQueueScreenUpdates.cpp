#include "net/SAQueueScreenUpdates.h"

#include "core/PSTime.h"
#include "core/SALog.h"

#include <new>
#include <utility>

SAQueueScreenUpdates::SAQueueScreenUpdates(SAMessageTarget* notifyTarget, size_t byteLimit)
    : m_pNotifyTarget(notifyTarget), m_ByteLimit(byteLimit)
{
}

SAQueueScreenUpdates::~SAQueueScreenUpdates() = default;

void SAQueueScreenUpdates::RepaintAppend()
{
    SAScreenUpdate entry;
    entry.m_Kind = SAScreenUpdateKind::Repaint;
    PrivateAppend(std::move(entry), nullptr);
}

void SAQueueScreenUpdates::FragmentResetAppend()
{
    SAScreenUpdate entry;
    entry.m_Kind = SAScreenUpdateKind::FragmentReset;
    PrivateAppend(std::move(entry), nullptr);
}

bool SAQueueScreenUpdates::PacketAppend(std::unique_ptr<uint8_t[]> packet, size_t packetSize,
                                        const std::function<bool()>& abandon)
{
    if (!packet)
    {
        SALog(SA_LOG_FAILURE, "SAQueueScreenUpdates::PacketAppend failed! NULL == pPacket\n");
        return false;
    }
    SAScreenUpdate entry;
    entry.m_Kind = SAScreenUpdateKind::Packet;
    entry.m_pPacket = std::move(packet);
    entry.m_PacketSize = packetSize;
    entry.m_QueuedNs = PSTimeNanoseconds();
    return PrivateAppend(std::move(entry), &abandon);
}

void SAQueueScreenUpdates::WaitersWake()
{
    // Under the lock, so that a waiter between its check and its wait cannot
    // miss the change that led here.
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Room.notify_all();
}

bool SAQueueScreenUpdates::PrivateAppend(SAScreenUpdate entry, const std::function<bool()>* abandon)
{
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        if (entry.m_Kind == SAScreenUpdateKind::Packet)
        {
            const size_t size = entry.m_PacketSize;
            const auto full = [&] { return m_Bytes != 0 && m_Bytes + size > m_ByteLimit; };
            const auto abandoned = [abandon] { return abandon != nullptr && *abandon && (*abandon)(); };
            m_Room.wait(lock, [&] { return !full() || abandoned(); });
            if (full())
                return false; // abandoned: the entry frees its block
        }
        try
        {
            m_Entries.push_back(std::move(entry));
        }
        catch (const std::bad_alloc&)
        {
            // The entry (and its block) is freed here; nothing escapes to the
            // receiver's thread.
            SALog(SA_LOG_FAILURE, "SAQueueScreenUpdates::PrivateAppend failed! no memory\n");
            return false;
        }
        m_Bytes += m_Entries.back().m_PacketSize;
        // Set under the lock: once WakeEventSet has replaced the event, no
        // append can still hold it, and its owner may destroy it.
        if (m_pWakeEvent)
            m_pWakeEvent->Set();
    }
    if (m_pNotifyTarget)
        m_pNotifyTarget->Post(SA_WM_APP_STATUS_REFRESH, 0, 0);
    return true;
}

SAScreenUpdate SAQueueScreenUpdates::Take()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_Entries.empty())
        return {};
    SAScreenUpdate entry = std::move(m_Entries.front());
    m_Entries.pop_front();
    m_Bytes -= entry.m_PacketSize;
    if (entry.m_PacketSize != 0)
        m_Room.notify_all();
    return entry;
}

bool SAQueueScreenUpdates::IsEmpty() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Entries.empty();
}

size_t SAQueueScreenUpdates::CountGet() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Entries.size();
}

size_t SAQueueScreenUpdates::BytesGet() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Bytes;
}

void SAQueueScreenUpdates::WakeEventSet(PSEvent* wakeEvent)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_pWakeEvent = wakeEvent;
    if (wakeEvent && !m_Entries.empty())
        wakeEvent->Set();
}

void SAQueueScreenUpdates::WakeEventRemove(PSEvent* wakeEvent)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_pWakeEvent == wakeEvent)
        m_pWakeEvent = nullptr;
}
