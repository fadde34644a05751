#pragma once
// Every persistent setting of the viewer, read and written through the
// registry store (settings/SAUtilRegistry.h). There is no in-memory copy:
// each getter reads the store when called and falls back to its default when
// the value is absent or unreadable; each setter writes at once. Failures are
// logged, never thrown and never shown to the user.
//
// Threads: stateless and callable from any thread of any process; the store
// serialises the accesses (see SAUtilRegistry.h). Values of the main key are
// shared by every viewer process of the user.
#include <cstdint>
#include <string>

// On/off values for SettingsOptionEnableGet/Set.
constexpr const char* SA_SETTINGS_KEYBOARD_ENABLE = "KeyboardEnable";
constexpr const char* SA_SETTINGS_MOUSE_TOUCH_ENABLE = "MouseTouchEnable";
constexpr const char* SA_SETTINGS_MENU_AUDIO_ENABLED = "MenuAudioEnabled";
constexpr const char* SA_SETTINGS_FULL_SCREEN_UPON_CONNECT_ENABLE = "FullScreenUponConnectEnable";
constexpr const char* SA_SETTINGS_KEEP_MONITOR_ACTIVE_ENABLE = "KeepMonitorActiveEnable";
constexpr const char* SA_SETTINGS_LOCAL_HOST_CONNECTION_ENABLE = "LocalHostConnectionEnable";
constexpr const char* SA_SETTINGS_LOGO_ENABLE = "LogoEnable";
constexpr const char* SA_SETTINGS_CUSTOMER_SPECIFIC_01 = "CustomerSpecific01";
constexpr const char* SA_SETTINGS_CUSTOMER_SPECIFIC_02 = "CustomerSpecific02";

// Compression types (CompressionType).
constexpr int32_t SA_SETTINGS_COMPRESSION_NONE = 0;
constexpr int32_t SA_SETTINGS_COMPRESSION_YUV = 1;
constexpr int32_t SA_SETTINGS_COMPRESSION_JPEG = 3;
constexpr int32_t SA_SETTINGS_COMPRESSION_H264 = 4;
constexpr int32_t SA_SETTINGS_COMPRESSION_CHOOSE_BEST = 5;

// Resolution types (ResolutionType): which resolutions the connect request offers.
constexpr int32_t SA_SETTINGS_RESOLUTION_NATIVE_AND_OTHER = 0;
constexpr int32_t SA_SETTINGS_RESOLUTION_NATIVE_ONLY = 1;
constexpr int32_t SA_SETTINGS_RESOLUTION_OTHER_ONLY = 2;

// Touch modes (TouchSettings).
constexpr int32_t SA_SETTINGS_TOUCH_SCREEN = 0;
constexpr int32_t SA_SETTINGS_TOUCH_PAD = 1;
constexpr int32_t SA_SETTINGS_TOUCH_OFF = 2;

// Auto-connect modes (AutoConnectSetting).
constexpr int32_t SA_SETTINGS_AUTO_CONNECT_OFF = 0;
constexpr int32_t SA_SETTINGS_AUTO_CONNECT_IP_LIST = 1;
constexpr int32_t SA_SETTINGS_AUTO_CONNECT_HOST_NAME = 2;

// Video codec ids (MpegCodecId).
constexpr int32_t SA_SETTINGS_MPEG_CODEC_MPEG1 = 1;
constexpr int32_t SA_SETTINGS_MPEG_CODEC_MPEG2 = 2;
constexpr int32_t SA_SETTINGS_MPEG_CODEC_H264 = 28;

class SASettings
{
public:
    // CompressionType, default 5; any stored number is passed on unchanged.
    static int32_t CompressionTypeGet();
    // Writes CompressionType only.
    static bool CompressionTypeSet(int32_t type);
    // CompressionTypeLastKnownUsed, default 5: the last non-zero type confirmed
    // in the Quality dialog. The dialog writes it itself on "OK" (when its type
    // is not 0) and reads it when compression is switched back on.
    static int32_t CompressionTypeLastKnownUsedGet();
    static bool CompressionTypeLastKnownUsedSet(int32_t type);

    // Quality 1..100 (default 70) per compression type: 3 uses
    // CompressionQualityJpeg, 4 CompressionQualityH264, every other type
    // CompressionQualityChooseBest.
    static int32_t CompressionQualityGet(int32_t compressionType);
    static bool CompressionQualitySet(int32_t compressionType, int32_t quality);

    // Writes CompressionChromaSubsampling = 2.
    static bool QualityChromaSubsamplingSet();
    // Writes ResolutionReductionSw (type 3) or ResolutionReductionHw (others) as 1 or 0.
    static bool ImageResolutionReductionSet(int32_t compressionType, bool enable);

    // Framerate, default 60, no range check.
    static int32_t FramerateGet();
    static bool FramerateSet(int32_t framerate);

    // ResolutionType, default 0; a stored value above 2 reads as 0.
    static int32_t ResolutionTypeGet();
    static bool ResolutionTypeSet(int32_t type);

    // ResolutionCustomX/Y. Get: a size with a side that is not positive, or
    // whose area exceeds the maximum area, reads as 1024 x 768 (only areas
    // are compared with the maximum: 8000 x 100 passes 7680 x 4320).
    static void ResolutionCustomGet(int32_t& x, int32_t& y);
    static bool ResolutionCustomSet(int32_t x, int32_t y);
    // ResolutionMaxX/Y; 7680 x 4320 when their product is not positive.
    static void ResolutionMaxSupportedGet(int32_t& x, int32_t& y);
    // ResolutionMinX/Y; 800 x 600 when their product is below 1.
    static void ResolutionMinSupportedGet(int32_t& x, int32_t& y);

    // TouchSettings, default 0.
    static int32_t SettingsMenuTouchGet();
    static bool SettingsMenuTouchSet(int32_t mode);

    // One of the SA_SETTINGS_* on/off value names above: false when absent,
    // else non-zero. Set writes 1 or 0.
    static bool SettingsOptionEnableGet(const char* valueName);
    static bool SettingsOptionEnableSet(const char* valueName, bool enable);

    // AudioStreamingEnabled in the volatile "\Audio" key.
    static bool SettingsAudioOptionEnableGet();
    static bool SettingsAudioOptionEnableSet(bool enable);

    // MpegCodecId, default 0 (raw; the dialog shows 0 as 1).
    static int32_t VideoQualityMpegCodecIdGet();
    static bool VideoQualityMpegCodecIdSet(int32_t codecId);
    // VideoQualityBitrate in bits per second, default 15,000,000 (raw).
    static int32_t VideoQualityBitrateGet();
    static bool VideoQualityBitrateSet(int32_t bitsPerSecond);
    // The bit rate as the dialog shows it: bits / 1,000,000, replaced by 15
    // outside 1..40.
    static int32_t VideoQualityBitrateMbpsGet();
    // VideoQualityGOPSize, default 10; outside 1..20 reads as 10.
    static int32_t VideoQualityGOPSizeGet();
    static bool VideoQualityGOPSizeSet(int32_t size);
    // VideoQualityMESearchRange, default 0; outside 0..15 reads as 4.
    static int32_t VideoQualityMotionEstimationSearchRangeGet();
    static bool VideoQualityMotionEstimationSearchRangeSet(int32_t range);

    // AutoConnectSetting, default 0, no range check.
    static int32_t AutoConnectSettingGet();
    static bool AutoConnectSettingSet(int32_t setting);
    // Item `index` of AutoConnectToIpAddressList as a host-order address.
    // False at the end of the list and at the first item that is not a
    // non-zero IPv4 address, so callers enumerate 0, 1, 2, ... until false.
    static bool AutoConnectHostIpAddressEnum(int32_t index, uint32_t& hostOrderAddress);
    // Setting 2 only: AutoConnectToHostNameInfo (names of at most 15 characters).
    static bool AutoConnectHostInfoGet(int32_t setting, std::string& name);
    // Setting 1 inserts `text` at the front of AutoConnectToIpAddressList;
    // setting 2 writes it to AutoConnectToHostNameInfo.
    static bool AutoConnectHostInfoSet(int32_t setting, const std::string& text);

    // LogoFileName; false when absent, empty, or 256 characters or longer.
    static bool LogoFileNameGet(std::string& name);
    static bool LogoFileNameSet(const std::string& name);

    // MenuAdvancedEnable; false when absent. Never written by the viewer.
    static bool MenuAdvancedEnableGet();

    // Deletes the "\Audio" key and every value of the main key; the main key
    // and its other subkeys remain.
    static bool Clear();

private:
    static bool PrivateDwordGet(const char* operation, const char* valueName, int32_t& value);
    static bool PrivateDwordSet(const char* failureLine, const char* valueName, int32_t value);
};
