#include "net/SANetHostLookupByName.h"

#include "core/SALog.h"
#include "net/SANetProtocol.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

std::string SANetHostLookupErrorText(int error)
{
    switch (error)
    {
    case EAI_MEMORY:
        return "Unable to resolve host name. A memory allocation failure occurred";
    case EAI_BADFLAGS:
        return "Unable to resolve host name. Invalid argument supplied";
    case EAI_SOCKTYPE:
        return "Unable to resolve host name. Socket type not supported.";
    case EAI_FAMILY:
        return "Unable to resolve host name. An address incompatible with the requested protocol was used";
    case EAI_SERVICE:
        return "Unable to resolve host name. Service name not supported";
    case EAI_NONAME:
        return "Unable to resolve host name. Host not found";
    case EAI_AGAIN:
        return "Unable to resolve host name. A temporary failure in name resolution occurred";
    case EAI_FAIL:
        return "Unable to resolve host name. A nonrecoverable failure in name resolution occurred";
    default:
        return std::string();
    }
}

bool SANetHostLookupByName(SANetHostInfo& info, std::string& message)
{
    message.clear();
    std::string name = info.Record.HostNameGet();
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* result = nullptr;
    int error = getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (error != 0)
        error = getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (error != 0)
    {
        message = SANetHostLookupErrorText(error);
        SALog(SA_LOG_DISCOVERY, "SANetHostLookupByName getaddrinfo failed! %d\n", error);
        return false;
    }
    if (result == nullptr || result->ai_addr == nullptr || result->ai_family != AF_INET)
    {
        SALog(SA_LOG_FAILURE, "SANetHostLookupByName failed! No result (this should never happen)\n");
        if (result != nullptr)
            freeaddrinfo(result);
        return false;
    }
    uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(result);
    if (!info.Initialize(address, SA_NET_SERVER_PORT))
    {
        SALog(SA_LOG_FAILURE,
              "SANetHostLookupByName failed! Invalid IP address (this should never happen)\n");
        return false;
    }
    return true;
}
