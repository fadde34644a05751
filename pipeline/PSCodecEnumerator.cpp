#include "pipeline/PSCodecEnumerator.h"

#include "core/SALog.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/error.h>
#include <libavutil/hwcontext.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace
{
// Offered by libavcodec's get_format: the VA-API surface format when the
// stream can be decoded on the device, else the first software format, so a
// profile the device refuses quietly decodes in software.
AVPixelFormat PrivateFormatGet(AVCodecContext* context, const AVPixelFormat* formats)
{
    (void)context;
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f)
    {
        if (*f == AV_PIX_FMT_VAAPI)
            return *f;
    }
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f)
    {
        const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(*f);
        if (descriptor && !(descriptor->flags & AV_PIX_FMT_FLAG_HWACCEL))
        {
            SALog(SA_LOG_CODEC,
                  "PSCodecEnumerator::PrivateFormatGet VA-API refused the stream, software %s\n",
                  descriptor->name);
            return *f;
        }
    }
    return AV_PIX_FMT_NONE;
}

bool PrivateVaapiSupported(const AVCodec* codec)
{
    for (int i = 0;; ++i)
    {
        const AVCodecHWConfig* config = avcodec_get_hw_config(codec, i);
        if (!config)
            return false;
        if (config->device_type == AV_HWDEVICE_TYPE_VAAPI &&
            (config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX))
            return true;
    }
}
} // namespace

std::vector<std::string> PSCodecEnumerator::RenderNodesFind()
{
    std::vector<std::string> nodes;
    const char* chosen = std::getenv("QUILLMERE_VAAPI_DEVICE");
    if (chosen != nullptr && chosen[0] != '\0')
    {
        nodes.emplace_back(chosen);
        return nodes;
    }
    std::error_code error;
    std::filesystem::directory_iterator it("/dev/dri", error);
    if (error)
        return nodes;
    for (const auto& entry : it)
    {
        const std::string name = entry.path().filename().string();
        if (name.rfind("renderD", 0) == 0)
            nodes.push_back(entry.path().string());
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

PSCodecEnumerator::PSCodecEnumerator(bool hardwareAllowed) : m_pCodec(avcodec_find_decoder(AV_CODEC_ID_H264))
{
    if (!m_pCodec)
    {
        SALog(SA_LOG_FAILURE, "PSCodecEnumerator::PSCodecEnumerator avcodec_find_decoder failed! h264\n");
        return;
    }
    if (hardwareAllowed && PrivateVaapiSupported(m_pCodec))
    {
        for (const std::string& node : RenderNodesFind())
        {
            Instance instance;
            instance.Name = std::string(m_pCodec->name) + " (VA-API " + node + ")";
            instance.Device = node;
            instance.Hardware = true;
            m_Instances.push_back(instance);
        }
    }
    Instance software;
    software.Name = std::string(m_pCodec->name) + " (software)";
    m_Instances.push_back(software);
}

void PSCodecEnumerator::InstancesAvailableList() const
{
    SALog(SA_LOG_CODEC, "%d instance(s) available\n", static_cast<int>(m_Instances.size()));
    for (const Instance& instance : m_Instances)
        SALog(SA_LOG_CODEC, "- %s\n", instance.Name.c_str());
    SALog(SA_LOG_CODEC, "\n");
}

AVCodecContext* PSCodecEnumerator::PrivateActivateObject(const Instance& instance, std::string& why) const
{
    AVCodecContext* context = avcodec_alloc_context3(m_pCodec);
    if (!context)
    {
        SALog(SA_LOG_FAILURE, "PSCodecEnumerator::PrivateActivateObject failed! avcodec_alloc_context3 %s\n",
              instance.Name.c_str());
        why = "no memory for a decoder context";
        return nullptr;
    }
    if (instance.Hardware)
    {
        AVBufferRef* device = nullptr;
        const int result =
            av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, instance.Device.c_str(), nullptr, 0);
        if (result < 0)
        {
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(result, text, sizeof(text));
            SALog(SA_LOG_FAILURE,
                  "PSCodecEnumerator::PrivateActivateObject failed! av_hwdevice_ctx_create %d - %s\n", result,
                  text);
            why = std::string("the VA-API device ") + instance.Device + " does not open: " + text;
            avcodec_free_context(&context);
            return nullptr;
        }
        context->hw_device_ctx = device; // the context owns the reference now
        context->get_format = PrivateFormatGet;
    }
    return context;
}

AVCodecContext* PSCodecEnumerator::InstanceCreate(const Configure& configure, size_t& index,
                                                  bool& hardwareFailed) const
{
    hardwareFailed = false;
    if (m_Instances.empty())
    {
        SALog(SA_LOG_FAILURE, "PSCodecEnumerator::PrivateActivateObject failed! no decoders available\n");
        return nullptr;
    }
    for (size_t i = 0; i < m_Instances.size(); ++i)
    {
        std::string why;
        AVCodecContext* context = PrivateActivateObject(m_Instances[i], why);
        if (context && !configure(context))
        {
            avcodec_free_context(&context);
            why = "the decoder refused its settings";
        }
        if (context)
        {
            const int result = avcodec_open2(context, m_pCodec, nullptr);
            if (result >= 0)
            {
                index = i;
                return context;
            }
            char text[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(result, text, sizeof(text));
            SALog(SA_LOG_FAILURE,
                  "PSCodecEnumerator::PrivateActivateObject failed! avcodec_open2 %s %d - %s\n",
                  m_Instances[i].Name.c_str(), result, text);
            avcodec_free_context(&context);
            why = std::string("avcodec_open2: ") + text;
        }
        if (m_Instances[i].Hardware)
        {
            hardwareFailed = true;
            if (i + 1 < m_Instances.size())
                SALog(SA_LOG_FAILURE,
                      "PSCodecEnumerator::InstanceCreate %s cannot decode (%s): falling back to %s\n",
                      m_Instances[i].Name.c_str(), why.c_str(), m_Instances[i + 1].Name.c_str());
        }
    }
    return nullptr;
}
