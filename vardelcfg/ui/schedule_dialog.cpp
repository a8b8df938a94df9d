#include "vardelcfg/ui/schedule_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "common/backup_set_table.h"
#include "common/schedule_rows.h"
#include "common/suite_names.h"
#include "gui/saved_placement.h"

namespace vardel {

ScheduleModel::ScheduleModel(const BackupSetTable& sets, QObject* parent)
    : QAbstractTableModel(parent), sets_(sets) {}

int ScheduleModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(sets_.size());
}

int ScheduleModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kGeneralColumnHeaders.size());
}

QVariant ScheduleModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() ||
        index.column() >= columnCount())
        return {};
    // The editor shows any repeat that is set, even one under a minute.
    return QString::fromStdString(general_cell(sets_[static_cast<size_t>(index.row())],
                                               static_cast<GeneralColumn>(index.column()),
                                               RepeatShown::WhenNotZero));
}

QVariant ScheduleModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= columnCount())
        return {};
    return QString::fromLatin1(kGeneralColumnHeaders[static_cast<size_t>(section)]);
}

ScheduleDialog::ScheduleDialog(const BackupSetTable& sets, QWidget* parent)
    : QDialog(parent), list_(new QTreeView(this)), model_(sets) {
    setWindowTitle(QStringLiteral("BackupSet Schedules"));
    setSizeGripEnabled(true);
    list_->setObjectName(QStringLiteral("ScheduleList"));
    list_->setModel(&model_);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->header()->setStretchLastSection(false);
    for (int c = 0; c < model_.columnCount(); ++c) list_->resizeColumnToContents(c);
    connect(list_, &QTreeView::doubleClicked, this, [this] { accept(); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* v = new QVBoxLayout(this);
    v->addWidget(list_, 1);
    v->addWidget(buttons);

    int width = list_->frameWidth() * 2 + 24;
    for (int c = 0; c < model_.columnCount(); ++c) width += list_->columnWidth(c);
    resize(std::clamp(width, 480, 1000), 300);
    gui::restore_placement(*this, kEditorScheduleProgram);
}

int ScheduleDialog::selected_row() const {
    QModelIndexList rows = list_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ScheduleDialog::select_row(int row) {
    list_->setCurrentIndex(model_.index(row, 0));
}

int ScheduleDialog::choose() {
    return exec() == QDialog::Accepted ? selected_row() : -1;
}

void ScheduleDialog::done(int result) {
    gui::save_placement(*this, kEditorScheduleProgram);
    QDialog::done(result);
}

}  // namespace vardel
