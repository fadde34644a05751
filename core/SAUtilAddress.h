#pragma once
// IPv4 addresses are 32-bit numbers in host byte order everywhere inside the
// viewer; these convert them to and from dotted text (inet_ntop/inet_pton).
#include <cstdint>
#include <string>

// Dotted text of a host-order address; empty on failure.
std::string SAUtilAddressText(uint32_t hostOrderAddress);
// Parses dotted IPv4 text; false (and 0) when the text is not an address.
bool SAUtilAddressParse(const std::string& text, uint32_t& hostOrderAddress);
