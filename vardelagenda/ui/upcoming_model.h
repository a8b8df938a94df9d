#pragma once
// The "Upcoming" list as an item model over an Agenda: one row per coming
// run, formatted when asked for. GUI thread only; the agenda outlives it.
#include <QAbstractTableModel>

#include "vardelagenda/agenda.h"

namespace vardel {

class UpcomingModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit UpcomingModel(const Agenda& agenda, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    const Agenda& agenda_;
};

}  // namespace vardel
