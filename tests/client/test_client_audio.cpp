// The audio connection end to end: the viewer's real server client, the
// console frame on a message loop and the real quillmere-peer on loopback,
// playing through SDL's disk driver, which writes every played byte to a
// file. The peer's tone has no zero sample, so dropping the silent frames
// SDL writes while nothing is queued leaves exactly the played tone.
#include "ClientTestHarness.h"
#include "audio/SAAudioRenderer.h"
#include "peer/PeerConnection.h"
#include "settings/SASettings.h"
#include "tests/net/NetTestHeap.h"
#include "tests/net/NetTestUtil.h"
#include "tests/peer/PeerTestProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
const char* const AUDIO_TEST_INSTANCE_ID = "{0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9}";

struct AudioRun
{
    ClientTestStore store;
    PeerTestProcess peer;
    std::string record;
    std::string played;

    AudioRun()
    {
        record = store.DirGet() + "/record.jsonl";
        played = store.DirGet() + "/played.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", played.c_str(), 1);
        unsetenv("SDL_AUDIO_CHANNELS");
    }
    ~AudioRun() { unsetenv("SDL_AUDIODRIVER"); }

    bool Start(uint32_t n, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"--bind", "127.0.0." + std::to_string(n), "--record", record,
                                         "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        return peer.Start(args);
    }
    std::string Record() { return ClientTestFileRead(record); }

    // The played stereo frames without SDL's silence.
    std::string Sound()
    {
        std::string all = ClientTestFileRead(played);
        std::string sound;
        for (size_t at = 0; at + 4 <= all.size(); at += 4)
        {
            if (all.compare(at, 4, std::string(4, '\0')) != 0)
                sound.append(all, at, 4);
        }
        return sound;
    }
};

// A server whose accept queue is full: the kernel drops every further SYN,
// so a connect to it waits through the SYN retries.
struct AudioTestSilentServer
{
    explicit AudioTestSilentServer(uint32_t n)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(SA_NET_SERVER_PORT);
        address.sin_addr.s_addr = htonl(ClientTestLoopback(n));
        const auto* a = reinterpret_cast<const sockaddr*>(&address);
        int reuse = 1;
        m_Ready = setsockopt(m_Listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) == 0 &&
                  bind(m_Listener, a, sizeof(address)) == 0 && listen(m_Listener, 0) == 0 &&
                  connect(m_Filler, a, sizeof(address)) == 0;
    }
    ~AudioTestSilentServer()
    {
        close(m_Filler);
        close(m_Listener);
    }
    int m_Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int m_Filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool m_Ready = false;
};

// A scripted audio server: the odd connections it accepts (counted from 1)
// get a server Disconnect at once, the even ones 10 ms AudioData packets
// until the viewer closes. It notes on each connection whether the viewer's
// own Disconnect arrived.
class AudioTestAlternatingServer
{
public:
    static constexpr int CONNECTIONS_MAX = 64;

    explicit AudioTestAlternatingServer(uint32_t n)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(SA_NET_SERVER_PORT);
        address.sin_addr.s_addr = htonl(ClientTestLoopback(n));
        int reuse = 1;
        m_Ready = setsockopt(m_Listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) == 0 &&
                  bind(m_Listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
                  listen(m_Listener, 16) == 0;
        if (m_Ready)
            m_Accepter = std::thread([this] { PrivateAccept(); });
    }
    ~AudioTestAlternatingServer()
    {
        m_Stop = true;
        if (m_Accepter.joinable())
            m_Accepter.join();
        for (std::thread& connection : m_Connections)
            connection.join();
        close(m_Listener);
    }
    bool ReadyGet() const { return m_Ready; }
    bool DisconnectReceivedGet(int number) const { return m_DisconnectReceived[number].load(); }
    uint64_t PacketsSentGet(int number) const { return m_PacketsSent[number].load(); }

private:
    void PrivateAccept()
    {
        while (!m_Stop.load())
        {
            pollfd ready = {m_Listener, POLLIN, 0};
            if (poll(&ready, 1, 20) <= 0)
                continue;
            const int fd = accept4(m_Listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int number = ++m_Accepted;
            if (number >= CONNECTIONS_MAX)
            {
                close(fd);
                continue;
            }
            m_Connections.emplace_back([this, fd, number] { PrivateServe(fd, number); });
        }
    }

    void PrivateServe(int fd, int number)
    {
        timeval wait = {20, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
        std::vector<uint8_t> request(SA_CONNECT_REQUEST_SIZE);
        std::vector<uint8_t> received;
        // Reads what the viewer sent; its headers are all it sends after the
        // request.
        const auto take = [&](int flags)
        {
            uint8_t bytes[4096];
            const ssize_t n = recv(fd, bytes, sizeof(bytes), flags);
            if (n > 0)
                received.insert(received.end(), bytes, bytes + n);
            for (size_t at = 0; at + SA_PACKET_HEADER_SIZE <= received.size(); at += SA_PACKET_HEADER_SIZE)
            {
                if (SAPacketHeader::FromBytes(received.data() + at).HeaderTypeGet() == SA_HEADER_DISCONNECT)
                    m_DisconnectReceived[number] = true;
            }
            return n;
        };
        const auto sendAll = [fd](const void* data, size_t size)
        { return send(fd, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size); };
        if (recv(fd, request.data(), request.size(), MSG_WAITALL) == static_cast<ssize_t>(request.size()))
        {
            if (number % 2 == 1)
            {
                SAPacketHeader bye;
                bye.HeaderTypeSet(SA_HEADER_DISCONNECT);
                sendAll(bye.m_Bytes, SA_PACKET_HEADER_SIZE);
            }
            else
            {
                SAPacketHeader audio;
                audio.HeaderTypeSet(SA_HEADER_AUDIO_DATA);
                audio.ByteCountSet(1920);
                std::vector<uint8_t> tone(1920);
                for (uint64_t frame = 0; !m_Stop.load(); frame += 480)
                {
                    PeerConnection::AudioToneFill(frame, tone.data(), 480);
                    if (!sendAll(audio.m_Bytes, SA_PACKET_HEADER_SIZE) || !sendAll(tone.data(), tone.size()))
                        break;
                    m_PacketsSent[number]++;
                    const ssize_t n = take(MSG_DONTWAIT);
                    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                        break;
                    PSTimeSleep(10);
                }
            }
            while (take(0) > 0)
            {
            }
        }
        close(fd);
    }

    int m_Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool m_Ready = false;
    std::atomic<bool> m_Stop{false};
    std::atomic<int> m_Accepted{0};
    std::atomic<bool> m_DisconnectReceived[CONNECTIONS_MAX] = {};
    std::atomic<uint64_t> m_PacketsSent[CONNECTIONS_MAX] = {};
    std::thread m_Accepter;
    std::vector<std::thread> m_Connections; // the accepter's until it is joined
};

bool AudioTestConnect(ClientTestHarness& viewer, uint32_t address, int32_t features)
{
    bool started = false;
    viewer.m_Loop.Invoke(
        [&] { started = viewer.m_Client.AudioConnect(address, AUDIO_TEST_INSTANCE_ID, features); });
    return started;
}

// The sound must be the peer's tone from its first frame on, without a gap,
// a repeat or a reordering.
void AudioTestExpectTone(const std::string& sound, size_t minimumFrames)
{
    ASSERT_GE(sound.size() / 4, minimumFrames);
    std::string tone(sound.size(), '\0');
    PeerConnection::AudioToneFill(0, reinterpret_cast<uint8_t*>(tone.data()), tone.size() / 4);
    EXPECT_TRUE(sound == tone) << "played audio is not the peer's tone";
}
} // namespace

// The viewer opens the audio connection with the audio request, plays what
// the server streams, and on AudioDisconnect sends Disconnect 0, closes and
// stores AudioStreamingEnabled 0.
TEST(ClientAudio, AudioConnectPlaysTheServersToneAndAudioDisconnectEndsIt)
{
    AudioRun run;
    ASSERT_TRUE(run.Start(141));
    {
        ClientTestHarness viewer;
        EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
        ASSERT_TRUE(AudioTestConnect(viewer, ClientTestLoopback(141), SA_NET_HOST_FEATURE_AUDIO));
        ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.m_Client.AudioActiveGet(); }));
        EXPECT_TRUE(SASettings::SettingsAudioOptionEnableGet());
        // Half a second of the 10 ms packets.
        ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.m_Client.AudioHeadersReceivedGet() >= 50; }));

        viewer.m_Loop.Invoke([&] { viewer.m_Client.AudioDisconnect(); });
        // AudioDisconnect on the window thread waits for the audio loop.
        EXPECT_FALSE(viewer.m_Client.AudioActiveGet());
        EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
        ASSERT_TRUE(ClientTestWaitFor(
            [&] { return run.Record().find("\"type\":\"Disconnect\"") != std::string::npos; }));
        std::string record = run.Record();
        EXPECT_NE(record.find("\"type\":\"ConnectRequest\",\"kind\":3"), std::string::npos) << record;
        EXPECT_NE(record.find(AUDIO_TEST_INSTANCE_ID), std::string::npos) << record;
        EXPECT_NE(record.find("\"type\":\"Disconnect\",\"reason\":0,\"strayBytes\":0"), std::string::npos)
            << record;
        EXPECT_TRUE(viewer.m_Frame.BoxesGet().empty());

        // A second disconnect has nothing to do.
        viewer.m_Loop.Invoke([&] { viewer.m_Client.AudioDisconnect(); });
        EXPECT_EQ(ClientTestCount(run.Record(), "\"type\":\"Disconnect\""), 1u);
    }
    // The loop's exit closed the device, which wrote out what it played.
    AudioTestExpectTone(run.Sound(), 480);
}

// A server Disconnect on the audio connection: the viewer answers with its
// own Disconnect, closes, stores AudioStreamingEnabled 0 and stops playing,
// without any box.
TEST(ClientAudio, ServerDisconnectOnTheAudioConnectionIsAnswered)
{
    AudioRun run;
    ASSERT_TRUE(run.Start(142, {"--audio-packets", "30"}));
    {
        ClientTestHarness viewer;
        ASSERT_TRUE(AudioTestConnect(viewer, ClientTestLoopback(142), SA_NET_HOST_FEATURE_AUDIO | 0x10));
        ASSERT_TRUE(ClientTestWaitFor(
            [&] { return run.Record().find("\"type\":\"Disconnect\"") != std::string::npos; }));
        ASSERT_TRUE(ClientTestWaitFor([&] { return !viewer.m_Client.AudioActiveGet(); }));
        ASSERT_TRUE(ClientTestWaitFor([&] { return !SASettings::SettingsAudioOptionEnableGet(); }));
        // Every packet arrived: thirty AudioData and the Disconnect.
        EXPECT_EQ(viewer.m_Client.AudioHeadersReceivedGet(), 31u);
        EXPECT_NE(run.Record().find("\"type\":\"Disconnect\",\"reason\":0,\"strayBytes\":0"),
                  std::string::npos);
        EXPECT_TRUE(viewer.m_Frame.BoxesGet().empty());
    }
    AudioTestExpectTone(run.Sound(), 1);
}

// Audio starts only when the server announces it (feature bit 0x8) and a
// speaker exists; otherwise nothing connects and nothing is shown.
TEST(ClientAudio, NoAudioFeatureOrNoSpeakerMeansNoConnection)
{
    AudioRun run;
    ASSERT_TRUE(run.Start(143));
    ClientTestHarness viewer;
    EXPECT_FALSE(AudioTestConnect(viewer, ClientTestLoopback(143), 0));
    EXPECT_FALSE(AudioTestConnect(viewer, ClientTestLoopback(143), 0x7FFFFFF7));

    setenv("SDL_AUDIODRIVER", "quillmere-no-such-driver", 1);
    EXPECT_FALSE(AudioTestConnect(viewer, ClientTestLoopback(143), SA_NET_HOST_FEATURE_AUDIO));
    setenv("SDL_AUDIODRIVER", "disk", 1);

    // The first connection the peer ever sees is the one made now.
    ASSERT_TRUE(AudioTestConnect(viewer, ClientTestLoopback(143), SA_NET_HOST_FEATURE_AUDIO));
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.m_Client.AudioActiveGet(); }));
    ASSERT_TRUE(ClientTestWaitFor([&] { return run.Record().find("ConnectRequest") != std::string::npos; }));
    std::string record = run.Record();
    EXPECT_EQ(ClientTestCount(record, "\"type\":\"ConnectRequest\""), 1u) << record;
    EXPECT_EQ(record.rfind("{\"conn\":1,\"type\":\"ConnectRequest\",\"kind\":3", 0), 0u) << record;
    viewer.m_Loop.Invoke([&] { viewer.m_Client.AudioDisconnect(); });
    EXPECT_TRUE(viewer.m_Frame.BoxesGet().empty());
}

// A failed audio connect is shown by the frame on its own thread as the
// audio failure box; the audio stays off.
TEST(ClientAudio, FailedAudioConnectShowsTheAudioFailureBox)
{
    AudioRun run;
    ClientTestHarness viewer;
    // Nothing listens on this address.
    ASSERT_TRUE(AudioTestConnect(viewer, ClientTestLoopback(149), SA_NET_HOST_FEATURE_AUDIO));
    ASSERT_TRUE(ClientTestWaitFor([&] { return !viewer.m_Frame.BoxesGet().empty(); }));
    std::vector<std::string> boxes = viewer.m_Frame.BoxesGet();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Msg title|Audio Disconneted");
    EXPECT_FALSE(viewer.m_Client.AudioActiveGet());
    EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
}

// Audio stopped while its connection is still being made (the display
// connection ends right after it started, the server does not answer) stays
// off, shows no box and never holds the window thread: the next AudioConnect
// goes ahead at once.
TEST(ClientAudio, CancelledAudioConnectStaysOffShowsNoBoxAndNeverHoldsTheWindowThread)
{
    AudioRun run;
    ASSERT_TRUE(run.Start(145));
    AudioTestSilentServer silent(146);
    ASSERT_TRUE(silent.m_Ready);
    ClientTestHarness viewer;

    ASSERT_TRUE(AudioTestConnect(viewer, ClientTestLoopback(146), SA_NET_HOST_FEATURE_AUDIO));
    PSTimeSleep(300); // its SYN is out and unanswered
    viewer.m_Loop.Invoke([&] { viewer.m_Client.AudioDisconnect(); });
    // Cancelled back to back, before, while or after the job connects; the
    // first from a thread of its own, so that a window thread held by the
    // SYN retries (about two minutes) fails the wait.
    auto cancelled = [&]
    {
        bool started = false;
        viewer.m_Loop.Invoke(
            [&]
            {
                started = viewer.m_Client.AudioConnect(ClientTestLoopback(145), AUDIO_TEST_INSTANCE_ID,
                                                       SA_NET_HOST_FEATURE_AUDIO);
                viewer.m_Client.AudioDisconnect();
            });
        return started;
    };
    std::atomic<int> started{-1};
    std::thread caller([&] { started = cancelled(); });
    EXPECT_TRUE(ClientTestWaitFor([&] { return started.load() >= 0; }))
        << "the window thread waits for the network";
    caller.join();
    EXPECT_EQ(started.load(), 1);
    for (int attempt = 0; attempt < 6; ++attempt)
        EXPECT_TRUE(cancelled()) << "attempt " << attempt;
    PSTimeSleep(100);
    EXPECT_FALSE(viewer.m_Client.AudioActiveGet());
    EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
    EXPECT_EQ(viewer.m_Client.AudioHeadersReceivedGet(), 0u);
    EXPECT_EQ(viewer.m_Frame.BoxesGet().size(), 0u);

    // And the audio still plays after all that.
    ASSERT_TRUE(AudioTestConnect(viewer, ClientTestLoopback(145), SA_NET_HOST_FEATURE_AUDIO));
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.m_Client.AudioHeadersReceivedGet() > 0; }));
    viewer.m_Loop.Invoke([&] { viewer.m_Client.AudioDisconnect(); });
}

// A hostile server on the audio connection: a payload the viewer drops is
// read past without being held, the audio behind it still plays, and an
// AudioData packet far above what a server sends ends the audio connection.
TEST(ClientAudio, DroppedPayloadsAreReadPastAndAnOversizedPacketEndsTheAudioConnection)
{
    AudioRun run;
    NetTestListener listener(ClientTestLoopback(147));
    ASSERT_TRUE(listener.Ok());
    NetTestLogCapture log;
    ClientTestHarness viewer;
    ASSERT_TRUE(AudioTestConnect(viewer, ClientTestLoopback(147), SA_NET_HOST_FEATURE_AUDIO));
    int fd = listener.Accept();
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> request(SA_CONNECT_REQUEST_SIZE);
    ASSERT_EQ(recv(fd, request.data(), request.size(), MSG_WAITALL), static_cast<ssize_t>(request.size()));
    const auto sendAll = [fd](const void* data, size_t size)
    { return send(fd, data, size, MSG_NOSIGNAL | MSG_WAITALL) == static_cast<ssize_t>(size); };

    // A frame on the audio connection, announcing 256 MiB.
    SAPacketHeader frame;
    frame.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
    SAFrameBufferInfo info;
    info.ScreenWidth = info.Right = 64;
    info.ScreenHeight = info.Bottom = 32;
    info.PitchInBytes = 256;
    SAPacketFrameBufferEncode(frame, info);
    const size_t announced = size_t(256) << 20;
    frame.ByteCountSet(static_cast<uint32_t>(announced));
    std::vector<uint8_t> chunk(size_t(1) << 20, 0x22);
    const int64_t before = static_cast<int64_t>(NetTestHeapHeldGet());
    ASSERT_TRUE(sendAll(frame.m_Bytes, SA_PACKET_HEADER_SIZE));
    for (size_t sent = 0; sent < announced; sent += chunk.size())
    {
        ASSERT_TRUE(sendAll(chunk.data(), chunk.size()));
        if (sent == announced / 4)
        {
            EXPECT_LT(static_cast<int64_t>(NetTestHeapHeldGet()) - before, int64_t(16) << 20);
        }
    }

    // A tenth of a second of the tone, in real 10 ms packets, plays whole.
    std::vector<uint8_t> tone(4800 * 4);
    PeerConnection::AudioToneFill(0, tone.data(), 4800);
    for (size_t at = 0; at < tone.size(); at += 1920)
    {
        SAPacketHeader audio;
        audio.HeaderTypeSet(SA_HEADER_AUDIO_DATA);
        audio.ByteCountSet(1920);
        ASSERT_TRUE(sendAll(audio.m_Bytes, SA_PACKET_HEADER_SIZE));
        ASSERT_TRUE(sendAll(tone.data() + at, 1920));
    }
    ASSERT_TRUE(ClientTestWaitFor([&] { return run.Sound().size() >= 480 * 4; }));

    SAPacketHeader oversized;
    oversized.HeaderTypeSet(SA_HEADER_AUDIO_DATA);
    oversized.ByteCountSet(64 * 1024 + 4);
    ASSERT_TRUE(sendAll(oversized.m_Bytes, SA_PACKET_HEADER_SIZE));
    timeval wait = {20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    uint8_t byte = 0;
    EXPECT_EQ(recv(fd, &byte, 1, 0), 0); // the viewer closed the connection
    EXPECT_EQ(log.Count("SATaskLoopedNetAudioReceiverRenderer::OnExecute failed! AudioData of 65540 bytes"),
              1u);
    EXPECT_EQ(viewer.m_Client.AudioHeadersReceivedGet(), 12u);
    viewer.m_Loop.Invoke([&] { viewer.m_Client.AudioDisconnect(); });
    close(fd);
    AudioTestExpectTone(run.Sound(), 480);
}

// A server that ends the audio with its Disconnect, and an AudioConnect at
// once after it (the user turns audio on again, a reconnect): the audio loop
// that served the ended connection is over before the new connection is
// made, so the new one starts without a failure box, is the only one that
// plays, is the one the stored flag describes, and AudioDisconnect stops it.
TEST(ClientAudio, AudioConnectRightAfterAServerDisconnectPlaysAloneAndAudioDisconnectStopsIt)
{
    AudioRun run;
    AudioTestAlternatingServer server(138);
    ASSERT_TRUE(server.ReadyGet());
    ClientTestHarness viewer;
    const uint32_t address = ClientTestLoopback(138);
    for (int round = 0; round < 20; ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        const int ended = 2 * round + 1;
        ASSERT_TRUE(AudioTestConnect(viewer, address, SA_NET_HOST_FEATURE_AUDIO));
        // The viewer answers the server's Disconnect once its audio is off;
        // its loop is still ending.
        ASSERT_TRUE(ClientTestWaitFor([&] { return server.DisconnectReceivedGet(ended); }));
        ASSERT_FALSE(viewer.m_Client.AudioActiveGet());

        ASSERT_TRUE(AudioTestConnect(viewer, address, SA_NET_HOST_FEATURE_AUDIO));
        ASSERT_TRUE(ClientTestWaitFor(
            [&]
            {
                return !viewer.m_Frame.BoxesGet().empty() ||
                       (viewer.m_Client.AudioActiveGet() && viewer.m_Client.AudioHeadersReceivedGet() >= 5);
            }));
        ASSERT_EQ(viewer.m_Frame.BoxesGet(), std::vector<std::string>{});
        ASSERT_TRUE(viewer.m_Client.AudioActiveGet());
        EXPECT_TRUE(SASettings::SettingsAudioOptionEnableGet());

        viewer.m_Loop.Invoke([&] { viewer.m_Client.AudioDisconnect(); });
        EXPECT_FALSE(viewer.m_Client.AudioActiveGet());
        EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
        ASSERT_TRUE(ClientTestWaitFor([&] { return server.DisconnectReceivedGet(ended + 1); }));
        const uint64_t headers = viewer.m_Client.AudioHeadersReceivedGet();
        PSTimeSleep(50);
        ASSERT_EQ(viewer.m_Client.AudioHeadersReceivedGet(), headers)
            << "audio plays on after AudioDisconnect";
    }
}

// A sound device that stops taking sound holds SDL's close until it takes
// sound again; a hung sound server does so without end. Here the pipe that
// SDL's disk driver plays into stops being read. Turning audio off then
// returns once the sound system's wait is over, turning it on again fails
// at once while the close still hangs, and once the device takes sound
// again the audio plays as before.
TEST(ClientAudio, ADeviceThatStopsTakingSoundNeverHoldsTheWindowThread)
{
    AudioRun run;
    const std::string pipe = run.store.DirGet() + "/device.pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    setenv("SDL_DISKAUDIOFILE", pipe.c_str(), 1);
    struct Device
    {
        int m_Fd = -1;
        std::atomic<bool> m_Reading{true};
        std::atomic<bool> m_Stop{false};
        std::atomic<uint64_t> m_Sound{0}; // bytes that are not silence
        std::thread m_Thread;
        ~Device()
        {
            m_Stop = true;
            if (m_Thread.joinable())
                m_Thread.join();
            close(m_Fd);
        }
    } device;
    device.m_Fd = open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(device.m_Fd, 0);
    device.m_Thread = std::thread(
        [&device]
        {
            while (!device.m_Stop.load())
            {
                uint8_t bytes[8192];
                const ssize_t n = device.m_Reading.load() ? read(device.m_Fd, bytes, sizeof(bytes)) : 0;
                if (n <= 0)
                    PSTimeSleep(5);
                else
                    device.m_Sound += static_cast<uint64_t>(
                        std::count_if(bytes, bytes + n, [](uint8_t b) { return b != 0; }));
            }
        });
    ASSERT_TRUE(run.Start(139));
    ClientTestHarness viewer;
    const uint32_t address = ClientTestLoopback(139);
    const auto elapsedMs = [](const std::function<void()>& step)
    {
        const uint64_t start = PSTimeTickCount64();
        step();
        return PSTimeTickCount64() - start;
    };
    ASSERT_TRUE(AudioTestConnect(viewer, address, SA_NET_HOST_FEATURE_AUDIO));
    ASSERT_TRUE(ClientTestWaitFor([&] { return device.m_Sound.load() >= 48000; }));

    device.m_Reading = false;
    PSTimeSleep(1000); // the pipe fills and SDL's device thread blocks in its write
    const uint64_t offMs =
        elapsedMs([&] { viewer.m_Loop.Invoke([&] { viewer.m_Client.AudioDisconnect(); }); });
    EXPECT_LT(offMs, SA_AUDIO_SOUND_SERVER_WAIT_MS + 2000u);
    EXPECT_FALSE(viewer.m_Client.AudioActiveGet());
    bool again = true;
    const uint64_t onMs =
        elapsedMs([&] { again = AudioTestConnect(viewer, address, SA_NET_HOST_FEATURE_AUDIO); });
    EXPECT_FALSE(again) << "no speakers while the sound system does not answer";
    EXPECT_LT(onMs, 1000u);

    device.m_Reading = true;
    ASSERT_TRUE(
        ClientTestWaitFor([&] { return AudioTestConnect(viewer, address, SA_NET_HOST_FEATURE_AUDIO); }));
    ASSERT_TRUE(ClientTestWaitFor([&] { return viewer.m_Client.AudioActiveGet(); }));
    const uint64_t before = device.m_Sound.load();
    EXPECT_TRUE(ClientTestWaitFor([&] { return device.m_Sound.load() >= before + 48000; }))
        << "the audio does not play again";
    viewer.m_Loop.Invoke([&] { viewer.m_Client.AudioDisconnect(); });
    EXPECT_TRUE(viewer.m_Frame.BoxesGet().empty());
}
