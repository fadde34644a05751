#include "net/SAListDiscovery.h"

#include "core/SALog.h"

#include <algorithm>

SAListDiscovery::SAListDiscovery() = default;
SAListDiscovery::~SAListDiscovery() = default;

bool SAListDiscovery::MessagePost(uint32_t message)
{
    SAMessageTarget* target = m_pTarget.load();
    return target != nullptr && target->Post(message, 0, 0);
}

bool SAListDiscovery::ReceivedAppend(const SANetHostRecord& record)
{
    bool appended = false;
    bool post = false;
    bool fullNow = false;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_Received.size() >= SA_LIST_DISCOVERY_RECEIVED_LIMIT)
        {
            fullNow = !m_ReceivedFull;
            m_ReceivedFull = true;
        }
        else
        {
            m_Received.push_back(record);
            appended = true;
            post = !m_ReceivedPosted;
            m_ReceivedPosted = true;
        }
    }
    if (fullNow)
        SALog(SA_LOG_FAILURE,
              "SAListDiscovery::ReceivedAppend failed! %zu replies wait; dropping further ones\n",
              SA_LIST_DISCOVERY_RECEIVED_LIMIT);
    if (post && !MessagePost(SA_WM_APP_DISCOVERY_HOST_INTERFACE_FOUND))
    {
        // Nobody will drain for that message: the next reply tries again.
        std::lock_guard<std::mutex> guard(m_Lock);
        m_ReceivedPosted = false;
    }
    return appended;
}

bool SAListDiscovery::ReceivedTakeFirst(SANetHostRecord& record)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_ReceivedFull = false;
    if (m_Received.empty())
    {
        m_ReceivedPosted = false;
        return false;
    }
    record = m_Received.front();
    m_Received.pop_front();
    return true;
}

size_t SAListDiscovery::ReceivedCount() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Received.size();
}

void SAListDiscovery::UnicastTargetAppend(const SANetHostRecord& record)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Targets.push_back(record);
}

size_t SAListDiscovery::UnicastTargetRemoveByAddress(uint32_t address)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    size_t before = m_Targets.size();
    m_Targets.erase(std::remove_if(m_Targets.begin(), m_Targets.end(),
                                   [address](const SANetHostRecord& r) { return r.Address == address; }),
                    m_Targets.end());
    return before - m_Targets.size();
}

bool SAListDiscovery::UnicastTargetGet(size_t index, SANetHostRecord& record) const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (index >= m_Targets.size())
        return false;
    record = m_Targets[index];
    return true;
}

size_t SAListDiscovery::UnicastTargetCount() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Targets.size();
}

bool SAListDiscovery::UnicastTargetContains(uint32_t address) const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return std::any_of(m_Targets.begin(), m_Targets.end(),
                       [address](const SANetHostRecord& r) { return r.Address == address; });
}

void SAListDiscovery::ListsClear()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Received.clear();
    m_ReceivedFull = false;
    m_Targets.clear();
}
