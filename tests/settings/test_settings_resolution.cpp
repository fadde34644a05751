// The offered resolutions: the native one from the installed display-mode
// provider (checked against the maximum area), the custom one from the store,
// and which of them the ResolutionType selects.
#include "settings/SADisplayModeProvider.h"
#include "settings/SASettings.h"
#include "settings/SAUtilRegistry.h"
#include "settings/SAWndDlgResolution.h"

#include "SettingsTestStore.h"

namespace
{
class FixedDisplay : public SADisplayModeProvider
{
public:
    FixedDisplay(int32_t width, int32_t height, bool ok = true) : m_Width(width), m_Height(height), m_Ok(ok)
    {
    }
    bool DisplayModeCurrentGet(int32_t& width, int32_t& height) override
    {
        width = m_Width;
        height = m_Height;
        return m_Ok;
    }

private:
    int32_t m_Width;
    int32_t m_Height;
    bool m_Ok;
};

void DwordStore(const char* name, int32_t value)
{
    ASSERT_TRUE(
        SAUtilRegistryValueSet(SA_REGISTRY_KEY_MAIN, name, REG_DWORD, &value, 4, REG_OPTION_NON_VOLATILE));
}

class SettingsResolution : public SettingsTestStore
{
protected:
    void TearDown() override
    {
        SADisplayModeProvider::ProviderSet(nullptr);
        SettingsTestStore::TearDown();
    }
};
} // namespace

TEST_F(SettingsResolution, NativeResolutionComesFromTheProvider)
{
    FixedDisplay display(2560, 1440);
    SADisplayModeProvider::ProviderSet(&display);
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_TRUE(SAWndDlgResolution::ResolutionGet(0, width, height));
    EXPECT_EQ(width, 2560);
    EXPECT_EQ(height, 1440);
    EXPECT_FALSE(LogContains("switching to default"));
}

TEST_F(SettingsResolution, DisplayLargerThanTheMaximumFallsBack)
{
    DwordStore("ResolutionMaxX", 1920);
    DwordStore("ResolutionMaxY", 1080);
    FixedDisplay display(2560, 1440);
    SADisplayModeProvider::ProviderSet(&display);
    int32_t width = 0;
    int32_t height = 0;
    SAWndDlgResolution::PrivateDisplaySettingsGet(width, height);
    EXPECT_EQ(width, 1024);
    EXPECT_EQ(height, 768);
    EXPECT_EQ(
        LogCount("SAWndDlgResolution::PrivateDisplaySettingsGet failed! Max:1920x1080 Current:2560x1440 "
                 "switching to default:1024x768\n",
                 SA_LOG_FAILURE),
        1);
    // Exactly the maximum is accepted.
    FixedDisplay exact(1920, 1080);
    SADisplayModeProvider::ProviderSet(&exact);
    SAWndDlgResolution::PrivateDisplaySettingsGet(width, height);
    EXPECT_EQ(width, 1920);
    EXPECT_EQ(height, 1080);
}

TEST_F(SettingsResolution, NoOrFailingProviderFallsBack)
{
    int32_t width = 0;
    int32_t height = 0;
    SAWndDlgResolution::PrivateDisplaySettingsGet(width, height);
    EXPECT_EQ(width, 1024);
    EXPECT_EQ(height, 768);
    EXPECT_EQ(LogCount("SAWndDlgResolution::PrivateDisplaySettingsGet DisplayModeCurrentGet failed! 0\n",
                       SA_LOG_FAILURE),
              1);
    EXPECT_EQ(LogCount("SAWndDlgResolution::PrivateDisplaySettingsGet failed! Max:7680x4320 Current:0x0 "
                       "switching to default:1024x768\n",
                       SA_LOG_FAILURE),
              1);
    FixedDisplay failing(1920, 1080, false);
    SADisplayModeProvider::ProviderSet(&failing);
    SAWndDlgResolution::PrivateDisplaySettingsGet(width, height);
    EXPECT_EQ(width, 1024);
    FixedDisplay negative(-1920, -1080);
    SADisplayModeProvider::ProviderSet(&negative);
    SAWndDlgResolution::PrivateDisplaySettingsGet(width, height);
    EXPECT_EQ(width, 1024);
    EXPECT_EQ(height, 768);
}

TEST_F(SettingsResolution, IndexOneIsTheCustomResolutionAndOthersFail)
{
    ASSERT_TRUE(SASettings::ResolutionCustomSet(1600, 900));
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_TRUE(SAWndDlgResolution::ResolutionGet(1, width, height));
    EXPECT_EQ(width, 1600);
    EXPECT_EQ(height, 900);
    EXPECT_FALSE(SAWndDlgResolution::ResolutionGet(2, width, height));
    EXPECT_EQ(width, 0);
    EXPECT_EQ(LogCount("SAWndDlgResolution::ResolutionGet failed! Invalid index:2\n", SA_LOG_FAILURE), 1);
    EXPECT_FALSE(SAWndDlgResolution::ResolutionGet(-1, width, height));
}

TEST_F(SettingsResolution, ResolutionTypeSelectsTheOfferedList)
{
    FixedDisplay display(1920, 1200);
    SADisplayModeProvider::ProviderSet(&display);
    ASSERT_TRUE(SASettings::ResolutionCustomSet(1280, 720));
    const struct
    {
        int32_t type; // stored value; -100 leaves it absent
        std::vector<std::pair<int32_t, int32_t>> offered;
    } cases[] = {
        {-100, {{1920, 1200}, {1280, 720}}},
        {0, {{1920, 1200}, {1280, 720}}},
        {1, {{1920, 1200}}},
        {2, {{1280, 720}}},
        {3, {{1920, 1200}, {1280, 720}}},
        {-1, {}},
    };
    for (const auto& c : cases)
    {
        if (c.type != -100)
            DwordStore("ResolutionType", c.type);
        int32_t widths[SA_RESOLUTION_OFFERED_MAX] = {};
        int32_t heights[SA_RESOLUTION_OFFERED_MAX] = {};
        const int32_t count = SAWndDlgResolution::ResolutionsOfferedGet(widths, heights);
        ASSERT_EQ(count, static_cast<int32_t>(c.offered.size())) << "type " << c.type;
        for (int32_t i = 0; i < count; ++i)
        {
            EXPECT_EQ(widths[i], c.offered[i].first) << "type " << c.type;
            EXPECT_EQ(heights[i], c.offered[i].second) << "type " << c.type;
        }
    }
}

TEST(SettingsResolutionTable, HasTheTwentyEightEntriesInOrder)
{
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_TRUE(SAWndDlgResolution::ResolutionTableGet(0, width, height));
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 600);
    ASSERT_TRUE(SAWndDlgResolution::ResolutionTableGet(16, width, height));
    EXPECT_EQ(width, 1920);
    EXPECT_EQ(height, 1080);
    ASSERT_TRUE(SAWndDlgResolution::ResolutionTableGet(27, width, height));
    EXPECT_EQ(width, 4096);
    EXPECT_EQ(height, 2160);
    EXPECT_FALSE(SAWndDlgResolution::ResolutionTableGet(28, width, height));
    EXPECT_FALSE(SAWndDlgResolution::ResolutionTableGet(-1, width, height));
    int64_t previousArea = 0;
    int32_t previousWidth = 0;
    for (int32_t i = 0; i < SA_RESOLUTION_TABLE_COUNT; ++i)
    {
        ASSERT_TRUE(SAWndDlgResolution::ResolutionTableGet(i, width, height));
        // Sorted by width, then by height.
        EXPECT_TRUE(width > previousWidth ||
                    (width == previousWidth && int64_t(width) * height > previousArea));
        previousWidth = width;
        previousArea = int64_t(width) * height;
    }
}
