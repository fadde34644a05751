#pragma once
// The text form of quillmere-reg's export and import: parsing a whole file
// into the steps it asks for, checked before anything is written, and the
// number and hex readers the tool's commands share. The text comes from an
// administrator's file or standard input, so every input is refused or
// parsed, never trusted.
#include <cstdint>
#include <string>
#include <vector>

struct SARegImportStep
{
    enum Kind
    {
        KEY_CREATE,
        KEY_DELETE,
        VALUE_SET,
        VALUE_DELETE
    } kind = KEY_CREATE;
    std::string key;
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    uint32_t options = 0;
};

class SARegImport
{
public:
    static constexpr const char* ROOT_NAME = "HKEY_CURRENT_USER";
    static constexpr const char* EXPORT_HEADER = "quillmere-reg export 1";
    static constexpr const char* VOLATILE_MARK = "; volatile";

    // The steps of an export file, in order. False with `error` set to
    // "<line>: <reason>" at the first line that is not understood.
    static bool TextParse(const std::string& content, std::vector<SARegImportStep>& steps,
                          std::string& error);
    // A 32-bit number: decimal (INT32_MIN .. UINT32_MAX) or 0x hex.
    static bool DwordParse(const std::string& text, uint32_t& value);
    // Hex bytes, optionally separated by commas, blanks or colons, each byte
    // two digits; appended to `bytes`.
    static bool HexParse(const std::string& text, std::vector<uint8_t>& bytes);
    // The Audio key is always volatile, as the viewer makes it.
    static uint32_t OptionsFor(const std::string& key, bool forceVolatile);
    // False for the keys the viewer keeps its settings in, those above them
    // and those below them but for Audio: made volatile, they would take
    // every later setting with them at the end of the session.
    static bool VolatileAllowed(const std::string& key);
    static constexpr const char* VOLATILE_REFUSED =
        "holds settings that must outlive the session: it cannot be volatile";
};
