// quillmere-reg: reads, edits, exports and imports the viewer's registry
// store (the same files and XDG variables as the viewer). Administrators use
// it to set the values the viewer never writes (ResolutionMaxX,
// MenuAdvancedEnable, CustomerSpecific01, ...).
#include "settings/SARegistryList.h"
#include "settings/SAUtilRegistry.h"
#include "settings/SAUtilUtf16.h"
#include "tools/SARegImport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
const char* USAGE =
    "Usage: quillmere-reg COMMAND ...\n"
    "\n"
    "Edits the quillmere viewer's settings store (the same one the viewer uses:\n"
    "$XDG_CONFIG_HOME/harrowfenlab/quillmere/registry.sqlite3, volatile keys under\n"
    "$XDG_RUNTIME_DIR).\n"
    "\n"
    "Commands:\n"
    "  set [--volatile] KEY NAME TYPE DATA...  write a value (creates the key)\n"
    "      REG_DWORD     one number, decimal or 0x hex (e.g. 1920, 0x780, -1)\n"
    "      REG_SZ        one text, stored without a terminator as the viewer does\n"
    "      REG_MULTI_SZ  each further argument is one list item (none: empty list);\n"
    "                    stored as the viewer's lists are, padded to 1024 bytes\n"
    "      REG_BINARY    hex bytes, e.g. 0a1b2c or 0a,1b,2c (several arguments join)\n"
    "      REG_NONE      no data\n"
    "  get KEY NAME                             print a value's type and data\n"
    "  delete KEY [NAME]                        delete a value, or the key and its subtree\n"
    "  export [KEY]                             print the store (or KEY's subtree) as text\n"
    "  import FILE                              apply a file written by export ('-' = stdin)\n"
    "  --help                                   this text\n"
    "  --version                                print the version\n"
    "\n"
    "KEY is a path with backslashes, e.g. 'Software\\harrowfenlab\\quillmere'\n"
    "(a leading HKEY_CURRENT_USER\\ or HKCU\\ is accepted). The key\n"
    "Software\\harrowfenlab\\quillmere\\Audio is always created volatile.\n"
    "\n"
    "Exit status: 0 success, 1 failure (e.g. not found), 2 bad arguments or input.\n";

constexpr const char* ROOT_NAME = SARegImport::ROOT_NAME;
constexpr const char* EXPORT_HEADER = SARegImport::EXPORT_HEADER;
constexpr const char* VOLATILE_MARK = SARegImport::VOLATILE_MARK;

int Fail(int status, const std::string& message)
{
    fprintf(stderr, "quillmere-reg: %s\n", message.c_str());
    return status;
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// Accepts "HKEY_CURRENT_USER\..." and "HKCU\..." as well as bare paths.
std::string KeyArgument(const std::string& text)
{
    std::string key = text;
    for (const char* prefix : {ROOT_NAME, "HKCU"})
    {
        const size_t length = strlen(prefix);
        if (key.size() >= length && EqualNoCase(key.substr(0, length), prefix) &&
            (key.size() == length || key[length] == '\\'))
        {
            key = key.substr(length);
            break;
        }
    }
    return SAUtilRegistryKeyPathNormalize(key);
}

bool TypeParse(const std::string& text, uint32_t& type)
{
    const struct
    {
        const char* name;
        uint32_t type;
    } types[] = {{"REG_NONE", REG_NONE},     {"REG_SZ", REG_SZ},       {"REG_EXPAND_SZ", REG_EXPAND_SZ},
                 {"REG_BINARY", REG_BINARY}, {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ}};
    for (const auto& entry : types)
    {
        if (EqualNoCase(text, entry.name))
        {
            type = entry.type;
            return true;
        }
    }
    return false;
}

std::string TypeName(uint32_t type)
{
    switch (type)
    {
    case REG_NONE:
        return "REG_NONE";
    case REG_SZ:
        return "REG_SZ";
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case REG_BINARY:
        return "REG_BINARY";
    case REG_DWORD:
        return "REG_DWORD";
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    default:
        return "type(" + std::to_string(type) + ")";
    }
}

std::string HexText(const std::vector<uint8_t>& bytes, const char* separator)
{
    std::string text;
    char digits[3];
    for (size_t i = 0; i < bytes.size(); ++i)
    {
        snprintf(digits, sizeof(digits), "%02x", bytes[i]);
        if (i > 0)
            text += separator;
        text += digits;
    }
    return text;
}

std::vector<std::string> MultiSzItems(const std::vector<uint8_t>& data)
{
    std::vector<std::string> items;
    std::u16string item;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
    {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit != 0)
        {
            item.push_back(unit);
            continue;
        }
        if (item.empty())
            return items; // the list ends at the first empty item
        items.push_back(SAUtilUtf8FromUtf16(item));
        item.clear();
    }
    if (!item.empty())
        items.push_back(SAUtilUtf8FromUtf16(item) + " (cut: no terminator)");
    return items;
}

bool ValueBuild(uint32_t type, const std::vector<std::string>& args, std::vector<uint8_t>& data,
                std::string& error)
{
    data.clear();
    if (type == REG_DWORD)
    {
        uint32_t value = 0;
        if (args.size() != 1 || !SARegImport::DwordParse(args[0], value))
        {
            error = "REG_DWORD needs one number (decimal or 0x hex, 32 bits)";
            return false;
        }
        data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        return true;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ)
    {
        if (args.size() != 1)
        {
            error = "REG_SZ needs exactly one text argument";
            return false;
        }
        data = SAUtilUtf16LeBytesFromUtf8(args[0]);
        return true;
    }
    if (type == REG_MULTI_SZ)
    {
        for (const std::string& item : args)
        {
            if (item.empty())
            {
                error = "REG_MULTI_SZ items must not be empty (an empty item ends the list)";
                return false;
            }
            const std::vector<uint8_t> bytes = SAUtilUtf16LeBytesFromUtf8(item);
            if (bytes.size() / 2 > SA_REGISTRY_LIST_ITEM_MAX)
                fprintf(
                    stderr,
                    "quillmere-reg: warning: item '%s' is longer than %u characters; the viewer reads only "
                    "its first %u\n",
                    item.c_str(), SA_REGISTRY_LIST_ITEM_MAX, SA_REGISTRY_LIST_ITEM_MAX);
            data.insert(data.end(), bytes.begin(), bytes.end());
            data.push_back(0);
            data.push_back(0);
        }
        data.push_back(0);
        data.push_back(0);
        if (data.size() <= SA_REGISTRY_LIST_BYTES)
            data.resize(SA_REGISTRY_LIST_BYTES, 0);
        else
            fprintf(stderr,
                    "quillmere-reg: warning: the list takes %zu bytes; the viewer's lists hold %u and would "
                    "read it as empty\n",
                    data.size(), SA_REGISTRY_LIST_BYTES);
        return true;
    }
    if (type == REG_NONE)
    {
        if (!args.empty())
        {
            error = "REG_NONE takes no data";
            return false;
        }
        return true;
    }
    std::string joined;
    for (const std::string& arg : args)
        joined += arg + ",";
    if (!SARegImport::HexParse(joined, data))
    {
        error = "binary data must be hex bytes of two digits each (e.g. 0a1b or 0a,1b)";
        return false;
    }
    return true;
}

std::string ErrorText(int32_t error)
{
    switch (error)
    {
    case ERROR_FILE_NOT_FOUND:
        return "not found";
    case ERROR_ACCESS_DENIED:
        return "store not accessible (check XDG_CONFIG_HOME / XDG_RUNTIME_DIR)";
    case ERROR_INVALID_PARAMETER:
        return "invalid parameter";
    case ERROR_REGISTRY_IO_FAILED:
        return "store read or write failed";
    default:
        return "error " + std::to_string(error);
    }
}

int CommandSet(std::vector<std::string> args)
{
    bool forceVolatile = false;
    if (!args.empty() && args[0] == "--volatile")
    {
        forceVolatile = true;
        args.erase(args.begin());
    }
    if (args.size() < 3)
        return Fail(2, "set needs KEY NAME TYPE [DATA...] (see --help)");
    const std::string key = KeyArgument(args[0]);
    if (key.empty())
        return Fail(2, "set needs a key below " + std::string(ROOT_NAME));
    if (forceVolatile && !SARegImport::VolatileAllowed(key))
        return Fail(2, key + " " + SARegImport::VOLATILE_REFUSED);
    uint32_t type = 0;
    if (!TypeParse(args[2], type))
        return Fail(2,
                    "unknown type '" + args[2] + "' (REG_DWORD, REG_SZ, REG_MULTI_SZ, REG_BINARY, REG_NONE)");
    std::vector<uint8_t> data;
    std::string error;
    if (!ValueBuild(type, std::vector<std::string>(args.begin() + 3, args.end()), data, error))
        return Fail(2, error);
    const int32_t result =
        SAUtilRegistryValueWrite(key, args[1], type, data.data(), static_cast<uint32_t>(data.size()),
                                 SARegImport::OptionsFor(key, forceVolatile));
    if (result != ERROR_SUCCESS)
        return Fail(1, "cannot write " + key + "\\" + args[1] + ": " + ErrorText(result));
    return 0;
}

std::string ByteEscaped(unsigned char byte)
{
    char hex[5];
    snprintf(hex, sizeof(hex), "\\x%02x", byte);
    return hex;
}

// A text as get shows it on a terminal: a name a server sent, stored by a
// lookup, may hold the terminal's control sequences.
std::string Printable(const std::string& text)
{
    std::string shown;
    for (char c : text)
    {
        const unsigned char byte = static_cast<unsigned char>(c);
        shown += (byte < 0x20 || byte == 0x7f) ? ByteEscaped(byte) : std::string(1, c);
    }
    return shown;
}

int CommandGet(const std::vector<std::string>& args)
{
    if (args.size() != 2)
        return Fail(2, "get needs KEY NAME");
    const std::string key = KeyArgument(args[0]);
    std::vector<SAUtilRegistryValue> values;
    const int32_t result = SAUtilRegistryValueEnum(key, values);
    if (result != ERROR_SUCCESS)
        return Fail(1, "cannot read key " + key + ": " + ErrorText(result));
    for (const SAUtilRegistryValue& value : values)
    {
        if (!EqualNoCase(value.name, args[1]))
            continue;
        const std::string type = TypeName(value.type);
        if (value.type == REG_DWORD && value.data.size() == 4)
        {
            const uint32_t v = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                               (static_cast<uint32_t>(value.data[3]) << 24);
            printf("%s %d (0x%08x)\n", type.c_str(), static_cast<int32_t>(v), v);
        }
        else if (value.type == REG_SZ || value.type == REG_EXPAND_SZ)
        {
            printf("%s %s\n", type.c_str(),
                   Printable(SAUtilUtf8FromUtf16LeBytes(value.data.data(), value.data.size())).c_str());
        }
        else if (value.type == REG_MULTI_SZ)
        {
            const std::vector<std::string> items = MultiSzItems(value.data);
            printf("%s %zu item%s\n", type.c_str(), items.size(), items.size() == 1 ? "" : "s");
            for (const std::string& item : items)
                printf("%s\n", Printable(item).c_str());
        }
        else
        {
            printf("%s %s\n", type.c_str(), HexText(value.data, " ").c_str());
        }
        return 0;
    }
    return Fail(1, "value not found: " + key + "\\" + args[1]);
}

int CommandDelete(const std::vector<std::string>& args)
{
    if (args.empty() || args.size() > 2)
        return Fail(2, "delete needs KEY [NAME]");
    const std::string key = KeyArgument(args[0]);
    if (key.empty())
        return Fail(2, "delete needs a key below " + std::string(ROOT_NAME));
    const int32_t result =
        args.size() == 2 ? SAUtilRegistryValueDelete(key, args[1]) : SAUtilRegistryTreeDelete(key);
    if (result != ERROR_SUCCESS)
        return Fail(1, "cannot delete " + key + (args.size() == 2 ? "\\" + args[1] : std::string()) + ": " +
                           ErrorText(result));
    return 0;
}

// A text as export writes it, which import reads back byte for byte: no
// character of it can end the line or the quotes it stands in.
std::string Escaped(const std::string& text)
{
    std::string escaped;
    for (char c : text)
    {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
        {
            escaped += '\\';
            escaped += c;
        }
        else if (c == '\n')
        {
            escaped += "\\n";
        }
        else if (c == '\r')
        {
            escaped += "\\r";
        }
        else if (c == '\t')
        {
            escaped += "\\t";
        }
        else if (byte < 0x20 || byte == 0x7f)
        {
            escaped += ByteEscaped(byte);
        }
        else
        {
            escaped += c;
        }
    }
    return escaped;
}

std::string Quote(const std::string& text)
{
    return "\"" + Escaped(text) + "\"";
}

// Key lines carry the path as it is: import ends it at the first ']'.
bool KeyWritable(const std::string& key)
{
    for (char c : key)
    {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == ']' || byte < 0x20 || byte == 0x7f)
            return false;
    }
    return true;
}

// A REG_SZ that export may write as plain text: it reads back byte for byte.
bool PlainText(const std::vector<uint8_t>& data)
{
    if (data.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < data.size(); i += 2)
    {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit < 0x20)
            return false;
    }
    const std::string text = SAUtilUtf8FromUtf16LeBytes(data.data(), data.size());
    return SAUtilUtf16LeBytesFromUtf8(text) == data;
}

// Long hex data continues on the next line after a backslash, as in .reg
// files; only the data from `start` on, since import joins nothing else.
std::string LineWrap(const std::string& line, size_t start)
{
    constexpr size_t WIDTH = 78;
    std::string wrapped;
    size_t column = 0;
    for (size_t i = 0; i < line.size(); ++i)
    {
        wrapped.push_back(line[i]);
        ++column;
        if (i >= start && line[i] == ',' && column >= WIDTH - 4 && i + 1 < line.size())
        {
            wrapped += "\\\n  ";
            column = 2;
        }
    }
    return wrapped;
}

std::string ValueLine(const SAUtilRegistryValue& value)
{
    std::string line = value.name.empty() ? std::string("@") : Quote(value.name);
    line += "=";
    const size_t data = line.size();
    if (value.type == REG_DWORD && value.data.size() == 4)
    {
        char text[16];
        snprintf(text, sizeof(text), "dword:%08x",
                 value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                     (static_cast<uint32_t>(value.data[3]) << 24));
        return line + text;
    }
    if (value.type == REG_SZ && PlainText(value.data))
        return line + Quote(SAUtilUtf8FromUtf16LeBytes(value.data.data(), value.data.size()));
    if (value.type == REG_BINARY)
        return LineWrap(line + "hex:" + HexText(value.data, ","), data);
    return LineWrap(line + "hex(" + std::to_string(value.type) + "):" + HexText(value.data, ","), data);
}

bool KeyExport(const std::string& key, std::string& out, std::string& error)
{
    std::vector<SAUtilRegistryValue> values;
    if (!key.empty())
    {
        if (!KeyWritable(key))
        {
            error = "cannot export key \"" + Escaped(key) + "\": its name holds a control character or ']'";
            return false;
        }
        if (SAUtilRegistryValueEnum(key, values) != ERROR_SUCCESS)
        {
            error = "cannot read the store";
            return false;
        }
        out += "\n[" + std::string(ROOT_NAME) + "\\" + key + "]";
        if (SAUtilRegistryKeyVolatile(key))
            out += std::string(" ") + VOLATILE_MARK;
        out += "\n";
        for (const SAUtilRegistryValue& value : values)
        {
            if (value.type == REG_MULTI_SZ)
            {
                out += "; items:";
                for (const std::string& item : MultiSzItems(value.data))
                    out += " " + Escaped(item);
                out += "\n";
            }
            out += ValueLine(value) + "\n";
        }
    }
    std::vector<std::string> subkeys;
    if (SAUtilRegistryKeyEnum(key, subkeys) != ERROR_SUCCESS)
    {
        error = "cannot read the store";
        return false;
    }
    for (const std::string& subkey : subkeys)
    {
        if (!KeyExport(key.empty() ? subkey : key + "\\" + subkey, out, error))
            return false;
    }
    return true;
}

int CommandExport(const std::vector<std::string>& args)
{
    if (args.size() > 1)
        return Fail(2, "export takes at most one KEY");
    const std::string key = args.empty() ? std::string() : KeyArgument(args[0]);
    if (!key.empty() && SAUtilRegistryKeyOpen(key) != ERROR_SUCCESS)
        return Fail(1, "key not found: " + key);
    std::string out = std::string(EXPORT_HEADER) + "\n";
    std::string error;
    if (!KeyExport(key, out, error))
        return Fail(1, error);
    fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int CommandImport(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return Fail(2, "import needs FILE");
    const int fd = args[0] == "-" ? STDIN_FILENO : open(args[0].c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(1, "cannot open " + args[0] + ": " + strerror(errno));
    // A read that fails part-way (a directory, an I/O error) must not pass
    // for the end of the file: what was read would be imported as a whole.
    std::string content;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof(buffer))) != 0)
    {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
        {
            const int error = errno;
            if (fd != STDIN_FILENO)
                close(fd);
            return Fail(1, "cannot read " + args[0] + ": " + strerror(error));
        }
        content.append(buffer, static_cast<size_t>(got));
    }
    if (fd != STDIN_FILENO)
        close(fd);
    // Everything is parsed and checked before anything is written.
    std::vector<SARegImportStep> steps;
    std::string error;
    if (!SARegImport::TextParse(content, steps, error))
        return Fail(2, args[0] + ":" + error);
    for (const SARegImportStep& step : steps)
    {
        int32_t result = ERROR_SUCCESS;
        switch (step.kind)
        {
        case SARegImportStep::KEY_CREATE:
            result = SAUtilRegistryKeyCreate(step.key, step.options);
            break;
        case SARegImportStep::KEY_DELETE:
            result = SAUtilRegistryTreeDelete(step.key);
            if (result == ERROR_FILE_NOT_FOUND)
                result = ERROR_SUCCESS;
            break;
        case SARegImportStep::VALUE_SET:
            result = SAUtilRegistryValueWrite(step.key, step.name, step.type, step.data.data(),
                                              static_cast<uint32_t>(step.data.size()), step.options);
            break;
        case SARegImportStep::VALUE_DELETE:
            result = SAUtilRegistryValueDelete(step.key, step.name);
            if (result == ERROR_FILE_NOT_FOUND)
                result = ERROR_SUCCESS;
            break;
        }
        if (result != ERROR_SUCCESS)
            return Fail(1, "import stopped at " + step.key + (step.name.empty() ? "" : "\\" + step.name) +
                               ": " + ErrorText(result));
    }
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
    {
        fputs(USAGE, stderr);
        return 2;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help")
    {
        fputs(USAGE, stdout);
        return 0;
    }
    if (command == "--version")
    {
        printf("quillmere-reg %s\n", QM_VERSION);
        return 0;
    }
    int status = 0;
    if (command == "set")
        status = CommandSet(args);
    else if (command == "get")
        status = CommandGet(args);
    else if (command == "delete")
        status = CommandDelete(args);
    else if (command == "export")
        status = CommandExport(args);
    else if (command == "import")
        status = CommandImport(args);
    else
        return Fail(2, "unknown command '" + command + "' (see --help)");
    // An export to a full disk must not pass for a backup.
    if (fflush(stdout) != 0 || ferror(stdout))
        return Fail(1, std::string("cannot write the output: ") + strerror(errno));
    return status;
}
