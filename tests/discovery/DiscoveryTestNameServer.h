#pragma once
// A minimal name server for the name resolution tests, on UDP 10.77.0.2:53
// inside the private network (the resolver configuration of
// DiscoveryTestNetwork points there). Every name is answered "no such name"
// at once, except names beginning with "slow.", whose queries are held until
// the test answers them (QueryHeldAnswer), so a lookup can be caught while it
// blocks inside getaddrinfo.
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class DiscoveryTestNameServer
{
public:
    DiscoveryTestNameServer()
    {
        m_Fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = htons(53);
        inet_pton(AF_INET, "10.77.0.2", &local.sin_addr);
        m_Bound = bind(m_Fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0 && pipe(m_Wake) == 0;
        if (m_Bound)
            m_Thread = std::thread([this] { PrivateLoop(); });
    }
    ~DiscoveryTestNameServer()
    {
        if (m_Thread.joinable())
        {
            char byte = 1;
            ssize_t ignored = write(m_Wake[1], &byte, 1);
            (void)ignored;
            m_Thread.join();
            close(m_Wake[0]);
            close(m_Wake[1]);
        }
        close(m_Fd);
    }
    bool IsBound() const { return m_Bound; }

    // Waits (guard 20 s) until a query for a "slow." name is held.
    bool QueryHeldWait()
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        return m_Changed.wait_for(lock, std::chrono::seconds(20), [this] { return !m_Held.empty(); });
    }
    // Answers every held query with address (dotted) for type A, nothing for
    // other types.
    void QueryHeldAnswer(const char* address)
    {
        std::vector<Held> held;
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            held.swap(m_Held);
        }
        in_addr a = {};
        inet_pton(AF_INET, address, &a);
        for (Held& h : held)
            PrivateReply(h.Query, h.QuestionEnd, h.From, h.Type == 1 ? &a : nullptr, false);
    }

private:
    struct Held
    {
        std::vector<uint8_t> Query;
        size_t QuestionEnd;
        uint16_t Type;
        sockaddr_in From;
    };

    void PrivateReply(const std::vector<uint8_t>& query, size_t questionEnd, const sockaddr_in& to,
                      const in_addr* address, bool noSuchName)
    {
        std::vector<uint8_t> reply(query.begin(), query.begin() + static_cast<long>(questionEnd));
        reply[2] = 0x81;                     // response, recursion desired
        reply[3] = noSuchName ? 0x83 : 0x80; // recursion available, rcode
        reply[6] = 0;
        reply[7] = address != nullptr ? 1 : 0; // answers
        reply[8] = reply[9] = reply[10] = reply[11] = 0;
        if (address != nullptr)
        {
            const uint8_t answer[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4};
            reply.insert(reply.end(), answer, answer + sizeof(answer));
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(address);
            reply.insert(reply.end(), bytes, bytes + 4);
        }
        sendto(m_Fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }

    void PrivateLoop()
    {
        for (;;)
        {
            pollfd fds[2] = {{m_Fd, POLLIN, 0}, {m_Wake[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || fds[1].revents != 0)
                return;
            std::vector<uint8_t> query(512);
            sockaddr_in from = {};
            socklen_t size = sizeof(from);
            ssize_t got =
                recvfrom(m_Fd, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&from), &size);
            if (got < 12)
                continue;
            query.resize(static_cast<size_t>(got));
            // The question: labels, then type and class.
            std::string name;
            size_t at = 12;
            while (at < query.size() && query[at] != 0 && at + 1 + query[at] <= query.size())
            {
                name += std::string(reinterpret_cast<const char*>(&query[at + 1]), query[at]) + ".";
                at += 1 + query[at];
            }
            if (at + 5 > query.size())
                continue;
            uint16_t type = static_cast<uint16_t>((query[at + 1] << 8) | query[at + 2]);
            size_t questionEnd = at + 5;
            if (name.rfind("slow.", 0) == 0)
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Held.push_back({query, questionEnd, type, from});
                m_Changed.notify_all();
                continue;
            }
            PrivateReply(query, questionEnd, from, nullptr, true);
        }
    }

    int m_Fd = -1;
    int m_Wake[2] = {-1, -1};
    bool m_Bound = false;
    std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::vector<Held> m_Held; // guarded by m_Lock
    std::thread m_Thread;
};
