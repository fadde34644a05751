#pragma once
// The H.264 decoders this machine offers, best first: libavcodec's "h264"
// decoder with VA-API acceleration when a DRM render node
// (/dev/dri/renderD*) exists and the decoder supports it, then the same
// decoder in software, which is always last so that a failing device only
// costs the fallback. The environment variable QUILLMERE_VAAPI_DEVICE names
// the one device to use instead of those found under /dev/dri.
//
// Built and used by one PSCodecTransform on its decoder thread; not shared.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct AVCodec;
struct AVCodecContext;

class PSCodecEnumerator
{
public:
    struct Instance
    {
        std::string Name;   // "h264 (VA-API /dev/dri/renderD128)" or "h264 (software)"
        std::string Device; // render node of a hardware instance, empty for software
        bool Hardware = false;
    };

    // hardwareAllowed false: the software decoder only (after a device
    // failed this decoder once).
    explicit PSCodecEnumerator(bool hardwareAllowed = true);

    size_t InstancesCountGet() const { return m_Instances.size(); }
    const Instance& InstanceGet(size_t index) const { return m_Instances[index]; }

    // Traces "%d instance(s) available\n", one "- %s\n" per instance and
    // "\n" at the codec category.
    void InstancesAvailableList() const;

    // Tries the instances in order: a context is allocated (with its hardware
    // device attached for a hardware instance), `configure` sets it up and it
    // is opened. The first that opens is returned with `index` set; each
    // failure logs its line and the next is tried (a device that fails says
    // why and that the next decoder takes over). Null when none opens.
    // `hardwareFailed` tells whether a hardware instance was tried and failed.
    using Configure = std::function<bool(AVCodecContext* context)>;
    AVCodecContext* InstanceCreate(const Configure& configure, size_t& index, bool& hardwareFailed) const;

    // Render nodes present now, sorted; empty on a machine without a GPU.
    // QUILLMERE_VAAPI_DEVICE, when set, is the only one.
    static std::vector<std::string> RenderNodesFind();

private:
    AVCodecContext* PrivateActivateObject(const Instance& instance, std::string& why) const;

    const AVCodec* m_pCodec = nullptr; // static libavcodec data, never freed
    std::vector<Instance> m_Instances;
};
