#include "vardelsetup/ui/setup_wizard.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "common/install_layout.h"
#include "common/suite_names.h"
#include "gui/banner_header.h"
#include "gui/dialog_units.h"
#include "gui/help_opener.h"
#include "gui/icons.h"
#include "gui/log_pane.h"
#include "gui/message_box.h"
#include "gui/path_browser.h"
#include "vardelsetup/payload.h"

namespace vardel {

namespace {

constexpr int kHelpContexts[SetupWizard::PageCount] = {110, 120, 130, 150, 160};
const QString kNext = QStringLiteral("&Next >");

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QLabel* text_label(QWidget* parent, const QString& text, double scale = 1.0, bool bold = false) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont f = label->font();
    f.setBold(bold);
    if (scale != 1.0) f.setPointSizeF(f.pointSizeF() * scale);
    label->setFont(f);
    return label;
}

}  // namespace

SetupWizard::SetupWizard(Installer::Options base, QWidget* parent)
    : QDialog(parent), base_(std::move(base)) {
    setWindowTitle(QStringLiteral("Vardel Installation Wizard"));
    setWindowIcon(gui::suite_icon());

    pages_ = new QStackedWidget(this);
    pages_->addWidget(make_welcome());
    pages_->addWidget(make_licence());
    pages_->addWidget(make_directories());
    pages_->addWidget(make_summary());
    pages_->addWidget(make_installing());

    help_ = new QPushButton(QStringLiteral("&Help"), this);
    help_->setObjectName(QStringLiteral("help"));
    back_ = new QPushButton(QStringLiteral("< &Back"), this);
    back_->setObjectName(QStringLiteral("back"));
    next_ = new QPushButton(kNext, this);
    next_->setObjectName(QStringLiteral("next"));
    next_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    for (QPushButton* b : {help_, back_, cancel_}) b->setAutoDefault(false);
    connect(help_, &QPushButton::clicked, this, &SetupWizard::help);
    connect(back_, &QPushButton::clicked, this, &SetupWizard::back);
    connect(next_, &QPushButton::clicked, this, &SetupWizard::next);
    connect(cancel_, &QPushButton::clicked, this, &SetupWizard::cancel);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help_);
    buttons->addStretch(1);
    buttons->addWidget(back_);
    buttons->addWidget(next_);
    buttons->addSpacing(8);
    buttons->addWidget(cancel_);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(16, 12, 16, 12);
    body->addWidget(pages_, 1);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 11);
    column->setSpacing(0);
    column->addWidget(new gui::BannerHeader(this));
    column->addWidget(gui::etched_line(this));
    column->addLayout(body, 1);
    column->addWidget(gui::etched_line(this));
    buttons->setContentsMargins(11, 11, 11, 0);
    column->addLayout(buttons);

    back_->setEnabled(false);
    resize(gui::dialog_units(*this, 330, 230));
    enter(Welcome);
}

SetupWizard::~SetupWizard() {
    if (worker_.joinable()) worker_.join();
}

QWidget* SetupWizard::make_welcome() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("welcome"));
    auto* v = new QVBoxLayout(page);
    v->addWidget(text_label(
        page, QStringLiteral("Welcome to the Windows Setup Wizard for Vardel Pellin Backup "), 1.6,
        true));
    v->addSpacing(10);
    v->addWidget(text_label(page,
                            QStringLiteral("This wizard helps you install Vardel Pellin Version %1")
                                .arg(QLatin1String(kProductVersion)),
                            1.0, true));
    v->addSpacing(10);
    v->addWidget(text_label(
        page,
        QStringLiteral(
            "No changes will be made to your system until you actually click the INSTALL button. "
            "After installation, you will need to reboot your PC.")));
    v->addStretch(1);
    v->addWidget(text_label(page, QStringLiteral("To continue, click Next.")));
    return page;
}

QWidget* SetupWizard::make_licence() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("licence"));
    auto* v = new QVBoxLayout(page);
    v->addWidget(text_label(
        page,
        QStringLiteral(
            "The End-User License Agreement (EULA) contains all the terms and conditions that "
            "pertain to the software product. By checking the agreement box at bottom, you accept "
            "the terms of the EULA.")));
    licence_ = new QTextBrowser(page);
    licence_->setObjectName(QStringLiteral("eula"));
    licence_->setOpenLinks(false);
    QFile eula(q(base_.scratch + "/" + PayloadUnpacker::kFolderName + "/" + install::kLicenceFile));
    if (eula.open(QIODevice::ReadOnly)) licence_->setHtml(QString::fromUtf8(eula.readAll()));
    v->addWidget(licence_, 1);
    agree_ = new QCheckBox(QStringLiteral("I agree to the terms of the license"), page);
    agree_->setObjectName(QStringLiteral("agree"));
    connect(agree_, &QCheckBox::toggled, this, &SetupWizard::update_next);
    v->addWidget(agree_);
    return page;
}

QWidget* SetupWizard::make_directories() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("directories"));
    auto* group = new QGroupBox(QStringLiteral("Installation Directories"), page);
    programs_ = new QLineEdit(q(base_.state.install_dir()), group);
    programs_->setObjectName(QStringLiteral("programs"));
    data_ = new QLineEdit(q(base_.state.data_dir()), group);
    data_->setObjectName(QStringLiteral("data"));
    auto* browse_programs = new QPushButton(QStringLiteral("Browse..."), group);
    browse_programs->setObjectName(QStringLiteral("browse_programs"));
    auto* browse_data = new QPushButton(QStringLiteral("Browse..."), group);
    browse_data->setObjectName(QStringLiteral("browse_data"));
    for (QPushButton* b : {browse_programs, browse_data}) b->setAutoDefault(false);
    auto browse = [this](QLineEdit* field, const char* title) {
        if (std::optional<QString> chosen = gui::PathBrowser::choose(
                this, QLatin1String(title), gui::PathBrowser::Offers::Folders, field->text()))
            field->setText(*chosen);
    };
    connect(browse_programs, &QPushButton::clicked, this,
            [=, this] { browse(programs_, "Select Directory for Program Files"); });
    connect(browse_data, &QPushButton::clicked, this,
            [=, this] { browse(data_, "Select Directory for data such as Log Files"); });
    for (QLineEdit* field : {programs_, data_})
        connect(field, &QLineEdit::textChanged, this, &SetupWizard::update_next);

    auto* grid = new QGridLayout(group);
    auto add = [&](int row, const char* label, QLineEdit* field, QPushButton* button) {
        auto* l = new QLabel(QLatin1String(label), group);
        l->setBuddy(field);
        grid->addWidget(l, row, 0);
        grid->addWidget(field, row, 1);
        grid->addWidget(button, row, 2);
    };
    add(0, "Programs", programs_, browse_programs);
    add(1, "Data Files", data_, browse_data);
    grid->setColumnStretch(1, 1);

    per_user_ = new QCheckBox(QStringLiteral("Install Desktop Programs for this user only"), page);
    per_user_->setObjectName(QStringLiteral("per_user"));
    per_user_->setChecked(base_.state.per_user());
    auto* v = new QVBoxLayout(page);
    v->addWidget(group);
    v->addSpacing(10);
    v->addWidget(per_user_);
    v->addStretch(1);
    return page;
}

QWidget* SetupWizard::make_summary() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("summary"));
    auto* v = new QVBoxLayout(page);
    v->addWidget(text_label(
        page, QStringLiteral("You are now ready to install the Vardel Pellin client!"), 1.6, true));
    v->addSpacing(10);
    v->addWidget(text_label(
        page,
        QStringLiteral("Please review the following information before starting the installation."),
        1.0, true));
    v->addSpacing(10);
    auto* form = new QFormLayout;
    summary_type_ = new QLabel(page);
    summary_type_->setObjectName(QStringLiteral("install_type"));
    summary_install_ = new QLabel(page);
    summary_install_->setObjectName(QStringLiteral("install_dir"));
    summary_data_ = new QLabel(page);
    summary_data_->setObjectName(QStringLiteral("data_path"));
    for (QLabel* l : {summary_type_, summary_install_, summary_data_})
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QStringLiteral("Install Type"), summary_type_);
    form->addRow(QStringLiteral("Installation Directory"), summary_install_);
    form->addRow(QStringLiteral("Data Path"), summary_data_);
    v->addLayout(form);
    v->addStretch(1);
    v->addWidget(
        text_label(page, QStringLiteral("To begin installation, click the Install button.")));
    return page;
}

QWidget* SetupWizard::make_installing() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("installing"));
    auto* v = new QVBoxLayout(page);
    heading_ = text_label(page, QStringLiteral("Installing Vardel Client..."), 1.3, true);
    heading_->setObjectName(QStringLiteral("heading"));
    v->addWidget(heading_);
    log_ = new gui::LogPane(page);
    log_->setObjectName(QStringLiteral("log"));
    // The "Done" of every step lines up, as in a tabbed log.
    log_->setTabStopDistance(log_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 34);
    v->addWidget(log_, 1);
    return page;
}

int SetupWizard::page() const {
    return pages_->currentIndex();
}

void SetupWizard::update_next() {
    bool enabled = true;
    switch (page()) {
        case Licence:
            enabled = agree_->isChecked();
            break;
        case Directories:
            enabled = !programs_->text().trimmed().isEmpty() && !data_->text().trimmed().isEmpty();
            break;
        case Installing:
            enabled = ended_;
            break;
        default:
            break;
    }
    next_->setEnabled(enabled);
}

bool SetupWizard::may_leave(int page) {
    if (page == Licence) return agree_->isChecked();
    if (page != Directories) return true;
    std::string why = base_.state.set_folders(programs_->text().trimmed().toStdString(),
                                              data_->text().trimmed().toStdString());
    if (!why.empty()) {
        gui::message_box(this, q(why), windowTitle(), gui::MessageIcon::Warning);
        return false;
    }
    base_.state.set_per_user(per_user_->isChecked());
    return true;
}

void SetupWizard::enter(int page) {
    pages_->setCurrentIndex(page);
    back_->setEnabled(page != Welcome);
    switch (page) {
        case Directories:
            programs_->setFocus();
            break;
        case Summary:
            show_summary();
            next_->setText(QStringLiteral("Install"));
            break;
        case Installing:
            start_install();
            break;
        default:
            break;
    }
    update_next();
}

void SetupWizard::show_summary() {
    summary_type_->setText(q(base_.state.install_type()));
    summary_install_->setText(q(base_.state.install_dir()));
    summary_data_->setText(q(base_.state.data_dir()));
}

void SetupWizard::next() {
    if (!next_->isEnabled()) return;
    if (page() == Installing) {
        done(result_);
        return;
    }
    if (!may_leave(page())) return;
    enter(page() + 1);
}

void SetupWizard::back() {
    if (page() == Welcome || installing_ || page() == Installing) return;
    next_->setText(kNext);
    enter(page() - 1);
}

void SetupWizard::start_install() {
    installing_ = true;
    for (QPushButton* b : {help_, back_, next_, cancel_}) b->setEnabled(false);
    Installer::Options options = base_;
    worker_ = std::thread([this, options = std::move(options)]() mutable {
        Installer installer(std::move(options), [this](const std::string& text) {
            QString t = q(text);
            QMetaObject::invokeMethod(
                this, [this, t] { log_->append_text(t); }, Qt::QueuedConnection);
        });
        bool ok = installer.run();
        QMetaObject::invokeMethod(
            this, [this, ok] { install_ended(ok); }, Qt::QueuedConnection);
    });
}

void SetupWizard::install_ended(bool ok) {
    if (worker_.joinable()) worker_.join();
    installing_ = false;
    ended_ = true;
    failed_ = !ok;
    help_->setEnabled(true);
    result_ = ok ? 1 : 0;
    heading_->setText(ok ? QStringLiteral("Installation Complete")
                         : QStringLiteral("Installation Terminated"));
    next_->setText(ok ? QStringLiteral("Done") : QStringLiteral("Close"));
    next_->setEnabled(true);
    next_->setFocus();
}

void SetupWizard::show_page_for_screenshot(Page page, const QString& log, int result) {
    pages_->setCurrentIndex(page);
    back_->setEnabled(page != Welcome);
    if (page == Summary) {
        show_summary();
        next_->setText(QStringLiteral("Install"));
    }
    if (page == Installing) {
        log_->setPlainText(QString());
        log_->append_text(log);
        for (QPushButton* b : {back_, next_, cancel_}) b->setEnabled(false);
        if (result >= 0) {
            heading_->setText(result ? QStringLiteral("Installation Complete")
                                     : QStringLiteral("Installation Terminated"));
            next_->setText(result ? QStringLiteral("Done") : QStringLiteral("Close"));
            next_->setEnabled(true);
        }
        return;
    }
    update_next();
}

void SetupWizard::cancel() {
    if (installing_) return;
    Installer::remove_scratch_files(base_.scratch);
    done(0);
}

void SetupWizard::closeEvent(QCloseEvent* event) {
    // While the install runs the window stays; after it, closing is "Done"/"Close".
    event->ignore();
    if (installing_) return;
    if (ended_) {
        done(result_);
        return;
    }
    cancel();
}

void SetupWizard::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (cancel_->isEnabled()) cancel();
        return;
    }
    if (event->key() == Qt::Key_F1) {
        help();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SetupWizard::help() {
    gui::HelpOpener opener({q(base_.scratch + "/" + PayloadUnpacker::kFolderName)},
                           QStringLiteral("xdg-open"));
    opener.open(this, kHelpContexts[page()]);
}

}  // namespace vardel
