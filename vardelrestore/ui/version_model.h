#pragma once
// The list's rows for a QTableView: a thin model over a VersionList, each
// cell formatted only when the view asks for it. GUI thread only; the list
// is detached (no rows) while a worker rebuilds it.
#include <QAbstractTableModel>

#include "vardelrestore/version_list.h"

namespace vardel {

class VersionModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit VersionModel(QObject* parent = nullptr);

    // Shows `list` (which must outlive the model or the next call); nullptr
    // shows nothing.
    void set_list(const VersionList* list);
    const VersionList* list() const { return list_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    const VersionList* list_ = nullptr;
};

}  // namespace vardel
