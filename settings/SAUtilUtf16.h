#pragma once
// Text is UTF-8 inside the viewer; stored strings (REG_SZ, REG_MULTI_SZ) are
// UTF-16LE bytes, as the registry keeps them. These convert between the two.
// Malformed input never fails: invalid UTF-8 sequences and lone surrogates
// become U+FFFD.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

std::u16string SAUtilUtf16FromUtf8(const std::string& text);
std::string SAUtilUtf8FromUtf16(const std::u16string& text);

// UTF-16LE bytes of `text`, without a terminator.
std::vector<uint8_t> SAUtilUtf16LeBytesFromUtf8(const std::string& text);
// Decodes UTF-16LE bytes up to the first null unit or the end (an odd last
// byte is ignored).
std::string SAUtilUtf8FromUtf16LeBytes(const void* data, size_t byteCount);

// Case-insensitive comparison of UTF-16 texts (ASCII letters fold; every
// stored list item of the viewer is an address or a host name).
bool SAUtilUtf16EqualNoCase(const std::u16string& a, const std::u16string& b);
