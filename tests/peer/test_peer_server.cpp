// End-to-end tests of quillmere-peer: the real executable on its own loopback
// address, a minimal hand-written viewer on a plain socket.
#include "PeerTestClient.h"
#include "PeerTestProcess.h"
#include "PeerTestRecord.h"

#include "core/SAUtilPng.h"
#include "peer/PeerConnection.h"
#include "peer/PeerFrameSynth.h"
#include "peer/PeerServer.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>

namespace
{
std::string TempPath(const std::string& name)
{
    return (PeerTestDirectory("qm-peer-test-") / name).string();
}

std::vector<uint8_t> SynthFrame(int width, int height, uint32_t frameNumber)
{
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 4);
    PeerFrameSynth(width, height, frameNumber, frame.data());
    return frame;
}

// Mean absolute difference of the B, G, R channels of two BGRX rows blocks.
double MeanError(const uint8_t* a, const uint8_t* b, size_t pixels)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < pixels; ++i)
    {
        for (int c = 0; c < 3; ++c)
        {
            sum += static_cast<uint64_t>(std::abs(int(a[i * 4 + c]) - int(b[i * 4 + c])));
        }
    }
    return static_cast<double>(sum) / (pixels * 3.0);
}

void ExpectVisibility(PeerTestClient& client, int32_t visible)
{
    PeerTestPacket packet;
    ASSERT_TRUE(client.PacketRead(packet));
    EXPECT_TRUE(packet.Valid);
    EXPECT_EQ(packet.Type(), 3u);
    EXPECT_EQ(packet.ByteCount(), 0u);
    EXPECT_EQ(packet.S32(8), visible);
}

// Reads one frame of `fragments` FrameBuffer packets and checks the headers
// that every codec shares.
void FrameRead(PeerTestClient& client, int width, int height, int fragments, uint32_t compression,
               std::vector<PeerTestPacket>& packets)
{
    packets.assign(static_cast<size_t>(fragments), PeerTestPacket());
    for (int i = 0; i < fragments; ++i)
    {
        PeerTestPacket& p = packets[static_cast<size_t>(i)];
        ASSERT_TRUE(client.PacketRead(p));
        ASSERT_TRUE(p.Valid);
        ASSERT_EQ(p.Type(), 2u);
        EXPECT_EQ(p.ScreenWidth(), width);
        EXPECT_EQ(p.ScreenHeight(), height);
        EXPECT_EQ(p.Pitch(), 4 * width);
        EXPECT_EQ(p.ColorFormat(), 22u);
        EXPECT_EQ(p.CountFragments(), fragments);
        EXPECT_EQ(p.Compression(), compression);
        EXPECT_EQ(p.Left(), 0);
        EXPECT_EQ(p.Right(), width);
        EXPECT_EQ(p.Top(), i * height / fragments);
        EXPECT_EQ(p.Bottom(), (i + 1) * height / fragments);
        EXPECT_GT(p.ByteCount(), 0u);
    }
}

void ExpectDisconnectAndEnd(PeerTestClient& client, int32_t reason)
{
    PeerTestPacket packet;
    ASSERT_TRUE(client.PacketRead(packet));
    EXPECT_EQ(packet.Type(), 8u);
    EXPECT_EQ(packet.S32(8), reason);
    EXPECT_TRUE(client.EndOfStreamRead());
}
// The next `count` packets are the tone from the stream's first frame on.
void ExpectAudioPackets(PeerTestClient& client, uint32_t count)
{
    for (uint32_t k = 0; k < count; ++k)
    {
        PeerTestPacket packet;
        ASSERT_TRUE(client.PacketRead(packet));
        ASSERT_TRUE(packet.Valid);
        ASSERT_EQ(packet.Type(), 14u);
        ASSERT_EQ(packet.ByteCount(), PEER_AUDIO_PACKET_BYTES);
        std::vector<uint8_t> tone(PEER_AUDIO_PACKET_BYTES);
        PeerConnection::AudioToneFill(uint64_t{k} * PEER_AUDIO_PACKET_FRAMES, tone.data(),
                                      PEER_AUDIO_PACKET_FRAMES);
        EXPECT_TRUE(packet.Payload == tone) << "audio packet " << k;
    }
}
} // namespace

class PeerRawFragments : public testing::TestWithParam<int>
{
};

// Uncompressed bands must be the synthesized frame byte for byte, with the
// band layout the viewer's frame buffer processor counts on.
TEST_P(PeerRawFragments, BandsCarryTheExactSourceFrame)
{
    const int fragments = GetParam();
    const int width = 318; // neither size divides evenly into bands
    const int height = 239;
    const std::string address = "127.0.0.3" + std::to_string(fragments);
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", address, "--size", "318x239", "--fps", "0", "--window", "0", "--codec",
                            "raw", "--fragments", std::to_string(fragments), "--frames", "3",
                            "--exit-after-clients", "1", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect(address.c_str()));
    ASSERT_TRUE(client.ConnectRequestSend());
    ExpectVisibility(client, 1);
    for (uint32_t frame = 0; frame < 3; ++frame)
    {
        std::vector<PeerTestPacket> packets;
        FrameRead(client, width, height, fragments, 0, packets);
        std::vector<uint8_t> received;
        for (const PeerTestPacket& p : packets)
        {
            EXPECT_EQ(p.ByteCount(), static_cast<uint32_t>(p.Pitch() * (p.Bottom() - p.Top())));
            EXPECT_EQ(p.Quality(), 0);
            received.insert(received.end(), p.Payload.begin(), p.Payload.end());
        }
        std::vector<uint8_t> expected = SynthFrame(width, height, frame);
        ASSERT_EQ(received.size(), expected.size());
        EXPECT_TRUE(received == expected) << "frame " << frame << " differs from PeerFrameSynth";
    }
    ExpectDisconnectAndEnd(client, 0);
    client.Close();
    EXPECT_EQ(peer.Wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(OneToFour, PeerRawFragments, testing::Values(1, 2, 3, 4));

TEST(PeerCodecs, JpegBandsDecodeToTheirBandAndShowTheFrame)
{
    const int width = 320;
    const int height = 240;
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.35", "--size", "320x240", "--fps", "0", "--window", "0",
                            "--codec", "jpeg", "--quality", "90", "--fragments", "3", "--frames", "2",
                            "--exit-after-clients", "1", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.35"));
    ASSERT_TRUE(client.ConnectRequestSend());
    ExpectVisibility(client, 1);
    tjhandle decoder = tjInitDecompress();
    ASSERT_NE(decoder, nullptr);
    for (uint32_t frame = 0; frame < 2; ++frame)
    {
        std::vector<PeerTestPacket> packets;
        FrameRead(client, width, height, 3, 3, packets);
        std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 4);
        for (const PeerTestPacket& p : packets)
        {
            EXPECT_EQ(p.Quality(), 90);
            int w = 0, h = 0, subsampling = -1, colorspace = -1;
            ASSERT_EQ(tjDecompressHeader3(decoder, p.Payload.data(), p.Payload.size(), &w, &h, &subsampling,
                                          &colorspace),
                      0)
                << tjGetErrorStr2(decoder);
            EXPECT_EQ(w, width);
            EXPECT_EQ(h, p.Bottom() - p.Top());
            EXPECT_EQ(subsampling, TJSAMP_420);
            ASSERT_EQ(tjDecompress2(decoder, p.Payload.data(), p.Payload.size(),
                                    picture.data() + static_cast<size_t>(p.Top()) * width * 4, width,
                                    width * 4, h, TJPF_BGRX, 0),
                      0);
        }
        std::vector<uint8_t> expected = SynthFrame(width, height, frame);
        EXPECT_LT(MeanError(picture.data(), expected.data(), static_cast<size_t>(width) * height), 4.0);
        uint32_t stamp = 0xFFFF;
        ASSERT_TRUE(PeerFrameStampRead(picture.data(), width, height, width * 4, 4, stamp));
        EXPECT_EQ(stamp, frame);
    }
    tjDestroy(decoder);
    ExpectDisconnectAndEnd(client, 0);
    client.Close();
    EXPECT_EQ(peer.Wait(), 0);
}

TEST(PeerCodecs, YuvBandsHaveThePaddedPlanarSizeAndDecode)
{
    const int width = 318; // odd sizes exercise the 4-byte row padding
    const int height = 239;
    PeerTestProcess peer;
    ASSERT_TRUE(
        peer.Start({"--bind", "127.0.0.36", "--size", "318x239", "--fps", "0", "--window", "0", "--codec",
                    "yuv", "--fragments", "2", "--frames", "2", "--exit-after-clients", "1", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.36"));
    ASSERT_TRUE(client.ConnectRequestSend());
    ExpectVisibility(client, 1);
    tjhandle decoder = tjInitDecompress();
    ASSERT_NE(decoder, nullptr);
    for (uint32_t frame = 0; frame < 2; ++frame)
    {
        std::vector<PeerTestPacket> packets;
        FrameRead(client, width, height, 2, 1, packets);
        std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 4);
        for (const PeerTestPacket& p : packets)
        {
            int rows = p.Bottom() - p.Top();
            EXPECT_EQ(p.ByteCount(), tjBufSizeYUV2(width, 4, rows, TJSAMP_420));
            // Exactly the viewer's call: 4-byte alignment, 4:2:0, pitch 4 x width.
            ASSERT_EQ(tjDecodeYUV(decoder, p.Payload.data(), 4, TJSAMP_420,
                                  picture.data() + static_cast<size_t>(p.Top()) * width * 4, width, width * 4,
                                  rows, TJPF_BGRA, 0),
                      0)
                << tjGetErrorStr2(decoder);
        }
        std::vector<uint8_t> expected = SynthFrame(width, height, frame);
        EXPECT_LT(MeanError(picture.data(), expected.data(), static_cast<size_t>(width) * height), 4.0);
        uint32_t stamp = 0xFFFF;
        ASSERT_TRUE(PeerFrameStampRead(picture.data(), width, height, width * 4, 4, stamp));
        EXPECT_EQ(stamp, frame);
    }
    tjDestroy(decoder);
    ExpectDisconnectAndEnd(client, 0);
    client.Close();
    EXPECT_EQ(peer.Wait(), 0);
}

// Without acknowledgements the peer sends exactly `window` frames; each
// acknowledgement releases one more.
TEST(PeerFlowControl, StopsAtTheWindowAndResumesWithAcknowledgements)
{
    const std::string record = TempPath("flow.jsonl");
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.37", "--size", "64x48", "--fps", "0", "--window", "3",
                            "--codec", "raw", "--record", record, "--exit-after-clients", "1", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.37"));
    ASSERT_TRUE(client.ConnectRequestSend());
    ExpectVisibility(client, 1);
    auto frameNumberRead = [&](uint32_t& number)
    {
        std::vector<PeerTestPacket> packets;
        FrameRead(client, 64, 48, 1, 0, packets);
        ASSERT_EQ(packets[0].Payload.size(), 64u * 48u * 4u);
        ASSERT_TRUE(PeerFrameStampRead(packets[0].Payload.data(), 64, 48, 256, 4, number));
    };
    uint32_t number = 0;
    for (uint32_t expected = 0; expected < 3; ++expected)
    {
        ASSERT_NO_FATAL_FAILURE(frameNumberRead(number));
        EXPECT_EQ(number, expected);
    }
    // With no flow control the peer would have sent hundreds of frames by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(client.PendingBytes(), 0u) << "the peer sent beyond its window";

    ASSERT_TRUE(client.AckSend());
    ASSERT_TRUE(client.AckSend());
    for (uint32_t expected = 3; expected < 5; ++expected)
    {
        ASSERT_NO_FATAL_FAILURE(frameNumberRead(number));
        EXPECT_EQ(number, expected);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(client.PendingBytes(), 0u) << "two acknowledgements released more than two frames";

    ASSERT_TRUE(client.HeaderSend(8, {{8, 0}}));
    EXPECT_TRUE(client.EndOfStreamRead());
    client.Close();
    EXPECT_EQ(peer.Wait(), 0);

    std::vector<std::string> lines = PeerTestRecordLines(record);
    std::vector<std::string> acks = PeerTestRecordOfType(lines, "FrameAcknowledge");
    ASSERT_EQ(acks.size(), 2u);
    EXPECT_EQ(PeerTestJsonField(acks[0], "acks"), "1");
    EXPECT_EQ(PeerTestJsonField(acks[0], "framesSent"), "3");
    EXPECT_EQ(PeerTestJsonField(acks[1], "acks"), "2");
    std::vector<std::string> disconnects = PeerTestRecordOfType(lines, "Disconnect");
    ASSERT_EQ(disconnects.size(), 1u);
    EXPECT_EQ(PeerTestJsonField(disconnects[0], "reason"), "0");
}

// --stats pairs each acknowledgement with its frame: a viewer that
// acknowledges every frame 20 ms after its last packet shows latencies of at
// least 20 ms, and with a window of one frame no more than 50 frames a second.
TEST(PeerStats, AcknowledgementDelaysAndRateOfAConnection)
{
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind",      "127.0.0.48",
                            "--size",      "64x48",
                            "--fps",       "0",
                            "--window",    "1",
                            "--codec",     "raw",
                            "--fragments", "2",
                            "--frames",    "12",
                            "--stats",     "--stats-warmup",
                            "0",           "--exit-after-clients",
                            "1",           "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.48"));
    ASSERT_TRUE(client.ConnectRequestSend());
    ExpectVisibility(client, 1);
    for (int frame = 0; frame < 12; ++frame)
    {
        std::vector<PeerTestPacket> packets;
        ASSERT_NO_FATAL_FAILURE(FrameRead(client, 64, 48, 2, 0, packets));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(client.AckSend());
    }
    ExpectDisconnectAndEnd(client, 0);
    client.Close();
    EXPECT_EQ(peer.Wait(), 0);
    const std::string output = peer.OutputGet();
    double fps = 0, p50 = 0, p95 = 0, p99 = 0;
    unsigned connection = 0, frames = 0;
    const size_t at = output.find("stats ");
    ASSERT_NE(at, std::string::npos) << output;
    ASSERT_EQ(
        std::sscanf(output.c_str() + at,
                    "stats connection=%u frames=%u seconds=%*f fps=%lf ack_p50=%lf ack_p95=%lf ack_p99=%lf",
                    &connection, &frames, &fps, &p50, &p95, &p99),
        6)
        << output;
    EXPECT_EQ(connection, 1u);
    EXPECT_EQ(frames, 12u);
    EXPECT_GE(p50, 20.0);
    EXPECT_LE(p50, p95);
    EXPECT_LE(p95, p99);
    EXPECT_GT(fps, 0.0);
    EXPECT_LE(fps, 50.0);
}

TEST(PeerRecord, EveryViewerPacketIsWrittenWithItsFields)
{
    const std::string record = TempPath("record.jsonl");
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.38", "--size", "64x48", "--fps", "50", "--window", "2",
                            "--codec", "raw", "--record", record, "--exit-after-clients", "1", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.38"));
    PeerTestConnectFields fields;
    fields.Quality = 55;
    fields.CompressionType = 1;
    fields.Framerate = 30;
    fields.Resolutions = {{2560, 1440}, {1024, 768}};
    fields.InstanceId = u"{6F9619FF-8B86-4011-B42D-00C04FC964FF}";
    fields.ComputerName = u"B\u00fcro-\U0001F600\"x\\";
    ASSERT_TRUE(client.ConnectRequestSend(fields));
    ExpectVisibility(client, 1);
    ASSERT_TRUE(client.HeaderSend(10, {{8, static_cast<uint32_t>(-5)}, {12, 7}, {16, 120}, {20, 0x801}}));
    ASSERT_TRUE(client.HeaderSend(11, {{8, 0x41}, {12, 0x1E}, {16, 0x3}}));
    ASSERT_TRUE(
        client.HeaderSend(12, {{8, 100}, {12, 200}, {16, 1920}, {20, 1080}, {24, 0x3}, {28, 123456}}));
    ASSERT_TRUE(client.HeaderSend(1, {{12, 2}}));
    ASSERT_TRUE(client.AckSend());
    ASSERT_TRUE(client.HeaderSend(9));
    std::vector<uint8_t> withPayload(138, 0);
    withPayload[0] = 14;
    withPayload[4] = 10;
    ASSERT_TRUE(client.SendBytes(withPayload.data(), withPayload.size()));
    ASSERT_TRUE(client.HeaderSend(7, {{40, 1}})); // a stray byte where none belongs
    ASSERT_TRUE(client.HeaderSend(8, {{8, 4}}));
    // Closing with frames still unread would reset the connection and could
    // discard packets the peer has not read yet; read until the peer closes.
    PeerTestPacket p;
    while (client.PacketRead(p))
    {
    }
    client.Close();
    ASSERT_EQ(peer.Wait(), 0);

    std::vector<std::string> lines = PeerTestRecordLines(record);
    ASSERT_EQ(lines.size(), 10u);
    const std::string& cr = lines[0];
    EXPECT_EQ(PeerTestJsonField(cr, "type"), "\"ConnectRequest\"");
    EXPECT_EQ(PeerTestJsonField(cr, "conn"), "1");
    EXPECT_EQ(PeerTestJsonField(cr, "kind"), "0");
    EXPECT_EQ(PeerTestJsonField(cr, "quality"), "55");
    EXPECT_EQ(PeerTestJsonField(cr, "compressionType"), "1");
    EXPECT_EQ(PeerTestJsonField(cr, "compressionFlag"), "3");
    EXPECT_EQ(PeerTestJsonField(cr, "framerate"), "30");
    EXPECT_EQ(PeerTestJsonField(cr, "resolutionCount"), "2");
    EXPECT_EQ(PeerTestJsonField(cr, "resolutions"), "[[2560,1440],[1024,768]]");
    EXPECT_EQ(PeerTestJsonField(cr, "instanceId"), "\"{6F9619FF-8B86-4011-B42D-00C04FC964FF}\"");
    EXPECT_EQ(PeerTestJsonField(cr, "computerName"), "\"B\xc3\xbcro-\xf0\x9f\x98\x80\\\"x\\\\\"");
    EXPECT_EQ(PeerTestJsonField(cr, "constants"), "[4,8,1,2,1,4]");

    EXPECT_EQ(lines[1],
              "{\"conn\":1,\"type\":\"InputMouse\",\"x\":-5,\"y\":7,\"buttonData\":120,\"buttonFlags\":2049,"
              "\"flags\":0,\"strayBytes\":0}");
    EXPECT_EQ(lines[2], "{\"conn\":1,\"type\":\"InputKeyboard\",\"vKeyCode\":65,\"scanCode\":30,\"flags\":3,"
                        "\"strayBytes\":0}");
    EXPECT_EQ(lines[3], "{\"conn\":1,\"type\":\"InputTouch\",\"x\":100,\"y\":200,\"resolutionWidth\":1920,"
                        "\"resolutionHeight\":1080,\"flags\":3,\"timeMs\":123456,\"strayBytes\":0}");
    EXPECT_EQ(lines[4], "{\"conn\":1,\"type\":\"StreamReset\",\"replyRequest\":2,\"strayBytes\":0}");
    EXPECT_EQ(PeerTestJsonField(lines[5], "type"), "\"FrameAcknowledge\"");
    EXPECT_EQ(PeerTestJsonField(lines[5], "acks"), "1");
    EXPECT_EQ(lines[6], "{\"conn\":1,\"type\":\"Unknown\",\"headerType\":9,\"byteCount\":0}");
    EXPECT_EQ(lines[7], "{\"conn\":1,\"type\":\"Unknown\",\"headerType\":14,\"byteCount\":10}");
    EXPECT_EQ(PeerTestJsonField(lines[8], "acks"), "2");
    EXPECT_EQ(PeerTestJsonField(lines[8], "strayBytes"), "1");
    EXPECT_EQ(lines[9], "{\"conn\":1,\"type\":\"Disconnect\",\"reason\":4,\"strayBytes\":0}");
}

// The scripted events arrive between the frames they name, malformed headers
// come bare (nothing behind them to skip), and the stream ends with the
// scripted reason.
TEST(PeerScenario, EventsArriveBeforeTheirFrames)
{
    const std::string record = TempPath("scenario.jsonl");
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start(
        {"--bind", "127.0.0.39", "--size", "64x48", "--fps", "0", "--window", "0", "--codec", "raw",
         "--fragments", "2", "--record", record, "--exit-after-clients", "1", "--scenario",
         "reset@2:1,visibility@3:0,visibility@4:1,malformed@5,reset@6:0,disconnect@7:3", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.39"));
    ASSERT_TRUE(client.ConnectRequestSend());
    std::vector<std::string> seen;
    int fragment = 0;
    for (;;)
    {
        PeerTestPacket p;
        if (!client.PacketRead(p))
        {
            break;
        }
        if (!p.Valid)
        {
            seen.push_back("bad");
            continue;
        }
        switch (p.Type())
        {
        case 2:
        {
            if (fragment++ % 2 == 1)
            {
                continue; // the second band of a frame
            }
            uint32_t number = 0;
            EXPECT_TRUE(PeerFrameStampRead(p.Payload.data(), 64, 24, 256, 4, number));
            seen.push_back("F" + std::to_string(number));
            break;
        }
        case 1:
            seen.push_back("R" + std::to_string(p.U32(12)));
            if (p.U32(12) == 1)
            {
                EXPECT_TRUE(client.HeaderSend(1, {{12, 2}}));
            }
            break;
        case 3:
            seen.push_back("V" + std::to_string(p.S32(8)));
            break;
        case 8:
            seen.push_back("D" + std::to_string(p.S32(8)));
            break;
        default:
            seen.push_back("?" + std::to_string(p.Type()));
        }
    }
    client.Close();
    std::vector<std::string> expected = {"V1",  "F0",  "F1",  "R1",  "F2",  "V0",  "F3", "V1", "F4", "bad",
                                         "bad", "bad", "bad", "bad", "bad", "bad", "F5", "R0", "F6", "D3"};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(peer.Wait(), 0);
    std::vector<std::string> resets = PeerTestRecordOfType(PeerTestRecordLines(record), "StreamReset");
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(PeerTestJsonField(resets[0], "replyRequest"), "2");
}

// A band that reaches past the right screen edge passes the viewer's header
// checks (it is too large in one dimension only); the peer sends one so the
// viewer's clipping can be tested. Frame and fragment counts stay intact.
TEST(PeerScenario, OverhangBandIsValidAndCarriesTheWiderRows)
{
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.45", "--size", "64x48", "--fps", "0", "--window", "0",
                            "--codec", "raw", "--fragments", "2", "--frames", "3", "--scenario",
                            "overhang@1:40", "--exit-after-clients", "1", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.45"));
    ASSERT_TRUE(client.ConnectRequestSend());
    ExpectVisibility(client, 1);
    for (uint32_t frame = 0; frame < 3; ++frame)
    {
        std::vector<uint8_t> expected = SynthFrame(64, 48, frame);
        for (int band = 0; band < 2; ++band)
        {
            PeerTestPacket p;
            ASSERT_TRUE(client.PacketRead(p));
            ASSERT_TRUE(p.Valid) << "frame " << frame << " band " << band;
            ASSERT_EQ(p.Type(), 2u);
            EXPECT_EQ(p.ScreenWidth(), 64);
            EXPECT_EQ(p.CountFragments(), 2);
            EXPECT_EQ(p.Top(), band * 24);
            bool wide = frame == 1 && band == 1;
            int rectWidth = wide ? 104 : 64;
            ASSERT_EQ(p.Right(), rectWidth);
            ASSERT_EQ(p.Pitch(), 4 * rectWidth);
            ASSERT_EQ(p.Payload.size(), static_cast<size_t>(4 * rectWidth * 24));
            for (int y = 0; y < 24; ++y)
            {
                const uint8_t* row = p.Payload.data() + y * 4 * rectWidth;
                EXPECT_TRUE(std::equal(row, row + 256, expected.begin() + (band * 24 + y) * 256))
                    << "row " << y;
                for (int x = 64; x < rectWidth; ++x)
                {
                    ASSERT_EQ(row[x * 4 + 0], 255);
                    ASSERT_EQ(row[x * 4 + 1], 0);
                    ASSERT_EQ(row[x * 4 + 2], 255);
                }
            }
        }
    }
    ExpectDisconnectAndEnd(client, 0);
    client.Close();
    EXPECT_EQ(peer.Wait(), 0);
}

TEST(PeerConnections, TwoViewersStreamAtTheSameTime)
{
    PeerTestProcess peer;
    ASSERT_TRUE(
        peer.Start({"--bind", "127.0.0.40", "--size", "160x120", "--fps", "200", "--window", "2", "--codec",
                    "jpeg", "--fragments", "4", "--frames", "10", "--exit-after-clients", "2", "--quiet"}));
    PeerTestClient clients[2];
    for (PeerTestClient& c : clients)
    {
        ASSERT_TRUE(c.Connect("127.0.0.40"));
        ASSERT_TRUE(c.ConnectRequestSend());
    }
    for (PeerTestClient& c : clients)
    {
        ExpectVisibility(c, 1);
    }
    // Alternate between the viewers; each stalls at its window unless both
    // connections are served concurrently.
    for (int frame = 0; frame < 10; ++frame)
    {
        for (PeerTestClient& c : clients)
        {
            std::vector<PeerTestPacket> packets;
            ASSERT_NO_FATAL_FAILURE(FrameRead(c, 160, 120, 4, 3, packets));
            ASSERT_TRUE(c.AckSend());
        }
    }
    for (PeerTestClient& c : clients)
    {
        ExpectDisconnectAndEnd(c, 0);
        c.Close();
    }
    EXPECT_EQ(peer.Wait(), 0);
}

TEST(PeerConnections, AudioRequestsBadRequestsAndOversizedHeadersEndTheirConnection)
{
    const std::string record = TempPath("requests.jsonl");
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.41", "--size", "64x48", "--fps", "100", "--codec", "raw",
                            "--record", record, "--exit-after-clients", "3", "--quiet"}));
    {
        // An audio request gets the tone in 10 ms AudioData packets, one
        // after the other, until the viewer's Disconnect ends the stream.
        PeerTestClient audio;
        ASSERT_TRUE(audio.Connect("127.0.0.41"));
        PeerTestConnectFields fields;
        fields.Kind = 3;
        ASSERT_TRUE(audio.ConnectRequestSend(fields));
        ExpectAudioPackets(audio, 5);
        ASSERT_TRUE(audio.HeaderSend(8));
        PeerTestPacket p;
        int packets = 0;
        while (audio.PacketRead(p))
        {
            EXPECT_EQ(p.Type(), 14u);
            ASSERT_LT(++packets, 1000) << "the peer kept streaming audio after the viewer's Disconnect";
        }
    }
    {
        PeerTestClient bad;
        ASSERT_TRUE(bad.Connect("127.0.0.41"));
        std::vector<uint8_t> request = PeerTestClient::ConnectRequestBuild(PeerTestConnectFields());
        PeerTestClient::Put32(request, 4, 300);
        ASSERT_TRUE(bad.SendBytes(request.data(), request.size()));
        EXPECT_TRUE(bad.EndOfStreamRead());
    }
    {
        PeerTestClient hostile;
        ASSERT_TRUE(hostile.Connect("127.0.0.41"));
        ASSERT_TRUE(hostile.ConnectRequestSend());
        ExpectVisibility(hostile, 1);
        ASSERT_TRUE(hostile.HeaderSend(14, {}, 0x40000000));
        // The peer stops streaming and closes; drain what it sent before.
        PeerTestPacket p;
        int packets = 0;
        while (hostile.PacketRead(p))
        {
            ++packets;
            ASSERT_LT(packets, 10000) << "the peer kept streaming after an oversized header";
        }
    }
    EXPECT_EQ(peer.Wait(), 0);
    std::vector<std::string> lines = PeerTestRecordLines(record);
    std::vector<std::string> requests = PeerTestRecordOfType(lines, "ConnectRequest");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(PeerTestJsonField(requests[0], "kind"), "3");
    EXPECT_EQ(PeerTestJsonField(requests[0], "conn"), "1");
    std::vector<std::string> invalid = PeerTestRecordOfType(lines, "InvalidConnectRequest");
    ASSERT_EQ(invalid.size(), 1u);
    EXPECT_EQ(PeerTestJsonField(invalid[0], "byteCount"), "300");
    std::vector<std::string> oversized = PeerTestRecordOfType(lines, "Oversized");
    ASSERT_EQ(oversized.size(), 1u);
    EXPECT_EQ(PeerTestJsonField(oversized[0], "headerType"), "14");
    EXPECT_EQ(PeerTestJsonField(oversized[0], "byteCount"), std::to_string(0x40000000));
}

// --audio-packets N: exactly N packets of the tone, then Disconnect 0 and a
// close once the viewer has closed (the viewer's answer is recorded).
TEST(PeerConnections, AudioEndsWithDisconnectAfterTheAudioPacketCount)
{
    const std::string record = TempPath("audio.jsonl");
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.144", "--audio-packets", "3", "--record", record,
                            "--exit-after-clients", "1", "--quiet"}));
    {
        PeerTestClient audio;
        ASSERT_TRUE(audio.Connect("127.0.0.144"));
        PeerTestConnectFields fields;
        fields.Kind = 3;
        ASSERT_TRUE(audio.ConnectRequestSend(fields));
        ExpectAudioPackets(audio, 3);
        PeerTestPacket disconnect;
        ASSERT_TRUE(audio.PacketRead(disconnect));
        EXPECT_EQ(disconnect.Type(), 8u);
        EXPECT_EQ(disconnect.S32(8), 0);
        ASSERT_TRUE(audio.HeaderSend(8));
        EXPECT_TRUE(audio.EndOfStreamRead());
    }
    EXPECT_EQ(peer.Wait(), 0);
    std::vector<std::string> lines = PeerTestRecordLines(record);
    EXPECT_EQ(PeerTestRecordOfType(lines, "Disconnect").size(), 1u);
}

// --audio FILE.wav plays the file's frames in a loop, and --audio-stall
// holds packets back and then sends them all: none is lost or reordered.
TEST(PeerConnections, AudioFromAWavFileLoopsAndSurvivesAStall)
{
    // 700 frames: the second packet already wraps to the file's start.
    std::vector<uint8_t> frames(700 * 4);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<uint8_t>(i * 7 + 1);
    const std::string wav = TempPath("loop.wav");
    {
        auto le = [](uint32_t v, int n)
        {
            std::string b;
            for (int i = 0; i < n; ++i)
                b += static_cast<char>((v >> (8 * i)) & 0xFF);
            return b;
        };
        std::ofstream out(wav, std::ios::binary);
        out << "RIFF" << le(36 + static_cast<uint32_t>(frames.size()), 4) << "WAVEfmt " << le(16, 4)
            << le(1, 2) << le(2, 2) << le(48000, 4) << le(192000, 4) << le(4, 2) << le(16, 2) << "data"
            << le(static_cast<uint32_t>(frames.size()), 4);
        out.write(reinterpret_cast<const char*>(frames.data()), static_cast<std::streamsize>(frames.size()));
    }
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.154", "--audio", wav, "--audio-stall", "300@0.02",
                            "--audio-packets", "4", "--exit-after-clients", "1", "--quiet"}));
    PeerTestClient audio;
    ASSERT_TRUE(audio.Connect("127.0.0.154"));
    PeerTestConnectFields fields;
    fields.Kind = 3;
    ASSERT_TRUE(audio.ConnectRequestSend(fields));
    for (size_t k = 0; k < 4; ++k)
    {
        PeerTestPacket packet;
        ASSERT_TRUE(audio.PacketRead(packet));
        ASSERT_EQ(packet.Type(), 14u);
        ASSERT_EQ(packet.Payload.size(), PEER_AUDIO_PACKET_BYTES);
        for (size_t i = 0; i < PEER_AUDIO_PACKET_BYTES; ++i)
            ASSERT_EQ(packet.Payload[i], frames[(k * PEER_AUDIO_PACKET_BYTES + i) % frames.size()])
                << k << " " << i;
    }
    ASSERT_TRUE(audio.HeaderSend(8));
    EXPECT_EQ(peer.Wait(), 0);
}

namespace
{
// Processor time (user and system) the process `pid` has used so far.
double CpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}
} // namespace

// Out of descriptors the peer waits quietly for one to be freed: one log
// line for the episode and hardly any processor time, and once the idle
// sockets have gone the next viewer is served.
TEST(PeerConnections, RunningOutOfDescriptorsIsOneQuietEpisode)
{
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' own checks open a pipe to probe memory: without a
    // free descriptor they report a fault that is not there, and end the peer.
    GTEST_SKIP() << "out of descriptors, the sanitizers cannot check the peer";
#endif
    const std::string log = TempPath("descriptors.log");
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.151", "--size", "64x48", "--codec", "raw", "--quiet"}, log));
    // Room for 16 connections beyond what the peer holds already.
    const auto held =
        std::distance(std::filesystem::directory_iterator("/proc/" + std::to_string(peer.PidGet()) + "/fd"),
                      std::filesystem::directory_iterator());
    const rlimit limit = {static_cast<rlim_t>(held) + 16, static_cast<rlim_t>(held) + 16};
    ASSERT_EQ(prlimit(peer.PidGet(), RLIMIT_NOFILE, &limit, nullptr), 0) << std::strerror(errno);
    std::vector<int> idle;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(28252);
    inet_pton(AF_INET, "127.0.0.151", &address.sin_addr);
    for (int i = 0; i < 64; ++i)
    {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        idle.push_back(fd);
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double before = CpuSeconds(peer.PidGet());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double used = CpuSeconds(peer.PidGet()) - before;
    EXPECT_LT(used, 0.4) << "the peer spun while out of descriptors";
    std::ifstream in(log);
    std::string line;
    int lines = 0;
    while (std::getline(in, line))
        lines += line.find("accept4") != std::string::npos;
    EXPECT_EQ(lines, 1);
    for (int fd : idle)
        close(fd);
    PeerTestClient viewer;
    ASSERT_TRUE(viewer.Connect("127.0.0.151"));
    ASSERT_TRUE(viewer.ConnectRequestSend());
    ExpectVisibility(viewer, 1);
}

// A socket that sends no connect request, or only part of one, is closed
// at the deadline; a viewer whose request comes in time is served, and no
// deadline applies once the request is in.
TEST(PeerConnections, TheConnectRequestHasADeadline)
{
    const std::string log = TempPath("deadline.log");
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.149", "--size", "64x48", "--codec", "raw", "--still",
                            "--request-timeout", "0.5", "--quiet"},
                           log));
    const auto start = std::chrono::steady_clock::now();
    PeerTestClient idle, partial, slow;
    ASSERT_TRUE(idle.Connect("127.0.0.149"));
    ASSERT_TRUE(partial.Connect("127.0.0.149"));
    ASSERT_TRUE(slow.Connect("127.0.0.149"));
    std::vector<uint8_t> request = PeerTestClient::ConnectRequestBuild(PeerTestConnectFields());
    ASSERT_TRUE(partial.SendBytes(request.data(), 200));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(slow.ConnectRequestSend());
    ExpectVisibility(slow, 1);
    std::vector<PeerTestPacket> packets;
    ASSERT_NO_FATAL_FAILURE(FrameRead(slow, 64, 48, 1, 0, packets));
    // The client gives up after 15 s: a peer without a deadline fails here.
    EXPECT_TRUE(idle.EndOfStreamRead());
    EXPECT_TRUE(partial.EndOfStreamRead());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(450));
    std::this_thread::sleep_until(start + std::chrono::milliseconds(1500));
    EXPECT_TRUE(slow.IsOpen());
    std::ifstream in(log);
    std::string line;
    int closed = 0;
    while (std::getline(in, line))
        closed += line.find("no connect request") != std::string::npos;
    EXPECT_EQ(closed, 2);
}

// Display connections beyond --max-clients get Disconnect 0 at once; audio
// connections do not count, and a display slot that frees up is taken again.
TEST(PeerConnections, DisplayConnectionsBeyondTheCapAreTurnedAway)
{
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.150", "--size", "64x48", "--codec", "raw", "--still",
                            "--max-clients", "2", "--quiet"}));
    PeerTestClient first, second, third, audio, fourth;
    for (PeerTestClient* c : {&first, &second})
    {
        ASSERT_TRUE(c->Connect("127.0.0.150"));
        ASSERT_TRUE(c->ConnectRequestSend());
        ExpectVisibility(*c, 1);
    }
    ASSERT_TRUE(third.Connect("127.0.0.150"));
    ASSERT_TRUE(third.ConnectRequestSend());
    ExpectDisconnectAndEnd(third, 0);
    ASSERT_TRUE(audio.Connect("127.0.0.150"));
    PeerTestConnectFields fields;
    fields.Kind = 3;
    ASSERT_TRUE(audio.ConnectRequestSend(fields));
    ExpectAudioPackets(audio, 2);
    // The first viewer leaves; once its connection has ended the slot is free.
    ASSERT_TRUE(first.HeaderSend(8));
    PeerTestPacket p;
    while (first.PacketRead(p))
    {
    }
    ASSERT_TRUE(fourth.Connect("127.0.0.150"));
    ASSERT_TRUE(fourth.ConnectRequestSend());
    ExpectVisibility(fourth, 1);
    EXPECT_TRUE(second.IsOpen());
}

namespace
{
// The body of the vanishing viewer test, in a child process that has made
// its own network namespace (it must not run where other tests run): the
// peer on 10.77.0.1 here, the viewer on 10.77.0.2 in a second namespace
// behind a veth pair. 0 when the peer ended both of the viewer's
// connections after the viewer's link went down, 77 when no namespace can
// be made, 1 otherwise.
int VanishedViewerRun()
{
    if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return 77;
    // The viewer's namespace lives as long as a child that waits in it.
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return 77;
    const pid_t holder = fork();
    if (holder == 0)
    {
        const char made = unshare(CLONE_NEWNET) == 0 ? 1 : 0;
        ssize_t written = write(ready[1], &made, 1);
        (void)written;
        pause();
        _exit(0);
    }
    struct HolderStop
    {
        pid_t Pid;
        ~HolderStop()
        {
            if (Pid > 0)
            {
                kill(Pid, SIGKILL);
                waitpid(Pid, nullptr, 0);
            }
        }
    } holderStop{holder};
    char made = 0;
    if (holder < 0 || read(ready[0], &made, 1) != 1 || made != 1)
        return 77;
    const std::string holderText = std::to_string(holder);
    if (std::system(("ip link set lo up && ip link add qm0 type veth peer name qm1 && "
                     "ip addr add 10.77.0.1/24 dev qm0 && ip link set qm0 up && ip link set qm1 netns " +
                     holderText)
                        .c_str()) != 0)
        return 77;
    const int home = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int away = open(("/proc/" + holderText + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    // Runs a command in the viewer's namespace.
    auto awayRun = [&](const char* command)
    {
        const bool done = setns(away, CLONE_NEWNET) == 0 && std::system(command) == 0;
        return setns(home, CLONE_NEWNET) == 0 && done;
    };
    if (home < 0 || away < 0 ||
        !awayRun("ip link set lo up && ip addr add 10.77.0.2/24 dev qm1 && "
                 "ip link set qm1 up"))
        return 77;
    PeerTestProcess peer;
    if (!peer.Start({"--bind", "10.77.0.1", "--size", "64x48", "--codec", "raw", "--fps", "5", "--window",
                     "0", "--audio", "off"}))
    {
        std::fprintf(stderr, "the peer did not start\n");
        return 1;
    }
    // Both connections are made from the viewer's namespace (a socket stays
    // in the namespace it was made in).
    PeerTestClient display, audio;
    bool connected =
        setns(away, CLONE_NEWNET) == 0 && display.Connect("10.77.0.1") && audio.Connect("10.77.0.1");
    if (setns(home, CLONE_NEWNET) != 0 || !connected)
    {
        std::fprintf(stderr, "the viewer could not connect\n");
        return 1;
    }
    // The display connection keeps sending (no flow control); the silent
    // audio connection (--audio off) sends nothing at all.
    PeerTestConnectFields audioFields;
    audioFields.Kind = 3;
    PeerTestPacket visibility, frame;
    if (!display.ConnectRequestSend() || !audio.ConnectRequestSend(audioFields) ||
        !display.PacketRead(visibility) || !display.PacketRead(frame) || frame.Type() != 2)
    {
        std::fprintf(stderr, "the viewer got no frame\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (!awayRun("ip link set qm1 down"))
        return 1;
    const auto gone = std::chrono::steady_clock::now();
    auto ended = [&]
    {
        const std::string output = peer.OutputGet();
        int count = 0;
        for (size_t at = output.find(" ended after"); at != std::string::npos;
             at = output.find(" ended after", at + 1))
            ++count;
        return count;
    };
    while (ended() < 2 && std::chrono::steady_clock::now() - gone < std::chrono::seconds(40))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - gone).count();
    std::fprintf(stderr, "%d of 2 connections ended %.1f s after the viewer vanished\n", ended(), seconds);
    return ended() == 2 ? 0 : 1;
}
} // namespace

// A viewer that vanishes without closing (a laptop goes to sleep, the Wi-Fi
// drops) loses its connections within seconds: the peer gives up on data
// that nothing acknowledges and probes a connection that is quiet.
TEST(PeerConnections, AViewerThatVanishesIsDroppedWithinSeconds)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(VanishedViewerRun());
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private network namespace here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(PeerSaveLast, PngEqualsTheLastFrameSent)
{
    const std::string png = TempPath("last.png");
    std::filesystem::remove(png);
    PeerTestProcess peer;
    ASSERT_TRUE(
        peer.Start({"--bind", "127.0.0.42", "--size", "200x150", "--fps", "0", "--window", "0", "--codec",
                    "jpeg", "--frames", "5", "--save-last", png, "--exit-after-clients", "1", "--quiet"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.42"));
    ASSERT_TRUE(client.ConnectRequestSend());
    PeerTestPacket p;
    while (client.PacketRead(p))
    {
    }
    client.Close();
    ASSERT_EQ(peer.Wait(), 0);
    std::vector<uint8_t> rgb;
    int width = 0, height = 0;
    ASSERT_TRUE(SAUtilPng::Read(png, rgb, width, height));
    ASSERT_EQ(width, 200);
    ASSERT_EQ(height, 150);
    std::vector<uint8_t> expected = SynthFrame(200, 150, 4);
    size_t mismatches = 0;
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
    {
        mismatches += rgb[i * 3] != expected[i * 4 + 2] || rgb[i * 3 + 1] != expected[i * 4 + 1] ||
                      rgb[i * 3 + 2] != expected[i * 4];
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(PeerShutdown, TermSignalEndsStreamingCleanly)
{
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.43", "--size", "64x48", "--fps", "100", "--codec", "yuv"}));
    PeerTestClient client;
    ASSERT_TRUE(client.Connect("127.0.0.43"));
    ASSERT_TRUE(client.ConnectRequestSend());
    ExpectVisibility(client, 1);
    std::vector<PeerTestPacket> packets;
    ASSERT_NO_FATAL_FAILURE(FrameRead(client, 64, 48, 1, 1, packets));
    peer.Signal(SIGTERM);
    PeerTestPacket p;
    while (client.PacketRead(p))
    {
        client.AckSend(); // may fail once the peer has shut the connection
    }
    EXPECT_EQ(peer.Wait(), 0);
    EXPECT_NE(peer.OutputGet().find("quillmere-peer: connection 1 from 127."), std::string::npos)
        << peer.OutputGet();
}

// The server logic embedded in a test's own process, as benchmarks use it.
TEST(PeerEmbedded, ServerRunsInProcessAndStopsOnRequest)
{
    PeerOptions options;
    options.BindAddress = "127.0.0.44";
    options.Width = 96;
    options.Height = 64;
    options.Fps = 0;
    options.Codec = PeerCodec::Raw;
    options.Fragments = 2;
    options.Quiet = true;
    PeerServer server(options);
    ASSERT_TRUE(server.Start()) << server.ErrorGet();
    {
        PeerTestClient client;
        ASSERT_TRUE(client.Connect("127.0.0.44"));
        ASSERT_TRUE(client.ConnectRequestSend());
        ExpectVisibility(client, 1);
        for (uint32_t frame = 0; frame < 8; ++frame)
        {
            std::vector<PeerTestPacket> packets;
            ASSERT_NO_FATAL_FAILURE(FrameRead(client, 96, 64, 2, 0, packets));
            std::vector<uint8_t> expected = SynthFrame(96, 64, frame);
            EXPECT_TRUE(std::equal(packets[1].Payload.begin(), packets[1].Payload.end(),
                                   expected.begin() + 32 * 96 * 4));
            ASSERT_TRUE(client.AckSend());
        }
        server.StopRequest();
        server.Wait();
        PeerTestPacket p;
        while (client.PacketRead(p))
        {
        }
    }
    EXPECT_EQ(server.ConnectionsEndedGet(), 1u);
    // A second server can take the address again at once.
    PeerServer again(options);
    EXPECT_TRUE(again.Start()) << again.ErrorGet();
}

// --audio monitor: what a sound server's default sink plays (here a private
// PulseAudio with a null sink, fed a steady sample by pacat), and the tone
// where no sound server answers.
TEST(PeerAudio, MonitorSendsWhatTheMachinePlaysOrElseTheTone)
{
#if defined(__SANITIZE_THREAD__)
    // libpulse's own threads and mutexes are not instrumented: the thread
    // sanitizer takes its locking for races and ends the peer.
    GTEST_SKIP() << "libpulse is not instrumented for the thread sanitizer";
#endif
    PeerTestConnectFields fields;
    fields.Kind = 3;
    {
        setenv("PULSE_SERVER", "unix:/nonexistent/quillmere-test", 1);
        PeerTestProcess peer;
        ASSERT_TRUE(peer.Start({"--bind", "127.0.0.148", "--audio", "monitor", "--quiet"}));
        PeerTestClient audio;
        ASSERT_TRUE(audio.Connect("127.0.0.148"));
        ASSERT_TRUE(audio.ConnectRequestSend(fields));
        ExpectAudioPackets(audio, 3);
    }
    const std::string dir = TempPath("pulse");
    std::filesystem::create_directories(dir);
    const std::string server = "unix:" + dir + "/socket";
    const std::string daemon =
        "HOME='" + dir + "' XDG_RUNTIME_DIR='" + dir +
        "' pulseaudio -n --daemonize=no --exit-idle-time=5 --use-pid-file=no "
        "--load='module-native-protocol-unix socket=" +
        dir + "/socket auth-anonymous=1' --load='module-null-sink rate=48000' 2>/dev/null & ";
    // The sample 0x1234 on both channels, played for up to 20 s (a guard).
    const std::string play = "for i in $(seq 50); do PULSE_SERVER=" + server +
                             " pactl info >/dev/null 2>&1 && break; sleep 0.1; done; "
                             "yes \"$(printf '4\\022')\" | tr -d '\\n' | head -c 3840000 | PULSE_SERVER=" +
                             server + " pacat --format=s16le --rate=48000 --channels=2 & ";
    ASSERT_EQ(
        std::system(("(" + daemon + play + "wait) >/dev/null 2>&1 & echo $! > '" + dir + "/pid'").c_str()),
        0);
    for (int i = 0; i < 500 && !std::filesystem::exists(dir + "/socket"); ++i)
        usleep(10000);
    setenv("PULSE_SERVER", server.c_str(), 1);
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.148", "--audio", "monitor", "--quiet"}));
    unsetenv("PULSE_SERVER");
    PeerTestClient audio;
    ASSERT_TRUE(audio.Connect("127.0.0.148"));
    ASSERT_TRUE(audio.ConnectRequestSend(fields));
    bool heard = false;
    for (int k = 0; k < 1000 && !heard; ++k)
    {
        PeerTestPacket packet;
        ASSERT_TRUE(audio.PacketRead(packet));
        ASSERT_EQ(packet.Type(), 14u);
        ASSERT_EQ(packet.ByteCount(), PEER_AUDIO_PACKET_BYTES);
        heard = packet.Payload[1000] == 0x34 && packet.Payload[1001] == 0x12;
    }
    EXPECT_TRUE(heard);
    // Clean-up only: nothing may be left to kill.
    [[maybe_unused]] const int cleaned =
        std::system(("pkill -P \"$(cat '" + dir + "/pid')\"; rm -rf '" + dir + "'").c_str());
}
