#include "vardelrestore/ui/version_model.h"

#include <QApplication>
#include <QStyle>

namespace vardel {

VersionModel::VersionModel(QObject* parent) : QAbstractTableModel(parent) {}

void VersionModel::set_list(const VersionList* list) {
    beginResetModel();
    list_ = list;
    endResetModel();
}

int VersionModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !list_) return 0;
    return static_cast<int>(list_->size());
}

int VersionModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : VersionList::kColumnCount;
}

QVariant VersionModel::data(const QModelIndex& index, int role) const {
    if (!list_ || !index.isValid() || index.row() >= rowCount() || index.column() < 0 ||
        index.column() >= VersionList::kColumnCount)
        return {};
    const auto row = static_cast<size_t>(index.row());
    if (role == Qt::DisplayRole) return QString::fromStdString(list_->cell(row, index.column()));
    if (role == Qt::DecorationRole && index.column() == VersionList::kFile &&
        !list_->continuation(row)) {
        const VersionRecord& r = list_->record(row);
        QStyle* style = QApplication::style();
        if (r.action == VersionRecord::kDeleted) return style->standardIcon(QStyle::SP_TrashIcon);
        return style->standardIcon(r.kind == VersionRecord::Directory ? QStyle::SP_DirIcon
                                                                      : QStyle::SP_FileIcon);
    }
    return {};
}

QVariant VersionModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return QString::fromLatin1(VersionList::header(section));
}

}  // namespace vardel
