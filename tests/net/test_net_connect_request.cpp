// The connect request and the audio request, byte for byte, built from a real
// settings store in a temporary folder and a fixed display mode. The expected
// packets are assembled here from the field table, independently of the
// protocol's own helpers.
#include "NetTestUtil.h"
#include "net/SANetProtocol.h"
#include "settings/SADisplayModeProvider.h"
#include "settings/SASettings.h"
#include "settings/SAWndDlgResolution.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace
{
const char* const kInstanceId = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";

class FixedDisplay : public SADisplayModeProvider
{
public:
    bool DisplayModeCurrentGet(int32_t& width, int32_t& height) override
    {
        width = 2560;
        height = 1440;
        return true;
    }
};

class Expected
{
public:
    Expected() : m_Bytes(462, 0) {}
    void Put32(size_t offset, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            m_Bytes[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    void Put16(size_t offset, uint16_t v)
    {
        m_Bytes[offset] = static_cast<uint8_t>(v);
        m_Bytes[offset + 1] = static_cast<uint8_t>(v >> 8);
    }
    // ASCII text as UTF-16LE.
    void PutAscii(size_t offset, const std::string& text)
    {
        for (size_t i = 0; i < text.size(); ++i)
            Put16(offset + 2 * i, static_cast<uint8_t>(text[i]));
    }
    const std::vector<uint8_t>& Bytes() const { return m_Bytes; }

private:
    std::vector<uint8_t> m_Bytes;
};

std::string HostName()
{
    char name[256] = {};
    gethostname(name, sizeof(name) - 1);
    return name;
}

// Header, constants, identifier and computer name shared by both requests.
Expected ExpectedCommon(uint32_t requestKind)
{
    Expected e;
    e.Put32(0, 0);
    e.Put32(4, 334);
    e.Put32(8, 4);
    e.Put32(12, 8);
    e.Put32(16, requestKind);
    e.Put32(20, 1);
    e.PutAscii(128, kInstanceId);
    e.PutAscii(206, HostName());
    return e;
}

Expected ExpectedDisplay(uint16_t type, uint32_t quality, uint16_t framerate,
                         std::vector<std::pair<uint32_t, uint32_t>> sizes)
{
    Expected e = ExpectedCommon(0);
    e.Put32(24, type != 0 ? 3 : 0);
    e.Put32(28, 2);
    e.Put32(32, quality);
    e.Put16(36, type);
    e.Put16(38, 1);
    e.Put16(44, framerate);
    e.Put16(46, 4);
    e.Put32(48, static_cast<uint32_t>(sizes.size()));
    for (size_t i = 0; i < sizes.size(); ++i)
    {
        e.Put32(52 + 4 * i, sizes[i].first);
        e.Put32(88 + 4 * i, sizes[i].second);
    }
    return e;
}

// What the server client does: the offered resolutions from the settings,
// then the request.
std::unique_ptr<uint8_t[]> RequestFromSettings()
{
    int32_t w[SA_RESOLUTION_OFFERED_MAX] = {}, h[SA_RESOLUTION_OFFERED_MAX] = {};
    int32_t n = SAWndDlgResolution::ResolutionsOfferedGet(w, h);
    uint32_t uw[SA_RESOLUTION_OFFERED_MAX], uh[SA_RESOLUTION_OFFERED_MAX];
    for (int32_t i = 0; i < SA_RESOLUTION_OFFERED_MAX; ++i)
    {
        uw[i] = static_cast<uint32_t>(w[i]);
        uh[i] = static_cast<uint32_t>(h[i]);
    }
    return SANetProtocol::PacketCreateConnectRequest(kInstanceId, uw, uh, static_cast<uint32_t>(n));
}

void ExpectPacket(const uint8_t* packet, const Expected& e)
{
    ASSERT_NE(packet, nullptr);
    for (size_t i = 0; i < 462; ++i)
        ASSERT_EQ(packet[i], e.Bytes()[i]) << "byte " << i;
}

// Every test gets an empty store of its own and the fixed display.
class ConnectRequest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qm-net-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_Folder = pattern;
        setenv("XDG_CONFIG_HOME", m_Folder.c_str(), 1);
        SADisplayModeProvider::ProviderSet(&m_Display);
        ASSERT_LE(HostName().size(), 127u);
    }
    void TearDown() override
    {
        SADisplayModeProvider::ProviderSet(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(m_Folder, ignored);
    }
    FixedDisplay m_Display;
    std::string m_Folder;
};
} // namespace

TEST_F(ConnectRequest, ResolutionType0OffersDisplayThenCustomWithJpegSettings)
{
    ASSERT_TRUE(SASettings::ResolutionTypeSet(0));
    ASSERT_TRUE(SASettings::ResolutionCustomSet(1920, 1200));
    ASSERT_TRUE(SASettings::CompressionTypeSet(3));
    ASSERT_TRUE(SASettings::CompressionQualitySet(3, 85));
    ASSERT_TRUE(SASettings::CompressionQualitySet(5, 20)); // another type's quality is not taken
    ASSERT_TRUE(SASettings::FramerateSet(90));
    auto packet = RequestFromSettings();
    ExpectPacket(packet.get(), ExpectedDisplay(3, 85, 90, {{2560, 1440}, {1920, 1200}}));
}

TEST_F(ConnectRequest, ResolutionType1OffersTheDisplayOnlyAndNoCompressionClearsTheFlag)
{
    ASSERT_TRUE(SASettings::ResolutionTypeSet(1));
    ASSERT_TRUE(SASettings::ResolutionCustomSet(1920, 1200));
    ASSERT_TRUE(SASettings::CompressionTypeSet(0));
    ASSERT_TRUE(SASettings::CompressionQualitySet(0, 40)); // type 0 reads the choose-best quality
    ASSERT_TRUE(SASettings::FramerateSet(30));
    auto packet = RequestFromSettings();
    ExpectPacket(packet.get(), ExpectedDisplay(0, 40, 30, {{2560, 1440}}));
}

TEST_F(ConnectRequest, ResolutionType2OffersTheCustomSizeAtIndex0WithH264Settings)
{
    ASSERT_TRUE(SASettings::ResolutionTypeSet(2));
    ASSERT_TRUE(SASettings::ResolutionCustomSet(1280, 720));
    ASSERT_TRUE(SASettings::CompressionTypeSet(4));
    ASSERT_TRUE(SASettings::CompressionQualitySet(4, 55));
    ASSERT_TRUE(SASettings::FramerateSet(120));
    auto packet = RequestFromSettings();
    ExpectPacket(packet.get(), ExpectedDisplay(4, 55, 120, {{1280, 720}}));
}

TEST_F(ConnectRequest, EmptyStoreGivesChooseBestQuality70At60FramesAndLogsTheGetterFailures)
{
    NetTestLogCapture log;
    auto packet = RequestFromSettings();
    // Custom size 0 x 0 reads as 1024 x 768.
    ExpectPacket(packet.get(), ExpectedDisplay(5, 70, 60, {{2560, 1440}, {1024, 768}}));
    EXPECT_EQ(log.Count("SASettings::CompressionTypeGet "), 1u);
    EXPECT_EQ(log.Count("SASettings::CompressionQualityGet "), 1u);
    EXPECT_EQ(log.Count("SASettings::FramerateGet SAUtilRegistryValueGet failed!\n"), 1u);
}

TEST_F(ConnectRequest, TheRequestTakesAtMostNineSizesButReportsTheCountGiven)
{
    uint32_t w[12], h[12];
    for (uint32_t i = 0; i < 12; ++i)
    {
        w[i] = 100 + i;
        h[i] = 200 + i;
    }
    auto packet = SANetProtocol::PacketCreateConnectRequest(kInstanceId, w, h, 12);
    std::vector<std::pair<uint32_t, uint32_t>> nine;
    for (uint32_t i = 0; i < 9; ++i)
        nine.push_back({w[i], h[i]});
    Expected e = ExpectedDisplay(5, 70, 60, nine);
    e.Put32(48, 12);
    ExpectPacket(packet.get(), e);

    auto none = SANetProtocol::PacketCreateConnectRequest(kInstanceId, nullptr, nullptr, 0);
    ExpectPacket(none.get(), ExpectedDisplay(5, 70, 60, {}));
}

TEST_F(ConnectRequest, AnIdentifierLongerThanItsFieldIsCutAtThirtyNineUnits)
{
    std::string longId = std::string(kInstanceId) + "EXTRA";
    auto packet = SANetProtocol::PacketCreateConnectRequest(longId, nullptr, nullptr, 0);
    Expected e = ExpectedDisplay(5, 70, 60, {});
    e.PutAscii(128, longId.substr(0, 39)); // fills unit 38 too, right before the name at 206
    ExpectPacket(packet.get(), e);
}

TEST_F(ConnectRequest, AudioRequestCarriesKind3AndOnlyTheIdentityFields)
{
    ASSERT_TRUE(SASettings::CompressionTypeSet(3)); // settings play no part in it
    ASSERT_TRUE(SASettings::FramerateSet(30));
    auto packet = SANetProtocol::PacketRequestAudio(kInstanceId);
    ExpectPacket(packet.get(), ExpectedCommon(3));
}

TEST_F(ConnectRequest, TheServerSideDecoderReadsBackWhatWasSent)
{
    ASSERT_TRUE(SASettings::ResolutionTypeSet(0));
    ASSERT_TRUE(SASettings::ResolutionCustomSet(1600, 900));
    ASSERT_TRUE(SASettings::CompressionTypeSet(1));
    auto packet = RequestFromSettings();
    SAConnectRequestInfo info;
    ASSERT_TRUE(SAPacketConnectRequestDecode(packet.get(), SA_CONNECT_REQUEST_SIZE, info));
    EXPECT_EQ(info.RequestKind, 0u);
    EXPECT_EQ(info.CompressionType, 1);
    EXPECT_EQ(info.Quality, 70u);
    EXPECT_EQ(info.Framerate, 60);
    EXPECT_EQ(info.ResolutionCount, 2u);
    EXPECT_EQ(info.Widths[0], 2560u);
    EXPECT_EQ(info.Heights[1], 900u);
    EXPECT_EQ(info.InstanceId, kInstanceId);
    EXPECT_EQ(info.ComputerName, HostName());
}
