#include "gui/help_opener.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include "common/registry.h"
#include "common/suite_names.h"
#include "gui/message_box.h"

namespace vardel::gui {

namespace {

QString install_dir() {
    try {
        std::optional<registry::Key> key =
            registry::open_key(registry::Root::LocalMachine, kProductKey);
        if (!key) return {};
        return QString::fromStdString(registry::read_text(*key, kInstallDirValue, ""));
    } catch (...) {
        // No store or an unreadable value: the other places still count.
        return {};
    }
}

}  // namespace

HelpOpener::HelpOpener() : opener_(QStringLiteral("xdg-open")) {
    QString installed = install_dir();
    if (!installed.isEmpty()) folders_ << installed;
    QString exe_dir = QCoreApplication::applicationDirPath();
    if (!exe_dir.isEmpty()) {
        folders_ << exe_dir;
        folders_ << QDir::cleanPath(exe_dir + QStringLiteral("/../share/vardel"));
    }
}

HelpOpener::HelpOpener(QStringList folders, QString opener)
    : folders_(std::move(folders)), opener_(std::move(opener)) {}

std::optional<QString> HelpOpener::find() const {
    for (const QString& folder : folders_) {
        QFileInfo f(QDir(folder).filePath(QString::fromLatin1(kHelpFile)));
        if (f.isFile() && f.isReadable()) return f.absoluteFilePath();
    }
    return std::nullopt;
}

QString HelpOpener::url_for(const QString& file, std::optional<int> context) {
    QUrl url = QUrl::fromLocalFile(file);
    if (context) url.setFragment(QString::number(*context));
    return url.toString(QUrl::FullyEncoded);
}

bool HelpOpener::open(QWidget* parent, std::optional<int> context) const {
    std::optional<QString> file = find();
    if (!file) {
        QString where = folders_.isEmpty() ? QStringLiteral("(no folder known)")
                                           : folders_.join(QStringLiteral("\n"));
        message_box(parent,
                    QStringLiteral("The help file %1 is missing. It was looked for in:\n%2")
                        .arg(QString::fromLatin1(kHelpFile), where),
                    QStringLiteral("Error!"), MessageIcon::Warning);
        return false;
    }
    if (!QProcess::startDetached(opener_, {url_for(*file, context)})) {
        message_box(parent, QStringLiteral("Can't start %1 to show the help").arg(opener_),
                    QStringLiteral("Error!"), MessageIcon::Warning);
        return false;
    }
    return true;
}

}  // namespace vardel::gui
