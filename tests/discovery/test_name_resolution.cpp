// Host name resolution inside the private network and mount namespaces of
// DiscoveryTestNetwork: names come from its own hosts file, or from the
// test's name server on 10.77.0.2 inside the private network; no lookup
// reaches any other name server.
#include "core/PSEvent.h"
#include "core/SAMessageLoop.h"
#include "core/SAUtilAddress.h"
#include "net/PSThreadNetNameResolution.h"
#include "net/SANetHostLookupByName.h"
#include "tests/core/SATestLogCapture.h"
#include "tests/discovery/DiscoveryTestNameServer.h"
#include "tests/discovery/DiscoveryTestNetwork.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <thread>

namespace
{
uint32_t Address(const char* text)
{
    uint32_t address = 0;
    EXPECT_TRUE(SAUtilAddressParse(text, address)) << text;
    return address;
}

SANetHostInfo HostNamed(const std::string& name)
{
    SANetHostInfo info;
    info.Record.HostNameSet(name);
    return info;
}

// The connect view's side: counts WM_APP+4.
class ResolvedCounter
{
public:
    ResolvedCounter()
        : m_Loop(
              [this](uint32_t message, uintptr_t, intptr_t) -> intptr_t
              {
                  std::lock_guard<std::mutex> guard(m_Lock);
                  if (message == SA_WM_APP_NAME_RESOLVED)
                      ++m_Resolved;
                  m_Changed.notify_all();
                  return 0;
              })
    {
        m_Loop.Start();
    }
    ~ResolvedCounter() { m_Loop.Stop(); }
    SAMessageTarget* TargetGet() { return &m_Loop; }
    void Flush()
    {
        m_Loop.Invoke([] {});
    }
    bool ResolvedWait()
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        return m_Changed.wait_for(lock, std::chrono::seconds(20), [this] { return m_Resolved > 0; });
    }
    int ResolvedGet()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Resolved;
    }

private:
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    int m_Resolved = 0; // guarded by m_Lock
    SAMessageLoop m_Loop;
};

// Every test has the name server running, so unknown names are refused at
// once ("Host not found") rather than after a time-out.
class NameResolution : public testing::Test
{
protected:
    void SetUp() override
    {
        QM_DISCOVERY_NETWORK_REQUIRE();
        m_pNameServer = std::make_unique<DiscoveryTestNameServer>();
        ASSERT_TRUE(m_pNameServer->IsBound());
    }
    std::unique_ptr<DiscoveryTestNameServer> m_pNameServer;
};
} // namespace

TEST_F(NameResolution, LookupResolvesNamesAndNumericAddressesToTheServerPort)
{
    struct Case
    {
        const char* name;
        const char* address;
    };
    const Case cases[] = {
        {"10.77.0.2", "10.77.0.2"},
        {"localhost", "127.0.0.1"},
        {"qmpeer-alpha.test", "10.77.0.2"},
        {"QMPEER-BETA.TEST", "10.77.1.2"},
    };
    for (const Case& c : cases)
    {
        SANetHostInfo info = HostNamed(c.name);
        std::string message = "untouched";
        ASSERT_TRUE(SANetHostLookupByName(info, message)) << c.name;
        EXPECT_EQ(info.Record.Address, Address(c.address)) << c.name;
        EXPECT_EQ(info.Record.Port, 28252) << c.name;
        EXPECT_EQ(info.AddressText, c.address) << c.name;
        EXPECT_EQ(info.Record.HostNameGet(), c.name);
        EXPECT_TRUE(message.empty());
    }
}

TEST_F(NameResolution, LookupAnUnknownNameFailsWithTheHostNotFoundText)
{
    SATestLogCapture log;
    SANetHostInfo info = HostNamed("nonexistent.invalid");
    std::string message;
    EXPECT_FALSE(SANetHostLookupByName(info, message));
    EXPECT_EQ(message, "Unable to resolve host name. Host not found");
    EXPECT_EQ(info.Record.Address, 0u);
    EXPECT_TRUE(info.AddressText.empty());
    EXPECT_EQ(log.Count("SANetHostLookupByName getaddrinfo failed! " + std::to_string(EAI_NONAME) + "\n"),
              1u);
}

TEST_F(NameResolution, ThreadResolvesAndPostsOnceThenEnds)
{
    SATestLogCapture log;
    ResolvedCounter view;
    SANetHostInfo info = HostNamed("qmpeer-beta.test");
    PSThreadNetNameResolution resolution;
    ASSERT_TRUE(resolution.Start(view.TargetGet(), &info));
    ASSERT_TRUE(view.ResolvedWait());
    // The view joins the thread before it reads the result.
    resolution.Terminate();
    view.Flush();
    EXPECT_EQ(view.ResolvedGet(), 1);
    EXPECT_EQ(info.Record.Address, Address("10.77.1.2"));
    EXPECT_EQ(info.Record.Port, 28252);
    EXPECT_EQ(info.AddressText, "10.77.1.2");
    EXPECT_EQ(info.Record.HostNameGet(), "qmpeer-beta.test");
    EXPECT_EQ(log.Count("PSThreadNetNameResolution::Run exit...\n"), 1u);

    // The same object serves the next lookup.
    SANetHostInfo next = HostNamed("10.77.0.2");
    ASSERT_TRUE(resolution.Start(view.TargetGet(), &next));
    resolution.Wait(PS_INFINITE);
    resolution.Terminate();
    view.Flush();
    EXPECT_EQ(view.ResolvedGet(), 2);
    EXPECT_EQ(next.Record.Address, Address("10.77.0.2"));
}

TEST_F(NameResolution, ThreadANameThatNeverResolvesIsRetriedUntilCancelled)
{
    SATestLogCapture log;
    ResolvedCounter view;
    SANetHostInfo info = HostNamed("nonexistent.invalid");
    PSThreadNetNameResolution resolution;
    ASSERT_TRUE(resolution.Start(view.TargetGet(), &info));
    const std::string retry = "PSThreadNetNameResolution::Run SANetHostLookupByName failed! Unable to "
                              "resolve host name. Host not found\n";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (log.Count(retry) < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GE(log.Count(retry), 3u);
    EXPECT_FALSE(resolution.Wait(0)); // still retrying

    resolution.Terminate();
    view.Flush();
    EXPECT_EQ(view.ResolvedGet(), 0);
    EXPECT_EQ(log.Count("PSThreadNetNameResolution::Run exit...\n"), 1u);
    EXPECT_EQ(info.Record.Address, 0u);
    EXPECT_TRUE(info.AddressText.empty());
    // Cancelled means finished: no further attempt is made afterwards.
    size_t attempts = log.Count(retry);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_EQ(log.Count(retry), attempts);
}

TEST_F(NameResolution, ThreadCancelDuringABlockedLookupReturnsAtOnceAndIgnoresTheLateResult)
{
    SATestLogCapture log;
    ResolvedCounter view;
    SANetHostInfo info = HostNamed("slow.qm.test");
    PSThreadNetNameResolution resolution;
    ASSERT_TRUE(resolution.Start(view.TargetGet(), &info));
    // The lookup is now blocked inside getaddrinfo, waiting for our server.
    ASSERT_TRUE(m_pNameServer->QueryHeldWait());
    // Cancel does not wait for the resolver (which would wait 5 s for an answer).
    resolution.Terminate();
    EXPECT_TRUE(resolution.Wait(0) == false); // joined and retired: no handle left
    EXPECT_EQ(log.Count("PSThreadNetNameResolution::Run exit...\n"), 1u);

    // Now the answer comes; the abandoned attempt must not reach the view
    // or the host info.
    m_pNameServer->QueryHeldAnswer("10.77.1.2");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    view.Flush();
    EXPECT_EQ(view.ResolvedGet(), 0);
    EXPECT_EQ(info.Record.Address, 0u);
    EXPECT_TRUE(info.AddressText.empty());

    // The same name, answered in time, resolves through the name server.
    SANetHostInfo again = HostNamed("slow.qm.test");
    ASSERT_TRUE(resolution.Start(view.TargetGet(), &again));
    ASSERT_TRUE(m_pNameServer->QueryHeldWait());
    m_pNameServer->QueryHeldAnswer("10.77.1.2");
    ASSERT_TRUE(view.ResolvedWait());
    resolution.Terminate();
    EXPECT_EQ(again.Record.Address, Address("10.77.1.2"));
    EXPECT_EQ(again.AddressText, "10.77.1.2");
}

QM_DISCOVERY_TEST_MAIN()
