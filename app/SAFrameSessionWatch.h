#pragma once
// System notifications of the session for the frame: systemd-logind's
// PrepareForSleep(true) (the machine is about to suspend) and the Lock
// signal of this process's own login session, and the freedesktop
// screensaver inhibition that keeps the monitor on. A missing bus or service
// is logged once and otherwise ignored.
//
// The buses are found the standard way, so DBUS_SYSTEM_BUS_ADDRESS and
// DBUS_SESSION_BUS_ADDRESS (honoured by libdbus beneath Qt D-Bus) point them
// elsewhere; the tests run a private bus with stand-in services that way.
//
// While it runs, the viewer holds a logind delay lock on sleep, closed
// once PrepareForSleep(true) has been acted on and taken again on waking.
//
// This session's object path is asked of logind (GetSessionByPID, or
// GetSession("auto") for a process outside every session) without waiting
// for the answer; a Lock that comes before it, or from any other
// session, is ignored.
//
// Threads: GUI thread only (Qt delivers the D-Bus signals and replies there).
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QDBusMessage;

class SAFrameSessionWatch : public QObject
{
    Q_OBJECT

public:
    SAFrameSessionWatch(std::function<void()> onSuspend, std::function<void()> onLock);

    // org.freedesktop.ScreenSaver Inhibit; 0 when it could not be had.
    static uint32_t ScreenSaverInhibit();
    static void ScreenSaverUnInhibit(uint32_t cookie);

    // The logind object path of this process's session; empty until logind
    // answered, or when the process is in no session.
    const QString& SessionPathGet() const { return m_SessionPath; }

private slots:
    void OnPrepareForSleep(bool start);
    void OnLock(const QDBusMessage& message);

private:
    // Asks logind for this process's session with `method`.
    void PrivateSessionFind(const QString& method, const QVariant& argument);
    // Asks logind to wait for this process before the machine sleeps.
    void PrivateSleepDelayTake();

    std::function<void()> m_OnSuspend;
    std::function<void()> m_OnLock;
    QString m_SessionPath;
    // The delay lock: logind holds a suspend back (a few seconds at most)
    // until it is closed, so the server is told before the network goes.
    QDBusUnixFileDescriptor m_SleepDelay;
};
