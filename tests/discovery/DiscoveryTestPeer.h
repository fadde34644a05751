#pragma once
// Runs the real quillmere-peer for a discovery test, either in the test's
// own private network or, as a second host, in a network namespace of its
// own joined to ours by the veth pair qm4 (here, 10.77.2.1/24) - qm5 (there,
// 10.77.2.2/24). The second host also holds 10.77.9.2 on its loopback, which
// this namespace reaches only through a route via 10.77.2.2: a host on a
// network that is not attached here. The second namespace belongs to the
// child process alone and disappears with it, taking the veth pair and the
// route along.
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/discovery/DiscoveryTestNetwork.h"

class DiscoveryTestPeer
{
public:
    ~DiscoveryTestPeer() { Stop(); }

    // Starts the peer here with arguments; waits (guard 20 s) for its
    // listening line.
    bool Start(const std::vector<std::string>& arguments) { return PrivateStart(arguments, false); }

    // Starts the peer (bound to 0.0.0.0) in a new network namespace that
    // holds only lo and qm5; the child checks that before it execs the peer.
    bool StartAsSecondHost(const std::vector<std::string>& arguments)
    {
        return PrivateStart(arguments, true);
    }

    void Stop()
    {
        if (m_Pid > 0)
        {
            kill(m_Pid, SIGTERM);
            int status = 0;
            waitpid(m_Pid, &status, 0);
            m_Pid = -1;
            // The kernel tears the dead host's namespace down later, and
            // with it our end of the pair: the next second host needs the
            // name again.
            for (int i = 0; i < 200 && m_SecondHost && if_nametoindex("qm4") != 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (m_OutFd >= 0)
        {
            close(m_OutFd);
            m_OutFd = -1;
        }
    }

private:
    bool PrivateStart(const std::vector<std::string>& arguments, bool secondHost)
    {
        m_SecondHost = secondHost;
        std::string peer = QM_PEER_EXE;
        for (const std::string& a : arguments)
            peer += " '" + a + "'";
        // In the second namespace: prove it is fresh (lo and our qm5 only),
        // configure it, then become the peer.
        std::string script = "set -e; [ \"$(ip -o link show | wc -l)\" = 2 ]; ip link set lo up; "
                             "ip addr add 10.77.2.2/24 brd + dev qm5; ip link set qm5 up; "
                             "ip addr add 10.77.9.2/32 dev lo; exec " +
                             peer + " --quiet";
        std::vector<std::string> all;
        if (secondHost)
            all = {"/bin/sh", "-c", script};
        else
        {
            all = {QM_PEER_EXE};
            all.insert(all.end(), arguments.begin(), arguments.end());
            all.push_back("--quiet");
        }
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2];
        int go[2];
        int ready[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(go, O_CLOEXEC) != 0 || pipe2(ready, O_CLOEXEC) != 0)
            return false;
        m_Pid = fork();
        if (m_Pid == 0)
        {
            // Only async-signal-safe calls until exec.
            dup2(out[1], 1);
            if (secondHost)
            {
                char byte = unshare(CLONE_NEWNET) == 0 ? 1 : 0;
                if (write(ready[1], &byte, 1) != 1 || byte == 0 || read(go[0], &byte, 1) != 1 || byte == 0)
                    _exit(126);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(go[0]);
        close(ready[1]);
        m_OutFd = out[0];
        bool ok = m_Pid > 0;
        if (ok && secondHost)
        {
            char byte = 0;
            ok = read(ready[0], &byte, 1) == 1 && byte == 1 &&
                 DiscoveryTestNetwork::CommandRun({"ip", "link", "add", "qm4", "type", "veth", "peer", "name",
                                                   "qm5", "netns", std::to_string(m_Pid)}) &&
                 DiscoveryTestNetwork::CommandRun(
                     {"ip", "addr", "add", "10.77.2.1/24", "brd", "+", "dev", "qm4"}) &&
                 DiscoveryTestNetwork::CommandRun({"ip", "link", "set", "qm4", "up"}) &&
                 DiscoveryTestNetwork::CommandRun(
                     {"ip", "route", "add", "10.77.9.0/24", "via", "10.77.2.2", "dev", "qm4"});
            byte = ok ? 1 : 0;
            ok = write(go[1], &byte, 1) == 1 && ok;
        }
        close(go[1]);
        close(ready[0]);
        return ok && PrivateListeningWait();
    }

    bool PrivateListeningWait()
    {
        std::string text;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (text.find("listening on") == std::string::npos)
        {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            pollfd fd = {m_OutFd, POLLIN, 0};
            if (left <= 0 || poll(&fd, 1, left) <= 0)
                return false;
            char buffer[256];
            ssize_t got = read(m_OutFd, buffer, sizeof(buffer));
            if (got <= 0)
                return false;
            text.append(buffer, static_cast<size_t>(got));
        }
        return true;
    }

    pid_t m_Pid = -1;
    bool m_SecondHost = false;
    int m_OutFd = -1;
};
