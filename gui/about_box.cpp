#include "gui/about_box.h"

#include <sqlite3.h>
#include <zlib.h>

#include <QMessageBox>
#include <QtGlobal>

#include "common/suite_names.h"
#include "gui/icons.h"

namespace vardel::gui {

QString libraries_text() {
    return QStringLiteral("Built on Qt %1, SQLite %2, zlib %3, minizip and libsystemd")
        .arg(QLatin1String(qVersion()), QLatin1String(sqlite3_libversion()),
             QLatin1String(zlibVersion()));
}

std::unique_ptr<QMessageBox> build_about_box(QWidget* parent, const QString& program_title) {
    const QString product = QLatin1String(kProductName);
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(QStringLiteral("About %1").arg(program_title));
    box->setIconPixmap(suite_icon().pixmap(64, 64));
    QString text = QStringLiteral("<big><b>%1</b></big><br>Version %2")
                       .arg(product, QLatin1String(kProductVersion));
    if (program_title != product) text += QStringLiteral("<br>") + program_title.toHtmlEscaped();
    box->setText(text);
    box->setInformativeText(
        QStringLiteral("Automated backups of your files, kept in cycles.<br><br>") +
        libraries_text().toHtmlEscaped());
    // Room for the library line on one line; a message box is narrow by itself.
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 30em; }"));
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

void show_about_box(QWidget* parent, const QString& program_title) {
    build_about_box(parent, program_title)->exec();
}

}  // namespace vardel::gui
