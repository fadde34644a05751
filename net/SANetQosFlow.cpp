#include "net/SANetQosFlow.h"

#include "core/SALog.h"

#include <cerrno>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/socket.h>

namespace
{
std::atomic<uint32_t> g_FlowIdNext{1};
}

bool SANetQosFlow::Create(int socket)
{
    m_Socket.store(socket);
    int tos = TOS_CONTROL;
    if (setsockopt(socket, IPPROTO_IP, IP_TOS, &tos, sizeof(tos)) != 0)
    {
        SALog(SA_LOG_FAILURE, "SANetQosFlow::Create setsockopt IP_TOS failed! (%d)\n", errno);
        return false;
    }
    uint32_t id = g_FlowIdNext.fetch_add(1);
    if (id == 0)
        id = g_FlowIdNext.fetch_add(1);
    m_flowID.store(id);
    SALog(SA_LOG_ALWAYS, "SANetQosFlow::Create setsockopt IP_TOS succeeded! m_flowID: %d\n",
          static_cast<int>(id));
    return true;
}

bool SANetQosFlow::TrafficTypeSet()
{
    int priority = PRIORITY_CONTROL;
    if (setsockopt(m_Socket.load(), SOL_SOCKET, SO_PRIORITY, &priority, sizeof(priority)) != 0)
    {
        SALog(SA_LOG_FAILURE, "SANetQosFlow::TrafficTypeSet setsockopt SO_PRIORITY failed! (%d)\n", errno);
        return false;
    }
    return true;
}

void SANetQosFlow::Destroy()
{
    m_flowID.exchange(0);
    m_Socket.exchange(-1);
}
