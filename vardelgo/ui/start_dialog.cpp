#include "vardelgo/ui/start_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/my_error.h"
#include "common/suite_names.h"
#include "gui/dialog_units.h"
#include "gui/guarded_application.h"
#include "gui/help_opener.h"
#include "gui/icons.h"
#include "gui/message_box.h"
#include "gui/saved_placement.h"

namespace vardel {

StartDialog::StartDialog(const ManualStart& starter, const std::string& last, QWidget* parent)
    : QDialog(parent), starter_(starter) {
    setWindowTitle(QStringLiteral("Start a Backup"));
    setWindowIcon(gui::suite_icon());

    list_ = new QComboBox(this);
    list_->setObjectName("1000");
    std::vector<std::string> names = starter_.sorted_names();
    for (const std::string& n : names) list_->addItem(QString::fromStdString(n));
    list_->setCurrentIndex(-1);
    destination_ = new QLineEdit(this);
    destination_->setObjectName("1001");
    destination_->setReadOnly(true);
    directories_ = new QPlainTextEdit(this);
    directories_->setObjectName("1002");
    directories_->setReadOnly(true);
    directories_->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto label = [this](const char* text, QWidget* buddy) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setBuddy(buddy);
        return l;
    };
    auto* start = new QPushButton(QStringLiteral("Start Now"), this);
    start->setObjectName("1");
    start->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName("2");
    auto* help = new QPushButton(QStringLiteral("Help"), this);
    help->setObjectName("1003");
    help->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(label("Backup Set", list_), 0, 0);
    grid->addWidget(list_, 1, 0);
    grid->addWidget(label("Destination", destination_), 2, 0);
    grid->addWidget(destination_, 3, 0);
    grid->addWidget(label("Directories", directories_), 4, 0);
    grid->addWidget(directories_, 5, 0);
    grid->setRowStretch(5, 1);
    grid->setColumnStretch(0, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(start);
    buttons->addWidget(cancel);
    buttons->addWidget(help);
    buttons->addStretch(1);
    grid->addLayout(buttons, 1, 1, 5, 1);

    connect(list_, &QComboBox::currentTextChanged, this, &StartDialog::show_set);
    connect(start, &QPushButton::clicked, this, gui::guard(this, [this] { start_now(); }));
    connect(cancel, &QPushButton::clicked, this, &StartDialog::reject);
    connect(help, &QPushButton::clicked, this,
            [this] { gui::HelpOpener().open(this, kHelpContext); });

    if (std::optional<size_t> i = ManualStart::preselected(names, last))
        list_->setCurrentIndex(static_cast<int>(*i));

    resize(gui::dialog_units(*this, 275, 165));
    gui::restore_placement(*this, kStarterProgram);
}

void StartDialog::show_set(const QString& name) {
    const BackupSet* set = starter_.find(name.toStdString());
    destination_->setText(set ? QString::fromStdString(set->BackupDestination) : QString());
    QString dirs = set ? QString::fromStdString(set->BackupDirs) : QString();
    directories_->setPlainText(dirs.replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

void StartDialog::start_now() {
    gui::save_placement(*this, kStarterProgram);
    std::string name = list_->currentText().toStdString();
    if (name.empty()) {
        gui::beep();
        return;
    }
    try {
        starter_.send(name);
    } catch (const MyError& e) {
        gui::show_error(this, e);
        return;
    }
    ManualStart::write_last(name);
    done(1);
}

void StartDialog::reject() {
    gui::save_placement(*this, kStarterProgram);
    QDialog::reject();
}

void StartDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        gui::HelpOpener().open(this, kHelpContext);
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace vardel
