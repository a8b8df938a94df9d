#pragma once
// The month-day grid of the scheduling page: days 1 to 31 in 7 columns and
// 5 rows, chosen days drawn highlighted; a click on a day asks to flip it.
// It shows a day list and changes nothing itself. GUI thread only.
#include <QFrame>
#include <string>

namespace vardel {

class MonthDayGrid : public QFrame {
    Q_OBJECT
  public:
    explicit MonthDayGrid(QWidget* parent = nullptr);

    // 31 characters, day 1 first, '+' for a chosen day.
    void set_days(const std::string& days);
    const std::string& days() const { return days_; }
    // The day under a point of the widget, or 0.
    int day_at(QPoint p) const;

    QSize sizeHint() const override;

  signals:
    void day_clicked(int day);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    int cell_width() const;
    int cell_height() const;

    std::string days_;
};

}  // namespace vardel
