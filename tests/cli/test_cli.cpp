// The headless viewer end to end: the real quillmere-cli executable against
// the real quillmere-peer on loopback addresses 127.0.0.121 .. 127.0.0.130,
// through the whole pipeline into the off-screen renderer.
#include "core/SAUtilPng.h"
#include "tests/peer/PeerTestProcess.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{
struct CliResult
{
    int status = -1;
    std::string out;
};

class CliDir
{
public:
    CliDir()
    {
        char pattern[] = "/tmp/qm-cli-test.XXXXXX";
        m_Dir = mkdtemp(pattern);
        mkdir((m_Dir + "/runtime").c_str(), 0700);
    }
    ~CliDir()
    {
        std::string command = "rm -rf '" + m_Dir + "'";
        int ignored = std::system(command.c_str());
        (void)ignored;
    }
    std::string Path(const std::string& name) const { return m_Dir + "/" + name; }

private:
    std::string m_Dir;
};

// Runs quillmere-cli with its own settings store and data folder; `interrupt`
// sends SIGINT once `after` appears in its output.
CliResult CliRun(const CliDir& dir, std::vector<std::string> args, const std::string& interruptAfter = "")
{
    int out[2];
    if (pipe(out) != 0)
        return {};
    std::vector<std::string> all = {QM_CLI_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0)
    {
        setenv("XDG_CONFIG_HOME", dir.Path("config").c_str(), 1);
        setenv("XDG_DATA_HOME", dir.Path("data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.Path("runtime").c_str(), 1);
        unsetenv("DISPLAY");
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    CliResult result;
    char buffer[4096];
    ssize_t got;
    bool interrupted = false;
    while ((got = read(out[0], buffer, sizeof(buffer))) > 0)
    {
        result.out.append(buffer, static_cast<size_t>(got));
        if (!interruptAfter.empty() && !interrupted && result.out.find(interruptAfter) != std::string::npos)
        {
            kill(pid, SIGINT);
            interrupted = true;
        }
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return result;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
    {
        double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    if (sum == 0)
        return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
}

// The same picture through TurboJPEG alone, band by band as the peer cuts
// it: what the codec loses by itself, for comparison with the pipeline.
std::vector<uint8_t> CodecRoundTrip(const std::vector<uint8_t>& rgb, int width, int height,
                                    const std::string& codec, int fragments)
{
    std::vector<uint8_t> out(rgb.size());
    tjhandle compress = tjInitCompress();
    tjhandle decompress = tjInitDecompress();
    const int band = height / fragments;
    for (int f = 0; f < fragments; ++f)
    {
        const int top = f * band;
        const int rows = f == fragments - 1 ? height - top : band;
        const uint8_t* source = rgb.data() + static_cast<size_t>(top) * width * 3;
        uint8_t* target = out.data() + static_cast<size_t>(top) * width * 3;
        if (codec == "yuv")
        {
            std::vector<uint8_t> yuv(tjBufSizeYUV2(width, 4, rows, TJSAMP_420));
            tjEncodeYUV3(compress, source, width, width * 3, rows, TJPF_RGB, yuv.data(), 4, TJSAMP_420, 0);
            tjDecodeYUV(decompress, yuv.data(), 4, TJSAMP_420, target, width, width * 3, rows, TJPF_RGB, 0);
        }
        else
        {
            unsigned char* jpeg = nullptr;
            unsigned long size = 0;
            tjCompress2(compress, source, width, width * 3, rows, TJPF_RGB, &jpeg, &size, TJSAMP_420, 90, 0);
            tjDecompress2(decompress, jpeg, size, target, width, width * 3, rows, TJPF_RGB, 0);
            tjFree(jpeg);
        }
    }
    tjDestroy(compress);
    tjDestroy(decompress);
    return out;
}

struct StreamPsnr
{
    double pipeline = 0; // the viewer's picture against the source
    double codec = 0;    // TurboJPEG alone against the source
};

// Streams `frames` frames with `codec` and returns the PSNR of the viewer's
// picture against the peer's last source frame (99 when identical).
StreamPsnr StreamCompare(uint32_t n, const std::string& codec, const std::string& fragments, int frames)
{
    CliDir dir;
    PeerTestProcess peer;
    const std::string address = "127.0.0." + std::to_string(n);
    EXPECT_TRUE(peer.Start({"--bind", address, "--size", "320x240", "--fps", "120", "--fragments", fragments,
                            "--codec", codec, "--quality", "90", "--frames", std::to_string(frames),
                            "--save-last", dir.Path("sent.png"), "--quiet"}));
    CliResult cli = CliRun(dir, {"--frames", std::to_string(frames), "--renderer", "gl", "--snapshot",
                                 dir.Path("shown.png"), address});
    EXPECT_EQ(cli.status, 0) << cli.out;
    EXPECT_NE(cli.out.find("Res:320x240"), std::string::npos) << cli.out;
    std::vector<uint8_t> sent, shown;
    int sw = 0, sh = 0, vw = 0, vh = 0;
    // The peer writes its last frame when the connection ends.
    for (int i = 0; i < 200 && !SAUtilPng::Read(dir.Path("sent.png"), sent, sw, sh); ++i)
        usleep(20000);
    EXPECT_TRUE(SAUtilPng::Read(dir.Path("shown.png"), shown, vw, vh));
    EXPECT_EQ(vw, 320);
    EXPECT_EQ(vh, 240);
    EXPECT_EQ(sw, vw);
    EXPECT_EQ(sh, vh);
    StreamPsnr result;
    result.pipeline = Psnr(sent, shown);
    if (codec != "raw" && sw > 0)
        result.codec = Psnr(sent, CodecRoundTrip(sent, sw, sh, codec, std::stoi(fragments)));
    return result;
}
} // namespace

TEST(CliEndToEnd, RawFramesArriveExactly)
{
    EXPECT_EQ(StreamCompare(121, "raw", "4", 40).pipeline, 99);
}

TEST(CliEndToEnd, JpegAndYuvFramesMatchTheSourceAboveTheFloor)
{
    // The peer's desktop picture is mostly small text, hard on 4:2:0 chroma:
    // measured at 320x240, JPEG quality 90 in four bands gives about 32.0 dB
    // and YUV in two bands about 33.5 dB, through the pipeline and through
    // TurboJPEG alone alike. The pipeline must add no loss of its own.
    const StreamPsnr jpeg = StreamCompare(122, "jpeg", "4", 30);
    const StreamPsnr yuv = StreamCompare(123, "yuv", "2", 30);
    std::printf("PSNR jpeg q90 %.2f dB (codec alone %.2f), yuv %.2f dB (codec alone %.2f)\n", jpeg.pipeline,
                jpeg.codec, yuv.pipeline, yuv.codec);
    EXPECT_GE(jpeg.pipeline, 31.0);
    EXPECT_GE(yuv.pipeline, 32.5);
    EXPECT_GE(jpeg.pipeline, jpeg.codec - 0.25);
    EXPECT_GE(yuv.pipeline, yuv.codec - 0.25);
}

TEST(CliEndToEnd, NothingListeningEndsWithUnableToConnect)
{
    CliDir dir;
    CliResult cli = CliRun(dir, {"--frames", "10", "127.0.0.124"});
    EXPECT_EQ(cli.status, 1);
    EXPECT_NE(cli.out.find("Connection failure: Unable to connect!"), std::string::npos) << cli.out;
}

TEST(CliEndToEnd, InterruptDisconnectsCleanly)
{
    CliDir dir;
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.125", "--size", "320x240", "--fps", "60", "--codec", "raw",
                            "--record", dir.Path("record.jsonl"), "--quiet"}));
    CliResult cli = CliRun(dir, {"--renderer", "cpu", "127.0.0.125"}, "Frames:");
    EXPECT_EQ(cli.status, 0) << cli.out;
    EXPECT_NE(cli.out.find("Status: Disconnecting from 127.0.0.125"), std::string::npos) << cli.out;
    std::string record;
    for (int i = 0; i < 200 && record.find("\"type\":\"Disconnect\"") == std::string::npos; ++i)
    {
        usleep(20000);
        std::ifstream in(dir.Path("record.jsonl"));
        std::stringstream text;
        text << in.rdbuf();
        record = text.str();
    }
    EXPECT_NE(record.find("\"type\":\"Disconnect\",\"reason\":0"), std::string::npos) << record;
}

TEST(CliEndToEnd, ADataFolderThatIsAFileCostsOnlyTheInstanceSlot)
{
    CliDir dir;
    mkdir(dir.Path("data").c_str(), 0700);
    std::ofstream(dir.Path("data/quillmere")) << "x";
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.126", "--size", "64x48", "--codec", "raw", "--quiet"}));
    CliResult cli = CliRun(dir, {"--frames", "5", "--renderer", "cpu", "127.0.0.126"});
    EXPECT_EQ(cli.status, 0) << cli.out;
}

TEST(CliEndToEnd, BadArgumentsAreRefused)
{
    CliDir dir;
    EXPECT_EQ(CliRun(dir, {"--frames", "x", "127.0.0.1"}).status, 2);
    EXPECT_EQ(CliRun(dir, {"not-an-address"}).status, 2);
    EXPECT_EQ(CliRun(dir, {"--renderer", "vulkan", "127.0.0.1"}).status, 2);
}
