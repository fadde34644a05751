// libFuzzer target for quillmere-reg's import parser: an input is the text
// of a file to import. Parsing must refuse or describe it; every step it
// describes must be one the tool can apply as it stands: a key below the
// root in its canonical form, a name only on a value. (Any type may hold
// any bytes, as in the registry: export writes a DWORD of another size as
// hex(4).)
#include "fuzz/FuzzSupport.h"
#include "settings/SAUtilRegistry.h"
#include "tools/SARegImport.h"

#include <cstdlib>

namespace
{
std::vector<std::vector<uint8_t>> Seeds()
{
    const std::string text =
        std::string(SARegImport::EXPORT_HEADER) +
        "\n\n[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere]\n"
        "\"Framerate\"=dword:0000003c\n"
        "\"AutoConnectToHostNameInfo\"=\"host \\\"name\\\"\"\n"
        "; items: 10.0.0.1\n"
        "\"AutoConnectToIpAddressList\"=hex(7):31,00,30,00,2e,00,30,00,2e,00,30,00,2e,00,\\\n"
        "  31,00,00,00,00,00\n"
        "\"WP\"=hex:00,01,02\n"
        "\"Old\"=-\n"
        "\n[HKEY_CURRENT_USER\\Software\\harrowfenlab\\quillmere\\Audio] ; volatile\n"
        "\"AudioStreamingEnabled\"=dword:00000001\n"
        "\n[-HKEY_CURRENT_USER\\Software\\Gone]\n";
    return {std::vector<uint8_t>(text.begin(), text.end())};
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzLogQuiet();
    FuzzSeedsWrite(Seeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<SARegImportStep> steps;
    std::string error;
    if (!SARegImport::TextParse(std::string(reinterpret_cast<const char*>(data), size), steps, error))
    {
        if (error.empty())
            std::abort();
        return 0;
    }
    for (const SARegImportStep& step : steps)
    {
        if (step.key.empty() || step.key != SAUtilRegistryKeyPathNormalize(step.key))
            std::abort();
        if ((step.kind == SARegImportStep::KEY_CREATE || step.kind == SARegImportStep::KEY_DELETE) &&
            !step.name.empty())
            std::abort();
    }
    return 0;
}
