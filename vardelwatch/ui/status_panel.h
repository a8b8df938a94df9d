#pragma once
// The painted top of the status window: the service's state when it is
// known ("Status:", "Progress:" and their values), else one line saying
// what the window waits for. GUI thread only; the state outlives the panel.
#include <QWidget>

#include "vardelwatch/watch_state.h"

namespace vardel {

class StatusPanel : public QWidget {
    Q_OBJECT

  public:
    explicit StatusPanel(const WatchState& state, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QFont value_font() const;
    int line_height() const;

    const WatchState& state_;
};

}  // namespace vardel
