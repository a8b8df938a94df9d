#pragma once
// The uninstall dialog: the white header with the banner, the text that
// says what will happen, and the buttons "Help", "Cancel" and "Uninstall".
// "Uninstall" shows the log view and runs the interactive phase on a worker
// thread, which writes the view through queued calls; the default button
// then reads "Done" (or "Exit" after a failure) and closes the dialog with
// 1 (or 0). GUI thread only.
#include <QDialog>
#include <thread>

#include "vardelremove/uninstaller.h"

class QLabel;
class QPushButton;

namespace vardel {
namespace gui {
class LogPane;
}

class RemoveDialog : public QDialog {
    Q_OBJECT
  public:
    // `remover` has started; it must outlive the dialog.
    explicit RemoveDialog(Uninstaller& remover, QWidget* parent = nullptr);
    ~RemoveDialog() override;

    void start_uninstall();
    // The dialog after a run, with this log (screenshots).
    void show_for_screenshot(const QString& log, bool ok);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void ended(bool ok);
    void press_default();

    Uninstaller& remover_;
    std::thread worker_;
    bool running_ = false;
    bool ended_ = false;
    bool ok_ = false;
    gui::LogPane* log_;
    QPushButton* help_;
    QPushButton* cancel_;
    QPushButton* uninstall_;
};

}  // namespace vardel
