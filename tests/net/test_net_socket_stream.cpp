// SANetSocketStream against real sockets on loopback.
#include "NetTestUtil.h"
#include "net/SANetSocketStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <netinet/ip.h>
#include <pthread.h>
#include <thread>
#include <vector>

namespace
{
// Reads until count bytes arrived or the stream ended.
std::vector<uint8_t> ReadAll(int fd, size_t count, size_t chunk, bool slow)
{
    std::vector<uint8_t> data;
    std::vector<uint8_t> buffer(chunk);
    while (data.size() < count)
    {
        ssize_t n = recv(fd, buffer.data(), std::min(chunk, count - data.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        data.insert(data.end(), buffer.begin(), buffer.begin() + n);
        if (slow)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return data;
}

void SendAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0)
    {
        ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR)
            continue;
        ASSERT_GT(k, 0);
        p += k;
        n -= static_cast<size_t>(k);
    }
}

std::atomic<int> g_SignalsSeen{0};
void SignalCount(int)
{
    g_SignalsSeen.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

TEST(SANetSocketStream, ConnectsMarksTrafficAndReportsBothAddresses)
{
    NetTestListener listener(NetTestLoopback(21));
    ASSERT_TRUE(listener.Ok());
    NetTestLogCapture log;
    SANetSocketStream stream;
    ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(21), true));
    sockaddr_in peer{};
    int server = listener.Accept(&peer);
    ASSERT_GE(server, 0);

    EXPECT_EQ(stream.AddressRemoteHostOrderGet(), NetTestLoopback(21));
    EXPECT_EQ(ntohs(stream.AddressRemoteGet().sin_port), SA_NET_SERVER_PORT);
    // The local address is the one the server sees as its peer.
    EXPECT_EQ(stream.AddressLocalGet().sin_addr.s_addr, peer.sin_addr.s_addr);
    EXPECT_EQ(stream.AddressLocalGet().sin_port, peer.sin_port);

    // IP_TOS is open to every user; SO_PRIORITY 7 needs CAP_NET_ADMIN, so
    // the socket carries it exactly when this process may set it, and the
    // connection is made either way.
    EXPECT_NE(stream.QosFlowGet().FlowIdGet(), 0u);
    int tos = 0, priority = -1;
    ASSERT_TRUE(stream.SocketOptionGet(IPPROTO_IP, IP_TOS, tos));
    ASSERT_TRUE(stream.SocketOptionGet(SOL_SOCKET, SO_PRIORITY, priority));
    EXPECT_EQ(tos, SANetQosFlow::TOS_CONTROL);
    int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int control = SANetQosFlow::PRIORITY_CONTROL;
    const bool permitted = setsockopt(probe, SOL_SOCKET, SO_PRIORITY, &control, sizeof(control)) == 0;
    close(probe);
    EXPECT_EQ(priority, permitted ? SANetQosFlow::PRIORITY_CONTROL : 0);

    const char text[] = "hello";
    ASSERT_TRUE(stream.Send(text, sizeof(text)));
    EXPECT_EQ(ReadAll(server, sizeof(text), 64, false).size(), sizeof(text));
    stream.Close();
    close(server);
}

TEST(SANetSocketStream, WithoutQosNoFlowIsCreated)
{
    NetTestListener listener(NetTestLoopback(22));
    ASSERT_TRUE(listener.Ok());
    NetTestLogCapture log;
    SANetSocketStream stream;
    ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(22), false));
    EXPECT_EQ(stream.QosFlowGet().FlowIdGet(), 0u);
    EXPECT_EQ(log.Count("SANetQosFlow::"), 0u);
    int server = listener.Accept();
    ASSERT_GE(server, 0);
    stream.Close();
    close(server);
}

TEST(SANetSocketStream, RefusedConnectLogsTheErrorNumber)
{
    // Nothing listens on 127.0.0.23:28252.
    NetTestLogCapture log;
    SANetSocketStream stream;
    EXPECT_FALSE(stream.TcpCreateConnect(NetTestLoopback(23), false));
    EXPECT_EQ(log.Count("SANetSocketStream::TcpCreateConnect connect failed! " +
                        std::to_string(ECONNREFUSED) + "\n"),
              1u);
    // The failed socket stays until Close, which then finds it unconnected.
    EXPECT_TRUE(stream.IsOpen());
    log.Clear();
    stream.Close();
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(log.Count("SANetSocketStream::Close shutdown failed! "), 1u);
    EXPECT_EQ(log.Count("SANetSocketStream::Close close failed!"), 0u);
}

TEST(SANetSocketStream, ReceiveBufferMismatchIsLoggedAndTheConnectionStillWorks)
{
    NetTestListener listener(NetTestLoopback(24));
    ASSERT_TRUE(listener.Ok());
    SANetSocketStream stream;
    ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(24), false));
    int server = listener.Accept();
    ASSERT_GE(server, 0);

    NetTestLogCapture log;
    // Linux grants twice the request (capped by rmem_max), never exactly it.
    EXPECT_FALSE(stream.ReceiveBufferSizeSet());
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string prefix = "SANetSocketStream::ReceiveBufferSizeSet failed! 250000 != ";
    ASSERT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
    int granted = std::stoi(lines[0].substr(prefix.size()));
    EXPECT_NE(granted, 250000);
    EXPECT_GT(granted, 0);

    const uint8_t data[3] = {1, 2, 3};
    SendAll(server, data, sizeof(data));
    uint8_t got[3] = {};
    ASSERT_TRUE(stream.ReceiveTcpStream(got, sizeof(got)));
    EXPECT_EQ(std::memcmp(got, data, 3), 0);
    stream.Close();
    close(server);
}

// A blocking send is cut short by signals arriving while the reader drains a
// tiny window slowly, so the kernel takes the buffer in many partial sends and
// EINTR; the loop must deliver every byte in order and count one packet.
TEST(SANetSocketStream, LargeSendInPartialPiecesArrivesIntactAndCountsOnce)
{
    struct sigaction action
    {
    };
    action.sa_handler = SignalCount; // no SA_RESTART: send returns early
    struct sigaction saved
    {
    };
    ASSERT_EQ(sigaction(SIGUSR1, &action, &saved), 0);

    NetTestListener listener(NetTestLoopback(25), 4, 4096);
    ASSERT_TRUE(listener.Ok());
    SANetSocketStream stream;
    ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(25), true));
    int server = listener.Accept();
    ASSERT_GE(server, 0);

    const size_t size = 4 * 1024 * 1024 + 123;
    std::vector<uint8_t> payload(size);
    for (size_t i = 0; i < size; ++i)
        payload[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);

    std::vector<uint8_t> received;
    std::thread reader([&] { received = ReadAll(server, size, 3000, true); });

    std::atomic<bool> sending{true};
    pthread_t sender = pthread_self();
    std::thread interrupter(
        [&]
        {
            while (sending.load())
            {
                pthread_kill(sender, SIGUSR1);
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });

    uint64_t before = stream.PacketsSentGet();
    g_SignalsSeen = 0;
    bool ok = stream.Send(payload.data(), payload.size());
    sending = false;
    interrupter.join();
    reader.join();
    sigaction(SIGUSR1, &saved, nullptr);

    EXPECT_TRUE(ok);
    // The send was interrupted, i.e. returned early at least once.
    EXPECT_GT(g_SignalsSeen.load(), 0);
    EXPECT_EQ(stream.PacketsSentGet(), before + 1);
    ASSERT_EQ(received.size(), size);
    EXPECT_TRUE(received == payload);
    stream.Close();
    close(server);
}

TEST(SANetSocketStream, SendOfNothingAndHeaderSendCountPackets)
{
    NetTestListener listener(NetTestLoopback(26));
    ASSERT_TRUE(listener.Ok());
    SANetSocketStream stream;
    ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(26), false));
    int server = listener.Accept();
    ASSERT_GE(server, 0);

    EXPECT_TRUE(stream.Send(nullptr, 0));
    EXPECT_EQ(stream.PacketsSentGet(), 1u);
    SAPacketHeader reply = SAPacketStreamResetReply();
    EXPECT_TRUE(stream.HeaderSend(reply));
    EXPECT_EQ(stream.PacketsSentGet(), 2u);
    auto got = ReadAll(server, SA_PACKET_HEADER_SIZE, 256, false);
    ASSERT_EQ(got.size(), SA_PACKET_HEADER_SIZE);
    EXPECT_EQ(std::memcmp(got.data(), reply.m_Bytes, SA_PACKET_HEADER_SIZE), 0);

    // The counter survives Close, as the status bar keeps showing it.
    stream.Close();
    EXPECT_EQ(stream.PacketsSentGet(), 2u);
    close(server);
}

TEST(SANetSocketStream, ReceiveGathersPiecesAndStopsSilentlyWhenThePeerClosesMidway)
{
    NetTestListener listener(NetTestLoopback(27));
    ASSERT_TRUE(listener.Ok());
    SANetSocketStream stream;
    ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(27), false));
    stream.ReceiveBufferSizeSet(); // as the viewer does; the system may grant another size
    int server = listener.Accept();
    ASSERT_GE(server, 0);

    std::vector<uint8_t> data(150000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    std::atomic<bool> headerRead{false}, writerGaveUp{false};
    std::thread writer(
        [&]
        {
            // Whole message in three pieces. A large one whose first part is
            // in before its read begins and whose rest comes later, with
            // nothing behind it; then a lone header, which must be read while
            // nothing else comes; then half a message and the close.
            SendAll(server, data.data(), 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            SendAll(server, data.data() + 10, 500);
            SendAll(server, data.data() + 510, 490);
            SendAll(server, data.data(), 30000);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            SendAll(server, data.data() + 30000, data.size() - 30000);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            SendAll(server, data.data(), 128);
            for (int i = 0; i < 500 && !headerRead; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            writerGaveUp = !headerRead;
            SendAll(server, data.data(), 300);
            shutdown(server, SHUT_WR);
        });

    NetTestLogCapture log;
    std::vector<uint8_t> got(1000);
    ASSERT_TRUE(stream.ReceiveTcpStream(got.data(), got.size()));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
    EXPECT_TRUE(stream.ReceiveTcpStream(got.data(), 0)); // nothing asked, nothing read
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<uint8_t> large(data.size());
    ASSERT_TRUE(stream.ReceiveTcpStream(large.data(), large.size()));
    EXPECT_TRUE(large == data);
    ASSERT_TRUE(stream.ReceiveTcpStream(got.data(), 128));
    headerRead = true;
    EXPECT_FALSE(writerGaveUp) << "a read waited for more than it asked for";
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 128, data.begin()));
    EXPECT_FALSE(stream.ReceiveTcpStream(got.data(), 600));
    writer.join();
    EXPECT_EQ(log.Count("SANetSocketStream::ReceiveTcpStream recv failed!"), 0u);
    stream.Close();
    close(server);
}

TEST(SANetSocketStream, SendToAPeerThatWentAwayFailsWithoutKillingTheProcess)
{
    NetTestListener listener(NetTestLoopback(28));
    ASSERT_TRUE(listener.Ok());
    SANetSocketStream stream;
    ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(28), false));
    int server = listener.Accept();
    ASSERT_GE(server, 0);
    // Unread data makes close() reset the connection at once.
    uint8_t byte = 7;
    ASSERT_TRUE(stream.Send(&byte, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    close(server);

    NetTestLogCapture log;
    std::vector<uint8_t> block(65536, 1);
    bool failed = false;
    for (int i = 0; i < 1000 && !failed; ++i)
        failed = !stream.Send(block.data(), block.size());
    EXPECT_TRUE(failed);
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0] == "SANetSocketStream::Send send failed! Error:" + std::to_string(EPIPE) + " \n" ||
                lines[0] ==
                    "SANetSocketStream::Send send failed! Error:" + std::to_string(ECONNRESET) + " \n")
        << lines[0];
    stream.Close();
}

TEST(SANetSocketStream, CloseTwiceDoesNothingTheSecondTime)
{
    NetTestListener listener(NetTestLoopback(29));
    ASSERT_TRUE(listener.Ok());
    SANetSocketStream stream;
    ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(29), true));
    int server = listener.Accept();
    ASSERT_GE(server, 0);

    NetTestLogCapture log;
    stream.Close();
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(stream.QosFlowGet().FlowIdGet(), 0u);
    stream.Close();
    EXPECT_TRUE(log.Lines().empty());

    // The peer sees the end of the stream.
    uint8_t b;
    EXPECT_EQ(recv(server, &b, 1, 0), 0);

    // A closed stream refuses work with one line each, never touching a
    // descriptor number that may belong to someone else by now.
    EXPECT_FALSE(stream.Send(&b, 1));
    EXPECT_FALSE(stream.ReceiveTcpStream(&b, 1));
    EXPECT_EQ(log.Count("SANetSocketStream::Send send failed! Error:" + std::to_string(EBADF) + " \n"), 1u);
    EXPECT_EQ(
        log.Count("SANetSocketStream::ReceiveTcpStream recv failed! Error:" + std::to_string(EBADF) + " \n"),
        1u);
    close(server);
}

TEST(SANetSocketStream, StreamIsReusedForTheNextConnection)
{
    NetTestListener listener(NetTestLoopback(30));
    ASSERT_TRUE(listener.Ok());
    SANetSocketStream stream;
    for (int round = 0; round < 3; ++round)
    {
        ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(30), round % 2 == 0));
        int server = listener.Accept();
        ASSERT_GE(server, 0);
        uint8_t b = static_cast<uint8_t>(round);
        ASSERT_TRUE(stream.Send(&b, 1));
        uint8_t got = 0xFF;
        ASSERT_EQ(recv(server, &got, 1, 0), 1);
        EXPECT_EQ(got, b);
        stream.Close();
        close(server);
    }
    EXPECT_EQ(stream.PacketsSentGet(), 3u);
}

TEST(SANetSocketStreamThreads, CloseFromAnotherThreadWakesABlockedReceive)
{
    NetTestListener listener(NetTestLoopback(31));
    ASSERT_TRUE(listener.Ok());
    SANetSocketStream stream;
    ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(31), true));
    int server = listener.Accept(); // stays open and silent: only Close can end the receive
    ASSERT_GE(server, 0);

    std::atomic<int> result{-1};
    std::thread receiver(
        [&]
        {
            uint8_t header[SA_PACKET_HEADER_SIZE];
            result = stream.ReceiveTcpStream(header, sizeof(header)) ? 1 : 0;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let it block in recv
    EXPECT_EQ(result.load(), -1);
    stream.Close();
    receiver.join();
    EXPECT_EQ(result.load(), 0);
    close(server);
}

TEST(SANetSocketStreamThreads, ConcurrentClosesWhileSendingAndReceivingCloseOnce)
{
    NetTestListener listener(NetTestLoopback(32));
    ASSERT_TRUE(listener.Ok());
    for (int round = 0; round < 20; ++round)
    {
        SANetSocketStream stream;
        ASSERT_TRUE(stream.TcpCreateConnect(NetTestLoopback(32), false));
        int server = listener.Accept();
        ASSERT_GE(server, 0);
        NetTestLogCapture log;

        std::thread receiver(
            [&]
            {
                uint8_t b[64];
                while (stream.ReceiveTcpStream(b, sizeof(b)))
                {
                }
            });
        std::thread sender(
            [&]
            {
                std::vector<uint8_t> block(8192, 3);
                while (stream.Send(block.data(), block.size()))
                {
                }
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3)); // vary where the close lands
        std::thread closerA([&] { stream.Close(); });
        std::thread closerB([&] { stream.Close(); });
        closerA.join();
        closerB.join();
        receiver.join();
        sender.join();
        EXPECT_FALSE(stream.IsOpen());
        EXPECT_EQ(log.Count("SANetSocketStream::Close"), 0u);
        close(server);
    }
}

// With the listener's accept queue full, the kernel drops further SYNs and a
// connect waits for its retries; Close must end that wait instead of leaving
// the caller blocked for the system's connect time-out.
TEST(SANetSocketStreamThreads, CloseAbortsAConnectInProgress)
{
    NetTestListener listener(NetTestLoopback(33), 0);
    ASSERT_TRUE(listener.Ok());
    // Fill the queue (backlog 0 holds one connection).
    int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(SA_NET_SERVER_PORT);
    a.sin_addr.s_addr = htonl(NetTestLoopback(33));
    ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);

    NetTestLogCapture log;
    SANetSocketStream stream;
    std::atomic<int> result{-1};
    std::thread connector([&] { result = stream.TcpCreateConnect(NetTestLoopback(33), false) ? 1 : 0; });
    while (!stream.IsOpen() && result.load() == -1)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let it wait for the handshake
    stream.Close();
    connector.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(log.Count("SANetSocketStream::TcpCreateConnect connect failed! "), 1u);

    // A Close that comes before the connect of a single-use stream has
    // begun ends it as well.
    SANetSocketStream once(true);
    once.Close();
    EXPECT_FALSE(once.TcpCreateConnect(NetTestLoopback(33), false));
    EXPECT_FALSE(once.IsOpen());
    close(filler);
}
