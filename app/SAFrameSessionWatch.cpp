#include "app/SAFrameSessionWatch.h"

#include "core/SALog.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>

namespace
{
const char* const LOGIN1_SERVICE = "org.freedesktop.login1";
const char* const SCREENSAVER_SERVICE = "org.freedesktop.ScreenSaver";
const char* const SCREENSAVER_PATH = "/org/freedesktop/ScreenSaver";
} // namespace

SAFrameSessionWatch::SAFrameSessionWatch(std::function<void()> onSuspend, std::function<void()> onLock)
    : m_OnSuspend(std::move(onSuspend)), m_OnLock(std::move(onLock))
{
    QDBusConnection system = QDBusConnection::systemBus();
    if (!system.isConnected())
    {
        SALog(SA_LOG_THREAD, "SAFrameSessionWatch: no system bus, suspend and lock are not followed\n");
        return;
    }
    if (!system.connect(QString::fromLatin1(LOGIN1_SERVICE), QStringLiteral("/org/freedesktop/login1"),
                        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                        this, SLOT(OnPrepareForSleep(bool))))
        SALog(SA_LOG_THREAD, "SAFrameSessionWatch: PrepareForSleep not followed\n");
    // Every session object: the signal comes from this session's path.
    if (!system.connect(QString::fromLatin1(LOGIN1_SERVICE), QString(),
                        QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Lock"), this,
                        SLOT(OnLock())))
        SALog(SA_LOG_THREAD, "SAFrameSessionWatch: session Lock not followed\n");
}

void SAFrameSessionWatch::OnPrepareForSleep(bool start)
{
    if (start && m_OnSuspend)
        m_OnSuspend();
}

void SAFrameSessionWatch::OnLock()
{
    if (m_OnLock)
        m_OnLock();
}

uint32_t SAFrameSessionWatch::ScreenSaverInhibit()
{
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected())
    {
        SALog(SA_LOG_FAILURE, "SAFrameSessionWatch::ScreenSaverInhibit failed! no session bus\n");
        return 0;
    }
    QDBusInterface screenSaver(QString::fromLatin1(SCREENSAVER_SERVICE),
                               QString::fromLatin1(SCREENSAVER_PATH),
                               QString::fromLatin1(SCREENSAVER_SERVICE), session);
    QDBusReply<uint32_t> reply =
        screenSaver.call(QStringLiteral("Inhibit"), QStringLiteral("quillmere-viewer"),
                         QStringLiteral("Showing a remote screen"));
    if (!reply.isValid())
    {
        SALog(SA_LOG_FAILURE, "SAFrameSessionWatch::ScreenSaverInhibit failed! %s\n",
              reply.error().message().toUtf8().constData());
        return 0;
    }
    return reply.value();
}

void SAFrameSessionWatch::ScreenSaverUnInhibit(uint32_t cookie)
{
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected())
        return;
    QDBusInterface screenSaver(QString::fromLatin1(SCREENSAVER_SERVICE),
                               QString::fromLatin1(SCREENSAVER_PATH),
                               QString::fromLatin1(SCREENSAVER_SERVICE), session);
    screenSaver.call(QStringLiteral("UnInhibit"), cookie);
}
