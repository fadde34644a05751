// Instance slots across real viewer processes: each running viewer holds its
// own Instance_N file and identifier; a restarted viewer takes the first free
// slot and with it that slot's identifier.
#include "settings/SAUtilInstanceIdFile.h"
#include "settings/SAUtilUtf16.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/file.h>
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

pid_t ViewerStart()
{
    const pid_t pid = fork();
    if (pid == 0)
    {
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
