#pragma once
// System notifications of the session for the frame: systemd-logind's
// PrepareForSleep(true) (the machine is about to suspend) and the session's
// Lock signal, and the freedesktop screensaver inhibition that keeps the
// monitor on. A missing bus or service is logged once and otherwise ignored.
//
// Threads: GUI thread only (Qt delivers the D-Bus signals there).
#include <QObject>

#include <cstdint>
#include <functional>

class SAFrameSessionWatch : public QObject
{
    Q_OBJECT

public:
    SAFrameSessionWatch(std::function<void()> onSuspend, std::function<void()> onLock);

    // org.freedesktop.ScreenSaver Inhibit; 0 when it could not be had.
    static uint32_t ScreenSaverInhibit();
    static void ScreenSaverUnInhibit(uint32_t cookie);

private slots:
    void OnPrepareForSleep(bool start);
    void OnLock();

private:
    std::function<void()> m_OnSuspend;
    std::function<void()> m_OnLock;
};
