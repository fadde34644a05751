#include "peer/PeerJsonLine.h"

#include <cstdio>

std::string PeerJsonLine::Quote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text)
    {
        switch (c)
        {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20)
            {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                out += escaped;
            }
            else
            {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    out += "\"";
    return out;
}

void PeerJsonLine::PrivateKeyAdd(const char* key)
{
    if (!m_Body.empty())
    {
        m_Body += ",";
    }
    m_Body += Quote(key);
    m_Body += ":";
}

PeerJsonLine& PeerJsonLine::Add(const char* key, int64_t value)
{
    PrivateKeyAdd(key);
    m_Body += std::to_string(value);
    return *this;
}

PeerJsonLine& PeerJsonLine::Add(const char* key, const std::string& value)
{
    PrivateKeyAdd(key);
    m_Body += Quote(value);
    return *this;
}

PeerJsonLine& PeerJsonLine::AddRaw(const char* key, const std::string& json)
{
    PrivateKeyAdd(key);
    m_Body += json;
    return *this;
}
