#include "gui/about_box.h"

#include <QMessageBox>

#include "gui/icons.h"

namespace vardel::gui {

std::unique_ptr<QMessageBox> build_about_box(QWidget* parent, const QString& program_title) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(QStringLiteral("About %1").arg(program_title));
    box->setIconPixmap(suite_icon().pixmap(64, 64));
    box->setText(QStringLiteral("<b>Vardel</b> %1<br>%2")
                     .arg(QStringLiteral(VARDEL_VERSION), program_title.toHtmlEscaped()));
    box->setInformativeText(QStringLiteral("Automated backups of your files, kept in cycles."));
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

void show_about_box(QWidget* parent, const QString& program_title) {
    build_about_box(parent, program_title)->exec();
}

}  // namespace vardel::gui
