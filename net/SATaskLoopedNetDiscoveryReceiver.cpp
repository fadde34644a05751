#include "net/SATaskLoopedNetDiscoveryReceiver.h"

#include "core/SALog.h"
#include "net/SAListDiscovery.h"
#include "net/SANetInterface.h"

#include <cstring>
#include <new>

SATaskLoopedNetDiscoveryReceiver::SATaskLoopedNetDiscoveryReceiver(SANetInterface* netInterface)
    : m_pInterface(netInterface)
{
}

SATaskLoopedNetDiscoveryReceiver::~SATaskLoopedNetDiscoveryReceiver() = default;

bool SATaskLoopedNetDiscoveryReceiver::ListSet(SAListDiscovery* list)
{
    SAListDiscovery* expected = nullptr;
    return m_pList.compare_exchange_strong(expected, list);
}

bool SATaskLoopedNetDiscoveryReceiver::OnEntry()
{
    SALog(SA_LOG_DISCOVERY,
          "SATaskLoopedNetDiscoveryReceiver::OnEntry receiving on network interface IP address:0x%x \n",
          m_pInterface->AddressGet());
    if (!m_pDatagram)
        m_pDatagram.reset(new (std::nothrow) uint8_t[DATAGRAM_SIZE_MAX]);
    if (!m_pDatagram)
    {
        SALog(SA_LOG_FAILURE, "SATaskLoopedNetDiscoveryReceiver::OnEntry failed! no memory\n");
        return false;
    }
    return true;
}

void SATaskLoopedNetDiscoveryReceiver::OnExit()
{
    SALog(SA_LOG_DISCOVERY, "SATaskLoopedNetDiscoveryReceiver::OnExit...\n");
    m_pList.exchange(nullptr);
}

void SATaskLoopedNetDiscoveryReceiver::StopRequest() {}

bool SATaskLoopedNetDiscoveryReceiver::OnExecute()
{
    size_t size = 0;
    uint32_t sender = 0;
    switch (m_pInterface->SocketGet().ReceiveFrom(m_pDatagram.get(), DATAGRAM_SIZE_MAX, &size, &sender))
    {
    case SANetReceiveResult::TimedOut:
        return true;
    case SANetReceiveResult::Failed:
        return false;
    case SANetReceiveResult::Datagram:
        break;
    }
    if (size == 0)
        return true;
    if (size > SA_NET_HOST_RECORD_SIZE)
    {
        // Traffic level, like every received datagram: a flood of them must
        // not flood the log.
        SALog(SA_LOG_DISCOVERY,
              "SATaskLoopedNetDiscoveryReceiver::OnExecute failed! datagram of %zu bytes is no reply\n",
              size);
        return true;
    }
    // Zeroed first, so a short reply leaves the rest of the record zero.
    uint8_t buffer[SA_NET_HOST_RECORD_SIZE];
    std::memset(buffer, 0, sizeof(buffer));
    std::memcpy(buffer, m_pDatagram.get(), size);

    // Decoding puts a terminator in the name field's last unit.
    SANetHostRecord record = SANetHostRecord::Decode(buffer);
    record.Address = sender;
    SALog(SA_LOG_DISCOVERY, "%s %d.%d.%d.%d %s\n", "DISCOVERY RECEIVE Remote IP:", (sender >> 24) & 0xFF,
          (sender >> 16) & 0xFF, (sender >> 8) & 0xFF, sender & 0xFF, record.HostNameGet().c_str());
    if (SAListDiscovery* list = m_pList.load())
        list->ReceivedAppend(record);
    return true;
}
