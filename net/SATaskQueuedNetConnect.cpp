#include "net/SATaskQueuedNetConnect.h"

#include "core/SALog.h"
#include "core/SAMessageTarget.h"
#include "net/SAFstmEventData.h"
#include "net/SATaskLoopedNetReceiver.h"

SATaskQueuedNetConnect::SATaskQueuedNetConnect(uint32_t hostOrderAddress, bool useQos,
                                               SATaskLoopedNetReceiver* receiver,
                                               SAMessageTarget* notifyTarget)
    : m_Address(hostOrderAddress), m_UseQos(useQos), m_pReceiver(receiver), m_pNotifyTarget(notifyTarget)
{
}

SATaskQueuedNetConnect::~SATaskQueuedNetConnect() = default;

bool SATaskQueuedNetConnect::OnExecute()
{
    bool connected = m_pReceiver->m_NetSocketStream.TcpCreateConnect(m_Address, m_UseQos);
    if (connected)
    {
        m_pReceiver->m_NetSocketStream.ReceiveBufferSizeSet();
        m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_CONNECTED, 0);
    }
    else
    {
        SALog(SA_LOG_FAILURE,
              "SATaskQueuedNetConnect::OnExecute m_NetSocketStream.TcpCreateConnect failed!\n");
        m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, 0);
    }
    delete this;
    return connected;
}

void SATaskQueuedNetConnect::OnRefused()
{
    // A connect that never ran is a connect that failed: the state machine
    // must still hear about it to decide on a retry.
    m_pNotifyTarget->Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_SERVER_DISCONNECTED_RECONNECT_ON, 0);
    delete this;
}
