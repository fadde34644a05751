#include "core/SAUtilAddress.h"

#include <arpa/inet.h>

std::string SAUtilAddressText(uint32_t hostOrderAddress)
{
    in_addr address{};
    address.s_addr = htonl(hostOrderAddress);
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address, text, sizeof(text)) == nullptr)
        return std::string();
    return std::string(text);
}

bool SAUtilAddressParse(const std::string& text, uint32_t& hostOrderAddress)
{
    in_addr address{};
    hostOrderAddress = 0;
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return false;
    hostOrderAddress = ntohl(address.s_addr);
    return true;
}
