// libFuzzer target for the peer's reader of the viewer's connect request
// (PeerConnectRequest::Decode): an input is the first packet a client sends
// the bundled server. A decoded request lists at most nine resolutions, as
// many as its count asks for, and its texts are well-formed UTF-8.
#include "fuzz/FuzzSupport.h"
#include "peer/PeerConnectRequest.h"
#include "settings/SAUtilUtf16.h"

#include <cstdlib>
#include <filesystem>

namespace
{
std::vector<std::vector<uint8_t>> Seeds()
{
    // The viewer's own encoder reads its settings: from an empty private
    // store here, so every field has its default.
    char pattern[] = "/tmp/qm-fuzz-seeds-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return {};
    setenv("XDG_CONFIG_HOME", pattern, 1);
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    const uint32_t widths[] = {1920, 1280};
    const uint32_t heights[] = {1080, 720};
    std::vector<std::vector<uint8_t>> seeds;
    const std::unique_ptr<uint8_t[]> packets[] = {
        SANetProtocol::PacketCreateConnectRequest("{00000000-0000-0000-0000-000000000001}", widths, heights,
                                                  2),
        SANetProtocol::PacketRequestAudio("{00000000-0000-0000-0000-000000000002}")};
    for (const std::unique_ptr<uint8_t[]>& packet : packets)
    {
        if (packet)
            seeds.emplace_back(packet.get(), packet.get() + SA_CONNECT_REQUEST_SIZE);
    }
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return seeds;
}

bool Utf8Valid(const std::string& text)
{
    return SAUtilUtf8FromUtf16(SAUtilUtf16FromUtf8(text)) == text;
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
    PeerConnectRequest request;
    if (!PeerConnectRequest::Decode(data, size, request))
        return 0;
    if (size < SA_CONNECT_REQUEST_SIZE ||
        request.Resolutions.size() != std::min<size_t>(request.ResolutionCount, SAWire::CR_MAX_RESOLUTIONS))
        std::abort();
    if (!Utf8Valid(request.InstanceId) || !Utf8Valid(request.ComputerName))
        std::abort();
    return 0;
}
