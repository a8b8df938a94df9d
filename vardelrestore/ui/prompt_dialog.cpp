#include "vardelrestore/ui/prompt_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vardel {

PromptDialog::PromptDialog(Kind kind, const QString& target, QWidget* parent) : QDialog(parent) {
    const bool overwrite = kind == Kind::Overwrite;
    setObjectName(overwrite ? "110" : "112");
    setWindowTitle(overwrite ? "Overwrite?" : "Delete File?");
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    auto* text = new QVBoxLayout;
    text->addWidget(new QLabel(overwrite ? "File exists. Overwrite?"
                                         : "Item is flagged for deletion. Go ahead?"));
    auto* path = new QLineEdit(target);
    path->setReadOnly(true);
    path->setMinimumWidth(420);
    path->setCursorPosition(0);
    text->addWidget(path);
    top->addLayout(text, 1);
    layout->addLayout(top);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    const std::pair<const char*, PromptAnswer> answers[] = {{"&Yes", PromptAnswer::Yes},
                                                            {"&No", PromptAnswer::No},
                                                            {"Yes to &All", PromptAnswer::YesToAll},
                                                            {"N&o to All", PromptAnswer::NoToAll},
                                                            {"A&bort", PromptAnswer::Abort}};
    for (auto [label, answer] : answers) {
        auto* b = new QPushButton(label);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, answer = answer] {
            answer_ = answer;
            accept();
        });
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);
}

PromptAnswer PromptDialog::ask(Kind kind, const QString& target, QWidget* parent) {
    PromptDialog d(kind, target, parent);
    d.exec();
    return d.answer();
}

}  // namespace vardel
