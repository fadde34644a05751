#pragma once
// Builds one flat JSON object, fields in the order they are added.
#include <cstdint>
#include <string>

class PeerJsonLine
{
public:
    PeerJsonLine& Add(const char* key, int64_t value);
    PeerJsonLine& Add(const char* key, const std::string& value);
    PeerJsonLine& Add(const char* key, const char* value) { return Add(key, std::string(value)); }
    // `json` is inserted as it is (an array or nested object).
    PeerJsonLine& AddRaw(const char* key, const std::string& json);
    // The object without a trailing newline.
    std::string Text() const { return "{" + m_Body + "}"; }

    // JSON string literal, quotes included; control characters escaped.
    static std::string Quote(const std::string& text);

private:
    void PrivateKeyAdd(const char* key);
    std::string m_Body;
};
