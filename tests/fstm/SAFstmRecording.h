#pragma once
// Recording fakes at the edges of the state machine: a server client and a
// frame that write every call into one shared journal, a message target that
// dispatches sends at once (as on the window thread) and keeps posts, and a
// clock and reconnect timer that the test drives by hand.
#include "core/SALog.h"
#include "core/SAUtilAddress.h"
#include "net/SAFrameBase.h"
#include "net/SANetClientControl.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

using SAJournal = std::vector<std::string>;

inline std::string SAHex(uint32_t v)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%x", v);
    return text;
}

class SARecordingClient : public SANetClientControl
{
public:
    explicit SARecordingClient(SAJournal& journal) : m_Journal(journal) {}

    void Connect(uint32_t address) override
    {
        m_Journal.push_back("Connect " + SAUtilAddressText(address));
        m_Connects.push_back(address);
    }
    bool Start(const std::string& instanceId) override
    {
        m_Journal.push_back("Start " + instanceId);
        return m_StartResult;
    }
    bool Transmit(const SAPacketHeader& header) override
    {
        std::string entry = "Transmit " + std::to_string(header.HeaderTypeGet());
        if (header.HeaderTypeGet() == SA_HEADER_DISCONNECT)
            entry += ":" + std::to_string(header.S32Get(SAWire::DISCONNECT_REASON));
        m_Journal.push_back(entry);
        m_Transmitted.push_back(header);
        return true;
    }
    void ConnectionStop() override { m_Journal.push_back("ConnectionStop"); }
    bool AudioConnect(uint32_t address, const std::string& instanceId, int32_t features) override
    {
        m_Journal.push_back("AudioConnect " + SAUtilAddressText(address) + " " + instanceId + " " +
                            std::to_string(features));
        return true;
    }
    void AudioDisconnect() override { m_Journal.push_back("AudioDisconnect"); }
    uint32_t ServerAddressGet() const override { return m_ServerAddress; }
    int32_t LastDisconnectReasonGet() const override { return m_LastReason; }

    SAJournal& m_Journal;
    uint32_t m_ServerAddress = 0;
    int32_t m_LastReason = -1;
    bool m_StartResult = true;
    std::vector<uint32_t> m_Connects;
    std::vector<SAPacketHeader> m_Transmitted;
};

struct SARecordedMessage
{
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

class SARecordingFrame;

// Send dispatches at once on the calling (window) thread; Post is kept until
// the test pumps it.
class SARecordingTarget : public SAMessageTarget
{
public:
    explicit SARecordingTarget(SAJournal& journal) : m_Journal(journal) {}

    bool Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override
    {
        m_Journal.push_back("Post " + SAHex(message) + " " + std::to_string(wParam));
        m_Posted.push_back({message, wParam, lParam});
        return true;
    }
    intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

    // Dispatches the posted messages in order (also those posted meanwhile).
    void Pump();

    SAJournal& m_Journal;
    SARecordingFrame* m_pFrame = nullptr;
    std::deque<SARecordedMessage> m_Posted;
};

class SARecordingFrame : public SAFrameBase
{
public:
    SARecordingFrame(SARecordingTarget& target, SARecordingClient& client, SAJournal& journal)
        : SAFrameBase(target, &client), m_Journal(journal)
    {
        target.m_pFrame = this;
        InstanceIdSet("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
    }

    void FullScreenEnter() override { m_Journal.push_back("FullScreenEnter"); }
    void FullScreenExit() override { m_Journal.push_back("FullScreenExit"); }
    void StatusLineTextSet(int line, const std::string& text) override
    {
        m_Journal.push_back("Line" + std::to_string(line) + "=" + text);
        m_Lines[line - 1] = text;
    }
    void StatusLineShow(int line, bool show) override
    {
        m_Journal.push_back((show ? "Show" : "Hide") + std::to_string(line));
        m_LineVisible[line - 1] = show;
    }
    void MessageBoxShow(const std::string& text, const std::string& title) override
    {
        m_Journal.push_back("Box " + title + "|" + text);
        m_Boxes.push_back(title + "|" + text);
    }
    int32_t ServerFeatureSupportBitmapGet(uint32_t networkOrderAddress) override
    {
        m_Journal.push_back("Feature " + SAHex(networkOrderAddress));
        return m_Features;
    }
    void DisconnectingWait() override { m_Journal.push_back("Wait"); }
    uint64_t ClockGet() const override { return m_Now; }

    // Fires the pending paced attempt as the timer would.
    void TimerFire() { MessageTargetGet().Send(SA_WM_APP_RECONNECT_DUE, m_TimerGeneration, 0); }

    SAJournal& m_Journal;
    uint64_t m_Now = 5000000;
    int32_t m_Features = 0;
    std::string m_Lines[3];
    bool m_LineVisible[3] = {};
    std::vector<std::string> m_Boxes;
    std::vector<std::string> m_Hooks; // discovery and UI reactions, kept apart
    std::vector<uint32_t> m_TimerDelays;
    uintptr_t m_TimerGeneration = 0;
    bool m_TimerArmed = false;

protected:
    void OnViewShow(SAFrameView from, SAFrameView to) override
    {
        static const char* const names[] = {"connect", "display", "text"};
        m_Journal.push_back(std::string("View=") + names[static_cast<int>(to)]);
    }
    void OnDiscoveryResumeSuspend(bool resume) override
    {
        m_Hooks.push_back(resume ? "Discovery resume" : "Discovery suspend");
    }
    void OnConnectionBegin() override { m_Hooks.push_back("ConnectionBegin"); }
    void OnConnectionEnd() override { m_Hooks.push_back("ConnectionEnd"); }
    void OnKeepAwakeSet(bool on) override { m_Hooks.push_back(on ? "KeepAwake on" : "KeepAwake off"); }
    void OnStatusBarReset() override { m_Hooks.push_back("StatusBarReset"); }
    void OnStatusIpPanesShow() override { m_Hooks.push_back("StatusIpPanes"); }
    void OnRendererStatusClear() override { m_Hooks.push_back("RendererStatusClear"); }
    void ReconnectTimerStart(uint32_t delayMs, uintptr_t generation) override
    {
        m_Journal.push_back("TimerStart " + std::to_string(delayMs));
        m_TimerDelays.push_back(delayMs);
        m_TimerGeneration = generation;
        m_TimerArmed = true;
    }
    void ReconnectTimerCancel() override
    {
        m_Journal.push_back("TimerCancel");
        m_TimerArmed = false;
    }
};

inline intptr_t SARecordingTarget::Send(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == SA_WM_APP_FSTM_STATE_CHANGED)
    {
        const uint32_t l = static_cast<uint32_t>(lParam);
        m_Journal.push_back("WM11 " + std::to_string(wParam) + ":" + std::to_string(l & 0xFFFF) + ">" +
                            std::to_string(l >> 16));
    }
    else
    {
        m_Journal.push_back("Send " + SAHex(message) + " " + std::to_string(wParam));
    }
    intptr_t result = 0;
    if (m_pFrame)
        m_pFrame->AppMessageHandle(message, wParam, lParam, result);
    return result;
}

inline void SARecordingTarget::Pump()
{
    while (!m_Posted.empty())
    {
        SARecordedMessage m = m_Posted.front();
        m_Posted.pop_front();
        intptr_t result = 0;
        if (m_pFrame)
            m_pFrame->AppMessageHandle(m.message, m.wParam, m.lParam, result);
    }
}

// Captures the machine's log lines (every category) while it lives, and marks
// the point between a step's action and its entry action in the journal.
class SALogCapture
{
public:
    explicit SALogCapture(SAJournal* journal = nullptr) : m_pJournal(journal)
    {
        m_OldMask = SALogMaskGet();
        SALogMaskSet(0xFFFFFFFF);
        m_Id = SALogSinkAdd(
            [this](uint32_t category, std::string_view line)
            {
                m_Lines.emplace_back(line);
                if (m_pJournal && line.find("SAFstm::ProcessEvent State:") != std::string_view::npos)
                    m_pJournal->push_back("|");
            });
    }
    ~SALogCapture()
    {
        SALogSinkRemove(m_Id);
        SALogMaskSet(m_OldMask);
    }
    bool Contains(const std::string& text) const
    {
        for (const auto& line : m_Lines)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    std::vector<std::string> m_Lines;

private:
    SAJournal* m_pJournal;
    uint32_t m_OldMask = 0;
    int m_Id = 0;
};
