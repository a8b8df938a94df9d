#pragma once
// The dialog "Vardel Installation Wizard": the white header, five pages
// shown one at a time (welcome, licence agreement, directories, summary,
// installing) and the buttons "&Help", "< &Back", "&Next >" and "Cancel".
// The last page runs the install on a worker thread, which reports its log
// and its end through queued calls; every button stays disabled until it
// has ended. exec() gives 1 when the suite was installed, 0 otherwise.
// GUI thread only.
#include <QDialog>
#include <thread>

#include "vardelsetup/installer.h"
#include "vardelsetup/setup_state.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTextBrowser;

namespace vardel {
namespace gui {
class LogPane;
}

class SetupWizard : public QDialog {
    Q_OBJECT
  public:
    enum Page { Welcome, Licence, Directories, Summary, Installing, PageCount };

    // `base`: the scratch folder, places, user and service manager of the
    // install; its state is taken from the wizard when the install starts.
    explicit SetupWizard(Installer::Options base, QWidget* parent = nullptr);
    ~SetupWizard() override;

    int page() const;
    const SetupState& state() const { return base_.state; }
    // True once an install was started and failed.
    bool failed() const { return failed_; }

    void next();
    void back();
    // Shows a page as it looks after entering it, without side effects
    // (screenshots): the installing page with a log and a result.
    void show_page_for_screenshot(Page page, const QString& log = {}, int result = -1);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QWidget* make_welcome();
    QWidget* make_licence();
    QWidget* make_directories();
    QWidget* make_summary();
    QWidget* make_installing();
    bool may_leave(int page);
    void enter(int page);
    void update_next();
    void show_summary();
    void start_install();
    void install_ended(bool ok);
    void cancel();
    void help();

    Installer::Options base_;
    std::thread worker_;
    bool installing_ = false;
    bool ended_ = false;
    bool failed_ = false;
    int result_ = 0;
    QStackedWidget* pages_;
    QPushButton* help_;
    QPushButton* back_;
    QPushButton* next_;
    QPushButton* cancel_;
    QCheckBox* agree_;
    QTextBrowser* licence_;
    QLineEdit* programs_;
    QLineEdit* data_;
    QCheckBox* per_user_;
    QLabel* summary_type_;
    QLabel* summary_install_;
    QLabel* summary_data_;
    QLabel* heading_;
    gui::LogPane* log_;
};

}  // namespace vardel
