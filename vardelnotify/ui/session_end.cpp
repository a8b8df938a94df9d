#include "vardelnotify/ui/session_end.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QSessionManager>

#include "common/log.h"

namespace vardel {

namespace {
const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
const QString kLogin1Path = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
}  // namespace

SessionEnd::SessionEnd(const QString& session, QObject* parent)
    : QObject(parent), session_(session) {
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { emit ending(); });
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        log(LOG_DEBUG, "No system bus: the session's end is known from the desktop only\n");
        return;
    }
    bus.connect(kLogin1, kLogin1Path, kManager, QStringLiteral("SessionRemoved"), this,
                SLOT(session_removed(QString, QDBusObjectPath)));
    bus.connect(kLogin1, kLogin1Path, kManager, QStringLiteral("PrepareForShutdown"), this,
                SLOT(prepare_for_shutdown(bool)));
}

void SessionEnd::session_removed(const QString& id, const QDBusObjectPath&) {
    if (!session_.isEmpty() && id == session_) emit ending();
}

void SessionEnd::prepare_for_shutdown(bool start) {
    if (start) emit ending();
}

}  // namespace vardel
