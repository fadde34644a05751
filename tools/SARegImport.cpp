#include "tools/SARegImport.h"

#include "settings/SAUtilRegistry.h"
#include "settings/SAUtilUtf16.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace
{
bool EqualNoCase(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted string starting at text[pos] (which is '"'); pos ends after
// it. Export writes \n, \r, \t and \xHH for control characters; before
// any other character a backslash only keeps it literal (\" and \\).
bool QuotedParse(const std::string& text, size_t& pos, std::string& out)
{
    out.clear();
    for (++pos; pos < text.size(); ++pos)
    {
        if (text[pos] == '\\' && pos + 1 < text.size())
        {
            const char c = text[++pos];
            if (c == 'n')
            {
                out.push_back('\n');
            }
            else if (c == 'r')
            {
                out.push_back('\r');
            }
            else if (c == 't')
            {
                out.push_back('\t');
            }
            else if (c == 'x')
            {
                const int high = pos + 1 < text.size() ? HexDigit(text[pos + 1]) : -1;
                const int low = pos + 2 < text.size() ? HexDigit(text[pos + 2]) : -1;
                if (high < 0 || low < 0)
                    return false;
                out.push_back(static_cast<char>(high * 16 + low));
                pos += 2;
            }
            else
            {
                out.push_back(c);
            }
        }
        else if (text[pos] == '"')
        {
            ++pos;
            return true;
        }
        else
        {
            out.push_back(text[pos]);
        }
    }
    return false;
}

bool LineParse(const std::string& line, const std::string& key, SARegImportStep& step, std::string& error)
{
    size_t pos = 0;
    std::string name;
    if (line[0] == '@')
    {
        pos = 1;
    }
    else if (line[0] != '"' || !QuotedParse(line, pos, name))
    {
        error = "expected \"name\"=data, @=data or [key]";
        return false;
    }
    if (pos >= line.size() || line[pos] != '=')
    {
        error = "expected '=' after the value name";
        return false;
    }
    if (key.empty())
    {
        error = "value before any [key] line";
        return false;
    }
    const std::string data = line.substr(pos + 1);
    step.key = key;
    step.name = name;
    if (data == "-")
    {
        step.kind = SARegImportStep::VALUE_DELETE;
        return true;
    }
    step.kind = SARegImportStep::VALUE_SET;
    if (!data.empty() && data[0] == '"')
    {
        size_t end = 0;
        std::string text;
        if (!QuotedParse(data, end, text) || end != data.size())
        {
            error = "unterminated or trailing text after a string";
            return false;
        }
        step.type = REG_SZ;
        step.data = SAUtilUtf16LeBytesFromUtf8(text);
        return true;
    }
    if (data.rfind("dword:", 0) == 0)
    {
        const std::string digits = data.substr(6);
        uint32_t value = 0;
        if (digits.empty() || digits.size() > 8 || !SARegImport::DwordParse("0x" + digits, value))
        {
            error = "dword: needs up to 8 hex digits";
            return false;
        }
        step.type = REG_DWORD;
        step.data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                     static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        return true;
    }
    std::string hex;
    if (data.rfind("hex:", 0) == 0)
    {
        step.type = REG_BINARY;
        hex = data.substr(4);
    }
    else if (data.rfind("hex(", 0) == 0 && data.find("):") != std::string::npos)
    {
        const size_t close = data.find("):");
        uint32_t type = 0;
        if (!SARegImport::DwordParse("0x" + data.substr(4, close - 4), type))
        {
            error = "hex(N): needs a hex type number";
            return false;
        }
        step.type = type;
        hex = data.substr(close + 2);
    }
    else
    {
        error = "unknown data form (\"text\", dword:, hex:, hex(N): or -)";
        return false;
    }
    if (!SARegImport::HexParse(hex, step.data))
    {
        error = "bad hex bytes";
        return false;
    }
    return true;
}
} // namespace

bool SARegImport::DwordParse(const std::string& text, uint32_t& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    {
        const unsigned long long v = strtoull(text.c_str() + 2, &end, 16);
        if (errno != 0 || *end != '\0' || text.size() > 10 || text[2] == '-' || text[2] == '+')
            return false;
        value = static_cast<uint32_t>(v);
        return true;
    }
    const long long v = strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT32_MIN || v > static_cast<long long>(UINT32_MAX))
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// Hex bytes, optionally separated by commas, blanks or colons, each byte two digits.
bool SARegImport::HexParse(const std::string& text, std::vector<uint8_t>& bytes)
{
    int high = -1;
    for (char c : text)
    {
        if (c == ',' || c == ' ' || c == ':' || c == '\t')
        {
            if (high >= 0)
                return false;
            continue;
        }
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        if (high < 0)
        {
            high = digit;
        }
        else
        {
            bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    return high < 0;
}

uint32_t SARegImport::OptionsFor(const std::string& key, bool forceVolatile)
{
    return (forceVolatile || EqualNoCase(key, SA_REGISTRY_KEY_AUDIO)) ? REG_OPTION_VOLATILE
                                                                      : REG_OPTION_NON_VOLATILE;
}

bool SARegImport::VolatileAllowed(const std::string& key)
{
    const auto within = [](const std::string& inner, const std::string& outer)
    {
        return inner.size() > outer.size() && inner[outer.size()] == '\\' &&
               EqualNoCase(inner.substr(0, outer.size()), outer);
    };
    if (EqualNoCase(key, SA_REGISTRY_KEY_AUDIO) || within(key, SA_REGISTRY_KEY_AUDIO))
        return true;
    for (const std::string kept : {SA_REGISTRY_KEY_MAIN, SA_REGISTRY_KEY_PROFILE})
    {
        if (EqualNoCase(key, kept) || within(kept, key) || within(key, kept))
            return false;
    }
    return true;
}

bool SARegImport::TextParse(const std::string& text, std::vector<SARegImportStep>& steps, std::string& error)
{
    steps.clear();
    std::istringstream content(text);
    std::string key;
    std::string line;
    std::string pending;
    int number = 0;
    while (std::getline(content, line))
    {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // Long hex data may continue on the next line after a backslash.
        if (!pending.empty())
        {
            const size_t first = line.find_first_not_of(" \t");
            line = pending + (first == std::string::npos ? std::string() : line.substr(first));
            pending.clear();
        }
        if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos)
        {
            pending = line.substr(0, line.size() - 1);
            continue;
        }
        if (line.empty() || line[0] == ';' || line == EXPORT_HEADER)
            continue;
        if (line[0] == '[')
        {
            const size_t close = line.find(']');
            std::string rest = close == std::string::npos ? std::string() : line.substr(close + 1);
            rest.erase(0, rest.find_first_not_of(" \t"));
            if (close == std::string::npos || (!rest.empty() && rest != VOLATILE_MARK))
            {
                error = std::to_string(number) + ": bad key line";
                return false;
            }
            std::string path = line.substr(1, close - 1);
            const bool remove = !path.empty() && path[0] == '-';
            if (remove)
                path.erase(0, 1);
            const std::string root = std::string(ROOT_NAME) + "\\";
            if (path.size() <= root.size() || !EqualNoCase(path.substr(0, root.size()), root))
            {
                error = std::to_string(number) + ": keys must start with " + root;
                return false;
            }
            key = SAUtilRegistryKeyPathNormalize(path.substr(root.size()));
            // "[HKEY_CURRENT_USER\\]" names the root, which set and delete
            // refuse as well; applying it would fail half-way through.
            if (key.empty())
            {
                error = std::to_string(number) + ": keys must be below " + std::string(ROOT_NAME);
                return false;
            }
            SARegImportStep step;
            step.kind = remove ? SARegImportStep::KEY_DELETE : SARegImportStep::KEY_CREATE;
            step.key = key;
            step.options = OptionsFor(key, rest == VOLATILE_MARK);
            if (rest == VOLATILE_MARK && !VolatileAllowed(key))
            {
                error = std::to_string(number) + ": " + key + " " + VOLATILE_REFUSED;
                return false;
            }
            steps.push_back(step);
            if (remove)
                key.clear();
            continue;
        }
        SARegImportStep step;
        std::string reason;
        if (!LineParse(line, key, step, reason))
        {
            error = std::to_string(number) + ": " + reason;
            return false;
        }
        step.options = steps.back().options;
        steps.push_back(step);
    }
    // A file cut inside a value's hex lines would store the value short.
    if (!pending.empty())
    {
        error = std::to_string(number) + ": the file ends inside a value";
        return false;
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
    {
        error = std::to_string(std::max(number, 1)) + ": the file is empty";
        return false;
    }
    return true;
}
