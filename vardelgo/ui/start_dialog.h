#pragma once
// The "Start a Backup" dialog: pick a backup set, see where it goes and
// what it saves, and ask the service to run it now. GUI thread only; the
// starter (and the table behind it) outlive the dialog.
#include <QDialog>

#include "vardelgo/manual_start.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;

namespace vardel {

class StartDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kHelpContext = 330;

    // Lists the sets, chooses the one last started (`last`, a prefix
    // compared without case) and restores the dialog's placement.
    StartDialog(const ManualStart& starter, const std::string& last, QWidget* parent = nullptr);

    // "Start Now": nothing chosen beeps; a request that cannot be sent is
    // shown and the dialog stays; a sent one is remembered as the last and
    // closes the dialog with 1.
    void start_now();
    void reject() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void show_set(const QString& name);

    const ManualStart& starter_;
    QComboBox* list_;
    QLineEdit* destination_;
    QPlainTextEdit* directories_;
};

}  // namespace vardel
