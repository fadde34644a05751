#include "settings/SAWndDlgResolution.h"

#include "core/SALog.h"
#include "settings/SADisplayModeProvider.h"
#include "settings/SASettings.h"

namespace
{
constexpr int32_t FALLBACK_WIDTH = 1024;
constexpr int32_t FALLBACK_HEIGHT = 768;

struct Size
{
    int32_t width;
    int32_t height;
};

constexpr Size RESOLUTION_TABLE[SA_RESOLUTION_TABLE_COUNT] = {
    {800, 600},   {1024, 600},  {1024, 768},  {1152, 864},  {1280, 720},  {1280, 768},  {1280, 800},
    {1280, 960},  {1280, 1024}, {1360, 768},  {1366, 768},  {1400, 1050}, {1440, 900},  {1600, 900},
    {1600, 1200}, {1680, 1050}, {1920, 1080}, {1920, 1200}, {2048, 1152}, {2048, 1536}, {2280, 1080},
    {2400, 1080}, {2560, 1440}, {2560, 1600}, {2560, 1920}, {2736, 1824}, {3840, 2160}, {4096, 2160},
};
} // namespace

void SAWndDlgResolution::PrivateDisplaySettingsGet(int32_t& width, int32_t& height)
{
    int32_t currentWidth = 0;
    int32_t currentHeight = 0;
    if (!SADisplayModeProvider::ProviderDisplayModeGet(currentWidth, currentHeight))
        SALog(SA_LOG_FAILURE,
              "SAWndDlgResolution::PrivateDisplaySettingsGet DisplayModeCurrentGet failed! %d\n", 0);
    int32_t maxWidth = 0;
    int32_t maxHeight = 0;
    SASettings::ResolutionMaxSupportedGet(maxWidth, maxHeight);
    const int64_t area = static_cast<int64_t>(currentWidth) * currentHeight;
    // A negative size from a provider is as unusable as none.
    if (currentWidth > 0 && currentHeight > 0 && area <= static_cast<int64_t>(maxWidth) * maxHeight)
    {
        width = currentWidth;
        height = currentHeight;
        return;
    }
    SALog(SA_LOG_FAILURE,
          "SAWndDlgResolution::PrivateDisplaySettingsGet failed! Max:%dx%d Current:%dx%d switching to "
          "default:%dx%d\n",
          maxWidth, maxHeight, currentWidth, currentHeight, FALLBACK_WIDTH, FALLBACK_HEIGHT);
    width = FALLBACK_WIDTH;
    height = FALLBACK_HEIGHT;
}

bool SAWndDlgResolution::ResolutionGet(int32_t index, int32_t& width, int32_t& height)
{
    width = 0;
    height = 0;
    if (index == 0)
    {
        PrivateDisplaySettingsGet(width, height);
        return true;
    }
    if (index == 1)
    {
        SASettings::ResolutionCustomGet(width, height);
        return true;
    }
    SALog(SA_LOG_FAILURE, "SAWndDlgResolution::ResolutionGet failed! Invalid index:%d\n", index);
    return false;
}

int32_t SAWndDlgResolution::ResolutionsOfferedGet(int32_t widths[SA_RESOLUTION_OFFERED_MAX],
                                                  int32_t heights[SA_RESOLUTION_OFFERED_MAX])
{
    int32_t indexes[SA_RESOLUTION_OFFERED_MAX] = {};
    int32_t count = 0;
    switch (SASettings::ResolutionTypeGet())
    {
    case SA_SETTINGS_RESOLUTION_NATIVE_AND_OTHER:
        indexes[count++] = 0;
        indexes[count++] = 1;
        break;
    case SA_SETTINGS_RESOLUTION_NATIVE_ONLY:
        indexes[count++] = 0;
        break;
    case SA_SETTINGS_RESOLUTION_OTHER_ONLY:
        indexes[count++] = 1;
        break;
    default:
        break; // negative: nothing is offered
    }
    int32_t offered = 0;
    for (int32_t i = 0; i < count; ++i)
    {
        if (ResolutionGet(indexes[i], widths[offered], heights[offered]))
            ++offered;
    }
    return offered;
}

bool SAWndDlgResolution::ResolutionTableGet(int32_t index, int32_t& width, int32_t& height)
{
    if (index < 0 || index >= SA_RESOLUTION_TABLE_COUNT)
        return false;
    width = RESOLUTION_TABLE[index].width;
    height = RESOLUTION_TABLE[index].height;
    return true;
}
