#pragma once
// The "General Schedule" list as an item model: one row per chosen set of a
// table, the columns of common/schedule_rows.h, each cell formatted when it
// is asked for. Used by the schedule list and the editor's schedule dialog.
// GUI thread only; the table must outlive the model and stay unchanged
// while it shows it (call reset() after a change).
#include <QAbstractTableModel>
#include <cstddef>
#include <vector>

#include "common/backup_set_table.h"
#include "common/schedule_rows.h"

namespace vardel::gui {

class GeneralScheduleModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    // `rows`: the table indexes to show, in order.
    GeneralScheduleModel(const BackupSetTable& sets, std::vector<size_t> rows, RepeatShown repeat,
                         QObject* parent = nullptr);

    void reset(std::vector<size_t> rows);
    // The table index shown in `row`.
    size_t set_index(int row) const { return rows_.at(static_cast<size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    const BackupSetTable& sets_;
    std::vector<size_t> rows_;
    RepeatShown repeat_;
};

}  // namespace vardel::gui
