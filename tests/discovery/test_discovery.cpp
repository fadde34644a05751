// Discovery against real peers and real sockets, inside the private network
// of DiscoveryTestNetwork (two veth pairs, and a second host in a namespace
// of its own where a test needs one).
#include "core/SAUtilAddress.h"
#include "net/SANetDiscovery.h"
#include "net/SANetInterfaceEnumerator.h"
#include "net/SANetProtocol.h"
#include "net/SANetSocketMessage.h"
#include "tests/core/SATestLogCapture.h"
#include "tests/core/SATestWait.h"
#include "tests/discovery/DiscoveryTestNetwork.h"
#include "tests/discovery/DiscoveryTestPeer.h"
#include "tests/discovery/DiscoveryTestView.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace
{
uint32_t Address(const char* text)
{
    uint32_t address = 0;
    EXPECT_TRUE(SAUtilAddressParse(text, address)) << text;
    return address;
}

size_t CountFrom(const std::vector<SANetHostRecord>& records, uint32_t address)
{
    size_t count = 0;
    for (const SANetHostRecord& r : records)
        count += r.Address == address ? 1 : 0;
    return count;
}

std::vector<uint8_t> Bytes(const SANetHostRecord& record)
{
    std::vector<uint8_t> bytes(SA_NET_HOST_RECORD_SIZE);
    record.Encode(bytes.data());
    return bytes;
}

// A UDP socket of the test on address:port (SO_REUSEADDR, so it shares a
// broadcast address with peers), used to count requests or to answer them.
class TestSocket
{
public:
    TestSocket(const char* address, uint16_t port)
    {
        m_Fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(m_Fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        inet_pton(AF_INET, address, &local.sin_addr);
        m_Bound = bind(m_Fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
    }
    ~TestSocket() { close(m_Fd); }
    bool IsBound() const { return m_Bound; }

    // One datagram, waiting at most waitMs; false when none came.
    bool Receive(int waitMs, std::vector<uint8_t>& bytes, sockaddr_in& sender)
    {
        pollfd fd = {m_Fd, POLLIN, 0};
        if (poll(&fd, 1, waitMs) <= 0)
            return false;
        bytes.resize(4096);
        socklen_t size = sizeof(sender);
        ssize_t got =
            recvfrom(m_Fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sender), &size);
        if (got < 0)
            return false;
        bytes.resize(static_cast<size_t>(got));
        return true;
    }
    bool SendTo(const std::vector<uint8_t>& bytes, const sockaddr_in& target)
    {
        return sendto(m_Fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&target),
                      sizeof(target)) == static_cast<ssize_t>(bytes.size());
    }

private:
    int m_Fd = -1;
    bool m_Bound = false;
};

bool IsRequest(const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> expected(SA_NET_DISCOVERY_REQUEST_SIZE, 0);
    std::memcpy(expected.data(), "QUILLMERE-NET-CLIENT", 20);
    return bytes == expected;
}

// Counts the requests arriving at socket until it has wanted of them (guard
// 20 s), then checks for 500 ms that no further one comes. Every request must
// be the exact 1024-byte datagram from sender.
size_t RequestsCount(TestSocket& socket, size_t wanted, uint32_t sender)
{
    size_t count = 0;
    std::vector<uint8_t> bytes;
    sockaddr_in from = {};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (count < wanted && std::chrono::steady_clock::now() < deadline && socket.Receive(1000, bytes, from))
    {
        EXPECT_TRUE(IsRequest(bytes));
        EXPECT_EQ(ntohl(from.sin_addr.s_addr), sender);
        ++count;
    }
    while (socket.Receive(500, bytes, from))
        ++count;
    return count;
}
} // namespace

TEST(DiscoveryNetwork, EnumeratesTheFirstAddressOfEachInterfaceAndNoLoopback)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    SANetInterfaceEnumerator snapshot;
    std::map<uint32_t, uint32_t> found;
    uint32_t address = 0;
    uint32_t broadcast = 0;
    for (size_t i = 0; snapshot.AdapterIpAddressesGet(i, address, broadcast); ++i)
        found[address] = broadcast;
    std::map<uint32_t, uint32_t> expected = {{Address("10.77.0.1"), Address("10.77.0.255")},
                                             {Address("10.77.1.1"), Address("10.77.1.255")}};
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(SANetInterfaceEnumerator::AddressIsLocal(Address("10.77.0.1")));
    EXPECT_FALSE(
        SANetInterfaceEnumerator::AddressIsLocal(Address("10.77.0.2"))); // a second address is not used
    EXPECT_FALSE(SANetInterfaceEnumerator::AddressIsLocal(Address("127.0.0.1")));
}

TEST(DiscoveryBroadcast, FindsTwoPeersOnTwoAddressesAndRepeatedRepliesAreIdentical)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    DiscoveryTestPeer alpha;
    DiscoveryTestPeer beta;
    ASSERT_TRUE(alpha.Start({"--bind", "10.77.0.2", "--name", "alpha", "--features", "8"}));
    ASSERT_TRUE(beta.Start({"--bind", "10.77.1.2", "--name", "beta", "--features", "16"}));

    DiscoveryTestView view;
    SANetDiscovery discovery;
    view.DiscoverySet(&discovery);
    ASSERT_TRUE(discovery.Start(view.TargetGet()));
    uint32_t a = Address("10.77.0.2");
    uint32_t b = Address("10.77.1.2");
    // Several cycles' worth of replies from both.
    ASSERT_TRUE(
        view.WaitFor([&](size_t cycles, const std::vector<SANetHostRecord>& records)
                     { return cycles >= 3 && CountFrom(records, a) >= 10 && CountFrom(records, b) >= 10; }));
    discovery.Pause();
    EXPECT_EQ(discovery.InterfaceCountGet(), 2u);
    EXPECT_EQ(discovery.ReceiverRunningCountGet(), 2u);
    discovery.Stop();
    view.Flush();

    std::map<uint32_t, std::vector<uint8_t>> first;
    for (const SANetHostRecord& record : view.RecordsGet())
    {
        ASSERT_TRUE(record.Address == a || record.Address == b) << SAUtilAddressText(record.Address);
        if (first.count(record.Address) == 0)
            first[record.Address] = Bytes(record);
        // Every later reply of a server is the same record, so a view that
        // already lists it has nothing to change.
        EXPECT_EQ(Bytes(record), first[record.Address]);
    }
    SANetHostRecord ra = SANetHostRecord::Decode(first[a].data());
    SANetHostRecord rb = SANetHostRecord::Decode(first[b].data());
    EXPECT_EQ(ra.HostNameGet(), "alpha");
    EXPECT_EQ(ra.FeatureBitmap, SA_NET_HOST_FEATURE_AUDIO);
    EXPECT_EQ(ra.Port, 28252);
    EXPECT_EQ(rb.HostNameGet(), "beta");
    EXPECT_EQ(rb.FeatureBitmap, SA_NET_HOST_FEATURE_ENCRYPTION);
}

TEST(DiscoveryBroadcast, FindsAPeerOnASecondHostOverAVethPair)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    DiscoveryTestPeer far;
    ASSERT_TRUE(far.StartAsSecondHost({"--name", "far-host", "--features", "8"}));
    ASSERT_TRUE(DiscoveryTestNetwork::InterfacesAreOurs());

    DiscoveryTestView view;
    SANetDiscovery discovery;
    view.DiscoverySet(&discovery);
    ASSERT_TRUE(discovery.Start(view.TargetGet()));
    uint32_t remote = Address("10.77.2.2");
    ASSERT_TRUE(view.WaitFor([&](size_t, const std::vector<SANetHostRecord>& records)
                             { return CountFrom(records, remote) >= 1; }));
    discovery.Pause();
    EXPECT_EQ(discovery.InterfaceCountGet(), 3u);
    discovery.Stop();
    view.Flush();
    for (const SANetHostRecord& record : view.RecordsGet())
    {
        EXPECT_EQ(record.Address, remote);
        EXPECT_EQ(record.HostNameGet(), "far-host");
        EXPECT_EQ(record.FeatureBitmap, SA_NET_HOST_FEATURE_AUDIO);
    }
    far.Stop();
}

// A lookup by address goes to a host the user named, which may well sit
// behind a router. The request socket must let such unicasts be routed (on
// Linux, "do not route" would make every one fail as unreachable).
TEST(DiscoveryUnicast, ARequestReachesAHostBehindARouterAndItsReplyComesBack)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    DiscoveryTestPeer far;
    ASSERT_TRUE(far.StartAsSecondHost({"--name", "routed-host"}));
    ASSERT_TRUE(DiscoveryTestNetwork::InterfacesAreOurs());

    SANetSocketMessage socket;
    ASSERT_TRUE(socket.UdpCreateBind(Address("10.77.2.1")));
    ASSERT_TRUE(socket.UdpSetBroadcast());
    std::vector<uint8_t> request(SA_NET_DISCOVERY_REQUEST_SIZE, 0);
    std::memcpy(request.data(), "QUILLMERE-NET-CLIENT", 20);
    ASSERT_TRUE(socket.SendTo(request.data(), Address("10.77.9.2"), SA_NET_SERVER_PORT));

    // The receive blocks; a watchdog ends it should no reply come.
    std::atomic<bool> done{false};
    std::thread watchdog(
        [&]
        {
            for (int i = 0; i < 200 && !done.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            socket.ShutdownRequest();
        });
    uint8_t reply[SA_NET_HOST_RECORD_SIZE + 16] = {};
    size_t size = 0;
    uint32_t sender = 0;
    SANetReceiveResult result = SANetReceiveResult::TimedOut;
    while (result == SANetReceiveResult::TimedOut)
        result = socket.ReceiveFrom(reply, sizeof(reply), &size, &sender);
    done.store(true);
    watchdog.join();
    ASSERT_EQ(result, SANetReceiveResult::Datagram);
    ASSERT_EQ(size, SA_NET_HOST_RECORD_SIZE);
    EXPECT_EQ(SANetHostRecord::Decode(reply).HostNameGet(), "routed-host");
    socket.Close();
    far.Stop();
}

TEST(DiscoveryReceive, AnOversizedReplyIsDroppedAndTheReceiverGoesOn)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    SATestLogCapture log;
    DiscoveryTestPeer longReplies;
    DiscoveryTestPeer good;
    ASSERT_TRUE(
        longReplies.Start({"--bind", "10.77.0.2", "--name", "long", "--discovery-reply-size", "309"}));
    ASSERT_TRUE(good.Start({"--bind", "10.77.1.2", "--name", "good"}));

    DiscoveryTestView view;
    SANetDiscovery discovery;
    view.DiscoverySet(&discovery);
    ASSERT_TRUE(discovery.Start(view.TargetGet()));
    const std::string dropped =
        "SATaskLoopedNetDiscoveryReceiver::OnExecute failed! datagram of 309 bytes is no reply\n";
    uint32_t goodAddress = Address("10.77.1.2");
    // Replies too long to be a record are dropped, cycle after cycle, while
    // both interfaces go on receiving.
    ASSERT_TRUE(
        view.WaitFor([&](size_t, const std::vector<SANetHostRecord>&) { return log.Count(dropped) >= 10; }));
    size_t before = CountFrom(view.RecordsGet(), goodAddress);
    size_t cycles = view.CyclesGet();
    ASSERT_TRUE(view.WaitFor([&](size_t c, const std::vector<SANetHostRecord>& records)
                             { return c >= cycles + 3 && CountFrom(records, goodAddress) >= before + 10; }));
    discovery.Pause();
    EXPECT_EQ(discovery.InterfaceCountGet(), 2u);
    EXPECT_EQ(discovery.ReceiverRunningCountGet(), 2u);
    discovery.Stop();
    view.Flush();
    EXPECT_EQ(log.Count("SANetSocketMessage::ReceiveFrom recvfrom failed! Error:90 \n"), 0u);
    EXPECT_EQ(CountFrom(view.RecordsGet(), Address("10.77.0.2")), 0u);
    EXPECT_EQ(log.Count("SATaskLoopedNetDiscoveryReceiver::OnExit...\n"), 2u);
}

// Anyone on the LAN can send replies. A flood of them costs bounded memory:
// the received list holds at most 256, and one WM_APP+2 waits at a time
// however many arrive; the view, once it drains, hears real servers again.
TEST(DiscoveryReceive, AFloodOfRepliesIsBoundedAndPostsOneMessageAtATime)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    DiscoveryTestPeer good;
    ASSERT_TRUE(good.Start({"--bind", "10.77.1.2", "--name", "good"}));
    TestSocket requests("10.77.0.255", 28252);
    TestSocket flood("10.77.0.2", 0);
    ASSERT_TRUE(requests.IsBound());
    ASSERT_TRUE(flood.IsBound());
    // A view that is slow to drain: it only counts.
    std::atomic<size_t> posted{0};
    SAMessageLoop view(
        [&](uint32_t message, uintptr_t, intptr_t) -> intptr_t
        {
            posted += message == SA_WM_APP_DISCOVERY_HOST_INTERFACE_FOUND ? 1 : 0;
            return 0;
        });
    view.Start();
    SANetDiscovery discovery;
    ASSERT_TRUE(discovery.Start(&view));
    std::vector<uint8_t> request;
    sockaddr_in viewer = {};
    ASSERT_TRUE(requests.Receive(20000, request, viewer));
    SANetHostRecord record;
    for (int i = 0; i < 2000; ++i)
    {
        record.HostNameSet("spoofed " + std::to_string(i));
        ASSERT_TRUE(flood.SendTo(Bytes(record), viewer));
        if (i % 50 == 49)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(SATestWaitFor([&] { return discovery.ListGet().ReceivedCount() >= 256; }, 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(discovery.ListGet().ReceivedCount(), 256u);
    view.Invoke([] {});
    EXPECT_EQ(posted.load(), 1u);

    // Drained, the list takes replies again, and the good server is heard.
    SANetHostRecord taken;
    while (discovery.ReceivedTakeFirst(taken))
        ;
    bool goodHeard = false;
    ASSERT_TRUE(SATestWaitFor(
        [&]
        {
            while (discovery.ReceivedTakeFirst(taken))
                goodHeard = goodHeard || taken.Address == Address("10.77.1.2");
            return goodHeard;
        },
        20));
    // The view counts the message when its own thread gets to it.
    EXPECT_TRUE(SATestWaitFor([&] { return posted.load() >= 2u; }, 20));
    discovery.Stop();
    view.Stop();
}

TEST(DiscoveryReceive, AShortReplyLeavesZerosBehindAndTakesTheSendersAddress)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    DiscoveryTestPeer shortReplies;
    ASSERT_TRUE(shortReplies.Start({"--bind", "10.77.0.2", "--name", "abcdefghijklmnopqrstuvwxyz",
                                    "--features", "24", "--discovery-reply-size", "40"}));
    DiscoveryTestView view;
    SANetDiscovery discovery;
    view.DiscoverySet(&discovery);
    ASSERT_TRUE(discovery.Start(view.TargetGet()));
    ASSERT_TRUE(
        view.WaitFor([&](size_t, const std::vector<SANetHostRecord>& records) { return !records.empty(); }));
    discovery.Stop();
    view.Flush();
    SANetHostRecord record = view.RecordsGet().front();
    EXPECT_EQ(record.HostNameGet(), "abcdefghijklmnopqrst"); // the 20 units that fit in 40 bytes
    EXPECT_EQ(record.Address, Address("10.77.0.2"));
    std::vector<uint8_t> bytes = Bytes(record);
    for (size_t i = 40; i < SA_NET_HOST_RECORD_SIZE; ++i)
    {
        if (i >= SA_NET_HOST_RECORD_OFFSET_ADDRESS && i < SA_NET_HOST_RECORD_OFFSET_ADDRESS + 4)
            continue;
        EXPECT_EQ(bytes[i], 0) << "byte " << i;
    }
}

TEST(DiscoveryReceive, ANameFillingItsWholeFieldEndsInsideIt)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    // A server of the test's own that answers with 308 bytes of 0x41: a name
    // of 128 units without terminator and a bogus address field.
    TestSocket requests("10.77.0.255", 28252);
    TestSocket replies("10.77.0.2", 0);
    ASSERT_TRUE(requests.IsBound());
    ASSERT_TRUE(replies.IsBound());
    DiscoveryTestView view;
    SANetDiscovery discovery;
    view.DiscoverySet(&discovery);
    ASSERT_TRUE(discovery.Start(view.TargetGet()));
    std::vector<uint8_t> request;
    sockaddr_in viewer = {};
    ASSERT_TRUE(requests.Receive(20000, request, viewer));
    ASSERT_TRUE(IsRequest(request));
    ASSERT_TRUE(replies.SendTo(std::vector<uint8_t>(SA_NET_HOST_RECORD_SIZE, 0x41), viewer));
    ASSERT_TRUE(
        view.WaitFor([&](size_t, const std::vector<SANetHostRecord>& records) { return !records.empty(); }));
    discovery.Stop();
    SANetHostRecord record = view.RecordsGet().front();
    EXPECT_EQ(record.Address, Address("10.77.0.2"));
    EXPECT_EQ(record.HostName[SA_NET_HOST_RECORD_NAME_UNITS - 1], 0);
    EXPECT_EQ(record.HostName[SA_NET_HOST_RECORD_NAME_UNITS - 2], 0x4141);
    EXPECT_EQ(record.HostNameGet().size(), 127u * 3); // U+4141 is three UTF-8 bytes
    EXPECT_EQ(record.FeatureBitmap, 0x41414141u);
}

TEST(DiscoveryCycle, FiveBroadcastsPerInterfaceAndFiveUnicastsPerTargetPerInterfaceEveryCycle)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    TestSocket broadcast0("10.77.0.255", 28252);
    TestSocket broadcast1("10.77.1.255", 28252);
    TestSocket unicast("10.77.0.2", 28299);
    ASSERT_TRUE(broadcast0.IsBound() && broadcast1.IsBound() && unicast.IsBound());

    DiscoveryTestView view;
    SANetDiscovery discovery;
    view.DiscoverySet(&discovery);
    ASSERT_TRUE(discovery.Start(view.TargetGet()));
    ASSERT_TRUE(view.WaitFor([](size_t cycles, const std::vector<SANetHostRecord>&) { return cycles >= 3; }));
    discovery.Pause();
    view.Flush();
    size_t cycles = view.CyclesGet();
    EXPECT_EQ(RequestsCount(broadcast0, 5 * cycles, Address("10.77.0.1")), 5 * cycles);
    EXPECT_EQ(RequestsCount(broadcast1, 5 * cycles, Address("10.77.1.1")), 5 * cycles);

    // Paused: no cycle runs (three cycle periods pass without one).
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    view.Flush();
    EXPECT_EQ(view.CyclesGet(), cycles);

    // A target added while paused is asked from both interfaces from the
    // first cycle after the resume.
    SANetHostRecord target;
    target.Address = Address("10.77.0.2");
    target.Port = 28299;
    discovery.UnicastTargetAdd(target);
    discovery.Resume();
    ASSERT_TRUE(view.WaitFor([&](size_t c, const std::vector<SANetHostRecord>&) { return c >= cycles + 2; }));
    discovery.Pause();
    view.Flush();
    size_t more = view.CyclesGet() - cycles;
    EXPECT_EQ(RequestsCount(broadcast0, 5 * more, Address("10.77.0.1")), 5 * more);
    EXPECT_EQ(RequestsCount(broadcast1, 5 * more, Address("10.77.1.1")), 5 * more);
    std::vector<uint8_t> bytes;
    sockaddr_in from = {};
    std::map<uint32_t, size_t> bySender;
    while (unicast.Receive(500, bytes, from))
    {
        EXPECT_TRUE(IsRequest(bytes));
        ++bySender[ntohl(from.sin_addr.s_addr)];
    }
    EXPECT_EQ(bySender[Address("10.77.0.1")], 5 * more);
    EXPECT_EQ(bySender[Address("10.77.1.1")], 5 * more);

    // Removing the target ends the unicasts.
    EXPECT_EQ(discovery.UnicastTargetRemove(target.Address), 1u);
    discovery.Resume();
    size_t now = view.CyclesGet();
    ASSERT_TRUE(view.WaitFor([&](size_t c, const std::vector<SANetHostRecord>&) { return c >= now + 2; }));
    discovery.Stop();
    EXPECT_FALSE(unicast.Receive(500, bytes, from));
}

TEST(DiscoveryPeer, AnswersOnlyWellFormedRequestsAndToTheirSource)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    DiscoveryTestPeer peer;
    ASSERT_TRUE(peer.Start({"--bind", "10.77.0.2", "--name", "peer-\xC3\xA9t\xC3\xA9", "--features", "24"}));
    TestSocket client("10.77.0.1", 0);
    ASSERT_TRUE(client.IsBound());
    sockaddr_in server = {};
    server.sin_family = AF_INET;
    server.sin_port = htons(28252);
    inet_pton(AF_INET, "10.77.0.2", &server.sin_addr);

    std::vector<uint8_t> valid(SA_NET_DISCOVERY_REQUEST_SIZE, 0);
    std::memcpy(valid.data(), "QUILLMERE-NET-CLIENT", 20);
    std::vector<uint8_t> shorter(valid.begin(), valid.end() - 1);
    std::vector<uint8_t> longer = valid;
    longer.push_back(0);
    std::vector<uint8_t> otherTag = valid;
    otherTag[0] = 'X';
    std::vector<uint8_t> unterminated = valid;
    unterminated[20] = '!';
    for (const auto* request : {&shorter, &longer, &otherTag, &unterminated, &valid})
        ASSERT_TRUE(client.SendTo(*request, server));

    std::vector<uint8_t> reply;
    sockaddr_in from = {};
    ASSERT_TRUE(client.Receive(20000, reply, from));
    EXPECT_EQ(ntohl(from.sin_addr.s_addr), Address("10.77.0.2"));
    EXPECT_EQ(ntohs(from.sin_port), 28252);
    ASSERT_EQ(reply.size(), SA_NET_HOST_RECORD_SIZE);
    SANetHostRecord record = SANetHostRecord::Decode(reply.data());
    EXPECT_EQ(record.HostNameGet(), "peer-\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(record.Address, Address("10.77.0.2"));
    EXPECT_EQ(record.Port, 28252);
    EXPECT_EQ(record.FeatureBitmap, 24u);
    // The malformed requests, sent first, got nothing.
    EXPECT_FALSE(client.Receive(500, reply, from));
}

TEST(DiscoveryLifecycle, StopWhilePausedJoinsEveryReceiverAndDiscoveryStartsAgain)
{
    QM_DISCOVERY_NETWORK_REQUIRE();
    SATestLogCapture log;
    DiscoveryTestView view;
    SANetDiscovery discovery;
    view.DiscoverySet(&discovery);
    for (int round = 0; round < 2; ++round)
    {
        size_t cycles = view.CyclesGet();
        ASSERT_TRUE(discovery.Start(view.TargetGet()));
        ASSERT_TRUE(
            view.WaitFor([&](size_t c, const std::vector<SANetHostRecord>&) { return c >= cycles + 1; }));
        discovery.Pause();
        discovery.Stop();
        EXPECT_FALSE(discovery.IsRunning());
        EXPECT_EQ(log.Count("SATaskLoopedNetDiscoveryReceiver::OnExit...\n"), 2u * (round + 1));
    }
}

QM_DISCOVERY_TEST_MAIN()
