#pragma once
// The viewer's first packet, decoded by the peer from the documented offsets
// with its own reader (independent of the viewer's encoder).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PeerConnectRequest
{
    uint32_t HeaderType = 0;
    uint32_t ByteCount = 0;
    uint32_t RequestKind = 0;
    uint32_t CompressionFlag = 0; // offset 24: 3 when a compression type was asked for
    uint32_t Quality = 0;
    uint16_t CompressionType = 0;
    uint16_t Framerate = 0;
    uint32_t ResolutionCount = 0;
    // Entries 0 .. min(count, 9) - 1.
    std::vector<std::pair<uint32_t, uint32_t>> Resolutions;
    // Offsets 8, 12, 20, 28 (u32), 38, 46 (u16): constants the viewer sends.
    uint32_t Constants[6] = {};
    std::string InstanceId;   // UTF-8
    std::string ComputerName; // UTF-8

    // Decodes the 462-byte packet (header + 334-byte payload). Returns false
    // when the header is not a connect request (type 0, 334 bytes).
    static bool Decode(const uint8_t* packet, size_t size, PeerConnectRequest& request);
    // UTF-16LE text of at most `units` code units, up to the first zero.
    // Unpaired surrogates become U+FFFD.
    static std::string Utf16Read(const uint8_t* field, size_t units);
};
