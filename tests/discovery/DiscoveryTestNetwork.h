#pragma once
// A private network for the discovery tests, made before any test runs: the
// test process moves itself into new network and mount namespaces (as
// `unshare -n` does, but in-process, before it has any thread), checks that
// the new namespace holds nothing but an unconfigured loopback, and builds
//
//   qm0 10.77.0.1/24 (first), 10.77.0.2/24   <-veth->  qm1 (no address)
//   qm2 10.77.1.1/24 (first), 10.77.1.2/24   <-veth->  qm3 (no address)
//
// Discovery therefore sees two interfaces, 10.77.0.1 and 10.77.1.1, and the
// peers listen on the second addresses. Broadcasts and unicasts stay inside
// the namespace: both ends of each veth pair are here (or, for the second
// host, in a namespace of a child process, DiscoveryTestPeer).
//
// Name resolution is confined too: the mount namespace is private, and our
// own hosts file and a resolver configuration whose only name server is
// 10.77.0.2 (inside the private network; the name resolution tests run a
// small server there) are mounted over the system's.
//
// When namespaces cannot be made (no privilege), every test skips; nothing
// ever runs on the host's network.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace DiscoveryTestNetwork
{
inline std::string& SkipReason()
{
    static std::string reason = "network namespace not set up";
    return reason;
}

inline bool& Ready()
{
    static bool ready = false;
    return ready;
}

// Names of every interface of the current network namespace.
inline std::set<std::string> InterfaceNamesGet()
{
    std::set<std::string> names;
    if (struct if_nameindex* list = if_nameindex())
    {
        for (struct if_nameindex* i = list; i->if_index != 0; ++i)
            names.insert(i->if_name);
        if_freenameindex(list);
    }
    return names;
}

// Runs a command without a shell; true when it exits with status 0.
inline bool CommandRun(std::vector<std::string> arguments)
{
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0)
    {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline bool FileWrite(const std::string& path, const std::string& text)
{
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

inline bool UserNamespaceEnter()
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0)
        return false;
    return FileWrite("/proc/self/setgroups", "deny") &&
           FileWrite("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
           FileWrite("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

// The allowed interfaces once the private network is built.
inline const std::set<std::string>& AllowedNamesGet()
{
    static const std::set<std::string> names = {"lo", "qm0", "qm1", "qm2", "qm3", "qm4"};
    return names;
}

// True when every interface here is one this test made.
inline bool InterfacesAreOurs()
{
    for (const std::string& name : InterfaceNamesGet())
    {
        if (AllowedNamesGet().count(name) == 0)
            return false;
    }
    return true;
}

// Called once from main before any thread exists.
inline void Setup()
{
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 && !UserNamespaceEnter())
    {
        SkipReason() = std::string("cannot create a network namespace: ") + std::strerror(errno);
        return;
    }
    // Our mounts must not reach the host's mount namespace.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    {
        SkipReason() = std::string("cannot make mounts private: ") + std::strerror(errno);
        return;
    }
    // Proof of where the tests run: a fresh namespace has only loopback.
    if (InterfaceNamesGet() != std::set<std::string>{"lo"})
    {
        SkipReason() = "the new network namespace is not empty";
        return;
    }
    char folder[] = "/tmp/qm-discovery-XXXXXX";
    if (mkdtemp(folder) == nullptr)
    {
        SkipReason() = "mkdtemp failed";
        return;
    }
    std::string nsswitch = std::string(folder) + "/nsswitch.conf";
    std::string hosts = std::string(folder) + "/hosts";
    std::string resolv = std::string(folder) + "/resolv.conf";
    if (!FileWrite(nsswitch, "hosts: files dns\n") ||
        !FileWrite(resolv, "nameserver 10.77.0.2\noptions timeout:5 attempts:1\n") ||
        mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0 ||
        !FileWrite(hosts, "127.0.0.1 localhost\n10.77.0.2 qmpeer-alpha.test\n10.77.1.2 qmpeer-beta.test\n") ||
        mount(nsswitch.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0 ||
        mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0)
    {
        SkipReason() = "cannot confine name resolution to a private hosts file";
        return;
    }
    // The mounts keep the files; nothing needs to stay in /tmp.
    unlink(nsswitch.c_str());
    unlink(hosts.c_str());
    unlink(resolv.c_str());
    rmdir(folder);
    const std::vector<std::vector<std::string>> commands = {
        {"ip", "link", "set", "lo", "up"},
        {"ip", "link", "add", "qm0", "type", "veth", "peer", "name", "qm1"},
        {"ip", "addr", "add", "10.77.0.1/24", "brd", "+", "dev", "qm0"},
        {"ip", "addr", "add", "10.77.0.2/24", "brd", "+", "dev", "qm0"},
        {"ip", "link", "set", "qm0", "up"},
        {"ip", "link", "set", "qm1", "up"},
        {"ip", "link", "add", "qm2", "type", "veth", "peer", "name", "qm3"},
        {"ip", "addr", "add", "10.77.1.1/24", "brd", "+", "dev", "qm2"},
        {"ip", "addr", "add", "10.77.1.2/24", "brd", "+", "dev", "qm2"},
        {"ip", "link", "set", "qm2", "up"},
        {"ip", "link", "set", "qm3", "up"},
    };
    for (const auto& command : commands)
    {
        if (!CommandRun(command))
        {
            std::string text;
            for (const std::string& part : command)
                text += part + " ";
            SkipReason() = "network set-up failed: " + text;
            return;
        }
    }
    if (InterfaceNamesGet() != std::set<std::string>{"lo", "qm0", "qm1", "qm2", "qm3"})
    {
        SkipReason() = "unexpected interfaces after set-up";
        return;
    }
    Ready() = true;
}
} // namespace DiscoveryTestNetwork

// Every test starts with this: skip without the private network, and refuse
// to go on if an interface that is not ours has appeared.
#define QM_DISCOVERY_NETWORK_REQUIRE()                                                                       \
    do                                                                                                       \
    {                                                                                                        \
        if (!DiscoveryTestNetwork::Ready())                                                                  \
            GTEST_SKIP() << DiscoveryTestNetwork::SkipReason();                                              \
        ASSERT_TRUE(DiscoveryTestNetwork::InterfacesAreOurs());                                              \
    } while (0)

#define QM_DISCOVERY_TEST_MAIN()                                                                             \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        testing::InitGoogleTest(&argc, argv);                                                                \
        DiscoveryTestNetwork::Setup();                                                                       \
        if (!DiscoveryTestNetwork::Ready())                                                                  \
            std::fprintf(stderr, "discovery tests skipped: %s\n",                                            \
                         DiscoveryTestNetwork::SkipReason().c_str());                                        \
        return RUN_ALL_TESTS();                                                                              \
    }
