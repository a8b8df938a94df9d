#pragma once
// The suite's about box: banner, program name and version. GUI thread only.
#include <QString>
#include <memory>

class QMessageBox;
class QWidget;

namespace vardel::gui {

std::unique_ptr<QMessageBox> build_about_box(QWidget* parent, const QString& program_title);
void show_about_box(QWidget* parent, const QString& program_title);

}  // namespace vardel::gui
