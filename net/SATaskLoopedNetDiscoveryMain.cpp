#include "net/SATaskLoopedNetDiscoveryMain.h"

#include "core/SALog.h"
#include "net/SANetInterfaceEnumerator.h"

#include <chrono>
#include <cstring>
#include <new>

SATaskLoopedNetDiscoveryMain::SATaskLoopedNetDiscoveryMain() = default;
SATaskLoopedNetDiscoveryMain::~SATaskLoopedNetDiscoveryMain() = default;

bool SATaskLoopedNetDiscoveryMain::OnEntry()
{
    std::lock_guard<std::mutex> guard(m_StateLock);
    m_Running = true;
    return true;
}

void SATaskLoopedNetDiscoveryMain::OnExit()
{
    // Each receiver wakes when its socket is shut down; it is joined before
    // its socket is closed and the interface destroyed.
    for (auto& [address, netInterface] : m_Interfaces)
        netInterface->ReceiverStop();
    m_Interfaces.clear();
    m_InterfaceCount.store(0);
    std::lock_guard<std::mutex> guard(m_StateLock);
    m_Running = false;
    m_Parked = false;
    m_StateChanged.notify_all();
}

void SATaskLoopedNetDiscoveryMain::StopRequest()
{
    std::lock_guard<std::mutex> guard(m_StateLock);
    m_Stop.store(true);
    m_StateChanged.notify_all();
}

void SATaskLoopedNetDiscoveryMain::StopFlagClear()
{
    std::lock_guard<std::mutex> guard(m_StateLock);
    m_Stop.store(false);
    m_PauseRequested = false;
}

void SATaskLoopedNetDiscoveryMain::PauseRequest()
{
    std::lock_guard<std::mutex> guard(m_StateLock);
    m_PauseRequested = true;
    m_StateChanged.notify_all();
}

void SATaskLoopedNetDiscoveryMain::Resume()
{
    std::lock_guard<std::mutex> guard(m_StateLock);
    m_PauseRequested = false;
    m_StateChanged.notify_all();
}

bool SATaskLoopedNetDiscoveryMain::PausedWait()
{
    std::unique_lock<std::mutex> lock(m_StateLock);
    m_StateChanged.wait(lock, [this] { return m_Parked || !m_Running || !m_PauseRequested; });
    return m_Parked;
}

size_t SATaskLoopedNetDiscoveryMain::ReceiverRunningCountGet() const
{
    size_t running = 0;
    for (const auto& [address, netInterface] : m_Interfaces)
        running += netInterface->ReceiverIsRunning() ? 1 : 0;
    return running;
}

bool SATaskLoopedNetDiscoveryMain::PrivatePauseCheck()
{
    std::unique_lock<std::mutex> lock(m_StateLock);
    if (m_PauseRequested && !m_Stop.load())
    {
        m_Parked = true;
        m_StateChanged.notify_all();
        m_StateChanged.wait(lock, [this] { return !m_PauseRequested || m_Stop.load(); });
        m_Parked = false;
        m_StateChanged.notify_all();
    }
    return !m_Stop.load();
}

std::unique_ptr<SANetInterface>
SATaskLoopedNetDiscoveryMain::PrivateInstanceAllocateAndInitialize(uint32_t address, uint32_t broadcast)
{
    std::unique_ptr<SANetInterface> netInterface(new (std::nothrow) SANetInterface());
    if (!netInterface)
    {
        SALog(SA_LOG_DISCOVERY,
              "SANetInterfaceEnumerator::PrivateInstanceAllocateAndInitialize failed! No memory\n");
        return nullptr;
    }
    if (!netInterface->Initialize(address, broadcast))
    {
        SALog(SA_LOG_DISCOVERY,
              "SANetInterfaceEnumerator::PrivateInstanceAllocateAndInitialize failed! Error in "
              "previous initialization\n");
        return nullptr;
    }
    return netInterface;
}

void SATaskLoopedNetDiscoveryMain::PrivateCollectionNetInterfaceAdd()
{
    SANetInterfaceEnumerator snapshot;
    uint32_t address = 0;
    uint32_t broadcast = 0;
    for (size_t i = 0; !m_Stop.load() && snapshot.AdapterIpAddressesGet(i, address, broadcast); ++i)
    {
        std::unique_ptr<SANetInterface> netInterface =
            PrivateInstanceAllocateAndInitialize(address, broadcast);
        if (!netInterface)
            break;
        if (m_Interfaces.count(address) != 0)
        {
            // The interface already receives; the new socket goes again.
            SALog(SA_LOG_DISCOVERY,
                  "SATaskLoopedNetDiscoveryMain::PrivateCollectionNetInterfaceAdd failed! IP "
                  "address already present\n");
            continue;
        }
        if (!netInterface->ReceiverThreadStart(&m_List))
        {
            SALog(SA_LOG_FAILURE, "SATaskLoopedNetDiscoveryMain::PrivateCollectionNetInterfaceAdd "
                                  "ReceiverThreadStart failed!\n");
            continue;
        }
        m_Interfaces.emplace(address, std::move(netInterface));
    }
    m_InterfaceCount.store(m_Interfaces.size());
}

bool SATaskLoopedNetDiscoveryMain::OnExecute()
{
    if (!PrivatePauseCheck())
        return false;

    PrivateCollectionNetInterfaceAdd();

    uint8_t request[SA_NET_DISCOVERY_REQUEST_SIZE];
    std::memset(request, 0, sizeof(request));
    std::memcpy(request, SA_NET_DISCOVERY_REQUEST_TAG, sizeof(SA_NET_DISCOVERY_REQUEST_TAG));

    for (auto& [address, netInterface] : m_Interfaces)
    {
        SALog(SA_LOG_DISCOVERY, "%s %d.%d.%d.%d %s\n", "DISCOVERY TRANSMIT Local IP:", (address >> 24) & 0xFF,
              (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF, "");
        for (int n = 0; n < SA_NET_DISCOVERY_REPEAT; ++n)
            netInterface->UdpSendBroadcast(request);
        // One record at a time under the list lock: the view may edit the
        // targets between two records.
        SANetHostRecord target;
        for (size_t j = 0; m_List.UnicastTargetGet(j, target); ++j)
        {
            for (int n = 0; n < SA_NET_DISCOVERY_REPEAT; ++n)
                netInterface->UdpSendUnicast(request, target.Address, target.Port);
        }
    }

    m_List.MessagePost(SA_WM_APP_DISCOVERY_CYCLE_DONE);

    // The wait ends early for a stop or a pause, so neither has to wait for it.
    std::unique_lock<std::mutex> lock(m_StateLock);
    m_StateChanged.wait_for(lock, std::chrono::milliseconds(SA_NET_DISCOVERY_CYCLE_PAUSE_MS),
                            [this] { return m_Stop.load() || m_PauseRequested; });
    return true;
}
