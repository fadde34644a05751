// libFuzzer target for a discovery reply on its way to the connect view: an
// input is a datagram from any host of the LAN. As the receiver does, it is
// cut to a record (a longer datagram ends the receiver) and decoded; the
// record goes through the discovery list (received list and unicast
// targets) and becomes the host info the view works with. The name must end
// within its field, and every copy must be the record that went in.
#include "fuzz/FuzzSupport.h"
#include "net/SAListDiscovery.h"
#include "net/SANetHostInfo.h"
#include "peer/PeerDiscovery.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

namespace
{
std::vector<std::vector<uint8_t>> Seeds()
{
    PeerOptions options;
    std::vector<std::vector<uint8_t>> seeds;
    seeds.push_back(PeerDiscovery::ReplyBuild(options, 0x7F000001, SA_NET_HOST_RECORD_SIZE));
    options.Name = std::string(130, 'n') + "\xf0\x9f\x98\x80";
    options.Features = SA_NET_HOST_FEATURE_AUDIO | SA_NET_HOST_FEATURE_ENCRYPTION;
    seeds.push_back(PeerDiscovery::ReplyBuild(options, 0x0A000005, SA_NET_HOST_RECORD_SIZE));
    seeds.push_back(PeerDiscovery::ReplyBuild(options, 0xC0A80005, 100));
    return seeds;
}

bool Same(const SANetHostRecord& a, const SANetHostRecord& b)
{
    uint8_t x[SA_NET_HOST_RECORD_SIZE];
    uint8_t y[SA_NET_HOST_RECORD_SIZE];
    a.Encode(x);
    b.Encode(y);
    return std::memcmp(x, y, sizeof(x)) == 0;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLogQuiet();
    FuzzSeedsWrite(Seeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > SA_NET_HOST_RECORD_SIZE)
        return 0;
    uint8_t datagram[SA_NET_HOST_RECORD_SIZE] = {};
    std::memcpy(datagram, data, size);
    SANetHostRecord record = SANetHostRecord::Decode(datagram);
    if (record.HostName[SA_NET_HOST_RECORD_NAME_UNITS - 1] != 0)
        std::abort();
    // The sender's address replaces the record's own; here the record's own
    // stands for it.
    SAListDiscovery list;
    list.ReceivedAppend(record);
    list.UnicastTargetAppend(record);
    SANetHostRecord taken;
    if (!list.ReceivedTakeFirst(taken) || !Same(taken, record) || list.ReceivedCount() != 0)
        std::abort();
    SANetHostRecord target;
    if (!list.UnicastTargetContains(record.Address) || !list.UnicastTargetGet(0, target) ||
        !Same(target, record))
        std::abort();
    if (list.UnicastTargetRemoveByAddress(record.Address) != 1 || list.UnicastTargetCount() != 0)
        std::abort();

    SANetHostInfo info;
    if (!info.Initialize(taken.Address, taken.Port))
        std::abort();
    in_addr parsed{};
    if (inet_pton(AF_INET, info.AddressText.c_str(), &parsed) != 1 || ntohl(parsed.s_addr) != taken.Address)
        std::abort();
    // The view shows the name and stores it back into records it sends.
    const std::string name = taken.HostNameGet();
    SANetHostRecord again;
    again.HostNameSet(name);
    if (again.HostName[SA_NET_HOST_RECORD_NAME_UNITS - 1] != 0 || again.HostNameGet() != name)
        std::abort();
    return 0;
}
