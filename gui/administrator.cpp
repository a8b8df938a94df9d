#include "gui/administrator.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include "gui/message_box.h"

namespace vardel::gui {

namespace {

QString pkexec_path() {
    return QStandardPaths::findExecutable(QStringLiteral("pkexec"));
}

}  // namespace

bool can_restart_as_administrator() {
    return !pkexec_path().isEmpty();
}

QString restart_as_administrator(const QStringList& arguments) {
    const QString pkexec = pkexec_path();
    if (pkexec.isEmpty()) return QStringLiteral("pkexec is not installed");
    QStringList args = {QStringLiteral("env")};
    for (const char* name : {"DISPLAY", "XAUTHORITY", "QT_QPA_PLATFORM"}) {
        QByteArray value = qgetenv(name);
        if (!value.isEmpty())
            args << QStringLiteral("%1=%2").arg(QLatin1String(name), QString::fromLocal8Bit(value));
    }
    if (qEnvironmentVariableIsEmpty("XAUTHORITY"))
        args << QStringLiteral("XAUTHORITY=%1/.Xauthority").arg(QDir::homePath());
    args << QCoreApplication::applicationFilePath() << arguments;
    if (!QProcess::startDetached(pkexec, args)) return QStringLiteral("Can't start %1").arg(pkexec);
    return {};
}

bool offer_restart_as_administrator(const QString& text, const QStringList& arguments) {
    const QString caption = QStringLiteral("Error!");
    if (!can_restart_as_administrator()) {
        message_box(nullptr, text, caption, MessageIcon::Error);
        return false;
    }
    if (message_box(nullptr, text + QStringLiteral("\n\nStart it again with administrator rights?"),
                    caption, MessageIcon::Question, MessageButtons::YesNo) != MessageAnswer::Yes)
        return false;
    QString why = restart_as_administrator(arguments);
    if (why.isEmpty()) return true;
    message_box(nullptr, why, caption, MessageIcon::Error);
    return false;
}

}  // namespace vardel::gui
