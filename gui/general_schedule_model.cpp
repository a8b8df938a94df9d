#include "gui/general_schedule_model.h"

namespace vardel::gui {

GeneralScheduleModel::GeneralScheduleModel(const BackupSetTable& sets, std::vector<size_t> rows,
                                           RepeatShown repeat, QObject* parent)
    : QAbstractTableModel(parent), sets_(sets), rows_(std::move(rows)), repeat_(repeat) {}

void GeneralScheduleModel::reset(std::vector<size_t> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int GeneralScheduleModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int GeneralScheduleModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kGeneralColumnHeaders.size());
}

QVariant GeneralScheduleModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
    const BackupSet* set = sets_.slot(rows_[static_cast<size_t>(index.row())]);
    if (!set) return {};
    return QString::fromStdString(
        general_cell(*set, static_cast<GeneralColumn>(index.column()), repeat_));
}

QVariant GeneralScheduleModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount())
        return {};
    return QString::fromLatin1(kGeneralColumnHeaders[static_cast<size_t>(section)]);
}

}  // namespace vardel::gui
