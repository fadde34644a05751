// SAAudioRenderer on real SDL audio: the disk driver plays in real time and
// writes every played byte to a file, so what the device really got can be
// compared with what was rendered. Silence that SDL plays while nothing is
// queued is written as zero frames; the test data never holds a zero frame,
// so dropping zero frames leaves exactly the rendered sound.
#include "audio/SAAudioRenderer.h"
#include "core/PSTime.h"
#include "core/SALog.h"
#include "tests/core/SATestWait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
class AudioTestDisk
{
public:
    // channels: the configured output layout ("" = SDL's default).
    explicit AudioTestDisk(const char* channels = "")
    {
        char pattern[] = "/tmp/qm-audio-test.XXXXXX";
        int fd = mkstemp(pattern);
        if (fd >= 0)
            close(fd);
        m_Path = pattern;
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", m_Path.c_str(), 1);
        if (*channels != 0)
            setenv("SDL_AUDIO_CHANNELS", channels, 1);
        else
            unsetenv("SDL_AUDIO_CHANNELS");
    }
    ~AudioTestDisk()
    {
        unlink(m_Path.c_str());
        unsetenv("SDL_AUDIO_CHANNELS");
    }

    // The played bytes without the silent frames of frameBytes bytes.
    std::vector<uint8_t> SoundGet(size_t frameBytes) const
    {
        std::ifstream in(m_Path, std::ios::binary);
        std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<uint8_t> sound;
        for (size_t at = 0; at + frameBytes <= all.size(); at += frameBytes)
        {
            bool silent = true;
            for (size_t i = 0; i < frameBytes; ++i)
                silent = silent && all[at + i] == 0;
            if (!silent)
                sound.insert(sound.end(), all.begin() + at, all.begin() + at + frameBytes);
        }
        return sound;
    }

private:
    std::string m_Path;
};

// Stereo frames numbered from `first`, no sample ever 0.
std::vector<uint8_t> AudioTestStereo(uint32_t first, size_t frames)
{
    std::vector<uint8_t> bytes(frames * 4);
    for (size_t i = 0; i < frames; ++i)
    {
        const uint32_t n = first + static_cast<uint32_t>(i);
        const auto left = static_cast<uint16_t>(1 + n % 30000);
        const auto right = static_cast<uint16_t>(0x8000 | (n % 0x7FFF + 1));
        std::memcpy(&bytes[i * 4], &left, 2);
        std::memcpy(&bytes[i * 4 + 2], &right, 2);
    }
    return bytes;
}

std::vector<uint8_t> AudioTestFrame(int16_t left, int16_t right)
{
    std::vector<uint8_t> bytes(4);
    std::memcpy(&bytes[0], &left, 2);
    std::memcpy(&bytes[2], &right, 2);
    return bytes;
}

// The listening end of a pipe that the disk driver plays into: it keeps
// what it reads until Stop, which closes it, so that the driver's next write
// fails and SDL takes the device as lost. Opened without blocking, so the
// driver finds it ready whenever it opens the pipe.
class AudioTestPipeReader
{
public:
    explicit AudioTestPipeReader(const std::string& path)
    {
        m_Fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_Fd >= 0)
            m_Thread = std::thread([this] { PrivateRead(); });
    }
    ~AudioTestPipeReader() { Stop(); }
    bool OkGet() const { return m_Fd >= 0; }
    void Stop()
    {
        m_Stop = true;
        if (m_Thread.joinable())
            m_Thread.join();
        if (m_Fd >= 0)
            close(m_Fd);
        m_Fd = -1;
    }
    // The stereo frames read so far that are not silence.
    size_t SoundFramesGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_SoundFrames;
    }

private:
    void PrivateRead()
    {
        std::vector<uint8_t> pending;
        while (!m_Stop.load())
        {
            pollfd ready = {m_Fd, POLLIN, 0};
            if (poll(&ready, 1, 10) <= 0)
                continue;
            uint8_t bytes[8192];
            const ssize_t n = read(m_Fd, bytes, sizeof(bytes));
            if (n <= 0)
            {
                PSTimeSleep(10); // no writer at the moment
                continue;
            }
            pending.insert(pending.end(), bytes, bytes + n);
            size_t at = 0;
            size_t sound = 0;
            for (; at + 4 <= pending.size(); at += 4)
                sound += std::any_of(pending.begin() + static_cast<std::ptrdiff_t>(at),
                                     pending.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                     [](uint8_t b) { return b != 0; });
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
            std::lock_guard<std::mutex> guard(m_Lock);
            m_SoundFrames += sound;
        }
    }

    int m_Fd = -1;
    std::atomic<bool> m_Stop{false};
    std::mutex m_Lock;
    size_t m_SoundFrames = 0; // guarded by m_Lock
    std::thread m_Thread;
};

void AudioTestDrainAndRelease(SAAudioRenderer& renderer)
{
    // Once SDL has taken the last queued byte the device thread writes it
    // before it can notice the close.
    ASSERT_TRUE(SATestWaitFor([&] { return renderer.PaddingGet() == 0; }, 30));
    renderer.Stop();
    EXPECT_FALSE(renderer.StartedGet());
    renderer.Release();
}
} // namespace

// A stereo device gets every whole frame of every packet, in order: packets
// larger than the free room are queued in several chunks and wait for room,
// the last chunk adds only what it holds, and a ragged tail (sizes from the
// network need not be whole frames) is never played nor read past. The
// device buffer is about 10 ms (SDL's own choice is 85 ms), and the log says
// what the device granted.
TEST(AudioRendererDisk, StereoPlaysEveryWholeFrameInOrderAcrossChunks)
{
    AudioTestDisk disk;
    SAAudioRenderer renderer;
    std::vector<std::string> lines;
    int sink = SALogSinkAdd([&](uint32_t, std::string_view line) { lines.emplace_back(line); });
    ASSERT_TRUE(renderer.Initialize());
    SALogSinkRemove(sink);
    ASSERT_EQ(renderer.ChannelsGet(), 2);
    ASSERT_EQ(renderer.BufferBytesGet(), 512u * 4);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "SAAudioRenderer::PrivateAudioClientInitialize device period 512 frames (10 ms) "
                        "asked 512, 2 channels\n");
    ASSERT_TRUE(renderer.Start());
    EXPECT_TRUE(renderer.StartedGet());
    EXPECT_FALSE(renderer.Start()) << "a second Start must be refused";

    const size_t bufferFrames = renderer.BufferBytesGet() / 4;
    // Sizes in bytes: three buffers and a bit (chunked), exactly one buffer,
    // a small packet, a ragged one, a single byte, a one-frame packet.
    const std::vector<size_t> sizes = {(3 * bufferFrames + 7) * 4, bufferFrames * 4, 400, 4 * 33 + 3, 1, 4};
    std::vector<uint8_t> expected;
    std::atomic<bool> rendering{true};
    std::atomic<uint32_t> paddingMax{0};
    std::thread sampler(
        [&]
        {
            while (rendering.load())
            {
                uint32_t padding = renderer.PaddingGet();
                if (padding > paddingMax.load())
                    paddingMax.store(padding);
                PSTimeSleep(1);
            }
        });
    uint32_t frame = 0;
    for (size_t size : sizes)
    {
        // The packet's own buffer holds exactly `size` bytes, so a read past
        // it shows under the address sanitizer.
        std::vector<uint8_t> whole = AudioTestStereo(frame, size / 4 + 1);
        std::vector<uint8_t> packet(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        expected.insert(expected.end(), packet.begin(),
                        packet.begin() + static_cast<std::ptrdiff_t>(size / 4 * 4));
        frame += static_cast<uint32_t>(size / 4);
        renderer.Render(packet.data(), packet.size());
    }
    rendering = false;
    sampler.join();
    // The queue never holds more than the device buffer: latency stays bounded.
    EXPECT_LE(paddingMax.load(), renderer.BufferBytesGet());
    AudioTestDrainAndRelease(renderer);

    std::vector<uint8_t> played = disk.SoundGet(4);
    ASSERT_EQ(played.size(), expected.size());
    EXPECT_TRUE(played == expected) << "played bytes differ from the rendered ones";
}

// A mono device plays each stereo frame as the 16-bit wrapped sum of its two
// samples; a 4-byte packet becomes one 2-byte frame and a ragged tail is
// ignored.
TEST(AudioRendererDisk, MonoDevicePlaysTheWrappedSumOfEachFrame)
{
    AudioTestDisk disk("1");
    SAAudioRenderer renderer;
    ASSERT_TRUE(renderer.Initialize());
    ASSERT_EQ(renderer.ChannelsGet(), 1);
    ASSERT_TRUE(renderer.Start());

    struct Case
    {
        int16_t left, right, sum;
    };
    const Case cases[] = {{1, 2, 3},           {30000, 30000, -5536}, {-30000, -30000, 5536},
                          {-32768, -1, 32767}, {100, -99, 1},         {32767, 1, -32768}};
    std::vector<uint8_t> expected;
    for (const Case& c : cases)
    {
        std::vector<uint8_t> packet = AudioTestFrame(c.left, c.right);
        renderer.Render(packet.data(), packet.size());
        expected.insert(expected.end(), {static_cast<uint8_t>(static_cast<uint16_t>(c.sum) & 0xFF),
                                         static_cast<uint8_t>(static_cast<uint16_t>(c.sum) >> 8)});
    }
    // A larger packet with a ragged tail of three bytes.
    std::vector<uint8_t> big = AudioTestStereo(5, 2000);
    big.resize(big.size() - 1);
    std::vector<uint8_t> source = big;
    renderer.Render(big.data(), big.size());
    for (size_t i = 0; i + 4 <= source.size(); i += 4)
    {
        uint16_t l = 0;
        uint16_t r = 0;
        std::memcpy(&l, &source[i], 2);
        std::memcpy(&r, &source[i + 2], 2);
        const auto sum = static_cast<uint16_t>(l + r);
        if (sum == 0)
            continue; // indistinguishable from silence; the data avoids it
        expected.push_back(static_cast<uint8_t>(sum & 0xFF));
        expected.push_back(static_cast<uint8_t>(sum >> 8));
    }
    AudioTestDrainAndRelease(renderer);

    std::vector<uint8_t> played = disk.SoundGet(2);
    ASSERT_EQ(played.size(), expected.size());
    EXPECT_TRUE(played == expected);
}

// A device with more channels than the stream keeps getting a stereo stream
// that SDL maps onto its layout; the renderer never passes stereo bytes off
// as six-channel frames.
TEST(AudioRendererDisk, SurroundDeviceGetsTheStreamAsStereo)
{
    AudioTestDisk disk("6");
    SAAudioRenderer renderer;
    ASSERT_TRUE(renderer.Initialize());
    EXPECT_EQ(renderer.ChannelsGet(), 2);
    ASSERT_TRUE(renderer.Start());
    std::vector<uint8_t> packet = AudioTestStereo(0, 3000);
    std::vector<uint8_t> expected = packet;
    renderer.Render(packet.data(), packet.size());
    AudioTestDrainAndRelease(renderer);
    std::vector<uint8_t> played = disk.SoundGet(4);
    EXPECT_TRUE(played == expected);
}

// A stop does not wait for a long packet to finish playing.
TEST(AudioRendererDisk, RenderCancelEndsAWaitingRender)
{
    AudioTestDisk disk;
    SAAudioRenderer renderer;
    ASSERT_TRUE(renderer.Initialize());
    ASSERT_TRUE(renderer.Start());
    // A minute of sound: without the cancel Render would return after it
    // has all been queued, a minute from now.
    std::vector<uint8_t> packet = AudioTestStereo(0, 48000 * 60);
    std::atomic<bool> returned{false};
    std::thread player(
        [&]
        {
            renderer.Render(packet.data(), packet.size());
            returned = true;
        });
    ASSERT_TRUE(SATestWaitFor([&] { return renderer.PaddingGet() > 0; }, 30));
    renderer.RenderCancel();
    EXPECT_TRUE(SATestWaitFor([&] { return returned.load(); }, 20));
    player.join();
    renderer.Stop();
    renderer.Release();
}

// The output device goes away while the stream plays (the sound server is
// restarted, a headset is pulled) and comes back later: SDL then reports the
// device stopped for good. Render notices it with the next packet, says so
// once, drops the sound meanwhile without waiting, tries to open the device
// again at most once a second, and plays once it can. Here the device is a
// pipe whose reader goes away; while it is away the pipe's folder is gone
// too, so that opening the device fails.
TEST(AudioRendererDisk, LostDeviceIsOpenedAgainAtMostOnceASecondAndPlays)
{
    char pattern[] = "/tmp/qm-audio-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string folder = dir + "/device";
    const std::string pipe = folder + "/pipe";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", pipe.c_str(), 1);
    unsetenv("SDL_AUDIO_CHANNELS");
    // A write into a pipe without reader must fail, not end the process.
    void (*const pipeHandler)(int) = signal(SIGPIPE, SIG_IGN);
    std::mutex linesLock;
    std::vector<std::string> lines;
    const int sink = SALogSinkAdd(
        [&](uint32_t, std::string_view line)
        {
            std::lock_guard<std::mutex> guard(linesLock);
            lines.emplace_back(line);
        });
    const auto count = [&](const std::string& prefix)
    {
        std::lock_guard<std::mutex> guard(linesLock);
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    };

    SAAudioRenderer renderer;
    uint32_t frame = 0;
    uint64_t renderMaxMs = 0;
    // Plays 10 ms packets in real time until done() or for at most ms.
    const auto play = [&](uint32_t ms, const std::function<bool()>& done)
    {
        const uint64_t start = PSTimeTickCount64();
        for (uint32_t k = 0; PSTimeTickCount64() - start < ms && !done(); ++k)
        {
            std::vector<uint8_t> packet = AudioTestStereo(frame, 480);
            frame += 480;
            const uint64_t before = PSTimeTickCount64();
            renderer.Render(packet.data(), packet.size());
            renderMaxMs = std::max(renderMaxMs, PSTimeTickCount64() - before);
            const uint64_t due = start + 10 * (k + 1);
            const uint64_t now = PSTimeTickCount64();
            if (due > now)
                PSTimeSleep(static_cast<uint32_t>(due - now));
        }
    };
    {
        AudioTestPipeReader first(pipe);
        ASSERT_TRUE(first.OkGet());
        ASSERT_TRUE(renderer.Initialize());
        ASSERT_TRUE(renderer.Start());
        play(5000, [&] { return first.SoundFramesGet() >= 4800; });
        ASSERT_GE(first.SoundFramesGet(), 4800u);
    }

    // The device is lost, and stays away for a second and a half.
    ASSERT_EQ(rename(folder.c_str(), (folder + ".away").c_str()), 0);
    renderMaxMs = 0;
    play(1500, [] { return false; });
    EXPECT_EQ(count("SAAudioRenderer::Render device lost!"), 1);
    const auto attempts = count("SAAudioRenderer::PrivateAudioClientInitialize SDL_OpenAudioDevice failed!");
    EXPECT_GE(attempts, 1);
    EXPECT_LE(attempts, 2);
    EXPECT_LT(renderMaxMs, 500u) << "Render waits for a device that is gone";
    EXPECT_TRUE(renderer.DeviceLostGet());

    // Back: the next attempt opens it and the sound goes on.
    ASSERT_EQ(rename((folder + ".away").c_str(), folder.c_str()), 0);
    {
        AudioTestPipeReader second(pipe);
        ASSERT_TRUE(second.OkGet());
        play(5000, [&] { return second.SoundFramesGet() >= 4800; });
        EXPECT_GE(second.SoundFramesGet(), 4800u) << "the sound never came back";
        EXPECT_EQ(count("SAAudioRenderer::Render device lost!"), 1);
        EXPECT_EQ(count("SAAudioRenderer::Render device open again"), 1);
        EXPECT_FALSE(renderer.DeviceLostGet());
        renderer.Stop();
        renderer.Release();
    }
    SALogSinkRemove(sink);
    signal(SIGPIPE, pipeHandler);
    unsetenv("SDL_AUDIODRIVER");
    unlink(pipe.c_str());
    rmdir(folder.c_str());
    rmdir(dir.c_str());
}

// Speakers are SDL's output devices; with no usable audio driver there are
// none, and nothing crashes on the way: every step fails with its log line.
TEST(AudioRendererNoDevice, NoDriverMeansNoSpeakersAndNothingPlays)
{
    {
        AudioTestDisk disk;
        std::vector<std::string> speakers;
        EXPECT_TRUE(SAAudioRenderer::EnumerateSpeakers(speakers));
        EXPECT_EQ(speakers.size(), 1u);
    }

    setenv("SDL_AUDIODRIVER", "quillmere-no-such-driver", 1);
    std::vector<std::string> lines;
    int sink = SALogSinkAdd([&](uint32_t, std::string_view line) { lines.emplace_back(line); });
    std::vector<std::string> speakers;
    EXPECT_FALSE(SAAudioRenderer::EnumerateSpeakers(speakers));
    EXPECT_TRUE(speakers.empty());

    SAAudioRenderer renderer;
    EXPECT_FALSE(renderer.Initialize());
    EXPECT_FALSE(renderer.Start());
    std::vector<uint8_t> packet = AudioTestStereo(0, 100);
    renderer.Render(packet.data(), packet.size());
    renderer.Stop();
    renderer.Release();
    SALogSinkRemove(sink);
    unsetenv("SDL_AUDIODRIVER");

    auto has = [&](const std::string& prefix)
    {
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0)
                return true;
        return false;
    };
    EXPECT_TRUE(has("SAAudioRenderer::EnumerateSpeakers SDL_InitSubSystem failed!"));
    EXPECT_TRUE(has("SAAudioRenderer::Initialize SDL_InitSubSystem failed!"));
    EXPECT_TRUE(has("SAAudioRenderer::Stop SDL_PauseAudioDevice Already Stopped!"));
}
