#pragma once
// The "Backup Schedule" window: the schedule settings of every enabled set
// above, the coming runs below, and "Done". GUI thread only; the agenda
// outlives the window.
#include <QDialog>

#include "vardelagenda/agenda.h"

class QAbstractItemModel;
class QTableView;

namespace vardel {

namespace gui {
class GeneralScheduleModel;
}
class UpcomingModel;

class AgendaWindow : public QDialog {
    Q_OBJECT

  public:
    explicit AgendaWindow(const Agenda& agenda, QWidget* parent = nullptr);

    // When the upcoming table filled up: the two messages that say so.
    void report_full();

    void done(int result) override;

  private:
    QTableView* make_list(const char* id, QAbstractItemModel* model);
    // The width that shows every column of `list`.
    static int list_width(QTableView* list);

    gui::GeneralScheduleModel* general_model_;
    UpcomingModel* upcoming_model_;
};

}  // namespace vardel
