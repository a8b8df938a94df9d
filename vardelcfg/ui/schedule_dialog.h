#pragma once
// "BackupSet Schedules": every set's schedule in one list, one row per set
// in table order, with the same words as the schedule list program. "OK" or
// a double click chooses the selected set. GUI thread only.
#include <QAbstractTableModel>
#include <QDialog>

class QTreeView;

namespace vardel {

class BackupSetTable;

// The rows, formatted when shown. The table must outlive the model and not
// change while it is shown.
class ScheduleModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit ScheduleModel(const BackupSetTable& sets, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    const BackupSetTable& sets_;
};

class ScheduleDialog : public QDialog {
    Q_OBJECT
  public:
    ScheduleDialog(const BackupSetTable& sets, QWidget* parent = nullptr);

    // Shows the dialog: the chosen row, or -1 (none selected, or closed).
    int choose();
    int selected_row() const;
    void select_row(int row);

  protected:
    void done(int result) override;

  private:
    QTreeView* list_;
    ScheduleModel model_;
};

}  // namespace vardel
