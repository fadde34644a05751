#include "settings/SAUtilUtf16.h"

namespace
{
constexpr char32_t REPLACEMENT = 0xFFFD;

void Utf8Append(std::string& out, char32_t c)
{
    if (c < 0x80)
    {
        out.push_back(static_cast<char>(c));
    }
    else if (c < 0x800)
    {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    else if (c < 0x10000)
    {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    else
    {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

char16_t FoldAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}
} // namespace

std::u16string SAUtilUtf16FromUtf8(const std::string& text)
{
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    const size_t n = text.size();
    while (i < n)
    {
        const uint8_t b = static_cast<uint8_t>(text[i]);
        char32_t c = REPLACEMENT;
        size_t extra = 0;
        char32_t minimum = 0;
        if (b < 0x80)
        {
            c = b;
        }
        else if ((b & 0xE0) == 0xC0)
        {
            c = b & 0x1F;
            extra = 1;
            minimum = 0x80;
        }
        else if ((b & 0xF0) == 0xE0)
        {
            c = b & 0x0F;
            extra = 2;
            minimum = 0x800;
        }
        else if ((b & 0xF8) == 0xF0)
        {
            c = b & 0x07;
            extra = 3;
            minimum = 0x10000;
        }
        else
        {
            out.push_back(static_cast<char16_t>(REPLACEMENT));
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= extra; ++j)
        {
            if (i + j >= n || (static_cast<uint8_t>(text[i + j]) & 0xC0) != 0x80)
                break;
            c = (c << 6) | (static_cast<uint8_t>(text[i + j]) & 0x3F);
        }
        if (j <= extra || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        {
            // Malformed: replace the lead byte and resynchronise after it.
            out.push_back(static_cast<char16_t>(REPLACEMENT));
            i += (j <= extra) ? j : extra + 1;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000)
        {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
        else
        {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string SAUtilUtf8FromUtf16(const std::u16string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
        {
            Utf8Append(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        }
        else if (u >= 0xD800 && u <= 0xDFFF)
        {
            Utf8Append(out, REPLACEMENT);
        }
        else
        {
            Utf8Append(out, u);
        }
    }
    return out;
}

std::vector<uint8_t> SAUtilUtf16LeBytesFromUtf8(const std::string& text)
{
    const std::u16string units = SAUtilUtf16FromUtf8(text);
    std::vector<uint8_t> bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t u : units)
    {
        bytes.push_back(static_cast<uint8_t>(u & 0xFF));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    return bytes;
}

std::string SAUtilUtf8FromUtf16LeBytes(const void* data, size_t byteCount)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    std::u16string units;
    for (size_t i = 0; i + 1 < byteCount; i += 2)
    {
        const char16_t u = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (u == 0)
            break;
        units.push_back(u);
    }
    return SAUtilUtf8FromUtf16(units);
}

bool SAUtilUtf16EqualNoCase(const std::u16string& a, const std::u16string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
    {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}
