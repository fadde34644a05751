#include "net/SANetHostInfo.h"

#include "core/SALog.h"
#include "core/SAUtilAddress.h"

#include <cerrno>

bool SANetHostInfo::Initialize(uint32_t address, uint16_t port)
{
    std::string text = SAUtilAddressText(address);
    if (text.empty())
    {
        SALog(SA_LOG_FAILURE, "SANetHostInfo::Initialize inet_ntop failed! %d\n", errno);
        return false;
    }
    AddressText = text;
    Record.Address = address;
    Record.Port = port;
    return true;
}
