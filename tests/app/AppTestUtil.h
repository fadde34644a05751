#pragma once
// Helpers of the widget tests: an open frame, event-loop waits, and a
// watcher that answers message boxes and remembers their texts.
#include "app/CMainFrame.h"
#include "net/SAFstmEventData.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Spins the event loop until `done` or the guard time (a hang guard, not a
// timing check) runs out.
inline bool AppTestWaitFor(const std::function<bool()>& done, int guardMs = 20000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(guardMs);
    while (!done())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline void AppTestSpin(int ms)
{
    AppTestWaitFor([] { return false; }, ms);
}

// Closes every message box that opens, recording "title: text" and its icon.
class AppTestMessageBoxWatcher
{
public:
    AppTestMessageBoxWatcher()
    {
        m_Timer.setInterval(20);
        QObject::connect(&m_Timer, &QTimer::timeout,
                         [this]
                         {
                             for (QWidget* widget : QApplication::topLevelWidgets())
                             {
                                 auto* box = qobject_cast<QMessageBox*>(widget);
                                 if (box == nullptr || !box->isVisible())
                                     continue;
                                 m_Texts.push_back(box->windowTitle().toStdString() + ": " +
                                                   box->text().toStdString());
                                 m_Icons.push_back(box->icon());
                                 box->done(m_Answer);
                             }
                         });
        m_Timer.start();
    }
    std::vector<std::string> m_Texts;
    std::vector<QMessageBox::Icon> m_Icons; // one for each text
    int m_Answer = QMessageBox::Ok;

private:
    QTimer m_Timer;
};

// A created, placed, shown and initialised frame, as the application makes it.
// Without the one-time initialisation no processor runs, so no renderer
// appears behind a test's back.
inline std::unique_ptr<CMainFrame> AppTestFrameOpen(bool menuAdvanced = true, bool initialize = true)
{
    auto frame = std::make_unique<CMainFrame>(menuAdvanced);
    if (!frame->Create())
        return nullptr;
    frame->PlacementRestore();
    frame->show();
    if (initialize)
        frame->FrameTargetGet().Send(SA_WM_APP_ONE_TIME_INITIALIZATION, 0, 0);
    AppTestWaitFor([&] { return frame->isVisible(); });
    return frame;
}
