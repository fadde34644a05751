#include "net/SAStatusBarText.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace
{
std::string PrivatePadded(const char* label, size_t width)
{
    std::string text(label);
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

std::string PrivateFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string PrivateFormat(const char* format, ...)
{
    char buffer[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}
} // namespace

const SAStatusPaneTexts& SAStatusBarText::IndicatorTextsGet()
{
    static const SAStatusPaneTexts texts = {
        PrivatePadded("IP local:", 50), PrivatePadded("IP remote:", 51), PrivatePadded("Res:", 24),
        PrivatePadded("Fps:", 11),      PrivatePadded("Mbps:", 21),      PrivatePadded("Sent:", 27),
        PrivatePadded("Rcvd:", 27),     PrivatePadded("Comp:", 23),
    };
    return texts;
}

const SAStatusPaneTexts& SAStatusBarText::IdleTextsGet()
{
    static const SAStatusPaneTexts texts = {"Loc: -",  "Rem: -",  "Res: -",  "Fps: -",
                                            "Mbps: -", "Sent: -", "Rcvd: -", "Enc:-"};
    return texts;
}

std::string SAStatusBarText::AddressText(const char* label, uint32_t hostOrderAddress, uint16_t port)
{
    return PrivateFormat("%s%u.%u.%u.%u:%u", label, (hostOrderAddress >> 24) & 0xFF,
                         (hostOrderAddress >> 16) & 0xFF, (hostOrderAddress >> 8) & 0xFF,
                         hostOrderAddress & 0xFF, static_cast<unsigned>(port));
}

uint64_t SAStatusBarText::MbpsCompute(uint64_t milliseconds, uint64_t bytes)
{
    if (milliseconds == 0)
        return 0;
    return (bytes * 8) / (milliseconds * 1000);
}

std::string SAStatusBarText::CompressionText(uint32_t compressionType)
{
    switch (compressionType)
    {
    case 0:
        return "Enc:None";
    case 1:
        return "Enc:YUV";
    case 3:
        return "Enc:Software";
    case 4:
        return "Enc:Hardware";
    default:
        return "Compression Error:unknown";
    }
}

SAStatusPaneTexts SAStatusBarText::StatisticsTexts(const SAStatusRenderer& renderer,
                                                   const SANetStatisticsSnapshot& net,
                                                   uint32_t compressionType)
{
    SAStatusPaneTexts texts;
    texts[2] = PrivateFormat("Res:%dx%d", renderer.m_ResolutionX, renderer.m_ResolutionY);
    texts[3] = static_cast<uint32_t>(renderer.m_FramesPerSecond) < 6
                   ? std::string("Fps:-")
                   : PrivateFormat("Fps:%d", renderer.m_FramesPerSecond);
    texts[4] = PrivateFormat("Mbps:%" PRIu64 "/%" PRIu64, MbpsCompute(net.m_IntervalSum, net.m_FrameBytesSum),
                             MbpsCompute(net.m_FrameTimeSum, net.m_FrameBytesSum));
    texts[5] = PrivateFormat("Sent:%" PRIu64, net.m_PacketsSent);
    texts[6] = PrivateFormat("Rcvd:%" PRIu64, net.m_HeadersReceived);
    texts[7] = CompressionText(compressionType);
    return texts;
}
