// SASettings and SARegistryList against a real store: defaults of an empty
// store, range rules, raw-byte reads of odd values, the list's edge cases and
// Clear.
#include "settings/SARegistryList.h"
#include "settings/SASettings.h"
#include "settings/SAUtilRegistry.h"
#include "settings/SAUtilUtf16.h"

#include "SettingsTestStore.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
const char* MAIN = SA_REGISTRY_KEY_MAIN;
const char* IP_LIST = "AutoConnectToIpAddressList";

void DwordStore(const char* name, int32_t value)
{
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, name, REG_DWORD, &value, 4, REG_OPTION_NON_VOLATILE));
}

std::vector<std::string> Items(const char* name)
{
    SARegistryList list(name);
    std::vector<std::string> items;
    std::string item;
    for (int32_t i = 0; list.ItemRetrieve(i, item); ++i)
        items.push_back(item);
    return items;
}

std::vector<uint8_t> Raw(const char* name)
{
    uint32_t size = 0;
    if (SAUtilRegistryValueQuery(MAIN, name, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::vector<uint8_t> data(size);
    SAUtilRegistryValueQuery(MAIN, name, nullptr, data.data(), &size);
    return data;
}

// Writes a list value directly, items each ended by a null.
void ListStore(const char* name, const std::vector<std::u16string>& items,
               uint32_t bytes = SA_REGISTRY_LIST_BYTES)
{
    std::vector<uint8_t> data;
    for (const std::u16string& item : items)
    {
        for (char16_t unit : item)
        {
            data.push_back(static_cast<uint8_t>(unit & 0xFF));
            data.push_back(static_cast<uint8_t>(unit >> 8));
        }
        data.push_back(0);
        data.push_back(0);
    }
    data.resize(std::max<size_t>(data.size(), bytes), 0);
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, name, REG_MULTI_SZ, data.data(),
                                       static_cast<uint32_t>(data.size()), REG_OPTION_NON_VOLATILE));
}
} // namespace

using SettingsValues = SettingsTestStore;

TEST_F(SettingsValues, EmptyStoreGivesEveryDefault)
{
    EXPECT_EQ(SASettings::CompressionTypeGet(), 5);
    EXPECT_EQ(SASettings::CompressionTypeLastKnownUsedGet(), 5);
    for (int32_t type : {0, 1, 3, 4, 5, 77})
        EXPECT_EQ(SASettings::CompressionQualityGet(type), 70);
    EXPECT_EQ(SASettings::FramerateGet(), 60);
    EXPECT_EQ(SASettings::ResolutionTypeGet(), 0);
    int32_t x = -1;
    int32_t y = -1;
    SASettings::ResolutionCustomGet(x, y);
    EXPECT_EQ(x, 1024);
    EXPECT_EQ(y, 768);
    SASettings::ResolutionMaxSupportedGet(x, y);
    EXPECT_EQ(x, 7680);
    EXPECT_EQ(y, 4320);
    SASettings::ResolutionMinSupportedGet(x, y);
    EXPECT_EQ(x, 800);
    EXPECT_EQ(y, 600);
    EXPECT_EQ(SASettings::SettingsMenuTouchGet(), 0);
    for (const char* name :
         {SA_SETTINGS_KEYBOARD_ENABLE, SA_SETTINGS_MOUSE_TOUCH_ENABLE, SA_SETTINGS_MENU_AUDIO_ENABLED,
          SA_SETTINGS_FULL_SCREEN_UPON_CONNECT_ENABLE, SA_SETTINGS_KEEP_MONITOR_ACTIVE_ENABLE,
          SA_SETTINGS_LOCAL_HOST_CONNECTION_ENABLE, SA_SETTINGS_LOGO_ENABLE, SA_SETTINGS_CUSTOMER_SPECIFIC_01,
          SA_SETTINGS_CUSTOMER_SPECIFIC_02})
        EXPECT_FALSE(SASettings::SettingsOptionEnableGet(name)) << name;
    EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
    EXPECT_EQ(SASettings::VideoQualityMpegCodecIdGet(), 0);
    EXPECT_EQ(SASettings::VideoQualityBitrateGet(), 15000000);
    EXPECT_EQ(SASettings::VideoQualityBitrateMbpsGet(), 15);
    EXPECT_EQ(SASettings::VideoQualityGOPSizeGet(), 10);
    EXPECT_EQ(SASettings::VideoQualityMotionEstimationSearchRangeGet(), 0);
    EXPECT_EQ(SASettings::AutoConnectSettingGet(), 0);
    uint32_t address = 123;
    EXPECT_FALSE(SASettings::AutoConnectHostIpAddressEnum(0, address));
    EXPECT_EQ(address, 0u);
    std::string text = "x";
    EXPECT_FALSE(SASettings::AutoConnectHostInfoGet(2, text));
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(SASettings::LogoFileNameGet(text));
    EXPECT_FALSE(SASettings::MenuAdvancedEnableGet());
    EXPECT_EQ(LogCount("SASettings::FramerateGet SAUtilRegistryValueGet failed!\n", SA_LOG_FAILURE), 1);
    EXPECT_EQ(
        LogCount("SASettings::ResolutionCustomGet SAUtilRegistryValueGet (1) failed!\n", SA_LOG_FAILURE), 1);
    EXPECT_EQ(
        LogCount("SASettings::ResolutionCustomGet SAUtilRegistryValueGet (2) failed!\n", SA_LOG_FAILURE), 1);
    EXPECT_EQ(LogCount("SASettings::LogoFileNameGet SAUtilRegistryValueGet failed!\n", SA_LOG_FAILURE), 1);
    EXPECT_EQ(LogCount("SASettings::AutoConnectHostInfoGet SAUtilRegistryValueGet failed!\n", SA_LOG_FAILURE),
              1);
}

TEST_F(SettingsValues, SettersStoreDwordsThatGettersReturn)
{
    EXPECT_TRUE(SASettings::CompressionTypeSet(0));
    EXPECT_TRUE(SASettings::CompressionTypeLastKnownUsedSet(4));
    EXPECT_EQ(SASettings::CompressionTypeGet(), 0);
    EXPECT_EQ(SASettings::CompressionTypeLastKnownUsedGet(), 4);
    EXPECT_TRUE(SASettings::CompressionQualitySet(3, 40));
    EXPECT_TRUE(SASettings::CompressionQualitySet(4, 50));
    EXPECT_TRUE(SASettings::CompressionQualitySet(1, 60));
    EXPECT_EQ(SASettings::CompressionQualityGet(3), 40);
    EXPECT_EQ(SASettings::CompressionQualityGet(4), 50);
    EXPECT_EQ(SASettings::CompressionQualityGet(5), 60); // shared by every other type
    EXPECT_EQ(Raw("CompressionQualityJpeg"), std::vector<uint8_t>({40, 0, 0, 0}));
    EXPECT_EQ(Raw("CompressionQualityH264"), std::vector<uint8_t>({50, 0, 0, 0}));
    EXPECT_EQ(Raw("CompressionQualityChooseBest"), std::vector<uint8_t>({60, 0, 0, 0}));
    EXPECT_TRUE(SASettings::QualityChromaSubsamplingSet());
    EXPECT_EQ(Raw("CompressionChromaSubsampling"), std::vector<uint8_t>({2, 0, 0, 0}));
    EXPECT_TRUE(SASettings::ImageResolutionReductionSet(3, true));
    EXPECT_TRUE(SASettings::ImageResolutionReductionSet(5, false));
    EXPECT_EQ(Raw("ResolutionReductionSw"), std::vector<uint8_t>({1, 0, 0, 0}));
    EXPECT_EQ(Raw("ResolutionReductionHw"), std::vector<uint8_t>({0, 0, 0, 0}));
    EXPECT_TRUE(SASettings::FramerateSet(1000)); // no range check
    EXPECT_EQ(SASettings::FramerateGet(), 1000);
    EXPECT_TRUE(SASettings::SettingsMenuTouchSet(2));
    EXPECT_EQ(SASettings::SettingsMenuTouchGet(), 2);
    EXPECT_TRUE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_KEYBOARD_ENABLE, true));
    EXPECT_TRUE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_KEYBOARD_ENABLE));
    EXPECT_EQ(Raw("KeyboardEnable"), std::vector<uint8_t>({1, 0, 0, 0}));
    DwordStore("MouseTouchEnable", 7); // any non-zero value is on
    EXPECT_TRUE(SASettings::SettingsOptionEnableGet(SA_SETTINGS_MOUSE_TOUCH_ENABLE));
    EXPECT_TRUE(SASettings::AutoConnectSettingSet(9)); // no range check
    EXPECT_EQ(SASettings::AutoConnectSettingGet(), 9);
    EXPECT_TRUE(SASettings::VideoQualityMpegCodecIdSet(28));
    EXPECT_EQ(SASettings::VideoQualityMpegCodecIdGet(), 28);
    EXPECT_TRUE(SASettings::VideoQualityBitrateSet(27500000));
    EXPECT_EQ(SASettings::VideoQualityBitrateGet(), 27500000);
    EXPECT_EQ(SASettings::VideoQualityBitrateMbpsGet(), 27);
    DwordStore("MenuAdvancedEnable", 1);
    EXPECT_TRUE(SASettings::MenuAdvancedEnableGet());
    EXPECT_TRUE(SASettings::ResolutionCustomSet(1280, 720));
    int32_t x = 0;
    int32_t y = 0;
    SASettings::ResolutionCustomGet(x, y);
    EXPECT_EQ(x, 1280);
    EXPECT_EQ(y, 720);
}

TEST_F(SettingsValues, RangeRulesCorrectOnReading)
{
    DwordStore("ResolutionType", 7);
    EXPECT_EQ(SASettings::ResolutionTypeGet(), 0);
    DwordStore("ResolutionType", 2);
    EXPECT_EQ(SASettings::ResolutionTypeGet(), 2);
    DwordStore("ResolutionType", -1);
    EXPECT_EQ(SASettings::ResolutionTypeGet(), -1);

    int32_t x = 0;
    int32_t y = 0;
    const struct
    {
        int32_t x, y, expectX, expectY;
    } custom[] = {
        {1920, 0, 1024, 768},      {7680, 4320, 7680, 4320},
        {7681, 4320, 1024, 768},   {8000, 100, 8000, 100}, // only areas are compared
        {0, 0, 1024, 768},         {-1920, 1080, 1024, 768},
        {-1920, -1080, 1024, 768}, // a positive area, but no screen has negative sides
    };
    for (const auto& c : custom)
    {
        ASSERT_TRUE(SASettings::ResolutionCustomSet(c.x, c.y));
        SASettings::ResolutionCustomGet(x, y);
        EXPECT_EQ(x, c.expectX) << c.x << "x" << c.y;
        EXPECT_EQ(y, c.expectY) << c.x << "x" << c.y;
    }
    // Areas beyond 32 bits do not wrap into acceptance.
    ASSERT_TRUE(SASettings::ResolutionCustomSet(65536, 65537));
    SASettings::ResolutionCustomGet(x, y);
    EXPECT_EQ(x, 1024);
    EXPECT_EQ(y, 768);

    DwordStore("ResolutionMaxX", 1920);
    DwordStore("ResolutionMaxY", 1080);
    ASSERT_TRUE(SASettings::ResolutionCustomSet(2560, 1440));
    SASettings::ResolutionCustomGet(x, y);
    EXPECT_EQ(x, 1024);
    SASettings::ResolutionMaxSupportedGet(x, y);
    EXPECT_EQ(x, 1920);
    EXPECT_EQ(y, 1080);
    DwordStore("ResolutionMaxY", 0);
    SASettings::ResolutionMaxSupportedGet(x, y);
    EXPECT_EQ(x, 7680);
    EXPECT_EQ(y, 4320);
    DwordStore("ResolutionMinX", 640);
    DwordStore("ResolutionMinY", 480);
    SASettings::ResolutionMinSupportedGet(x, y);
    EXPECT_EQ(x, 640);
    EXPECT_EQ(y, 480);
    DwordStore("ResolutionMinY", -480);
    SASettings::ResolutionMinSupportedGet(x, y);
    EXPECT_EQ(x, 800);
    EXPECT_EQ(y, 600);

    DwordStore("VideoQualityGOPSize", 21);
    EXPECT_EQ(SASettings::VideoQualityGOPSizeGet(), 10);
    DwordStore("VideoQualityGOPSize", 20);
    EXPECT_EQ(SASettings::VideoQualityGOPSizeGet(), 20);
    DwordStore("VideoQualityMESearchRange", 16);
    EXPECT_EQ(SASettings::VideoQualityMotionEstimationSearchRangeGet(), 4);
    DwordStore("VideoQualityMESearchRange", -1);
    EXPECT_EQ(SASettings::VideoQualityMotionEstimationSearchRangeGet(), 4);
    DwordStore("VideoQualityMESearchRange", 15);
    EXPECT_EQ(SASettings::VideoQualityMotionEstimationSearchRangeGet(), 15);
    DwordStore("VideoQualityBitrate", 41000000);
    EXPECT_EQ(SASettings::VideoQualityBitrateMbpsGet(), 15);
    EXPECT_EQ(SASettings::VideoQualityBitrateGet(), 41000000);
}

TEST_F(SettingsValues, OddStoredValuesAreReadAsRawBytes)
{
    // A 4-byte REG_SZ "AB" with its terminator... is 6 bytes: too long, default.
    const std::vector<uint8_t> text = SAUtilUtf16LeBytesFromUtf8("AB");
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, "Framerate", REG_SZ, text.data(), 4, 0));
    EXPECT_EQ(SASettings::FramerateGet(), 60);
    EXPECT_EQ(LogCount("SAUtilRegistryValueGet RegQueryValueExW failed! Framerate 234\n", SA_LOG_FAILURE), 1);
    EXPECT_EQ(LogCount("SASettings::FramerateGet SAUtilRegistryValueGet failed!\n", SA_LOG_FAILURE), 1);
    // A 4-byte binary value is taken as the number it spells.
    const uint8_t bytes[4] = {0x1E, 0, 0, 0};
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, "Framerate", REG_BINARY, bytes, 4, 0));
    EXPECT_EQ(SASettings::FramerateGet(), 30);
    // Eight bytes: ERROR_MORE_DATA, default.
    const uint8_t eight[8] = {90, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, "CompressionType", REG_BINARY, eight, 8, 0));
    EXPECT_EQ(SASettings::CompressionTypeGet(), 5);
    // Two bytes replace the low bytes of the default only.
    const uint8_t two[2] = {0x01, 0x01};
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, "CompressionType", REG_BINARY, two, 2, 0));
    EXPECT_EQ(SASettings::CompressionTypeGet(), 0x0101);
    // A negative DWORD is signed.
    DwordStore("CompressionType", -2);
    EXPECT_EQ(SASettings::CompressionTypeGet(), -2);
}

TEST_F(SettingsValues, HostNameAndLogoTextsRespectTheirBuffers)
{
    EXPECT_TRUE(SASettings::AutoConnectHostInfoSet(2, "fifteen-chars15"));
    // Stored without a terminator.
    EXPECT_EQ(Raw("AutoConnectToHostNameInfo").size(), 32u); // 30 + the appended terminator
    uint32_t size = 0;
    uint32_t type = 0;
    ASSERT_EQ(SAUtilRegistryValueQuery(MAIN, "AutoConnectToHostNameInfo", &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    std::vector<SAUtilRegistryValue> values;
    ASSERT_EQ(SAUtilRegistryValueEnum(MAIN, values), ERROR_SUCCESS);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].data.size(), 30u);
    std::string name;
    EXPECT_TRUE(SASettings::AutoConnectHostInfoGet(2, name));
    EXPECT_EQ(name, "fifteen-chars15");

    EXPECT_TRUE(SASettings::AutoConnectHostInfoSet(2, "sixteen-chars-16"));
    LogClear();
    EXPECT_FALSE(SASettings::AutoConnectHostInfoGet(2, name));
    EXPECT_TRUE(name.empty());
    EXPECT_EQ(LogCount("SASettings::AutoConnectHostInfoGet SAUtilRegistryValueGet failed!\n", SA_LOG_FAILURE),
              1);

    EXPECT_FALSE(SASettings::AutoConnectHostInfoGet(1, name));
    EXPECT_EQ(LogCount("SASettings::AutoConnectHostInfoGet failed! Unsupported AutoConnectSetting\n",
                       SA_LOG_FAILURE),
              1);
    EXPECT_FALSE(SASettings::AutoConnectHostInfoSet(3, "x"));
    EXPECT_EQ(LogCount("SASettings::AutoConnectHostInfoSet failed! Unsupported AutoConnectSetting\n",
                       SA_LOG_FAILURE),
              1);
    EXPECT_EQ(LogCount("SASettings::AutoConnectHostInfoSet failed!\n", SA_LOG_FAILURE), 1);
    EXPECT_TRUE(SASettings::AutoConnectHostInfoSet(2, ""));
    EXPECT_FALSE(SASettings::AutoConnectHostInfoGet(2, name));
    EXPECT_EQ(LogCount("SASettings::AutoConnectHostInfoGet failed! Invalid Host name\n", SA_LOG_FAILURE), 1);

    const std::string path255 = "/" + std::string(254, 'p');
    EXPECT_TRUE(SASettings::LogoFileNameSet(path255));
    EXPECT_TRUE(SASettings::LogoFileNameGet(name));
    EXPECT_EQ(name, path255);
    EXPECT_TRUE(SASettings::LogoFileNameSet(path255 + "q"));
    EXPECT_FALSE(SASettings::LogoFileNameGet(name));
    EXPECT_TRUE(SASettings::LogoFileNameSet(""));
    EXPECT_FALSE(SASettings::LogoFileNameGet(name));
    EXPECT_EQ(LogCount("SASettings::LogoFileNameGet failed! Invalid Filename\n", SA_LOG_FAILURE), 1);
    const std::string accented = "/home/\xc3\xa9t\xc3\xa9/logo.png";
    EXPECT_TRUE(SASettings::LogoFileNameSet(accented));
    EXPECT_TRUE(SASettings::LogoFileNameGet(name));
    EXPECT_EQ(name, accented);
}

TEST_F(SettingsValues, ListInsertPutsFrontDedupesWithoutCase)
{
    SARegistryList list(IP_LIST);
    EXPECT_TRUE(list.ItemInsert("10.0.0.5"));
    EXPECT_TRUE(list.ItemInsert("10.0.0.1"));
    EXPECT_EQ(Items(IP_LIST), std::vector<std::string>({"10.0.0.1", "10.0.0.5"}));
    EXPECT_TRUE(list.ItemInsert("10.0.0.5"));
    EXPECT_EQ(Items(IP_LIST), std::vector<std::string>({"10.0.0.5", "10.0.0.1"}));
    // Always the whole 1024-byte buffer, as REG_MULTI_SZ.
    uint32_t type = 0;
    uint32_t size = 0;
    ASSERT_EQ(SAUtilRegistryValueQuery(MAIN, IP_LIST, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(size, SA_REGISTRY_LIST_BYTES);

    SARegistryList names("LookUpHostInfoList");
    EXPECT_TRUE(names.ItemInsert("abc"));
    EXPECT_TRUE(names.ItemInsert("other"));
    EXPECT_TRUE(names.ItemInsert("ABC"));
    EXPECT_EQ(Items("LookUpHostInfoList"), std::vector<std::string>({"ABC", "other"}));

    EXPECT_FALSE(names.ItemInsert(""));
    EXPECT_EQ(LogCount("SARegistryList::ItemInsert failed! Empty item\n", SA_LOG_FAILURE), 1);
    EXPECT_EQ(Items("LookUpHostInfoList"), std::vector<std::string>({"ABC", "other"}));

    std::string item = "stale";
    EXPECT_FALSE(names.ItemRetrieve(2, item));
    EXPECT_TRUE(item.empty());
    EXPECT_FALSE(names.ItemRetrieve(-1, item));
}

TEST_F(SettingsValues, FullListDropsTheOldestAndStays1024Bytes)
{
    SARegistryList list(IP_LIST);
    // 15-character addresses take 16 units each: 32 fill the 512 units exactly.
    std::vector<std::string> inserted;
    for (int i = 0; i < 40; ++i)
    {
        char text[32];
        snprintf(text, sizeof(text), "192.168.%03d.%03d", i / 10 + 100, i % 250);
        inserted.push_back(text);
        ASSERT_TRUE(list.ItemInsert(text));
        ASSERT_EQ(Raw(IP_LIST).size(), SA_REGISTRY_LIST_BYTES) << i;
    }
    const std::vector<std::string> items = Items(IP_LIST);
    ASSERT_EQ(items.size(), 32u);
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(items[i], inserted[inserted.size() - 1 - i]);

    // A shorter item pushes a cut item off the end; the list stays readable
    // and no partial item is ever returned.
    ASSERT_TRUE(list.ItemInsert("10.0.0.1"));
    const std::vector<uint8_t> raw = Raw(IP_LIST);
    ASSERT_EQ(raw.size(), SA_REGISTRY_LIST_BYTES);
    EXPECT_EQ(raw[SA_REGISTRY_LIST_BYTES - 2], 0);
    EXPECT_EQ(raw[SA_REGISTRY_LIST_BYTES - 1], 0);
    const std::vector<std::string> after = Items(IP_LIST);
    ASSERT_EQ(after.size(), 32u);
    EXPECT_EQ(after[0], "10.0.0.1");
    EXPECT_EQ(after[31], inserted[inserted.size() - 31]);
    for (const std::string& entry : after)
        EXPECT_TRUE(entry == "10.0.0.1" || entry.size() == 15) << entry;
    // And it still takes inserts.
    ASSERT_TRUE(list.ItemInsert("10.0.0.2"));
    EXPECT_EQ(Items(IP_LIST)[0], "10.0.0.2");
    EXPECT_EQ(Items(IP_LIST)[1], "10.0.0.1");

    // A value of another type whose first unit is null and whose other
    // bytes run to the end without one: an insert leaves a readable list.
    std::vector<uint8_t> leftovers(SA_REGISTRY_LIST_BYTES, 'x');
    leftovers[0] = leftovers[1] = 0;
    ASSERT_TRUE(SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, IP_LIST, REG_DWORD, leftovers.data(),
                                       SA_REGISTRY_LIST_BYTES, 0));
    ASSERT_TRUE(list.ItemInsert("10.0.0.3"));
    EXPECT_EQ(Items(IP_LIST), std::vector<std::string>({"10.0.0.3"}));
}

TEST_F(SettingsValues, RemovingAMissingItemLeavesTheValueUntouched)
{
    // A value written by someone else, shorter than the list buffer: the
    // bytes must stay as they are when nothing matches.
    ListStore(IP_LIST, {u"10.0.0.1", u"10.0.0.2"}, 40);
    const std::vector<uint8_t> before = Raw(IP_LIST);
    SARegistryList list(IP_LIST);
    list.PrivateItemRemoveByIndex("10.0.0.3");
    EXPECT_EQ(Raw(IP_LIST), before);
    list.PrivateItemRemoveByIndex("10.0.0.1");
    EXPECT_EQ(Items(IP_LIST), std::vector<std::string>({"10.0.0.2"}));
    EXPECT_EQ(Raw(IP_LIST).size(), SA_REGISTRY_LIST_BYTES);
    list.PrivateItemRemoveByIndex("10.0.0.2");
    EXPECT_TRUE(Items(IP_LIST).empty());
    EXPECT_EQ(Raw(IP_LIST), std::vector<uint8_t>(SA_REGISTRY_LIST_BYTES, 0));
    // Absent list: nothing is created.
    SARegistryList absent("NoSuchList");
    absent.PrivateItemRemoveByIndex("x");
    uint32_t size = 0;
    EXPECT_EQ(SAUtilRegistryValueQuery(MAIN, "NoSuchList", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(SettingsValues, LongItemsAreCutTo19UnitsSafely)
{
    SARegistryList list("LookUpHostInfoList");
    const std::string longName = "a-very-long-host-name.example.org";
    ASSERT_TRUE(list.ItemInsert(longName));
    EXPECT_EQ(Items("LookUpHostInfoList"), std::vector<std::string>({longName.substr(0, 19)}));
    // Inserting it again finds the stored (cut) item and does not duplicate it.
    ASSERT_TRUE(list.ItemInsert(longName));
    EXPECT_EQ(Items("LookUpHostInfoList").size(), 1u);

    // Stored by another writer: a long item followed by a short one, and
    // one item filling the whole buffer.
    ListStore("Foreign", {std::u16string(30, u'x'), u"short"});
    EXPECT_EQ(Items("Foreign"), std::vector<std::string>({std::string(19, 'x'), "short"}));
    std::vector<uint8_t> noTerminator(SA_REGISTRY_LIST_BYTES, 'y');
    for (size_t i = 1; i < noTerminator.size(); i += 2)
        noTerminator[i] = 0;
    noTerminator[SA_REGISTRY_LIST_BYTES - 2] = 0; // ends in a null so the read fits
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, "Foreign", REG_MULTI_SZ, noTerminator.data(),
                                       SA_REGISTRY_LIST_BYTES, 0));
    EXPECT_EQ(Items("Foreign"), std::vector<std::string>({std::string(19, 'y')}));
    // An item never splits a surrogate pair at the cut.
    const std::string emoji = std::string(18, 'e') + "\xf0\x9f\x98\x80";
    SARegistryList emojiList("Emoji");
    ASSERT_TRUE(emojiList.ItemInsert(emoji));
    EXPECT_EQ(Items("Emoji"), std::vector<std::string>({std::string(18, 'e')}));
    // A list value longer than the buffer reads as empty (ERROR_MORE_DATA).
    std::vector<uint8_t> tooLong(SA_REGISTRY_LIST_BYTES + 2, 0);
    tooLong[0] = 'z';
    ASSERT_TRUE(SAUtilRegistryValueSet(MAIN, "Foreign", REG_MULTI_SZ, tooLong.data(),
                                       static_cast<uint32_t>(tooLong.size()), 0));
    EXPECT_TRUE(Items("Foreign").empty());
    EXPECT_TRUE(LogContains("SARegistryList::ItemRetrieve SAUtilRegistryValueGet failed!\n"));
}

TEST_F(SettingsValues, AddressEnumerationStopsAtANonAddress)
{
    ListStore(IP_LIST, {u"192.168.1.20", u"not-an-address", u"10.0.0.1"});
    uint32_t address = 0;
    EXPECT_TRUE(SASettings::AutoConnectHostIpAddressEnum(0, address));
    EXPECT_EQ(address, 0xC0A80114u);
    EXPECT_FALSE(SASettings::AutoConnectHostIpAddressEnum(1, address));
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(
        LogCount("SAWndDlgAutoConnect::AutoConnectHostIpAddressEnum InetPton failed! 0\n", SA_LOG_FAILURE),
        1);
    ListStore(IP_LIST, {u"10.0.0.9", u"0.0.0.0", u"10.0.0.1"});
    EXPECT_TRUE(SASettings::AutoConnectHostIpAddressEnum(0, address));
    EXPECT_EQ(address, 0x0A000009u);
    EXPECT_FALSE(SASettings::AutoConnectHostIpAddressEnum(1, address));
    EXPECT_FALSE(SASettings::AutoConnectHostIpAddressEnum(3, address));
    EXPECT_EQ(LogCount("SASettings::AutoConnectHostIpAddressEnum RegistryList.ItemRetrieve failed!\n",
                       SA_LOG_REGISTRY),
              1);

    // Setting 1 inserts into the list at the front.
    EXPECT_TRUE(SASettings::AutoConnectHostInfoSet(1, "10.0.0.1"));
    EXPECT_TRUE(SASettings::AutoConnectHostIpAddressEnum(0, address));
    EXPECT_EQ(address, 0x0A000001u);
    EXPECT_TRUE(SASettings::AutoConnectHostIpAddressEnum(1, address));
    EXPECT_EQ(address, 0x0A000009u);
}

TEST_F(SettingsValues, AudioFlagIsVolatile)
{
    EXPECT_TRUE(SASettings::SettingsAudioOptionEnableSet(true));
    EXPECT_TRUE(SASettings::SettingsAudioOptionEnableGet());
    EXPECT_TRUE(SAUtilRegistryKeyVolatile(SA_REGISTRY_KEY_AUDIO));
    EXPECT_FALSE(SAUtilRegistryKeyVolatile(SA_REGISTRY_KEY_MAIN));
    EXPECT_TRUE(SASettings::SettingsAudioOptionEnableSet(false));
    EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
}

TEST_F(SettingsValues, ClearRemovesAudioKeyAndMainValuesOnly)
{
    ASSERT_TRUE(SASettings::FramerateSet(90));
    ASSERT_TRUE(SASettings::AutoConnectHostInfoSet(1, "10.0.0.1"));
    ASSERT_TRUE(SASettings::SettingsAudioOptionEnableSet(true));
    const uint8_t placement[4] = {1, 2, 3, 4};
    ASSERT_TRUE(SAUtilRegistryValueSet(SA_REGISTRY_KEY_PROFILE_MAINFRAME, SA_REGISTRY_VALUE_WINDOW_PLACEMENT,
                                       REG_BINARY, placement, 4, 0));
    const std::string other = std::string(SA_REGISTRY_KEY_MAIN) + "\\Other";
    ASSERT_TRUE(SAUtilRegistryValueSet(other, "Kept", REG_BINARY, placement, 4, 0));

    EXPECT_TRUE(SASettings::Clear());
    EXPECT_EQ(SAUtilRegistryKeyOpen(SA_REGISTRY_KEY_AUDIO), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SAUtilRegistryKeyOpen(SA_REGISTRY_KEY_MAIN), ERROR_SUCCESS);
    std::vector<SAUtilRegistryValue> values;
    ASSERT_EQ(SAUtilRegistryValueEnum(SA_REGISTRY_KEY_MAIN, values), ERROR_SUCCESS);
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(SASettings::FramerateGet(), 60);
    EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
    ASSERT_EQ(SAUtilRegistryValueEnum(other, values), ERROR_SUCCESS);
    EXPECT_EQ(values.size(), 1u);
    ASSERT_EQ(SAUtilRegistryValueEnum(SA_REGISTRY_KEY_PROFILE_MAINFRAME, values), ERROR_SUCCESS);
    EXPECT_EQ(values.size(), 1u);

    // Again: the Audio key is gone (logged), the main key stays.
    LogClear();
    EXPECT_TRUE(SASettings::Clear());
    EXPECT_EQ(LogCount("SASettings::Clear failed! RegDeleteTree Software\\harrowfenlab\\quillmere\\Audio 2\n",
                       SA_LOG_FAILURE),
              1);
    EXPECT_EQ(SAUtilRegistryKeyOpen(SA_REGISTRY_KEY_MAIN), ERROR_SUCCESS);
}

TEST_F(SettingsValues, ClearOnAnEmptyStoreStopsAtTheMissingMainKey)
{
    EXPECT_FALSE(SASettings::Clear());
    EXPECT_EQ(LogCount("SASettings::Clear failed! RegOpenKeyExW 2\n", SA_LOG_FAILURE), 1);
    EXPECT_EQ(SAUtilRegistryKeyOpen(SA_REGISTRY_KEY_MAIN), ERROR_FILE_NOT_FOUND);
}

TEST_F(SettingsValues, SetterFailuresAreLoggedAndReported)
{
    // A config home that cannot be created: a regular file stands in its way.
    const std::string blocker = m_Root + "/blocker";
    FILE* file = fopen(blocker.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fclose(file);
    setenv("XDG_CONFIG_HOME", (blocker + "/config").c_str(), 1);
    EXPECT_FALSE(SASettings::FramerateSet(30));
    EXPECT_EQ(LogCount("SASettings::FramerateSet SAUtilRegistryValueSet failed!\n", SA_LOG_FAILURE), 1);
    EXPECT_TRUE(
        LogContains("SAUtilRegistryValueSet  RegCreateKeyExW failed! Software\\harrowfenlab\\quillmere "));
    EXPECT_FALSE(SASettings::CompressionTypeSet(3));
    EXPECT_EQ(LogCount("SASettings::CompressionTypeSet failed!\n", SA_LOG_FAILURE), 1);
    EXPECT_FALSE(SASettings::SettingsOptionEnableSet(SA_SETTINGS_LOGO_ENABLE, true));
    EXPECT_EQ(LogCount("SASettings::SettingsOptionEnableSet SettingsMenuTouchSet failed!\n", SA_LOG_FAILURE),
              1);
    EXPECT_FALSE(SASettings::QualityChromaSubsamplingSet());
    EXPECT_EQ(LogCount("SASettings::QualityChromaSubsamplingSet SAUtilRegistryValueSet "
                       "m_JpegCompressionSamplingDesired failed!\n",
                       SA_LOG_FAILURE),
              1);
    EXPECT_FALSE(SASettings::LogoFileNameSet("/x.png"));
    EXPECT_EQ(LogCount("SASettings::LogoFileNameSet failed!\n", SA_LOG_FAILURE), 1);
    EXPECT_FALSE(SASettings::AutoConnectHostInfoSet(1, "10.0.0.1"));
    EXPECT_EQ(LogCount("SASettings::AutoConnectHostInfoSet failed!\n", SA_LOG_FAILURE), 1);
    // Reads still give defaults.
    EXPECT_EQ(SASettings::FramerateGet(), 60);
}

// An administrator fixes a user's settings by making the store's folder
// read-only: the viewer reads the stored settings, not the defaults, and a
// change fails. The read runs in a child that, under root (which may write
// anywhere), takes an unprivileged user's identity.
TEST_F(SettingsValues, AStoreInAReadOnlyFolderIsReadAndChangesFail)
{
    ASSERT_TRUE(SASettings::FramerateSet(30));
    // Another folder's store closes this one's connection: its journal is
    // written back and removed, as when the viewer ends.
    const std::string folder = m_ConfigHome + "/harrowfenlab/quillmere";
    setenv("XDG_CONFIG_HOME", (m_Root + "/other").c_str(), 1);
    EXPECT_EQ(SASettings::FramerateGet(), 60);
    setenv("XDG_CONFIG_HOME", m_ConfigHome.c_str(), 1);
    ASSERT_FALSE(std::filesystem::exists(folder + "/registry.sqlite3-wal"));
    using std::filesystem::perms;
    for (const std::string& path : {m_Root, m_ConfigHome, m_ConfigHome + "/harrowfenlab", folder})
        std::filesystem::permissions(path, perms::owner_all | perms::group_read | perms::group_exec |
                                               perms::others_read | perms::others_exec);
    std::filesystem::permissions(folder, perms::owner_write | perms::group_write | perms::others_write,
                                 std::filesystem::perm_options::remove);
    std::filesystem::permissions(folder + "/registry.sqlite3", perms::others_read | perms::group_read,
                                 std::filesystem::perm_options::add);
    LogClear();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        if (geteuid() == 0 && (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0))
            _exit(10);
        int failed = 0;
        for (int i = 0; i < 3; ++i)
            failed |= SASettings::FramerateGet() == 30 ? 0 : 1;
        failed |= SASettings::FramerateSet(31) ? 2 : 0;
        failed |= SASettings::FramerateGet() == 30 ? 0 : 1;
        failed |= LogContains("its settings are read, changes are not stored") ? 0 : 4;
        _exit(failed);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    // 1: the stored setting was not read, 2: a change was reported stored,
    // 4: the folder's state went unsaid.
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::filesystem::permissions(folder, perms::owner_all);
}

TEST_F(SettingsValues, ACorruptStoreIsSetAsideAndReplacedByDefaults)
{
    // Garbage in both store files: each is moved aside (kept for a look),
    // and the settings start again from their defaults and take writes.
    const std::string folders[] = {m_ConfigHome + "/harrowfenlab/quillmere",
                                   m_RuntimeDir + "/harrowfenlab/quillmere"};
    const std::string garbage(4096, 'x');
    for (const std::string& folder : folders)
    {
        std::filesystem::create_directories(folder);
        const char* name = &folder == &folders[0] ? "/registry.sqlite3" : "/registry-volatile.sqlite3";
        FILE* file = fopen((folder + name).c_str(), "w");
        ASSERT_NE(file, nullptr);
        fputs(garbage.c_str(), file);
        fclose(file);
    }
    EXPECT_EQ(SASettings::FramerateGet(), 60);
    EXPECT_EQ(SASettings::CompressionTypeGet(), 5);
    EXPECT_TRUE(SASettings::FramerateSet(30));
    EXPECT_EQ(SASettings::FramerateGet(), 30);
    EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
    EXPECT_TRUE(SASettings::SettingsAudioOptionEnableSet(true));
    EXPECT_TRUE(SASettings::SettingsAudioOptionEnableGet());
    EXPECT_TRUE(LogContains("set aside as"));
    for (const std::string& folder : folders)
    {
        int aside = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
        {
            if (entry.path().filename().string().find(".corrupt-") == std::string::npos)
                continue;
            ++aside;
            std::ifstream file(entry.path());
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), garbage);
        }
        EXPECT_EQ(aside, 1) << folder;
    }
}
