#include "app/CquillmereApp.h"

#include "app/CMainFrame.h"
#include "app/SAMvcViewFrmDisplay.h"
#include "core/SALog.h"
#include "core/SAUtilAddress.h"
#include "net/SAFstmEventData.h"
#include "render/qt/PSRendererSurfaceQt.h"
#include "settings/SASettings.h"

#if __has_include("app/dialogs/SADisplayModeProviderScreen.h")
#include "app/dialogs/SADisplayModeProviderScreen.h"
#define QM_APP_HAVE_DISPLAY_MODE 1
#endif

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QSurfaceFormat>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#ifndef QM_APP_HAVE_DISPLAY_MODE
class SADisplayModeProviderScreen
{
};
#endif

void CquillmereApp::SurfaceFormatDefaultSet()
{
    // Desktop OpenGL 3.3 core is asked for first: it is what desktop Linux
    // drivers (and Qt's GLX integration) give without an extension, and
    // anisotropic filtering is a part of it from 4.6. OpenGL ES 3.0 comes
    // second (PlatformFormatChoose), for the machines that have nothing else.
    // QT_OPENGL=es2, Qt's own name for preferring ES where it has the choice,
    // turns the order round.
    const char* api = std::getenv("QT_OPENGL");
    const bool es = api != nullptr && std::strcmp(api, "es2") == 0;
    QSurfaceFormat format;
    format.setRenderableType(es ? QSurfaceFormat::OpenGLES : QSurfaceFormat::OpenGL);
    format.setVersion(3, es ? 0 : 3);
    format.setProfile(es ? QSurfaceFormat::NoProfile : QSurfaceFormat::CoreProfile);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setSwapInterval(1);
    QSurfaceFormat::setDefaultFormat(format);
}

CquillmereApp::CquillmereApp(int& argc, char** argv)
{
    SurfaceFormatDefaultSet();
    m_pApplication = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillmere-viewer"));
    // Wayland desktops find the window's menu entry, and so its icon, by this
    // name alone.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.harrowfenlab.QuillmereViewer"));
    // Needs the application; a machine with neither kind of context is
    // refused by the frame's platform check.
    PSRendererSurfaceQt::PlatformFormatChoose();
}

CquillmereApp::~CquillmereApp()
{
    ExitInstance();
}

namespace
{
int g_SignalPipe[2] = {-1, -1};

void CquillmereAppSignal(int signal)
{
    // Only what is safe in a handler: the event loop does the rest.
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = write(g_SignalPipe[1], &number, 1);
    errno = saved;
}
} // namespace

void CquillmereApp::PrivateSignalsHandle()
{
    // Ctrl+C in a terminal, SIGTERM at the end of a session and SIGHUP when
    // the terminal goes would end the process where it stands: the server
    // would see the connection break instead of a Disconnect, and the
    // window's placement would be lost. They close the window instead, as
    // the user would. A signal the viewer was started to ignore (nohup, a
    // shell's background job) stays ignored.
    if (pipe2(g_SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        SALog(SA_LOG_FAILURE, "CquillmereApp::PrivateSignalsHandle pipe2 failed! errno %d\n", errno);
        return;
    }
    std::vector<int> handled;
    struct sigaction action = {};
    action.sa_handler = CquillmereAppSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
    {
        struct sigaction inherited = {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN &&
            sigaction(signal, &action, nullptr) == 0)
            handled.push_back(signal);
    }
    auto* notifier = new QSocketNotifier(g_SignalPipe[0], QSocketNotifier::Read, m_pApplication.get());
    QObject::connect(notifier, &QSocketNotifier::activated, m_pApplication.get(),
                     [this, handled]
                     {
                         unsigned char number = 0;
                         if (read(g_SignalPipe[0], &number, 1) != 1)
                             return;
                         // A second signal ends the process at once, for a
                         // close that does not come to an end.
                         for (const int signal : handled)
                             std::signal(signal, SIG_DFL);
                         SALog(SA_LOG_ALWAYS,
                               "CquillmereApp::PrivateSignalsHandle signal %d: closing the window\n", number);
                         if (m_pFrame)
                             m_pFrame->close();
                         // Also ends the loop of a modal dialog that is open.
                         QCoreApplication::quit();
                     });
}

bool CquillmereApp::InitInstance()
{
    PrivateSignalsHandle();
#ifdef QM_APP_HAVE_DISPLAY_MODE
    m_pDisplayMode = std::make_unique<SADisplayModeProviderScreen>();
    SADisplayModeProvider::ProviderSet(m_pDisplayMode.get());
#endif
    m_pFrame = std::make_unique<CMainFrame>(SASettings::MenuAdvancedEnableGet());
    if (!m_pFrame->Create())
    {
        m_pFrame.reset();
        return false;
    }
    m_pFrame->PlacementRestore();
    m_pFrame->show();
    m_pFrame->FrameTargetGet().Send(SA_WM_APP_ONE_TIME_INITIALIZATION, 0, 0);
    PrivateDemoStart();
    return true;
}

void CquillmereApp::PrivateDemoStart()
{
    const char* connect = std::getenv("QUILLMERE_CONNECT");
    const char* screenshot = std::getenv("QUILLMERE_SCREENSHOT");
    uint32_t address = 0;
    bool connecting = connect != nullptr && connect[0] != '\0';
    if (connecting)
    {
        if (!SAUtilAddressParse(connect, address))
        {
            SALog(SA_LOG_FAILURE, "CquillmereApp::PrivateDemoStart failed! QUILLMERE_CONNECT %s\n", connect);
        }
        else
        {
            // After the window has been shown, as a user's pick would come.
            QTimer::singleShot(0, m_pFrame.get(), [this, address] { m_pFrame->ConnectRequest(address); });
        }
    }
    if (screenshot == nullptr || screenshot[0] == '\0')
        return;
    // An automatic connect at start-up connects as well: the picture waits
    // for its frames too.
    if (SASettings::AutoConnectSettingGet() != SA_SETTINGS_AUTO_CONNECT_OFF)
        connecting = true;
    m_ScreenshotPath = QString::fromLocal8Bit(screenshot);
    const char* framesText = std::getenv("QUILLMERE_SCREENSHOT_FRAMES");
    const uint64_t frames = framesText != nullptr ? std::strtoull(framesText, nullptr, 10) : 30;
    const char* fullText = std::getenv("QUILLMERE_SCREENSHOT_FULLSCREEN");
    const bool full = fullText != nullptr && fullText[0] == '1';
    auto* poll = new QTimer(m_pFrame.get());
    auto started = std::make_shared<int>(0);
    QObject::connect(
        poll, &QTimer::timeout, m_pFrame.get(),
        [this, poll, started, frames, connecting, full]
        {
            ++*started;
            CMainFrame* frame = m_pFrame.get();
            const bool ready =
                connecting ? frame->DisplayViewGet()->FramesPresentedGet() >= frames : *started >= 10;
            if (!ready)
                return;
            if (full && frame->FstmStateGet() == SA_FSTM_STATE_CONNECTED_DISPLAY_ON)
            {
                frame->FrameTargetGet().Send(SA_WM_APP_FSTM_EVENT, SA_FSTM_EVENT_CLIENT_FULLSCREEN_ON, 0);
                *started = -20; // let the window settle and a few frames be drawn
                return;
            }
            if (*started < 0)
                return;
            poll->stop();
            PrivateScreenshotTake();
            frame->close();
        });
    poll->start(100);
}

void CquillmereApp::PrivateScreenshotTake()
{
    QScreen* screen = m_pFrame->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    // The screen's pixels, so that the GL window inside is in the picture.
    const QRect frame = m_pFrame->frameGeometry();
    const QPixmap picture = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!picture.save(m_ScreenshotPath))
        SALog(SA_LOG_FAILURE, "CquillmereApp::PrivateScreenshotTake failed! %s\n",
              m_ScreenshotPath.toUtf8().constData());
}

int CquillmereApp::Run()
{
    return m_pApplication->exec();
}

void CquillmereApp::ExitInstance()
{
    m_pFrame.reset();
#ifdef QM_APP_HAVE_DISPLAY_MODE
    if (m_pDisplayMode)
        SADisplayModeProvider::ProviderSet(nullptr);
#endif
    m_pDisplayMode.reset();
}
