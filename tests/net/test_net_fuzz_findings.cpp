// Inputs the fuzzers (fuzz/) found, replayed through the same public
// functions over a real socket pair.
#include "core/SALog.h"
#include "net/SANetProtocol.h"
#include "net/SAQueueScreenUpdates.h"
#include "net/SATaskLoopedNetReceiver.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace
{
class NullTarget : public SAMessageTarget
{
public:
    bool Post(uint32_t, uintptr_t, intptr_t) override { return true; }
    intptr_t Send(uint32_t, uintptr_t, intptr_t) override { return 0; }
};

size_t AddressSpaceGet()
{
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
    {
        if (word == "VmSize:")
        {
            size_t kilobytes = 0;
            status >> kilobytes;
            return kilobytes * 1024;
        }
    }
    return 0;
}

// Runs `body` in a child process whose address space may grow by only
// `headroom` bytes; its exit status, or -1 when it did not exit.
int ChildRunLimited(size_t headroom, const std::function<int()>& body)
{
    const pid_t pid = fork();
    if (pid == 0)
    {
        const rlim_t limit = AddressSpaceGet() + headroom;
        const rlimit bound{limit, limit};
        _exit(setrlimit(RLIMIT_AS, &bound) == 0 ? body() : 99);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
} // namespace

// A FrameBuffer header may announce a quarter gigabyte for the largest
// screen (the fuzzer's inputs took seconds each under ASan). The receiver
// must not set that memory aside before the bytes come: here the server
// sends one megabyte of it and ends, and the receiver must have read it
// within a memory bound far below the announced size, ending only for the
// stream's end (never for want of memory).
TEST(NetFuzzFindings, AnnouncedFrameBufferPayloadIsNotHeldBeforeItArrives)
{
    SAFrameBufferInfo info;
    info.ScreenWidth = 7680;
    info.ScreenHeight = 4320;
    info.PitchInBytes = 7680 * 4;
    info.Right = 7680;
    info.Bottom = 4320;
    info.CountFragments = 1;
    SAPacketHeader header;
    header.HeaderTypeSet(SA_HEADER_FRAME_BUFFER);
    SAPacketFrameBufferEncode(header, info);
    header.ByteCountSet(8u * 7680 * 4320 + (1u << 20));
    ASSERT_EQ(SANetProtocol::PacketCheck(header), SAPacketVerdict::Valid);

    EXPECT_EQ(ChildRunLimited(size_t(192) << 20,
                              [&header]
                              {
                                  int ends[2];
                                  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
                                      return 2;
                                  std::atomic<bool> noMemory{false};
                                  SALogMaskSet(SA_LOG_FAILURE);
                                  SALogSinkAdd(
                                      [&noMemory](uint32_t, std::string_view line)
                                      {
                                          if (line.find("no memory") != std::string_view::npos)
                                              noMemory = true;
                                      });
                                  NullTarget target;
                                  SAQueueScreenUpdates queue(&target);
                                  SATaskLoopedNetReceiver receiver(&queue, &target);
                                  auto connection = std::make_shared<SANetSocketStream>();
                                  connection->SocketAdopt(ends[0]);
                                  receiver.ConnectionSet(connection, 1);
                                  receiver.OnEntry();
                                  // One megabyte fits the socket pair's buffer only in parts:
                                  // the receiver reads while this thread sends.
                                  std::thread sender(
                                      [end = ends[1], &header]
                                      {
                                          send(end, header.m_Bytes, SA_PACKET_HEADER_SIZE, MSG_NOSIGNAL);
                                          const std::vector<uint8_t> piece(1 << 20);
                                          send(end, piece.data(), piece.size(), MSG_NOSIGNAL);
                                          close(end);
                                      });
                                  const bool more = receiver.OnExecute();
                                  receiver.OnExit(); // closes: a sender still sending ends
                                  sender.join();
                                  return !more && !noMemory ? 0 : 1;
                              }),
              0);
}
