#pragma once
// The application object: creates the QApplication and the main frame in the
// start-up order of the viewer (settings, menu, window creation, placement,
// show, one-time initialisation) and runs the event loop.
//
// The viewer takes no command-line options. Qt's QT_OPENGL=es2 asks for
// OpenGL ES before desktop OpenGL (SurfaceFormatDefaultSet). Two environment
// variables exist for demonstrations and screenshots only:
//   QUILLMERE_CONNECT=a.b.c.d   after start-up, connect to that server as the
//                               connect view would when a server is picked.
//   QUILLMERE_SCREENSHOT=path   save a picture of the window to path, then
//                               quit: after QUILLMERE_SCREENSHOT_FRAMES
//                               (default 30) presented frames when connecting,
//                               else (or with 0 frames) once the window has
//                               been shown for a second. QUILLMERE_SCREENSHOT_FULLSCREEN=1 asks
//                               for full screen before the picture.
//
// SIGINT, SIGTERM and SIGHUP close the window as the user would (a second
// one ends the process at once); one the process was started to ignore
// stays ignored.
//
// Threads: GUI thread only.
#include <QString>

#include <memory>

class CMainFrame;
class QApplication;
class SADisplayModeProviderScreen;

class CquillmereApp
{
public:
    CquillmereApp(int& argc, char** argv);
    ~CquillmereApp();

    // False when the window must not open (the process ends).
    bool InitInstance();
    int Run();
    void ExitInstance();

    CMainFrame* FrameGet() const { return m_pFrame.get(); }

    // Before the QApplication exists: the GL format every surface asks for
    // (the constructor then falls back to the other kind of context when
    // this one cannot be had).
    static void SurfaceFormatDefaultSet();

private:
    void PrivateSignalsHandle();
    void PrivateDemoStart();
    void PrivateScreenshotTake();

    std::unique_ptr<QApplication> m_pApplication;
    std::unique_ptr<SADisplayModeProviderScreen> m_pDisplayMode;
    std::unique_ptr<CMainFrame> m_pFrame;
    QString m_ScreenshotPath;
};
