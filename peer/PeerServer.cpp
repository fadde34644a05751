#include "peer/PeerServer.h"

#include "core/SALog.h"
#include "core/SAUtilPng.h"
#include "net/SANetProtocol.h"
#include "peer/PeerFrameSynth.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
// How long the listener rests after accept4 found no descriptor free.
constexpr int PEER_ACCEPT_REST_MS = 100;
} // namespace

PeerServer::PeerServer(const PeerOptions& options) : m_Options(options) {}

PeerServer::~PeerServer()
{
    StopRequest();
    Wait();
    if (m_ListenFd >= 0)
    {
        close(m_ListenFd);
    }
    for (int& fd : m_WakePipe)
    {
        if (fd >= 0)
        {
            close(fd);
            fd = -1;
        }
    }
}

bool PeerServer::Start()
{
    if (!m_Scenario.Parse(m_Options.Scenario, m_Error))
    {
        SALog(SA_LOG_FAILURE, "PeerServer::Start failed! Scenario %s\n", m_Error.c_str());
        return false;
    }
    // Before the listening line: a benchmark starts its clock on that line.
    if (m_Options.Loop > 0 && !m_Loop.Build(m_Options, m_Error))
    {
        SALog(SA_LOG_FAILURE, "PeerServer::Start failed! Loop %s\n", m_Error.c_str());
        return false;
    }
    if (!m_Options.RecordPath.empty() && !m_Recorder.Open(m_Options.RecordPath))
    {
        m_Error = "cannot create " + m_Options.RecordPath;
        return false;
    }
    if (pipe2(m_WakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        m_Error = std::string("pipe2: ") + std::strerror(errno);
        SALog(SA_LOG_FAILURE, "PeerServer::Start failed! pipe2 %d\n", errno);
        return false;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(SA_NET_SERVER_PORT);
    if (inet_pton(AF_INET, m_Options.BindAddress.c_str(), &address.sin_addr) != 1)
    {
        m_Error = "invalid bind address " + m_Options.BindAddress;
        SALog(SA_LOG_FAILURE, "PeerServer::Start failed! inet_pton %s\n", m_Options.BindAddress.c_str());
        return false;
    }
    m_ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_ListenFd < 0)
    {
        m_Error = std::string("socket: ") + std::strerror(errno);
        SALog(SA_LOG_FAILURE, "PeerServer::Start failed! socket %d\n", errno);
        return false;
    }
    int one = 1;
    setsockopt(m_ListenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (bind(m_ListenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
    {
        m_Error = "bind " + m_Options.BindAddress + ":" + std::to_string(SA_NET_SERVER_PORT) + ": " +
                  std::strerror(errno);
        SALog(SA_LOG_FAILURE, "PeerServer::Start failed! bind %s %d\n", m_Options.BindAddress.c_str(), errno);
        return false;
    }
    if (listen(m_ListenFd, 16) != 0)
    {
        m_Error = std::string("listen: ") + std::strerror(errno);
        SALog(SA_LOG_FAILURE, "PeerServer::Start failed! listen %d\n", errno);
        return false;
    }
    m_pDiscovery = std::make_unique<PeerDiscovery>(m_Options);
    if (!m_pDiscovery->Start(m_Error))
    {
        SALog(SA_LOG_FAILURE, "PeerServer::Start failed! PeerDiscovery::Start %s\n", m_Error.c_str());
        m_pDiscovery.reset();
        return false;
    }
    try
    {
        m_AcceptThread = std::thread(&PeerServer::PrivateAcceptLoop, this);
    }
    catch (const std::exception& e)
    {
        m_Error = e.what();
        SALog(SA_LOG_FAILURE, "PeerServer::Start failed! std::thread %s\n", e.what());
        return false;
    }
    return true;
}

void PeerServer::PrivateWake()
{
    if (m_WakePipe[1] >= 0)
    {
        char byte = 1;
        // A full pipe already holds a wake-up; nothing is lost.
        ssize_t ignored = write(m_WakePipe[1], &byte, 1);
        (void)ignored;
    }
}

void PeerServer::StopRequest()
{
    m_StopRequested.store(true);
    PrivateWake();
}

void PeerServer::Wait()
{
    if (m_AcceptThread.joinable())
    {
        m_AcceptThread.join();
    }
    if (m_pDiscovery)
    {
        m_pDiscovery->StopRequest();
        m_pDiscovery->Join();
    }
}

bool PeerServer::DisplaySlotTake(uint32_t)
{
    uint32_t taken = m_DisplaySlotsTaken.load();
    do
    {
        if (taken >= m_Options.MaxClients)
        {
            return false;
        }
    } while (!m_DisplaySlotsTaken.compare_exchange_weak(taken, taken + 1));
    return true;
}

void PeerServer::DisplaySlotRelease(uint32_t)
{
    m_DisplaySlotsTaken.fetch_sub(1);
}

void PeerServer::ConnectionFrameSent(uint32_t frameNumber)
{
    m_LastFrame.store(frameNumber);
}

void PeerServer::PrivateLastFrameSave()
{
    int64_t frame = m_LastFrame.load();
    if (m_Options.SaveLastPath.empty() || frame < 0)
    {
        return;
    }
    std::lock_guard<std::mutex> guard(m_SaveLock);
    std::vector<uint8_t> picture(static_cast<size_t>(m_Options.Width) * m_Options.Height * 4);
    // A looped stream sends its first frames again and again.
    const int64_t shown = m_Options.Loop > 0 ? frame % m_Options.Loop : frame;
    PeerFrameSynth(m_Options.Width, m_Options.Height, static_cast<uint32_t>(shown), picture.data(),
                   m_Options.Motion);
    if (!SAUtilPng::Write(m_Options.SaveLastPath, picture.data(), m_Options.Width, m_Options.Height,
                          static_cast<size_t>(m_Options.Width) * 4))
    {
        SALog(SA_LOG_FAILURE, "PeerServer::PrivateLastFrameSave failed! SAUtilPng::Write\n");
    }
}

void PeerServer::ConnectionEnded(uint32_t connectionId)
{
    PrivateLastFrameSave();
    uint32_t ended = m_ConnectionsEnded.fetch_add(1) + 1;
    if (m_Options.ExitAfterClients != 0 && ended >= m_Options.ExitAfterClients)
    {
        StopRequest();
    }
    else
    {
        PrivateWake(); // lets the accept thread reap the finished connection
    }
}

void PeerServer::PrivateAcceptLoop()
{
    using Clock = std::chrono::steady_clock;
    // Out of descriptors, the pending connection stays queued and the
    // listener stays readable: polling it again at once would spin (and log)
    // until a descriptor is free. It rests instead, and the episode is logged
    // once.
    Clock::time_point restUntil;
    bool starved = false;
    while (!m_StopRequested.load())
    {
        const auto rest = std::chrono::ceil<std::chrono::milliseconds>(restUntil - Clock::now());
        const bool resting = rest.count() > 0;
        // poll skips a negative descriptor: only the wake pipe while resting.
        pollfd fds[2] = {{resting ? -1 : m_ListenFd, POLLIN, 0}, {m_WakePipe[0], POLLIN, 0}};
        int ready = poll(fds, 2, resting ? static_cast<int>(rest.count()) : -1);
        if (ready < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            SALog(SA_LOG_FAILURE, "PeerServer::PrivateAcceptLoop failed! poll %d\n", errno);
            break;
        }
        if (fds[1].revents != 0)
        {
            char drain[64];
            while (read(m_WakePipe[0], drain, sizeof(drain)) > 0)
            {
            }
            for (auto it = m_Connections.begin(); it != m_Connections.end();)
            {
                if ((*it)->IsFinished())
                {
                    (*it)->Join();
                    it = m_Connections.erase(it);
                }
                else
                {
                    ++it;
                }
            }
        }
        if (m_StopRequested.load())
        {
            break;
        }
        if (fds[0].revents & POLLIN)
        {
            int fd = accept4(m_ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
            {
                const int error = errno;
                if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM)
                {
                    if (!starved)
                    {
                        SALog(
                            SA_LOG_FAILURE,
                            "PeerServer::PrivateAcceptLoop failed! accept4 %d - %s; trying again every %d ms "
                            "until it succeeds\n",
                            error, std::strerror(error), PEER_ACCEPT_REST_MS);
                        starved = true;
                    }
                    restUntil = Clock::now() + std::chrono::milliseconds(PEER_ACCEPT_REST_MS);
                }
                else if (error != EINTR && error != EAGAIN && error != ECONNABORTED)
                {
                    SALog(SA_LOG_FAILURE, "PeerServer::PrivateAcceptLoop failed! accept4 %d\n", error);
                }
                continue;
            }
            starved = false;
            int one = 1;
            // Header-only packets (Visibility, StreamReset, Disconnect) go out at once.
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
            // Frames wait in the peer, not in the kernel: with at most this
            // much queued unsent, the connection's thread hands the kernel
            // each part of a frame as the viewer's window opens and sends it
            // itself. A long queue would be sent by whichever thread brings
            // the viewer's acknowledgements in; on loopback, that is the
            // viewer's receiving thread, which then pays for both ends.
            // 64 KiB still keeps raw 1080p60 at full rate on two busy
            // cores; below it the connection thread wakes too often.
            const int unsentBytes = 64 * 1024;
            setsockopt(fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &unsentBytes, sizeof(unsentBytes));
            // A viewer that vanishes without closing (asleep, out of reach)
            // would hold its connection and thread for good: a quiet
            // connection is probed after 5 s, every 2 s, and given up after
            // 3 probes unanswered; data unacknowledged for 30 s ends it too.
            // Linux counts a closed receive window as unacknowledged: a
            // viewer that is alive but has stopped reading (stopped in a
            // debugger, its machine swapping) is given the longer time.
            const int idleSeconds = 5;
            const int probeSeconds = 2;
            const int probes = 3;
            const unsigned int unacknowledgedMs = 30000;
            setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof(one));
            setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof(idleSeconds));
            setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &probeSeconds, sizeof(probeSeconds));
            setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof(probes));
            setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledgedMs, sizeof(unacknowledgedMs));
            auto connection = std::make_unique<PeerConnection>(
                fd, m_NextId++, m_Options, m_Scenario, m_Options.RecordPath.empty() ? nullptr : &m_Recorder,
                this, m_Options.Loop > 0 ? &m_Loop : nullptr);
            if (connection->Start())
            {
                m_Connections.push_back(std::move(connection));
            }
        }
    }
    for (auto& connection : m_Connections)
    {
        connection->StopRequest();
    }
    m_Connections.clear(); // joins every connection thread
    // The address is free again as soon as Wait returns.
    close(m_ListenFd);
    m_ListenFd = -1;
}
