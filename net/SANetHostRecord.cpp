#include "net/SANetHostRecord.h"

#include "net/SANetProtocol.h"

#include <cstring>

SANetHostRecord SANetHostRecord::Decode(const uint8_t* bytes)
{
    SANetHostRecord record;
    for (size_t i = 0; i < SA_NET_HOST_RECORD_NAME_UNITS; ++i)
        record.HostName[i] = static_cast<char16_t>(SAWireU16Get(bytes + 2 * i));
    // A sender may fill the whole field; the name must still end inside it.
    record.HostName[SA_NET_HOST_RECORD_NAME_UNITS - 1] = 0;
    record.Address = SAWireU32Get(bytes + SA_NET_HOST_RECORD_OFFSET_ADDRESS);
    record.Port = SAWireU16Get(bytes + SA_NET_HOST_RECORD_OFFSET_PORT);
    std::memcpy(record.Reserved1, bytes + SA_NET_HOST_RECORD_OFFSET_RESERVED1,
                SA_NET_HOST_RECORD_RESERVED1_SIZE);
    record.FeatureBitmap = SAWireU32Get(bytes + SA_NET_HOST_RECORD_OFFSET_FEATURES);
    std::memcpy(record.Reserved2, bytes + SA_NET_HOST_RECORD_OFFSET_RESERVED2,
                SA_NET_HOST_RECORD_RESERVED2_SIZE);
    return record;
}

void SANetHostRecord::Encode(uint8_t* out) const
{
    for (size_t i = 0; i < SA_NET_HOST_RECORD_NAME_UNITS; ++i)
        SAWireU16Set(out + 2 * i, static_cast<uint16_t>(HostName[i]));
    SAWireU32Set(out + SA_NET_HOST_RECORD_OFFSET_ADDRESS, Address);
    SAWireU16Set(out + SA_NET_HOST_RECORD_OFFSET_PORT, Port);
    std::memcpy(out + SA_NET_HOST_RECORD_OFFSET_RESERVED1, Reserved1, SA_NET_HOST_RECORD_RESERVED1_SIZE);
    SAWireU32Set(out + SA_NET_HOST_RECORD_OFFSET_FEATURES, FeatureBitmap);
    std::memcpy(out + SA_NET_HOST_RECORD_OFFSET_RESERVED2, Reserved2, SA_NET_HOST_RECORD_RESERVED2_SIZE);
}

std::string SANetHostRecord::HostNameGet() const
{
    uint8_t field[SA_NET_HOST_RECORD_NAME_UNITS * 2];
    for (size_t i = 0; i < SA_NET_HOST_RECORD_NAME_UNITS; ++i)
        SAWireU16Set(field + 2 * i, static_cast<uint16_t>(HostName[i]));
    return SAWireUtf16Read(field, SA_NET_HOST_RECORD_NAME_UNITS);
}

void SANetHostRecord::HostNameSet(const std::string& utf8)
{
    uint8_t field[SA_NET_HOST_RECORD_NAME_UNITS * 2];
    SAWireUtf16Write(field, SA_NET_HOST_RECORD_NAME_UNITS - 1, utf8);
    for (size_t i = 0; i < SA_NET_HOST_RECORD_NAME_UNITS - 1; ++i)
        HostName[i] = static_cast<char16_t>(SAWireU16Get(field + 2 * i));
    HostName[SA_NET_HOST_RECORD_NAME_UNITS - 1] = 0;
}
