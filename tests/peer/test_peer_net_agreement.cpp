// The peer and the viewer's wire code were written independently from the
// same layout; here each checks the other. Every packet the peer streams must
// pass the viewer's header validation (its malformed ones must fail), and the
// viewer's connect and audio requests must read back in the peer's record
// with the values that went in.
#include "PeerTestClient.h"
#include "PeerTestRecord.h"

#include "net/SANetProtocol.h"
#include "peer/PeerServer.h"
#include "settings/SASettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace
{
std::filesystem::path TestDirectory()
{
    return PeerTestDirectory("qm-peer-net-");
}

// The viewer's settings store must not touch the user's own configuration.
void SettingsIsolate()
{
    std::filesystem::path dir = TestDirectory();
    std::filesystem::create_directories(dir / "config");
    std::filesystem::create_directories(dir / "runtime");
    std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
}
} // namespace

TEST(PeerNetAgreement, ViewerValidationAcceptsTheStreamAndRejectsOnlyTheMalformedHeaders)
{
    PeerOptions options;
    options.BindAddress = "127.0.0.46";
    options.Width = 96;
    options.Height = 64;
    options.Fps = 0;
    options.Window = 0;
    options.Codec = PeerCodec::Jpeg;
    options.Quality = 60;
    options.Fragments = 2;
    options.Quiet = true;
    options.Scenario = "reset@1:1,visibility@2:0,visibility@3:1,malformed@4,overhang@5:24,disconnect@7:3";
    PeerServer server(options);
    ASSERT_TRUE(server.Start()) << server.ErrorGet();

    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.46"));
    ASSERT_TRUE(client.ConnectRequestSend());
    int invalid = 0;
    int fragments = 0;
    std::vector<uint32_t> otherTypes;
    int32_t disconnectReason = -1;
    for (;;)
    {
        uint8_t bytes[SA_PACKET_HEADER_SIZE];
        if (!client.ReceiveBytes(bytes, sizeof(bytes)))
        {
            break;
        }
        SAPacketHeader header = SAPacketHeader::FromBytes(bytes);
        if (!SANetProtocol::PacketValidate(header))
        {
            ++invalid; // dropped without reading what it announces
            continue;
        }
        std::vector<uint8_t> payload(header.ByteCountGet());
        ASSERT_TRUE(payload.empty() || client.ReceiveBytes(payload.data(), payload.size()));
        if (header.HeaderTypeGet() == SA_HEADER_FRAME_BUFFER)
        {
            SAFrameBufferInfo info = SAPacketFrameBufferDecode(header);
            EXPECT_EQ(info.FragmentCount(), 2);
            EXPECT_EQ(info.ScreenWidth, 96);
            EXPECT_EQ(info.ScreenHeight, 64);
            EXPECT_EQ(info.CompressionType, 3u);
            EXPECT_EQ(info.CompressionInfoQuality, 60);
            EXPECT_EQ(info.Top, (fragments % 2) * 32);
            // Frame 5's second band overhangs the right edge by 24 pixels.
            EXPECT_EQ(info.Right, fragments == 11 ? 120 : 96) << "fragment " << fragments;
            ++fragments;
        }
        else
        {
            otherTypes.push_back(header.HeaderTypeGet());
            if (header.HeaderTypeGet() == SA_HEADER_DISCONNECT)
            {
                disconnectReason = header.S32Get(SAWire::DISCONNECT_REASON);
            }
        }
    }
    EXPECT_EQ(invalid, 7);
    EXPECT_EQ(fragments, 14);
    EXPECT_EQ(otherTypes, (std::vector<uint32_t>{3, 1, 3, 3, 8}));
    EXPECT_EQ(disconnectReason, 3);
    server.StopRequest();
    server.Wait();
}

TEST(PeerNetAgreement, ViewerRequestsReadBackWithTheirValues)
{
    SettingsIsolate();
    const std::string record = (TestDirectory() / "requests.jsonl").string();
    PeerOptions options;
    options.BindAddress = "127.0.0.47";
    options.Width = 64;
    options.Height = 48;
    options.Fps = 0;
    options.Window = 1;
    options.Codec = PeerCodec::Raw;
    options.RecordPath = record;
    options.ExitAfterClients = 2;
    options.Quiet = true;
    PeerServer server(options);
    ASSERT_TRUE(server.Start()) << server.ErrorGet();

    const std::string instance = "{0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9}";
    const uint32_t widths[] = {1920, 1280};
    const uint32_t heights[] = {1080, 800};
    {
        std::unique_ptr<uint8_t[]> request =
            SANetProtocol::PacketCreateConnectRequest(instance, widths, heights, 2);
        ASSERT_NE(request, nullptr);
        PeerTestClient display;
        ASSERT_TRUE(display.Connect("127.0.0.47"));
        ASSERT_TRUE(display.SendBytes(request.get(), SA_CONNECT_REQUEST_SIZE));
        PeerTestPacket visibility;
        ASSERT_TRUE(display.PacketRead(visibility));
        EXPECT_EQ(visibility.Type(), 3u);
        SAPacketHeader disconnect = SAPacketDisconnect(0);
        ASSERT_TRUE(display.SendBytes(disconnect.m_Bytes, SA_PACKET_HEADER_SIZE));
        PeerTestPacket p;
        while (display.PacketRead(p))
        {
        }
    }
    {
        std::unique_ptr<uint8_t[]> request = SANetProtocol::PacketRequestAudio(instance);
        ASSERT_NE(request, nullptr);
        PeerTestClient audio;
        ASSERT_TRUE(audio.Connect("127.0.0.47"));
        ASSERT_TRUE(audio.SendBytes(request.get(), SA_CONNECT_REQUEST_SIZE));
        // The peer streams audio until the viewer's own Disconnect.
        PeerTestPacket p;
        ASSERT_TRUE(audio.PacketRead(p));
        EXPECT_EQ(p.Type(), 14u);
        SAPacketHeader disconnect = SAPacketDisconnect(0);
        ASSERT_TRUE(audio.SendBytes(disconnect.m_Bytes, SA_PACKET_HEADER_SIZE));
        while (audio.PacketRead(p))
        {
            EXPECT_EQ(p.Type(), 14u);
        }
    }
    server.Wait(); // ends after the two connections

    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof(host) - 1), 0);
    std::vector<std::string> requests = PeerTestRecordOfType(PeerTestRecordLines(record), "ConnectRequest");
    ASSERT_EQ(requests.size(), 2u);
    const std::string& d = requests[0];
    EXPECT_EQ(PeerTestJsonField(d, "kind"), "0");
    EXPECT_EQ(PeerTestJsonField(d, "resolutionCount"), "2");
    EXPECT_EQ(PeerTestJsonField(d, "resolutions"), "[[1920,1080],[1280,800]]");
    EXPECT_EQ(PeerTestJsonField(d, "instanceId"), "\"" + instance + "\"");
    EXPECT_EQ(PeerTestJsonField(d, "computerName"), "\"" + std::string(host).substr(0, 127) + "\"");
    EXPECT_EQ(PeerTestJsonField(d, "constants"), "[4,8,1,2,1,4]");
    int32_t type = SASettings::CompressionTypeGet();
    EXPECT_EQ(PeerTestJsonField(d, "compressionType"), std::to_string(type));
    EXPECT_EQ(PeerTestJsonField(d, "compressionFlag"), type != 0 ? "3" : "0");
    EXPECT_EQ(PeerTestJsonField(d, "quality"), std::to_string(SASettings::CompressionQualityGet(type)));
    EXPECT_EQ(PeerTestJsonField(d, "framerate"), std::to_string(SASettings::FramerateGet()));

    const std::string& a = requests[1];
    EXPECT_EQ(PeerTestJsonField(a, "kind"), "3");
    EXPECT_EQ(PeerTestJsonField(a, "instanceId"), "\"" + instance + "\"");
    EXPECT_EQ(PeerTestJsonField(a, "computerName"), "\"" + std::string(host).substr(0, 127) + "\"");
    EXPECT_EQ(PeerTestJsonField(a, "resolutionCount"), "0");
    EXPECT_EQ(PeerTestJsonField(a, "quality"), "0");
}
