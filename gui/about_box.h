#pragma once
// The suite's about box, the one every program's "About" opens: the banner
// "Vardel Pellin", the version, the program's own title, and the libraries
// the suite is built on. GUI thread only.
#include <QString>
#include <memory>

class QMessageBox;
class QWidget;

namespace vardel::gui {

std::unique_ptr<QMessageBox> build_about_box(QWidget* parent, const QString& program_title);
void show_about_box(QWidget* parent, const QString& program_title);

// "Built on Qt 6.4.2, SQLite 3.40.1, zlib 1.2.13, minizip and libsystemd":
// the versions of the libraries this process has loaded.
QString libraries_text();

}  // namespace vardel::gui
