// The audio connection end to end: the viewer's real server client, the
// console frame on a message loop and the real quillmere-peer on loopback,
// playing through SDL's disk driver, which writes every played byte to a
// file. The peer's tone has no zero sample, so dropping the silent frames
// SDL writes while nothing is queued leaves exactly the played tone.
#include "ClientTestHarness.h"
#include "peer/PeerConnection.h"
#include "settings/SASettings.h"
#include "tests/peer/PeerTestProcess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

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
// connection ends right after it started) must stay off: the connect job
// that finishes afterwards tells the server and closes instead of playing.
TEST(ClientAudio, AudioDisconnectBeforeTheConnectionIsMadeKeepsAudioOff)
{
    AudioRun run;
    ASSERT_TRUE(run.Start(145));
    ClientTestHarness viewer;
    int cancelled = 0;
    for (int attempt = 0; attempt < 6; ++attempt)
    {
        bool started = false;
        viewer.m_Loop.Invoke(
            [&]
            {
                started = viewer.m_Client.AudioConnect(ClientTestLoopback(145), AUDIO_TEST_INSTANCE_ID,
                                                       SA_NET_HOST_FEATURE_AUDIO);
                viewer.m_Client.AudioDisconnect();
            });
        if (!started)
            continue; // the audio queue still ran after the previous attempt, as after a failed connect
        ++cancelled;
        const std::string connectRequest = "\"type\":\"ConnectRequest\"";
        ASSERT_TRUE(ClientTestWaitFor(
            [&] { return ClientTestCount(run.Record(), connectRequest) == static_cast<size_t>(cancelled); }));
        ASSERT_TRUE(ClientTestWaitFor(
            [&] {
                return ClientTestCount(run.Record(), "\"type\":\"Disconnect\"") ==
                       static_cast<size_t>(cancelled);
            }));
        PSTimeSleep(50);
        EXPECT_FALSE(viewer.m_Client.AudioActiveGet()) << "attempt " << attempt;
        EXPECT_FALSE(SASettings::SettingsAudioOptionEnableGet());
    }
    EXPECT_GE(cancelled, 3);
    EXPECT_EQ(viewer.m_Client.AudioHeadersReceivedGet(), 0u);
}
