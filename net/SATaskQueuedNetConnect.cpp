#include "net/SATaskQueuedNetConnect.h"

#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "net/SAFstmEventData.h"
#include "net/SANetSocketStream.h"

SATaskQueuedNetConnect::SATaskQueuedNetConnect(uint32_t hostOrderAddress, bool useQos,
                                               std::shared_ptr<SANetSocketStream> stream, intptr_t tag,
                                               SAMessageTarget* notifyTarget)
    : m_Address(hostOrderAddress), m_UseQos(useQos), m_pNetSocketStream(std::move(stream)), m_Tag(tag),
      m_pNotifyTarget(notifyTarget)
{
}

SATaskQueuedNetConnect::~SATaskQueuedNetConnect() = default;

bool SATaskQueuedNetConnect::OnExecute()
{
    bool connected = m_pNetSocketStream->TcpCreateConnect(m_Address, m_UseQos);
    if (connected)
    {
        m_pNetSocketStream->ReceiveBufferSizeSet();
        m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_CONNECTED, m_Tag);
    }
    else
    {
        SALog(SA_LOG_FAILURE,
              "SATaskQueuedNetConnect::OnExecute m_NetSocketStream.TcpCreateConnect failed!\n");
        m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, m_Tag);
    }
    delete this;
    return connected;
}

void SATaskQueuedNetConnect::OnRefused()
{
    // A connect that never ran is a connect that failed: the state machine
    // must still hear about it to decide on a retry.
    m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, m_Tag);
    delete this;
}
