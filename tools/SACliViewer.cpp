#include "tools/SACliViewer.h"

#include "core/PSTime.h"
#include "core/SALog.h"
#include "core/SAMessageLoop.h"
#include "core/SAUtilPng.h"
#include "net/SAFrameConsole.h"
#include "net/SANetClient.h"
#include "net/SANetHostRecord.h"
#include "net/SAQueueScreenUpdates.h"
#include "net/SAStatusBarText.h"
#include "pipeline/SAMvcModel.h"
#include "render/SADisplayViewOffscreen.h"
#include "settings/SADisplayModeProvider.h"
#include "settings/SAUtilInstanceIdFile.h"

#include <atomic>
#include <iostream>
#include <thread>

namespace
{
// Ticks drive the tool's own checks; they are no message of the viewer.
constexpr uint32_t SA_CLI_TICK = SA_WM_APP + 100;
constexpr uint32_t SA_CLI_TICK_MS = 100;
constexpr uint32_t SA_CLI_FIGURES_EVERY_TICKS = 10;
// How long a disconnect may take before the tool ends anyway.
constexpr uint64_t SA_CLI_QUIT_GRACE_MS = 3000;

std::atomic<bool> g_Interrupted{false};

class SACliDisplayMode : public SADisplayModeProvider
{
public:
    SACliDisplayMode(int32_t width, int32_t height) : m_Width(width), m_Height(height) {}
    bool DisplayModeCurrentGet(int32_t& width, int32_t& height) override
    {
        width = m_Width;
        height = m_Height;
        return true;
    }

private:
    int32_t m_Width;
    int32_t m_Height;
};

class SACliSession
{
public:
    explicit SACliSession(const SACliOptions& options)
        : m_Options(options),
          m_Loop([this](uint32_t m, uintptr_t w, intptr_t l) { return PrivateDispatch(m, w, l); }),
          m_Queue(&m_Loop), m_Client(&m_Queue, &m_Loop), m_Frame(m_Loop, &m_Client, std::cout),
          m_View(PrivateKind(options.m_Renderer), &m_Loop, 1280, 720), m_Model(&m_Queue, &m_Client, &m_View),
          m_DisplayMode(options.m_DisplayWidth, options.m_DisplayHeight)
    {
    }

    int Run()
    {
        SADisplayModeProvider::ProviderSet(&m_DisplayMode);
        // Without a slot (logged) the connection goes on with an empty
        // identifier, as the viewer's does.
        if (m_Slot.Open())
            m_Frame.InstanceIdSet(m_Slot.InstanceIdGet());
        m_Frame.AudioEnabledFromSettingsRead();
        m_Frame.FlagsFromSettingsRead();
        m_Frame.FstmStart();
        m_Model.Initialize();

        m_Record.Address = m_Options.m_Address;
        m_Started = PSTimeTickCount64();
        m_Loop.Post(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_MENU_CONNECT_SERVER,
                    reinterpret_cast<intptr_t>(&m_Record));

        std::atomic<bool> tickerStop{false};
        std::thread ticker(
            [&]
            {
                while (!tickerStop.load())
                {
                    PSTimeSleep(SA_CLI_TICK_MS);
                    m_Loop.Post(SA_CLI_TICK, 0, 0);
                }
            });
        m_Loop.RunOnCurrentThread();
        tickerStop = true;
        ticker.join();

        m_Frame.ReconnectTimerStop();
        m_Client.ConnectionStop();
        m_Model.Uninitialize();
        m_Client.ReceiverJoin();
        PrivateFiguresPrint();

        int status = m_Succeeded ? 0 : 1;
        if (!m_Options.m_Snapshot.empty() && !PrivateSnapshotWrite())
            status = 1;
        m_Slot.Close();
        SADisplayModeProvider::ProviderSet(nullptr);
        return status;
    }

private:
    static SADisplayViewOffscreen::Kind PrivateKind(const std::string& name)
    {
        if (name == "gl")
            return SADisplayViewOffscreen::Kind::Gl;
        if (name == "cpu")
            return SADisplayViewOffscreen::Kind::Cpu;
        return SADisplayViewOffscreen::Kind::GlOrCpu;
    }

    intptr_t PrivateDispatch(uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        intptr_t result = 0;
        if (m_Frame.AppMessageHandle(message, wParam, lParam, result))
            return result;
        if (message == SA_CLI_TICK)
            PrivateTick();
        return 0;
    }

    void PrivateTick()
    {
        if (!m_ConnectRaised)
        {
            // The first tick runs on the loop thread once the loop runs: the
            // connect event is raised as the connect view would raise it.
            m_ConnectRaised = true;
            m_Frame.OnAppFstmEvent(SA_FSTM_EVENT_MENU_CONNECT_SERVER, reinterpret_cast<intptr_t>(&m_Record));
        }
        const int32_t state = m_Frame.FstmStateGet();
        const uint64_t now = PSTimeTickCount64();
        if (state != SA_FSTM_STATE_DISCONNECTED)
            m_WasConnecting = true;
        if (++m_Ticks % SA_CLI_FIGURES_EVERY_TICKS == 0)
            PrivateFiguresPrint();

        if (m_Quitting)
        {
            if (state == SA_FSTM_STATE_DISCONNECTED || now - m_QuitStarted > SA_CLI_QUIT_GRACE_MS)
                m_Loop.Quit();
            return;
        }
        const bool framesReached =
            m_Options.m_Frames > 0 && m_View.FramesPresentedGet() >= m_Options.m_Frames;
        const bool timeReached = m_Options.m_Seconds > 0 && now - m_Started >= m_Options.m_Seconds * 1000ull;
        if (framesReached || (timeReached && m_Options.m_Frames == 0) || g_Interrupted.load())
        {
            m_Succeeded = framesReached || (timeReached && m_View.FramesPresentedGet() > 0) ||
                          (g_Interrupted.load() && m_View.FramesPresentedGet() > 0);
            PrivateQuitBegin();
        }
        else if (timeReached)
        {
            PrivateQuitBegin(); // frames asked for and not reached in time
        }
        else if (m_WasConnecting && state == SA_FSTM_STATE_DISCONNECTED)
        {
            // The connection failed or ended (the box was printed). What the
            // server sent before it ended is still shown: the processor gets
            // two ticks to drain the queue.
            if (m_Queue.IsEmpty() && ++m_DrainedTicks >= 2)
            {
                m_Succeeded = m_Options.m_Frames > 0
                                  ? m_View.FramesPresentedGet() >= m_Options.m_Frames
                                  : m_View.FramesPresentedGet() > 0 && m_Options.m_Seconds == 0;
                m_Loop.Quit();
            }
        }
    }

    void PrivateQuitBegin()
    {
        m_Quitting = true;
        m_QuitStarted = PSTimeTickCount64();
        if (m_Frame.FstmStateGet() == SA_FSTM_STATE_DISCONNECTED)
            m_Loop.Quit();
        else
            m_Frame.OnAppFstmEvent(SA_FSTM_EVENT_MENU_DISCONNECT_SERVER, 0);
    }

    void PrivateFiguresPrint()
    {
        PSRendererStatus status = m_View.StatusGet();
        SAStatusRenderer renderer{status.StatusValue, status.ResolutionX, status.ResolutionY,
                                  status.FramesPerSecond};
        SAStatusPaneTexts texts = SAStatusBarText::StatisticsTexts(renderer, m_Client.StatisticsGet(),
                                                                   m_Model.LastCompressionTypeGet());
        std::cout << texts[2] << "  " << texts[3] << "  " << texts[4] << "  " << texts[5] << "  " << texts[6]
                  << "  " << texts[7] << "  Frames:" << m_View.FramesPresentedGet() << std::endl;
    }

    bool PrivateSnapshotWrite()
    {
        std::vector<uint8_t> pixels;
        int width = 0, height = 0;
        if (!m_View.FrameSnapshotGet(&pixels, &width, &height) ||
            !SAUtilPng::Write(m_Options.m_Snapshot, pixels.data(), width, height,
                              static_cast<size_t>(width) * 4))
        {
            std::cerr << "quillmere-cli: no snapshot written to " << m_Options.m_Snapshot << "\n";
            return false;
        }
        std::cout << "Snapshot: " << m_Options.m_Snapshot << " " << width << "x" << height << std::endl;
        return true;
    }

    const SACliOptions& m_Options;
    SAMessageLoop m_Loop;
    SAQueueScreenUpdates m_Queue;
    SANetClient m_Client;
    SAFrameConsole m_Frame;
    SADisplayViewOffscreen m_View;
    SAMvcModel m_Model;
    SACliDisplayMode m_DisplayMode;
    SAUtilInstanceIdFile m_Slot;
    SANetHostRecord m_Record;
    uint64_t m_Started = 0;
    uint64_t m_Ticks = 0;
    bool m_ConnectRaised = false;
    uint32_t m_DrainedTicks = 0;
    bool m_WasConnecting = false;
    bool m_Quitting = false;
    uint64_t m_QuitStarted = 0;
    bool m_Succeeded = false;
};
} // namespace

int SACliViewer::Run(const SACliOptions& options)
{
    SACliSession session(options);
    return session.Run();
}

void SACliViewer::InterruptRequest()
{
    g_Interrupted = true;
}
