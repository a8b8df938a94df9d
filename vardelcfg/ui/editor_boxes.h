#pragma once
// The editor's small dialogs: "Contact Information", "Credits" and the
// destination warning "Check your destination!". Made but not shown, so
// the screenshots can show them too. GUI thread only.
#include <QDialog>
#include <QString>
#include <memory>

class QCheckBox;
class QMessageBox;

namespace vardel {

namespace gui {
class HelpOpener;
}

inline constexpr const char* kContactEmail = "support@brindlecore.example";
inline constexpr const char* kContactWeb = "https://www.brindlecore.example/vardel";

std::unique_ptr<QDialog> build_contact_box(QWidget* parent);
std::unique_ptr<QMessageBox> build_credits_box(QWidget* parent);

class DestinationWarning : public QDialog {
    Q_OBJECT
  public:
    // `help` answers "Help" (help context 480); it outlives the dialog.
    DestinationWarning(QWidget* parent, const QString& text, const gui::HelpOpener* help);
    // "Don't show this warning again" is checked.
    bool dont_show_again() const;

    static constexpr int kHelpContext = 480;

  private:
    QCheckBox* dont_show_;
};

}  // namespace vardel
