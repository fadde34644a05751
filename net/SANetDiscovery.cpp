#include "net/SANetDiscovery.h"

#include "core/SALog.h"

SANetDiscovery::SANetDiscovery() = default;

SANetDiscovery::~SANetDiscovery()
{
    Stop();
}

bool SANetDiscovery::Start(SAMessageTarget* view)
{
    m_Main.ListGet().MessageTargetSet(view);
    m_Main.StopFlagClear();
    if (!m_Thread.Start(&m_Main))
    {
        SALog(SA_LOG_FAILURE, "SANetDiscovery::Start PSThreadTaskLoop::Start failed!\n");
        return false;
    }
    return true;
}

void SANetDiscovery::Pause()
{
    SALog(SA_LOG_DISCOVERY, "SANetDiscovery::Pause\n");
    m_Main.PauseRequest();
    if (IsRunning())
        m_Main.PausedWait();
}

void SANetDiscovery::Resume()
{
    SALog(SA_LOG_DISCOVERY, "SANetDiscovery::Resume\n");
    m_Main.Resume();
}

void SANetDiscovery::Stop()
{
    m_Thread.Stop();
    m_Thread.Close();
}
