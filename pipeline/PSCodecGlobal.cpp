#include "pipeline/PSCodecGlobal.h"

#include "core/SALog.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <cstdio>
#include <mutex>

namespace
{
void PrivateAvLog(void* avcl, int level, const char* format, va_list arguments)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    int prefix = 1;
    // av_log_format_line2 keeps libavcodec's "[h264 @ 0x...]" context prefix,
    // which tells the decoder instances apart.
    av_log_format_line2(avcl, level, format, arguments, line, sizeof(line), &prefix);
    SALog(SA_LOG_CODEC, "libavcodec: %s", line);
}
} // namespace

bool PSCodecGlobal::IsInstalled()
{
    if (avcodec_find_decoder(AV_CODEC_ID_H264) == nullptr)
    {
        SALog(SA_LOG_FAILURE, "PSCodecGlobal::IsInstalled failed! avcodec_find_decoder h264\n");
        return false;
    }
    return true;
}

void PSCodecGlobal::LogRoute()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(PrivateAvLog); });
}
