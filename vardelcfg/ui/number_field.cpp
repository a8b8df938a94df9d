#include "vardelcfg/ui/number_field.h"

#include <QLineEdit>
#include <algorithm>

namespace vardel {

namespace {
// What may be typed: wide enough for any value a page keeps, small enough
// that a typed number never overflows.
constexpr int kTypedLimit = 9999999;
}  // namespace

NumberField::NumberField(int min, int max, QWidget* parent)
    : QSpinBox(parent), min_(min), max_(max) {
    setRange(std::min(min, -kTypedLimit), std::max(max, kTypedLimit));
    setAccelerated(true);
}

void NumberField::stepBy(int steps) {
    setValue(std::clamp(value() + steps, min_, max_));
    selectAll();
}

QAbstractSpinBox::StepEnabled NumberField::stepEnabled() const {
    StepEnabled e = StepNone;
    if (value() < max_) e |= StepUpEnabled;
    if (value() > min_) e |= StepDownEnabled;
    return e;
}

// Sized for the field's own range, not the wider range it accepts.
QSize NumberField::sizeHint() const {
    QSize s = QSpinBox::sizeHint();
    QFontMetrics fm(font());
    int digits = std::max(QString::number(min_).size(), QString::number(max_).size());
    int wide = fm.horizontalAdvance(QString(digits + 1, QLatin1Char('0')));
    int full = fm.horizontalAdvance(QString::number(-kTypedLimit));
    s.setWidth(s.width() - full + wide);
    return s;
}

QSize NumberField::minimumSizeHint() const {
    return sizeHint();
}

}  // namespace vardel
