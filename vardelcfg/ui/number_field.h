#pragma once
// A number field with an up-down control, as the editor's pages have them:
// the arrows stay within the field's range, but any number may be typed, so
// that leaving the field can beep and clamp a value outside it (the editor
// state decides). GUI thread only.
#include <QSpinBox>

namespace vardel {

class NumberField : public QSpinBox {
    Q_OBJECT
  public:
    NumberField(int min, int max, QWidget* parent = nullptr);

    int range_min() const { return min_; }
    int range_max() const { return max_; }

    void stepBy(int steps) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    StepEnabled stepEnabled() const override;

  private:
    int min_;
    int max_;
};

}  // namespace vardel
