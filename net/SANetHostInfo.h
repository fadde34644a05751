#pragma once
// The host of a targeted search: the record that discovery asks directly
// (address at 256, port at 260), its dotted address text, and two flags.
// Plain data; copied between the connect view, the progress dialog and the
// name resolution thread.
#include "net/SANetHostRecord.h"

#include <cstdint>
#include <string>

class SANetHostInfo
{
public:
    // Writes the dotted text of address (host order), then stores address
    // and port into the record. False (logged) when no text can be made.
    bool Initialize(uint32_t address, uint16_t port);
    // Back to the empty state: flags 0, record zero, no text.
    void Clear() { *this = SANetHostInfo(); }

    bool Resolved = false;         // the address below is known
    bool ConnectWhenFound = false; // automatic connect: connect the first matching reply
    SANetHostRecord Record;
    std::string AddressText; // UTF-8 dotted form of Record.Address
};
