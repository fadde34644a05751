#include "settings/SASettings.h"

#include "core/SALog.h"
#include "core/SAUtilAddress.h"
#include "settings/SARegistryList.h"
#include "settings/SAUtilRegistry.h"
#include "settings/SAUtilUtf16.h"

#include <cstring>
#include <vector>

namespace
{
constexpr const char* AUTO_CONNECT_IP_LIST = "AutoConnectToIpAddressList";
constexpr const char* AUTO_CONNECT_HOST_NAME = "AutoConnectToHostNameInfo";
constexpr const char* AUDIO_STREAMING_ENABLED = "AudioStreamingEnabled";

constexpr int32_t RESOLUTION_MAX_X_DEFAULT = 7680;
constexpr int32_t RESOLUTION_MAX_Y_DEFAULT = 4320;
constexpr int32_t RESOLUTION_MIN_X_DEFAULT = 800;
constexpr int32_t RESOLUTION_MIN_Y_DEFAULT = 600;
constexpr int32_t RESOLUTION_FALLBACK_X = 1024;
constexpr int32_t RESOLUTION_FALLBACK_Y = 768;

const char* CompressionQualityName(int32_t compressionType)
{
    if (compressionType == SA_SETTINGS_COMPRESSION_JPEG)
        return "CompressionQualityJpeg";
    if (compressionType == SA_SETTINGS_COMPRESSION_H264)
        return "CompressionQualityH264";
    return "CompressionQualityChooseBest";
}

// Areas in 64 bits: stored sizes are whatever an administrator typed.
int64_t Area(int32_t x, int32_t y)
{
    return static_cast<int64_t>(x) * static_cast<int64_t>(y);
}

bool DwordRead(const char* valueName, int32_t& value)
{
    // Raw bytes: a shorter stored value replaces only its own bytes of the
    // little-endian default, a longer one fails and leaves the default.
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    if (!SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, valueName, bytes, sizeof(bytes)))
        return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                                 (static_cast<uint32_t>(bytes[2]) << 16) |
                                 (static_cast<uint32_t>(bytes[3]) << 24));
    return true;
}

bool DwordWrite(const char* key, const char* valueName, int32_t value, uint32_t options)
{
    const uint32_t v = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    return SAUtilRegistryValueSet(key, valueName, REG_DWORD, bytes, sizeof(bytes), options);
}
} // namespace

bool SASettings::PrivateDwordGet(const char* operation, const char* valueName, int32_t& value)
{
    const int32_t fallback = value;
    if (!DwordRead(valueName, value))
    {
        SALog(SA_LOG_FAILURE, "SASettings::%s SAUtilRegistryValueGet failed!\n", operation);
        value = fallback;
        return false;
    }
    return true;
}

bool SASettings::PrivateDwordSet(const char* failureLine, const char* valueName, int32_t value)
{
    if (!DwordWrite(SA_REGISTRY_KEY_MAIN, valueName, value, REG_OPTION_NON_VOLATILE))
    {
        SALog(SA_LOG_FAILURE, "%s", failureLine);
        return false;
    }
    return true;
}

int32_t SASettings::CompressionTypeGet()
{
    int32_t type = SA_SETTINGS_COMPRESSION_CHOOSE_BEST;
    PrivateDwordGet("CompressionTypeGet", "CompressionType", type);
    return type;
}

bool SASettings::CompressionTypeSet(int32_t type)
{
    return PrivateDwordSet("SASettings::CompressionTypeSet failed!\n", "CompressionType", type);
}

int32_t SASettings::CompressionTypeLastKnownUsedGet()
{
    int32_t type = SA_SETTINGS_COMPRESSION_CHOOSE_BEST;
    PrivateDwordGet("CompressionTypeLastKnownUsedGet", "CompressionTypeLastKnownUsed", type);
    return type;
}

bool SASettings::CompressionTypeLastKnownUsedSet(int32_t type)
{
    return PrivateDwordSet("SASettings::CompressionTypeSet failed!\n", "CompressionTypeLastKnownUsed", type);
}

int32_t SASettings::CompressionQualityGet(int32_t compressionType)
{
    int32_t quality = 70;
    PrivateDwordGet("CompressionQualityGet", CompressionQualityName(compressionType), quality);
    return quality;
}

bool SASettings::CompressionQualitySet(int32_t compressionType, int32_t quality)
{
    return PrivateDwordSet("SASettings::CompressionQualitySet failed!\n",
                           CompressionQualityName(compressionType), quality);
}

bool SASettings::QualityChromaSubsamplingSet()
{
    return PrivateDwordSet("SASettings::QualityChromaSubsamplingSet SAUtilRegistryValueSet "
                           "m_JpegCompressionSamplingDesired failed!\n",
                           "CompressionChromaSubsampling", 2);
}

bool SASettings::ImageResolutionReductionSet(int32_t compressionType, bool enable)
{
    const char* name =
        compressionType == SA_SETTINGS_COMPRESSION_JPEG ? "ResolutionReductionSw" : "ResolutionReductionHw";
    return PrivateDwordSet("SASettings::ImageResolutionReductionSet failed!\n", name, enable ? 1 : 0);
}

int32_t SASettings::FramerateGet()
{
    int32_t framerate = 60;
    PrivateDwordGet("FramerateGet", "Framerate", framerate);
    return framerate;
}

bool SASettings::FramerateSet(int32_t framerate)
{
    return PrivateDwordSet("SASettings::FramerateSet SAUtilRegistryValueSet failed!\n", "Framerate",
                           framerate);
}

int32_t SASettings::ResolutionTypeGet()
{
    int32_t type = SA_SETTINGS_RESOLUTION_NATIVE_AND_OTHER;
    PrivateDwordGet("ResolutionTypeGet", "ResolutionType", type);
    if (type > SA_SETTINGS_RESOLUTION_OTHER_ONLY)
        type = SA_SETTINGS_RESOLUTION_NATIVE_AND_OTHER;
    return type;
}

bool SASettings::ResolutionTypeSet(int32_t type)
{
    return PrivateDwordSet("SASettings::ResolutionTypeSet SAUtilRegistryValueSet failed!\n", "ResolutionType",
                           type);
}

void SASettings::ResolutionCustomGet(int32_t& x, int32_t& y)
{
    x = 0;
    y = 0;
    if (!DwordRead("ResolutionCustomX", x))
        SALog(SA_LOG_FAILURE, "SASettings::ResolutionCustomGet SAUtilRegistryValueGet (1) failed!\n");
    if (!DwordRead("ResolutionCustomY", y))
        SALog(SA_LOG_FAILURE, "SASettings::ResolutionCustomGet SAUtilRegistryValueGet (2) failed!\n");
    int32_t maxX = 0;
    int32_t maxY = 0;
    ResolutionMaxSupportedGet(maxX, maxY);
    // Both sides must be positive, not just their product: -1920 x -1080
    // would otherwise be offered to the server as a resolution.
    if (x > 0 && y > 0 && Area(x, y) <= Area(maxX, maxY))
        return;
    x = RESOLUTION_FALLBACK_X;
    y = RESOLUTION_FALLBACK_Y;
}

bool SASettings::ResolutionCustomSet(int32_t x, int32_t y)
{
    const bool okX = PrivateDwordSet("SASettings::ResolutionCustomSet SAUtilRegistryValueSet failed!\n",
                                     "ResolutionCustomX", x);
    const bool okY = PrivateDwordSet("SASettings::ResolutionCustomSet SAUtilRegistryValueSet failed!\n",
                                     "ResolutionCustomY", y);
    return okX && okY;
}

void SASettings::ResolutionMaxSupportedGet(int32_t& x, int32_t& y)
{
    x = 0;
    y = 0;
    PrivateDwordGet("ResolutionMaxSupportedGet", "ResolutionMaxX", x);
    PrivateDwordGet("ResolutionMaxSupportedGet", "ResolutionMaxY", y);
    if (Area(x, y) <= 0)
    {
        x = RESOLUTION_MAX_X_DEFAULT;
        y = RESOLUTION_MAX_Y_DEFAULT;
    }
}

void SASettings::ResolutionMinSupportedGet(int32_t& x, int32_t& y)
{
    x = 0;
    y = 0;
    PrivateDwordGet("ResolutionMinSupportedGet", "ResolutionMinX", x);
    PrivateDwordGet("ResolutionMinSupportedGet", "ResolutionMinY", y);
    if (Area(x, y) < 1)
    {
        x = RESOLUTION_MIN_X_DEFAULT;
        y = RESOLUTION_MIN_Y_DEFAULT;
    }
}

int32_t SASettings::SettingsMenuTouchGet()
{
    int32_t mode = SA_SETTINGS_TOUCH_SCREEN;
    PrivateDwordGet("SettingsMenuTouchGet", "TouchSettings", mode);
    return mode;
}

bool SASettings::SettingsMenuTouchSet(int32_t mode)
{
    return PrivateDwordSet("SASettings::SettingsMenuTouchSet SAUtilRegistryValueSet failed!\n",
                           "TouchSettings", mode);
}

bool SASettings::SettingsOptionEnableGet(const char* valueName)
{
    if (valueName == nullptr)
        return false;
    int32_t value = 0;
    PrivateDwordGet("SettingsOptionEnableGet", valueName, value);
    return value != 0;
}

bool SASettings::SettingsOptionEnableSet(const char* valueName, bool enable)
{
    if (valueName == nullptr)
    {
        SALog(SA_LOG_FAILURE, "SASettings::SettingsOptionEnableSet SettingsMenuTouchSet failed!\n");
        return false;
    }
    return PrivateDwordSet("SASettings::SettingsOptionEnableSet SettingsMenuTouchSet failed!\n", valueName,
                           enable ? 1 : 0);
}

bool SASettings::SettingsAudioOptionEnableGet()
{
    uint8_t bytes[4] = {};
    if (!SAUtilRegistryValueGet(SA_REGISTRY_KEY_AUDIO, AUDIO_STREAMING_ENABLED, bytes, sizeof(bytes)))
    {
        SALog(SA_LOG_FAILURE, "SASettings::SettingsAudioOptionEnableGet SAUtilRegistryValueGet failed!\n");
        return false;
    }
    return (bytes[0] | bytes[1] | bytes[2] | bytes[3]) != 0;
}

bool SASettings::SettingsAudioOptionEnableSet(bool enable)
{
    if (!DwordWrite(SA_REGISTRY_KEY_AUDIO, AUDIO_STREAMING_ENABLED, enable ? 1 : 0, REG_OPTION_VOLATILE))
    {
        SALog(SA_LOG_FAILURE, "SASettings::SettingsAudioOptionEnableSet SAUtilRegistryValueSet failed!\n");
        return false;
    }
    return true;
}

int32_t SASettings::VideoQualityMpegCodecIdGet()
{
    int32_t codecId = 0;
    PrivateDwordGet("VideoQualityMpegCodecIdGet", "MpegCodecId", codecId);
    return codecId;
}

bool SASettings::VideoQualityMpegCodecIdSet(int32_t codecId)
{
    return PrivateDwordSet("SASettings::VideoQualityMpegCodecIdSet SAUtilRegistryValueSet failed!\n",
                           "MpegCodecId", codecId);
}

int32_t SASettings::VideoQualityBitrateGet()
{
    int32_t bitsPerSecond = 15 * 1000 * 1000;
    PrivateDwordGet("VideoQualityBitrateGet", "VideoQualityBitrate", bitsPerSecond);
    return bitsPerSecond;
}

bool SASettings::VideoQualityBitrateSet(int32_t bitsPerSecond)
{
    return PrivateDwordSet("SASettings::VideoQualityBitrateSet SAUtilRegistryValueSet failed!\n",
                           "VideoQualityBitrate", bitsPerSecond);
}

int32_t SASettings::VideoQualityBitrateMbpsGet()
{
    const int32_t mbps = VideoQualityBitrateGet() / (1000 * 1000);
    return (mbps < 1 || mbps > 40) ? 15 : mbps;
}

int32_t SASettings::VideoQualityGOPSizeGet()
{
    int32_t size = 10;
    PrivateDwordGet("VideoQualityGOPSizeGet", "VideoQualityGOPSize", size);
    return (size < 1 || size > 20) ? 10 : size;
}

bool SASettings::VideoQualityGOPSizeSet(int32_t size)
{
    return PrivateDwordSet("SASettings::VideoQualityGOPSizeSet SAUtilRegistryValueSet failed!\n",
                           "VideoQualityGOPSize", size);
}

int32_t SASettings::VideoQualityMotionEstimationSearchRangeGet()
{
    int32_t range = 0;
    PrivateDwordGet("VideoQualityMotionEstimationSearchRangeGet", "VideoQualityMESearchRange", range);
    return (range < 0 || range > 15) ? 4 : range;
}

bool SASettings::VideoQualityMotionEstimationSearchRangeSet(int32_t range)
{
    return PrivateDwordSet(
        "SASettings::VideoQualityMotionEstimationSearchRangeSet SAUtilRegistryValueSet failed!\n",
        "VideoQualityMESearchRange", range);
}

int32_t SASettings::AutoConnectSettingGet()
{
    int32_t setting = SA_SETTINGS_AUTO_CONNECT_OFF;
    PrivateDwordGet("AutoConnectSettingGet", "AutoConnectSetting", setting);
    return setting;
}

bool SASettings::AutoConnectSettingSet(int32_t setting)
{
    return PrivateDwordSet("SASettings::AutoConnectSettingSet SAUtilRegistryValueSet failed!\n",
                           "AutoConnectSetting", setting);
}

bool SASettings::AutoConnectHostIpAddressEnum(int32_t index, uint32_t& hostOrderAddress)
{
    hostOrderAddress = 0;
    SARegistryList list(AUTO_CONNECT_IP_LIST);
    std::string item;
    if (!list.ItemRetrieve(index, item))
    {
        // The normal end of an enumeration, so a detail trace rather than a failure.
        SALog(SA_LOG_REGISTRY,
              "SASettings::AutoConnectHostIpAddressEnum RegistryList.ItemRetrieve failed!\n");
        return false;
    }
    if (!item.empty() && !SAUtilAddressParse(item, hostOrderAddress))
    {
        SALog(SA_LOG_FAILURE, "SAWndDlgAutoConnect::AutoConnectHostIpAddressEnum InetPton failed! %d\n", 0);
        hostOrderAddress = 0;
    }
    return hostOrderAddress != 0;
}

bool SASettings::AutoConnectHostInfoGet(int32_t setting, std::string& name)
{
    name.clear();
    if (setting != SA_SETTINGS_AUTO_CONNECT_HOST_NAME)
    {
        SALog(SA_LOG_FAILURE, "SASettings::AutoConnectHostInfoGet failed! Unsupported AutoConnectSetting\n");
        SALog(SA_LOG_FAILURE, "SASettings::AutoConnectHostInfoGet SAUtilRegistryValueGet failed!\n");
        return false;
    }
    // 64 bytes zeroed, read with a capacity of 32: names of up to 15
    // characters come back with their terminator.
    uint8_t buffer[64] = {};
    if (!SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, AUTO_CONNECT_HOST_NAME, buffer, 32))
    {
        SALog(SA_LOG_FAILURE, "SASettings::AutoConnectHostInfoGet SAUtilRegistryValueGet failed!\n");
        return false;
    }
    name = SAUtilUtf8FromUtf16LeBytes(buffer, sizeof(buffer));
    if (name.empty())
    {
        SALog(SA_LOG_FAILURE, "SASettings::AutoConnectHostInfoGet failed! Invalid Host name\n");
        return false;
    }
    return true;
}

bool SASettings::AutoConnectHostInfoSet(int32_t setting, const std::string& text)
{
    bool ok = false;
    if (setting == SA_SETTINGS_AUTO_CONNECT_IP_LIST)
    {
        SARegistryList list(AUTO_CONNECT_IP_LIST);
        ok = list.ItemInsert(text);
    }
    else if (setting == SA_SETTINGS_AUTO_CONNECT_HOST_NAME)
    {
        const std::vector<uint8_t> bytes = SAUtilUtf16LeBytesFromUtf8(text);
        ok = SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, AUTO_CONNECT_HOST_NAME, REG_SZ, bytes.data(),
                                    static_cast<uint32_t>(bytes.size()), REG_OPTION_NON_VOLATILE);
    }
    else
    {
        SALog(SA_LOG_FAILURE, "SASettings::AutoConnectHostInfoSet failed! Unsupported AutoConnectSetting\n");
    }
    if (!ok)
        SALog(SA_LOG_FAILURE, "SASettings::AutoConnectHostInfoSet failed!\n");
    return ok;
}

bool SASettings::LogoFileNameGet(std::string& name)
{
    name.clear();
    uint8_t buffer[1024] = {};
    if (!SAUtilRegistryValueGet(SA_REGISTRY_KEY_MAIN, "LogoFileName", buffer, 512))
    {
        SALog(SA_LOG_FAILURE, "SASettings::LogoFileNameGet SAUtilRegistryValueGet failed!\n");
        return false;
    }
    name = SAUtilUtf8FromUtf16LeBytes(buffer, sizeof(buffer));
    if (name.empty())
    {
        SALog(SA_LOG_FAILURE, "SASettings::LogoFileNameGet failed! Invalid Filename\n");
        return false;
    }
    return true;
}

bool SASettings::LogoFileNameSet(const std::string& name)
{
    const std::vector<uint8_t> bytes = SAUtilUtf16LeBytesFromUtf8(name);
    if (!SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, "LogoFileName", REG_SZ, bytes.data(),
                                static_cast<uint32_t>(bytes.size()), REG_OPTION_NON_VOLATILE))
    {
        SALog(SA_LOG_FAILURE, "SASettings::LogoFileNameSet failed!\n");
        return false;
    }
    return true;
}

bool SASettings::MenuAdvancedEnableGet()
{
    int32_t value = 0;
    PrivateDwordGet("MenuAdvancedEnableGet", "MenuAdvancedEnable", value);
    return value != 0;
}

bool SASettings::Clear()
{
    int32_t error = SAUtilRegistryTreeDelete(SA_REGISTRY_KEY_AUDIO);
    if (error != ERROR_SUCCESS)
        SALog(SA_LOG_FAILURE, "SASettings::Clear failed! RegDeleteTree %s %d\n", SA_REGISTRY_KEY_AUDIO,
              error);
    error = SAUtilRegistryKeyOpen(SA_REGISTRY_KEY_MAIN);
    if (error != ERROR_SUCCESS)
    {
        SALog(SA_LOG_FAILURE, "SASettings::Clear failed! RegOpenKeyExW %d\n", error);
        return false;
    }
    // Names first, deletions afterwards, so the listing is not disturbed.
    std::vector<SAUtilRegistryValue> values;
    error = SAUtilRegistryValueEnum(SA_REGISTRY_KEY_MAIN, values);
    if (error != ERROR_SUCCESS)
    {
        SALog(SA_LOG_FAILURE, "SASettings::Clear failed! RegQueryInfoKeyW %d\n", error);
        return false;
    }
    bool ok = true;
    for (const SAUtilRegistryValue& value : values)
    {
        error = SAUtilRegistryValueDelete(SA_REGISTRY_KEY_MAIN, value.name);
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
        {
            SALog(SA_LOG_FAILURE, "SASettings::Clear failed! RegDeleteValueW %s %d\n", value.name.c_str(),
                  error);
            ok = false;
        }
    }
    return ok;
}
