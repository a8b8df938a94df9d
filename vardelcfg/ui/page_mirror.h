#pragma once
// Keeps the pages' widgets and the editor state's controls in step, by the
// one binding table: fills widgets from the state (never counting that as a
// user's change), reports each user change to the state, enables and shows
// the controls that follow others, and tells when a field whose value is
// checked on leaving (numbers, the repeat text, the set name, the
// destination) lost the focus. GUI thread only.
#include <QObject>
#include <QString>
#include <array>
#include <string>

#include "vardelcfg/page_bindings.h"

class QWidget;

namespace vardel {

class EditorState;

class PageMirror : public QObject {
    Q_OBJECT
  public:
    using Pages = std::array<QWidget*, kPageCount>;
    // Connects every bound widget of `pages` to `state`; both outlive this.
    PageMirror(EditorState& state, const Pages& pages, QObject* parent = nullptr);

    // The widget bound to `control` on `page`, or nullptr.
    QWidget* control(int page, const std::string& control) const;
    void fill(int page);
    void fill_control(int page, const std::string& control);

  signals:
    // Emitted after the focus left, once the event that moved it is done.
    void control_left(int page, const QString& control);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void connect_control(const PageBinding& b, QWidget* w);
    void fill_widget(const PageBinding& b, QWidget* w);
    void edited(const PageBinding& b, ControlValue value);
    void update_states(int page);

    EditorState& state_;
    Pages pages_;
    bool filling_ = false;
};

}  // namespace vardel
