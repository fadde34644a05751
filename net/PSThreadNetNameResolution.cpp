#include "net/PSThreadNetNameResolution.h"

#include "core/PSEvent.h"
#include "core/SALog.h"
#include "net/SANetHostLookupByName.h"

#include <chrono>
#include <thread>

struct PSThreadNetNameResolution::Attempt
{
    // Written before the helper starts, then read only by it.
    SANetHostInfo Info;
    // Written by the helper under the owner's m_Lock, which Run waits on;
    // the owner object may be gone by then, so the helper reaches the lock
    // only through this shared record.
    std::mutex Lock;
    std::condition_variable* pChanged = nullptr; // guarded by Lock; nullptr once abandoned
    std::mutex* pOwnerLock = nullptr;            // guarded by Lock
    bool Done = false;                           // guarded by the owner's m_Lock
    bool Succeeded = false;                      // guarded by the owner's m_Lock
    std::string Message;                         // guarded by the owner's m_Lock
};

PSThreadNetNameResolution::PSThreadNetNameResolution() = default;

PSThreadNetNameResolution::~PSThreadNetNameResolution()
{
    Terminate();
}

bool PSThreadNetNameResolution::Start(SAMessageTarget* view, SANetHostInfo* hostInfo)
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_pView = view;
        m_pHostInfo = hostInfo;
        m_Stop = false;
    }
    if (!PSThreadBase::Start())
    {
        SALog(SA_LOG_FAILURE, "PSThreadNetNameResolution::Start PSThreadBase::Start failed!\n");
        return false;
    }
    return true;
}

void PSThreadNetNameResolution::Terminate()
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Stop = true;
        m_Changed.notify_all();
    }
    if (IsCurrentThread())
        return;
    Wait(PS_INFINITE);
    if (!Close())
        SALog(SA_LOG_FAILURE, "PSThreadNetNameResolution::Terminate Close failed!\n");
}

bool PSThreadNetNameResolution::PrivateStopWait(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_Stop; });
    return m_Stop;
}

void PSThreadNetNameResolution::Run()
{
    SAMessageTarget* view = nullptr;
    SANetHostInfo* hostInfo = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        view = m_pView;
        hostInfo = m_pHostInfo;
    }
    for (;;)
    {
        auto attempt = std::make_shared<Attempt>();
        attempt->Info = *hostInfo;
        attempt->pChanged = &m_Changed;
        attempt->pOwnerLock = &m_Lock;
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            if (m_Stop)
                break;
        }
        try
        {
            std::thread(
                [attempt]
                {
                    std::string message;
                    bool succeeded = SANetHostLookupByName(attempt->Info, message);
                    std::lock_guard<std::mutex> recordGuard(attempt->Lock);
                    if (attempt->pOwnerLock == nullptr)
                        return; // abandoned: nobody waits, the result is dropped
                    std::lock_guard<std::mutex> ownerGuard(*attempt->pOwnerLock);
                    attempt->Succeeded = succeeded;
                    attempt->Message = message;
                    attempt->Done = true;
                    attempt->pChanged->notify_all();
                })
                .detach();
        }
        catch (const std::exception& e)
        {
            SALog(SA_LOG_FAILURE, "PSThreadNetNameResolution::Run std::thread failed! %s\n", e.what());
            if (PrivateStopWait(SA_NET_NAME_RESOLUTION_RETRY_MS))
                break;
            continue;
        }

        bool stopped = false;
        bool succeeded = false;
        std::string message;
        {
            std::unique_lock<std::mutex> lock(m_Lock);
            m_Changed.wait(lock, [&] { return m_Stop || attempt->Done; });
            stopped = m_Stop;
            succeeded = attempt->Succeeded;
            message = attempt->Message;
        }
        if (stopped)
        {
            // Detach the helper from this object before Run returns: it may
            // outlive the object, and its result is to be ignored.
            std::lock_guard<std::mutex> recordGuard(attempt->Lock);
            attempt->pOwnerLock = nullptr;
            attempt->pChanged = nullptr;
            break;
        }
        if (succeeded)
        {
            hostInfo->Record.Address = attempt->Info.Record.Address;
            hostInfo->Record.Port = attempt->Info.Record.Port;
            hostInfo->AddressText = attempt->Info.AddressText;
            if (view != nullptr)
                view->Post(SA_WM_APP_NAME_RESOLVED, 0, 0);
            break;
        }
        SALog(SA_LOG_DISCOVERY, "PSThreadNetNameResolution::Run SANetHostLookupByName failed! %s\n",
              message.c_str());
        if (PrivateStopWait(SA_NET_NAME_RESOLUTION_RETRY_MS))
            break;
    }
    SALog(SA_LOG_DISCOVERY, "PSThreadNetNameResolution::Run exit...\n");
}
