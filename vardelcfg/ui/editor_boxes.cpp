#include "vardelcfg/ui/editor_boxes.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/help_opener.h"
#include "gui/icons.h"

namespace vardel {

std::unique_ptr<QDialog> build_contact_box(QWidget* parent) {
    auto box = std::make_unique<QDialog>(parent);
    box->setWindowTitle(QStringLiteral("Contact Information"));
    auto* v = new QVBoxLayout(box.get());
    auto* text =
        new QLabel(QStringLiteral("Questions, suggestions and reports of trouble are welcome.\n"
                                  "Write to us, or visit our web site for news and help."),
                   box.get());
    v->addWidget(text);
    auto* buttons = new QHBoxLayout;
    auto* mail = new QPushButton(QString::fromLatin1(kContactEmail), box.get());
    auto* web = new QPushButton(QString::fromLatin1(kContactWeb), box.get());
    mail->setObjectName(QStringLiteral("ContactEmail"));
    web->setObjectName(QStringLiteral("ContactWeb"));
    QObject::connect(mail, &QPushButton::clicked, box.get(), [] {
        QDesktopServices::openUrl(
            QUrl(QStringLiteral("mailto:") + QString::fromLatin1(kContactEmail)));
    });
    QObject::connect(web, &QPushButton::clicked, box.get(),
                     [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kContactWeb))); });
    buttons->addWidget(mail);
    buttons->addWidget(web);
    v->addLayout(buttons);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Ok, box.get());
    QObject::connect(close, &QDialogButtonBox::accepted, box.get(), &QDialog::accept);
    v->addWidget(close);
    return box;
}

std::unique_ptr<QMessageBox> build_credits_box(QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(QStringLiteral("Credits"));
    box->setIconPixmap(gui::suite_icon().pixmap(48, 48));
    box->setText(
        QStringLiteral("Compression supplied by ZLIB\n"
                       "ZIP archives through minizip\n"
                       "Windows drawn with Qt"));
    box->setStandardButtons(QMessageBox::Ok);
    return box;
}

DestinationWarning::DestinationWarning(QWidget* parent, const QString& text,
                                       const gui::HelpOpener* help)
    : QDialog(parent),
      dont_show_(new QCheckBox(QStringLiteral("Don't show this warning again"), this)) {
    setWindowTitle(QStringLiteral("Check your destination!"));
    auto* icon = new QLabel(this);
    int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(size));
    icon->setAlignment(Qt::AlignTop);
    auto* message = new QLabel(text, this);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    message->setWordWrap(true);
    message->setMinimumWidth(320);
    dont_show_->setObjectName(QStringLiteral("DontShow"));

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    QPushButton* help_button =
        buttons->addButton(QStringLiteral("Help"), QDialogButtonBox::HelpRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(help_button, &QPushButton::clicked, this, [this, help] {
        if (help) help->open(this, kHelpContext);
    });

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(message, 1);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addWidget(dont_show_);
    v->addWidget(buttons);
}

bool DestinationWarning::dont_show_again() const {
    return dont_show_->isChecked();
}

}  // namespace vardel
