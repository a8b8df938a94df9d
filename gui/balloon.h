#pragma once
// The suite's notice balloon: a frameless, top-most window with a rounded
// body, a tail pointing at the tray icon, a one-pixel border, an icon, a
// bold title and wrapped text. It closes after its time-out or at once on
// any click. One balloon at a time: showing one closes the one before.
// Its geometry comes from balloon_geometry.h. GUI thread only.
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include "gui/balloon_geometry.h"
#include "gui/message_box.h"

namespace vardel::gui {

class Balloon : public QWidget {
    Q_OBJECT
  public:
    struct Notice {
        QString title;
        QString text;
        MessageIcon icon = MessageIcon::Information;
        int timeout_ms = 5000;  // 0: until clicked
    };

    // Shows `notice` pointing at `icon_rect` (the tray icon on the screen);
    // an empty rectangle points at the screen's bottom-right corner. The
    // balloon deletes itself when it closes; the pointer is for a look.
    static Balloon* show_notice(const Notice& notice, const QRect& icon_rect = QRect());
    // The balloon on screen, or null.
    static Balloon* current();
    // Closes the balloon on screen, if any.
    static void close_current();

    // Made but not shown, for screenshots: a balloon of `notice` as it would
    // point at `anchor` on a screen of `screen`.
    Balloon(const Notice& notice, QPoint anchor, const QRect& screen);

    const Notice& notice() const { return notice_; }
    const BalloonLayout& layout() const { return layout_; }

  signals:
    void closed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    Notice notice_;
    BalloonLayout layout_;
    static QPointer<Balloon> current_;
};

}  // namespace vardel::gui
