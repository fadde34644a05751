#include "net/SANetInterfaceEnumerator.h"

#include "core/SALog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string>

SANetInterfaceEnumerator::SANetInterfaceEnumerator()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
    {
        SALog(SA_LOG_FAILURE,
              "SANetInterfaceEnumerator::SANetInterfaceEnumerator failed! getifaddrs error:%d\n", errno);
        return;
    }
    // getifaddrs lists every address; the first IPv4 entry of an interface
    // name stands for that interface, later ones are never used.
    std::vector<std::string> seen;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next)
    {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || entry->ifa_name == nullptr)
            continue;
        std::string name = entry->ifa_name;
        bool known = false;
        for (const std::string& s : seen)
            known = known || s == name;
        if (known)
            continue;
        seen.push_back(name);
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        uint32_t mask = 0;
        if (entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET)
            mask = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
        if (address == 0)
            continue; // an unconfigured interface takes no index
        m_Entries.push_back({address, address | ~mask});
    }
    freeifaddrs(list);
}

bool SANetInterfaceEnumerator::AdapterIpAddressesGet(size_t index, uint32_t& address,
                                                     uint32_t& broadcast) const
{
    if (index >= m_Entries.size())
        return false;
    address = m_Entries[index].Address;
    broadcast = m_Entries[index].Broadcast;
    return true;
}

bool SANetInterfaceEnumerator::AddressIsLocal(uint32_t address)
{
    SANetInterfaceEnumerator snapshot;
    uint32_t local = 0;
    uint32_t broadcast = 0;
    for (size_t i = 0; snapshot.AdapterIpAddressesGet(i, local, broadcast); ++i)
    {
        if (local == address)
            return true;
    }
    return false;
}
