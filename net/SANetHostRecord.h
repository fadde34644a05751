#pragma once
// The 308-byte server record of a discovery reply. The same layout serves as
// a unicast discovery target and as the parameter of the connect events of
// the connection state machine. On the wire every integer is little-endian;
// the record is always copied field by field through Encode/Decode, never by
// casting received bytes to this struct.
//
// Layout (offsets in bytes):
//   0   256  host name, UTF-16LE, null-terminated, at most 127 characters
//   256 4    address, IPv4 as a 32-bit number in host order (the most
//            significant byte is the first dotted part)
//   260 2    port
//   262 18   carried unchanged
//   280 4    feature bitmap (8: audio stream offered, 16: encryption or
//            password required)
//   284 24   carried unchanged
#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t SA_NET_HOST_RECORD_SIZE = 308;
constexpr size_t SA_NET_HOST_RECORD_NAME_UNITS = 128;
constexpr size_t SA_NET_HOST_RECORD_OFFSET_ADDRESS = 256;
constexpr size_t SA_NET_HOST_RECORD_OFFSET_PORT = 260;
constexpr size_t SA_NET_HOST_RECORD_OFFSET_RESERVED1 = 262;
constexpr size_t SA_NET_HOST_RECORD_RESERVED1_SIZE = 18;
constexpr size_t SA_NET_HOST_RECORD_OFFSET_FEATURES = 280;
constexpr size_t SA_NET_HOST_RECORD_OFFSET_RESERVED2 = 284;
constexpr size_t SA_NET_HOST_RECORD_RESERVED2_SIZE = 24;

constexpr uint32_t SA_NET_HOST_FEATURE_AUDIO = 0x8;
constexpr uint32_t SA_NET_HOST_FEATURE_ENCRYPTION = 0x10;

struct SANetHostRecord
{
    // UTF-16 code units; a decoded record always has a terminator in the
    // last unit, so the name never runs past its field.
    char16_t HostName[SA_NET_HOST_RECORD_NAME_UNITS] = {};
    uint32_t Address = 0; // host order
    uint16_t Port = 0;
    uint8_t Reserved1[SA_NET_HOST_RECORD_RESERVED1_SIZE] = {};
    uint32_t FeatureBitmap = 0;
    uint8_t Reserved2[SA_NET_HOST_RECORD_RESERVED2_SIZE] = {};

    // bytes: SA_NET_HOST_RECORD_SIZE bytes. A name that fills all 128 units
    // without a terminator is cut to 127 characters.
    static SANetHostRecord Decode(const uint8_t* bytes);
    // out: SA_NET_HOST_RECORD_SIZE bytes, every byte written.
    void Encode(uint8_t* out) const;

    // The host name as UTF-8, up to the first terminator.
    std::string HostNameGet() const;
    // Stores at most 127 UTF-16 units of the UTF-8 text; the rest of the
    // field is zero.
    void HostNameSet(const std::string& utf8);
};
