#include "app/SAFrameSessionWatch.h"

#include "core/SALog.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace
{
const char* const LOGIN1_SERVICE = "org.freedesktop.login1";
const char* const LOGIN1_PATH = "/org/freedesktop/login1";
const char* const LOGIN1_MANAGER = "org.freedesktop.login1.Manager";
const char* const SCREENSAVER_SERVICE = "org.freedesktop.ScreenSaver";
const char* const SCREENSAVER_PATH = "/org/freedesktop/ScreenSaver";
// The window thread waits this long at most for a bus answer.
constexpr int BUS_CALL_TIMEOUT_MS = 2000;
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
    if (!system.connect(QString::fromLatin1(LOGIN1_SERVICE), QString::fromLatin1(LOGIN1_PATH),
                        QString::fromLatin1(LOGIN1_MANAGER), QStringLiteral("PrepareForSleep"), this,
                        SLOT(OnPrepareForSleep(bool))))
        SALog(SA_LOG_THREAD, "SAFrameSessionWatch: PrepareForSleep not followed\n");
    // Every session object's Lock; OnLock keeps only this session's.
    if (!system.connect(QString::fromLatin1(LOGIN1_SERVICE), QString(),
                        QStringLiteral("org.freedesktop.login1.Session"), QStringLiteral("Lock"), this,
                        SLOT(OnLock(QDBusMessage))))
        SALog(SA_LOG_THREAD, "SAFrameSessionWatch: session Lock not followed\n");

    PrivateSleepDelayTake();

    PrivateSessionFind(QStringLiteral("GetSessionByPID"), static_cast<uint>(getpid()));
}

void SAFrameSessionWatch::PrivateSessionFind(const QString& method, const QVariant& argument)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(LOGIN1_SERVICE), QString::fromLatin1(LOGIN1_PATH),
                                       QString::fromLatin1(LOGIN1_MANAGER), method);
    call << argument;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, BUS_CALL_TIMEOUT_MS), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method](QDBusPendingCallWatcher* finished)
            {
                QDBusPendingReply<QDBusObjectPath> reply = *finished;
                finished->deleteLater();
                if (!reply.isError())
                {
                    m_SessionPath = reply.value().path();
                    return;
                }
                // A desktop that starts programs in scopes of the user's
                // service manager (as GNOME does) puts them in no session:
                // the user's graphical session is asked for then.
                if (method == QLatin1String("GetSessionByPID"))
                {
                    PrivateSessionFind(QStringLiteral("GetSession"), QStringLiteral("auto"));
                    return;
                }
                SALog(SA_LOG_THREAD, "SAFrameSessionWatch: no login session, session Lock not followed: %s\n",
                      reply.error().message().toUtf8().constData());
            });
}

void SAFrameSessionWatch::PrivateSleepDelayTake()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(LOGIN1_SERVICE), QString::fromLatin1(LOGIN1_PATH),
                                       QString::fromLatin1(LOGIN1_MANAGER), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("quillmere-viewer")
         << QStringLiteral("Telling the server before the machine sleeps") << QStringLiteral("delay");
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, BUS_CALL_TIMEOUT_MS), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished)
            {
                QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
                if (reply.isError())
                    SALog(SA_LOG_THREAD,
                          "SAFrameSessionWatch: no sleep delay, a suspend may cut the connection before "
                          "the server is told: %s\n",
                          reply.error().message().toUtf8().constData());
                else
                    m_SleepDelay = reply.value();
                finished->deleteLater();
            });
}

void SAFrameSessionWatch::OnPrepareForSleep(bool start)
{
    if (!start)
    {
        if (!m_SleepDelay.isValid())
            PrivateSleepDelayTake();
        return;
    }
    if (m_OnSuspend)
        m_OnSuspend();
    // Done: the machine may sleep now.
    m_SleepDelay = QDBusUnixFileDescriptor();
}

void SAFrameSessionWatch::OnLock(const QDBusMessage& message)
{
    if (m_SessionPath.isEmpty() || message.path() != m_SessionPath)
        return;
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
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(SCREENSAVER_SERVICE), QString::fromLatin1(SCREENSAVER_PATH),
        QString::fromLatin1(SCREENSAVER_SERVICE), QStringLiteral("Inhibit"));
    call << QStringLiteral("quillmere-viewer") << QStringLiteral("Showing a remote screen");
    QDBusReply<uint32_t> reply = session.call(call, QDBus::Block, BUS_CALL_TIMEOUT_MS);
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
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(SCREENSAVER_SERVICE), QString::fromLatin1(SCREENSAVER_PATH),
        QString::fromLatin1(SCREENSAVER_SERVICE), QStringLiteral("UnInhibit"));
    call << cookie;
    const QDBusMessage reply = session.call(call, QDBus::Block, BUS_CALL_TIMEOUT_MS);
    if (reply.type() == QDBusMessage::ErrorMessage)
        SALog(SA_LOG_FAILURE, "SAFrameSessionWatch::ScreenSaverUnInhibit failed! %s\n",
              reply.errorMessage().toUtf8().constData());
}
