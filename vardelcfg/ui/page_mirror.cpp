#include "vardelcfg/ui/page_mirror.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTimeEdit>
#include <QTimer>
#include <QWidget>

#include "vardelcfg/editor_state.h"
#include "vardelcfg/ui/month_day_grid.h"
#include "vardelcfg/ui/number_field.h"

namespace vardel {

namespace {

using K = ControlKind;

QString to_q(const std::string& s) {
    return QString::fromStdString(s);
}

// The fields the editor checks when the focus leaves them.
bool checked_on_leaving(ControlKind kind) {
    return kind == K::Number || kind == K::Repeat || kind == K::SetName || kind == K::Destination;
}

// Multi-line fields hold "\r\n" line ends; the widget shows "\n".
QString lines_to_widget(const std::string& s) {
    QString t = to_q(s);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t;
}

std::string lines_from_widget(QString t) {
    t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return t.toStdString();
}

constexpr const char* kPageProperty = "vardel_page";

}  // namespace

PageMirror::PageMirror(EditorState& state, const Pages& pages, QObject* parent)
    : QObject(parent), state_(state), pages_(pages) {
    for (const PageBinding& b : page_bindings()) {
        QWidget* w = control(b.page, b.control);
        if (!w) continue;
        connect_control(b, w);
        if (checked_on_leaving(b.kind)) {
            w->setProperty(kPageProperty, b.page);
            w->installEventFilter(this);
        }
    }
}

QWidget* PageMirror::control(int page, const std::string& control) const {
    if (page < 0 || page >= kPageCount || !pages_[page]) return nullptr;
    return pages_[page]->findChild<QWidget*>(to_q(control));
}

void PageMirror::connect_control(const PageBinding& b, QWidget* w) {
    switch (b.kind) {
        case K::Check:
            connect(static_cast<QCheckBox*>(w), &QCheckBox::toggled, this,
                    [this, &b](bool on) { edited(b, on); });
            break;
        case K::Text:
        case K::Password:
        case K::Repeat:
        case K::SetName:
        case K::Destination:
            connect(static_cast<QLineEdit*>(w), &QLineEdit::textChanged, this,
                    [this, &b](const QString& t) { edited(b, t.toStdString()); });
            break;
        case K::Number:
            connect(static_cast<NumberField*>(w), &QSpinBox::valueChanged, this,
                    [this, &b](int v) { edited(b, static_cast<int32_t>(v)); });
            break;
        case K::Choice:
            connect(static_cast<QComboBox*>(w), &QComboBox::currentIndexChanged, this,
                    [this, &b](int i) {
                        if (i >= 0) edited(b, static_cast<int32_t>(i));
                    });
            break;
        case K::Lines: {
            auto* e = static_cast<QPlainTextEdit*>(w);
            connect(e, &QPlainTextEdit::textChanged, this,
                    [this, &b, e] { edited(b, lines_from_widget(e->toPlainText())); });
            break;
        }
        case K::Time:
            connect(static_cast<QTimeEdit*>(w), &QTimeEdit::timeChanged, this, [this, &b](QTime t) {
                edited(b, static_cast<int32_t>(t.msecsSinceStartOfDay() / 1000));
            });
            break;
        case K::Weekdays: {
            auto* list = static_cast<QListWidget*>(w);
            connect(list, &QListWidget::itemSelectionChanged, this, [this, &b, list] {
                std::string days(7, '-');
                for (int i = 0; i < 7 && i < list->count(); ++i)
                    if (list->item(i)->isSelected()) days[i] = '+';
                edited(b, days);
            });
            break;
        }
        case K::MonthDays:
            connect(static_cast<MonthDayGrid*>(w), &MonthDayGrid::day_clicked, this,
                    [this](int day) {
                        if (!filling_) state_.flip_month_day(day);
                    });
            break;
    }
}

void PageMirror::edited(const PageBinding& b, ControlValue value) {
    if (filling_) return;
    state_.edit_control(b.page, b.control, std::move(value));
    update_states(b.page);
}

void PageMirror::fill(int page) {
    for (const PageBinding& b : page_bindings(page))
        if (QWidget* w = control(page, b.control)) fill_widget(b, w);
    update_states(page);
}

void PageMirror::fill_control(int page, const std::string& name) {
    const PageBinding* b = find_binding(page, name);
    QWidget* w = control(page, name);
    if (b && w) fill_widget(*b, w);
    update_states(page);
}

void PageMirror::fill_widget(const PageBinding& b, QWidget* w) {
    const ControlValues& v = state_.controls(b.page);
    filling_ = true;
    switch (b.kind) {
        case K::Check:
            static_cast<QCheckBox*>(w)->setChecked(value_flag(v, b.control));
            break;
        case K::Text:
        case K::Password:
        case K::Repeat:
        case K::SetName:
        case K::Destination: {
            auto* e = static_cast<QLineEdit*>(w);
            QString t = to_q(value_text(v, b.control));
            if (e->text() != t) e->setText(t);
            break;
        }
        case K::Number:
            static_cast<NumberField*>(w)->setValue(value_number(v, b.control));
            break;
        case K::Choice: {
            // A stored number outside the list shows no entry (and is kept).
            int32_t n = value_number(v, b.control);
            auto* c = static_cast<QComboBox*>(w);
            c->setCurrentIndex(n >= 0 && n < c->count() ? n : -1);
            break;
        }
        case K::Lines: {
            auto* e = static_cast<QPlainTextEdit*>(w);
            QString t = lines_to_widget(value_text(v, b.control));
            if (e->toPlainText() != t) e->setPlainText(t);
            break;
        }
        case K::Time: {
            int32_t s = value_number(v, b.control);
            static_cast<QTimeEdit*>(w)->setTime(QTime(0, 0).addSecs(s));
            break;
        }
        case K::Weekdays: {
            auto* list = static_cast<QListWidget*>(w);
            std::string days = value_text(v, b.control);
            for (int i = 0; i < list->count(); ++i)
                list->item(i)->setSelected(i < static_cast<int>(days.size()) && days[i] == '+');
            break;
        }
        case K::MonthDays:
            static_cast<MonthDayGrid*>(w)->set_days(value_text(v, b.control));
            break;
    }
    filling_ = false;
}

void PageMirror::update_states(int page) {
    for (const auto& [name, s] : control_states(page, state_.controls(page))) {
        if (QWidget* w = control(page, name)) {
            w->setEnabled(s.enabled);
            w->setVisible(s.visible);
        }
    }
}

bool PageMirror::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        auto* w = static_cast<QWidget*>(watched);
        int page = w->property(kPageProperty).toInt();
        QString name = w->objectName();
        // After the focus change is complete: a message box shown from
        // inside it would fight the change.
        QTimer::singleShot(0, this, [this, page, name] { emit control_left(page, name); });
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace vardel
