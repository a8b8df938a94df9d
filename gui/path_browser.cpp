#include "gui/path_browser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace vardel::gui {

PathBrowser::PathBrowser(QWidget* parent, const QString& title, Offers offers, const QString& start)
    : QDialog(parent),
      model_(new QFileSystemModel(this)),
      tree_(new QTreeView(this)),
      edit_(new QLineEdit(this)) {
    setWindowTitle(title);
    QDir::Filters filter = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden;
    if (offers == Offers::FoldersAndFiles) filter |= QDir::Files | QDir::System;
    model_->setFilter(filter);
    // Links are offered as themselves, as the path a user typed would be.
    model_->setResolveSymlinks(false);
    model_->setRootPath(QStringLiteral("/"));

    tree_->setModel(model_);
    tree_->setRootIndex(model_->index(QStringLiteral("/")));
    tree_->setHeaderHidden(true);
    for (int c = 1; c < model_->columnCount(); ++c) tree_->hideColumn(c);
    tree_->setObjectName(QStringLiteral("PathTree"));
    edit_->setObjectName(QStringLiteral("PathEdit"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) edit_->setText(model_->filePath(current));
            });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    auto* label = new QLabel(QStringLiteral("Path:"), this);
    label->setBuddy(edit_);
    layout->addWidget(label);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
    resize(420, 460);
    select(start.isEmpty() ? QDir::homePath() : start);
}

void PathBrowser::select(const QString& path) {
    QFileInfo info(path);
    if (!info.exists()) {
        edit_->setText(path);
        return;
    }
    QModelIndex index = model_->index(info.absoluteFilePath());
    if (index.isValid()) {
        tree_->setCurrentIndex(index);
        tree_->scrollTo(index);
    }
    edit_->setText(info.absoluteFilePath());
}

QString PathBrowser::path() const {
    QString p = edit_->text();
    while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
    return p;
}

std::optional<QString> PathBrowser::choose(QWidget* parent, const QString& title, Offers offers,
                                           const QString& start) {
    PathBrowser browser(parent, title, offers, start);
    if (browser.exec() != QDialog::Accepted || browser.path().isEmpty()) return std::nullopt;
    return browser.path();
}

}  // namespace vardel::gui
