#include "gui/balloon.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>
#include <QTextLayout>
#include <QTimer>
#include <cmath>

namespace vardel::gui {

QPointer<Balloon> Balloon::current_;

namespace {

QFont title_font() {
    QFont f = QApplication::font();
    f.setBold(true);
    return f;
}

QTextOption wrapping(bool break_words) {
    QTextOption o;
    o.setWrapMode(break_words ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::WordWrap);
    return o;
}

// Lays the text out in lines of `width`; the lines' extent.
QSizeF lay_out(QTextLayout& layout, int width) {
    qreal height = 0;
    qreal widest = 0;
    QFontMetricsF fm(layout.font());
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += fm.lineSpacing();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return {widest, height};
}

BalloonSize measure_text(const QString& text, int width, bool break_words) {
    // Line ends from the service are "\r\n"; a line break is a line break.
    QString t = QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(t, QApplication::font());
    layout.setTextOption(wrapping(break_words));
    QSizeF s = lay_out(layout, width);
    return {static_cast<int>(std::ceil(s.width())), static_cast<int>(std::ceil(s.height()))};
}

BalloonContent content_of(const Balloon::Notice& n) {
    QFontMetrics fm(title_font());
    BalloonContent c;
    c.title = {fm.horizontalAdvance(n.title), fm.height()};
    QString text = n.text;
    c.text = [text](int width, bool break_words) { return measure_text(text, width, break_words); };
    c.icon = n.icon != MessageIcon::None;
    return c;
}

BalloonRect rect_of(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

QRect qrect(const BalloonRect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}

QPolygon polygon(const std::array<BalloonPoint, 3>& p) {
    return QPolygon({QPoint(p[0].x, p[0].y), QPoint(p[1].x, p[1].y), QPoint(p[2].x, p[2].y)});
}

QPainterPath shape(const BalloonRect& body, const std::array<BalloonPoint, 3>& tail) {
    QPainterPath path;
    path.addRoundedRect(qrect(body), kBalloonCorner / 2.0, kBalloonCorner / 2.0);
    QPainterPath t;
    t.addPolygon(polygon(tail));
    t.closeSubpath();
    return path.united(t);
}

QIcon icon_of(MessageIcon icon) {
    QStyle* style = QApplication::style();
    switch (icon) {
        case MessageIcon::Error:
            return style->standardIcon(QStyle::SP_MessageBoxCritical);
        case MessageIcon::Warning:
            return style->standardIcon(QStyle::SP_MessageBoxWarning);
        case MessageIcon::Question:
            return style->standardIcon(QStyle::SP_MessageBoxQuestion);
        case MessageIcon::Information:
            return style->standardIcon(QStyle::SP_MessageBoxInformation);
        case MessageIcon::None:
            break;
    }
    return {};
}

}  // namespace

Balloon::Balloon(const Notice& notice, QPoint anchor, const QRect& screen)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      notice_(notice) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(notice.title);
    setObjectName(QStringLiteral("Balloon"));
    BalloonContent content = content_of(notice);
    BalloonRect s = rect_of(screen);
    layout_ =
        place_balloon(measure_balloon(content, s.width()), {anchor.x(), anchor.y()}, s, content);
    setGeometry(qrect(layout_.window));
    setFixedSize(layout_.window.width(), layout_.window.height());
    // Only the body and its tail are the window: clicks and the desktop
    // around them are not the balloon's.
    setMask(QRegion(shape(layout_.body, layout_.tail).toFillPolygon().toPolygon()));
}

Balloon* Balloon::show_notice(const Notice& notice, const QRect& icon_rect) {
    close_current();
    QScreen* screen = icon_rect.isEmpty() ? nullptr : QGuiApplication::screenAt(icon_rect.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    QRect geometry = screen ? screen->geometry() : QRect(0, 0, 1280, 720);
    BalloonRect s = rect_of(geometry);
    BalloonPoint a =
        balloon_anchor(icon_rect.isEmpty() ? default_icon_rect(s) : rect_of(icon_rect), s);
    auto* b = new Balloon(notice, QPoint(a.x, a.y), geometry);
    current_ = b;
    b->show();
    if (notice.timeout_ms > 0) QTimer::singleShot(notice.timeout_ms, b, &QWidget::close);
    return b;
}

Balloon* Balloon::current() {
    return current_.data();
}

void Balloon::close_current() {
    if (current_) current_->close();
    current_ = nullptr;
}

void Balloon::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillPath(shape(layout_.body, layout_.tail), palette().color(QPalette::WindowText));
    p.fillPath(shape(layout_.inner_body, layout_.inner_tail), palette().color(QPalette::Window));
    if (notice_.icon != MessageIcon::None) icon_of(notice_.icon).paint(&p, qrect(layout_.icon));
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(title_font());
    p.drawText(qrect(layout_.title), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               notice_.title);

    QString t = QString(notice_.text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout text(t, QApplication::font());
    text.setTextOption(wrapping(true));
    lay_out(text, layout_.text.width());
    p.setClipRect(qrect(layout_.text));
    text.draw(&p, QPointF(layout_.text.left, layout_.text.top));
}

void Balloon::mouseReleaseEvent(QMouseEvent*) {
    close();
}

void Balloon::closeEvent(QCloseEvent* event) {
    if (current_ == this) current_ = nullptr;
    emit closed();
    event->accept();
}

}  // namespace vardel::gui
