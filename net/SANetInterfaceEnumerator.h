#pragma once
// A snapshot of this machine's usable IPv4 interfaces, taken once in the
// constructor with getifaddrs: interfaces that are up, not loopback, with an
// IPv4 address. Only the first IPv4 address of each interface counts; an
// interface whose first address is 0.0.0.0 is skipped and takes no index.
// broadcast = address OR NOT netmask.
//
// Also answers whether an address belongs to this machine (the local host
// filter of the connect view).
//
// Threads: a snapshot is used by the thread that made it.
#include <cstddef>
#include <cstdint>
#include <vector>

class SANetInterfaceEnumerator
{
public:
    SANetInterfaceEnumerator();

    // The index-th usable interface in the system's order; false past the end.
    bool AdapterIpAddressesGet(size_t index, uint32_t& address, uint32_t& broadcast) const;

    // True when address (host order) is the first address of one of this
    // machine's usable interfaces (a fresh snapshot).
    static bool AddressIsLocal(uint32_t address);

private:
    struct Entry
    {
        uint32_t Address;
        uint32_t Broadcast;
    };
    std::vector<Entry> m_Entries;
};
