#include "vardelagenda/ui/upcoming_model.h"

#include "common/schedule_rows.h"

namespace vardel {

UpcomingModel::UpcomingModel(const Agenda& agenda, QObject* parent)
    : QAbstractTableModel(parent), agenda_(agenda) {}

int UpcomingModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(agenda_.upcoming().size());
}

int UpcomingModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kUpcomingColumnHeaders.size());
}

QVariant UpcomingModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
    const UpcomingRun& run = agenda_.upcoming()[static_cast<size_t>(index.row())];
    return QString::fromStdString(
        upcoming_cell(agenda_.set_of(run), run.time, static_cast<UpcomingColumn>(index.column())));
}

QVariant UpcomingModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount())
        return {};
    return QString::fromLatin1(kUpcomingColumnHeaders[static_cast<size_t>(section)]);
}

}  // namespace vardel
