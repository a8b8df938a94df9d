#include "vardelrestore/ui/extract_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "gui/help_opener.h"
#include "gui/message_box.h"
#include "vardelrestore/last_restore_path.h"

namespace vardel {

ExtractDialog::ExtractDialog(const std::vector<std::string_view>& paths, bool encoded,
                             const ExtractOptions& previous, QWidget* parent)
    : QDialog(parent), encoded_(encoded), options_(previous) {
    setObjectName("106");
    setWindowTitle("Extract Files");
    auto* layout = new QVBoxLayout(this);

    auto* source = new QGroupBox("Source Files");
    auto* source_layout = new QVBoxLayout(source);
    source_layout->addWidget(new QLabel("Ignore Base Directory"));
    base_ = new QLineEdit(QString::fromStdString(propose_base_directory(paths)));
    base_->setObjectName("1012");
    source_layout->addWidget(base_);
    ignore_others_ = new QCheckBox("&Ignore Other Files");
    ignore_others_->setObjectName("1013");
    ignore_others_->setChecked(true);
    source_layout->addWidget(ignore_others_);
    layout->addWidget(source);

    auto* destination = new QGroupBox("Destination Options");
    auto* dest_layout = new QVBoxLayout(destination);
    dest_layout->addWidget(new QLabel("Extract To"));
    auto* target_row = new QHBoxLayout;
    target_ = new QLineEdit(QString::fromStdString(last_restore_path()));
    target_->setObjectName("1014");
    target_->setMinimumWidth(360);
    target_row->addWidget(target_, 1);
    auto* browse = new QPushButton("->");
    browse->setObjectName("1015");
    browse->setAutoDefault(false);
    browse->setMaximumWidth(40);
    connect(browse, &QPushButton::clicked, this, &ExtractDialog::browse);
    target_row->addWidget(browse);
    dest_layout->addLayout(target_row);
    layout->addWidget(destination);

    auto* overwrite = new QGroupBox("Overwrite Handling");
    auto* overwrite_layout = new QHBoxLayout(overwrite);
    overwrite_all_ = new QRadioButton("Overwrite All");
    overwrite_all_->setObjectName("1017");
    overwrite_none_ = new QRadioButton("Overwrite None");
    overwrite_none_->setObjectName("1018");
    prompt_ = new QRadioButton("Prompt");
    prompt_->setObjectName("1019");
    prompt_->setChecked(true);
    for (QRadioButton* b : {overwrite_all_, overwrite_none_, prompt_})
        overwrite_layout->addWidget(b);
    overwrite_layout->addStretch(1);
    layout->addWidget(overwrite);

    auto* password = new QGroupBox("Encoding Password");
    auto* password_layout = new QVBoxLayout(password);
    password_ = new QLineEdit(QString::fromStdString(previous.password));
    password_->setObjectName("1027");
    password_->setEchoMode(QLineEdit::Password);
    password_->setEnabled(encoded);
    password_layout->addWidget(password_);
    layout->addWidget(password);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                         QDialogButtonBox::Help);
    buttons->button(QDialogButtonBox::Help)->setText("&Help");
    connect(buttons, &QDialogButtonBox::accepted, this, &ExtractDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ExtractDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this,
            [this] { gui::HelpOpener().open(this); });
    layout->addWidget(buttons);
}

void ExtractDialog::browse() {
    QString folder =
        QFileDialog::getExistingDirectory(this, "Select Directory for Log Files", target_->text());
    if (!folder.isEmpty()) target_->setText(folder);
}

void ExtractDialog::accept() {
    if (encoded_ && password_->text().isEmpty()) {
        gui::message_box(this, "Archive requires a password to decode", "Missing Info",
                         gui::MessageIcon::Error);
        return;
    }
    options_.base_directory = base_->text().toStdString();
    options_.ignore_other_files = ignore_others_->isChecked();
    options_.target_folder = target_->text().toStdString();
    options_.overwrite = overwrite_all_->isChecked()    ? ExtractOptions::Overwrite::All
                         : overwrite_none_->isChecked() ? ExtractOptions::Overwrite::None
                                                        : ExtractOptions::Overwrite::Prompt;
    options_.password = encoded_ ? password_->text().toStdString() : std::string();
    remember_restore_path(options_.target_folder);
    if (options_.target_folder.empty()) {
        gui::beep();
        return;
    }
    QDialog::accept();
}

}  // namespace vardel
