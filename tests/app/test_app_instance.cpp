// Instance slots across real viewer processes: each running viewer holds its
// own Instance_N file and identifier; a restarted viewer takes the first free
// slot and with it that slot's identifier.
#include "AppTestMain.h"
#include "AppTestUtil.h"
#include "app/CMainFrame.h"
#include "core/SAUtilAddress.h"
#include "settings/SAUtilInstanceIdFile.h"
#include "settings/SAUtilRegistry.h"
#include "settings/SAUtilUtf16.h"
#include "tests/core/SATestLogCapture.h"
#include "tests/peer/PeerTestProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
// A braced upper-case version 4 GUID with the RFC 4122 variant.
bool GuidV4(const std::string& text)
{
    if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[15] != '4')
        return false;
    if (std::string("89AB").find(text[20]) == std::string::npos)
        return false;
    for (size_t i = 1; i < 37; ++i)
    {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        const char c = text[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

std::string SlotPath(int index)
{
    return SAUtilInstanceIdFile::FolderGet() + "/Instance_" + std::to_string(index);
}

// True while another process holds the slot's lock.
bool SlotHeld(int index)
{
    const int fd = open(SlotPath(index).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return held;
}

std::string SlotIdentifier(int index)
{
    std::ifstream in(SlotPath(index), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return SAUtilUtf8FromUtf16LeBytes(bytes.data(), bytes.size());
}

bool WaitFor(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30); // hang guard
    while (!done())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

pid_t ViewerStart(int ignored = 0)
{
    const pid_t pid = fork();
    if (pid == 0)
    {
        if (ignored != 0)
            std::signal(ignored, SIG_IGN);
        execl(QM_VIEWER_EXE, QM_VIEWER_EXE, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void ViewerStop(pid_t pid)
{
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}
} // namespace

TEST(AppInstance, TwoViewersTakeTwoSlotsAndARestartReusesTheFirstFree)
{
    const pid_t first = ViewerStart();
    ASSERT_GT(first, 0);
    ASSERT_TRUE(WaitFor([] { return SlotHeld(0); }));
    const pid_t second = ViewerStart();
    ASSERT_GT(second, 0);
    ASSERT_TRUE(WaitFor([] { return SlotHeld(1); }));
    const std::string id0 = SlotIdentifier(0), id1 = SlotIdentifier(1);
    EXPECT_TRUE(GuidV4(id0)) << id0;
    EXPECT_TRUE(GuidV4(id1)) << id1;
    EXPECT_NE(id0, id1);

    ViewerStop(first);
    ASSERT_TRUE(WaitFor([] { return !SlotHeld(0); }));
    const pid_t third = ViewerStart();
    ASSERT_TRUE(WaitFor([] { return SlotHeld(0); }));
    EXPECT_EQ(SlotIdentifier(0), id0);
    EXPECT_TRUE(SlotHeld(1));
    EXPECT_FALSE(SlotHeld(2));
    ViewerStop(second);
    ViewerStop(third);
}

TEST(AppInstance, ADamagedSlotFileGetsAFreshIdentifier)
{
    SAUtilInstanceIdFile probe;
    ASSERT_TRUE(probe.Open());
    const int index = probe.InstanceIndexGet();
    ASSERT_TRUE(probe.Close());
    {
        std::ofstream out(SlotPath(index), std::ios::binary | std::ios::trunc);
        out << "x";
    }
    SAUtilInstanceIdFile slot;
    ASSERT_TRUE(slot.Open());
    EXPECT_EQ(slot.InstanceIndexGet(), index);
    EXPECT_EQ(slot.InstanceIdGet().size(), 38u);
    EXPECT_EQ(SlotIdentifier(index), slot.InstanceIdGet());
}

TEST(AppInstance, WithoutAUsableDataFolderTheViewerStartsWithoutASlotAndConnects)
{
    // The data folder is a file: no slot file can be opened at any index.
    const std::string saved = std::getenv("XDG_DATA_HOME");
    const std::string blocked = saved + "/blocked";
    mkdir(blocked.c_str(), 0700);
    std::ofstream(blocked + "/quillmere") << "x";
    PeerTestProcess peer;
    ASSERT_TRUE(peer.Start({"--bind", "127.0.0.131", "--codec", "raw", "--size", "64x48", "--quiet"}));
    setenv("XDG_DATA_HOME", blocked.c_str(), 1);
    SATestLogCapture log;
    auto frame = AppTestFrameOpen(true);
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
    ASSERT_TRUE(frame);
    EXPECT_FALSE(frame->InstanceFileGet().IsOpen());
    size_t slotFailures = 0;
    for (const std::string& line : log.Lines())
        slotFailures += line.rfind("SAUtilInstanceIdFileOpen", 0) == 0;
    EXPECT_EQ(slotFailures, 1u);
    uint32_t address = 0;
    ASSERT_TRUE(SAUtilAddressParse("127.0.0.131", address));
    frame->ConnectRequest(address);
    EXPECT_TRUE(AppTestWaitFor([&] { return frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON; }))
        << frame->StateHistoryGet();
    frame->close();
}

// A terminal's Ctrl+C or hang-up and the end of a session (SIGTERM) close
// the viewer as closing its window does: it leaves the server properly and
// keeps the window's placement, instead of dying where it stands. A signal
// it was started to ignore (a shell's background job, nohup) stays ignored.
TEST(AppInstance, InterruptAndTerminateCloseTheViewerAsItsWindowWouldBe)
{
    {
        const pid_t viewer = ViewerStart(SIGINT);
        ASSERT_GT(viewer, 0);
        ASSERT_TRUE(WaitFor([] { return SlotHeld(0); }));
        kill(viewer, SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(waitpid(viewer, nullptr, WNOHANG), 0) << "an ignored SIGINT ended the viewer";
        ViewerStop(viewer);
        ASSERT_TRUE(WaitFor([] { return !SlotHeld(0); }));
    }
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
    {
        SAUtilRegistryValueDelete(SA_REGISTRY_KEY_PROFILE_MAINFRAME, SA_REGISTRY_VALUE_WINDOW_PLACEMENT);
        const pid_t viewer = ViewerStart();
        ASSERT_GT(viewer, 0);
        ASSERT_TRUE(WaitFor([] { return SlotHeld(0); }));
        kill(viewer, signal);
        int status = 0;
        ASSERT_EQ(waitpid(viewer, &status, 0), viewer);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "signal " << signal << " status " << status;
        uint8_t stored[44] = {};
        EXPECT_TRUE(SAUtilRegistryValueGet(SA_REGISTRY_KEY_PROFILE_MAINFRAME,
                                           SA_REGISTRY_VALUE_WINDOW_PLACEMENT, stored, sizeof(stored)))
            << "signal " << signal;
    }
}

QM_APP_TEST_MAIN()
