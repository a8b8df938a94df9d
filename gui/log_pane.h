#pragma once
// A read-only pane that follows a log: text is appended at the end as it
// comes, the view follows the newest line unless the user has scrolled up
// to read, and only the last kMaxLines lines are kept, so following a busy
// service for days cannot use up memory. The user's selection is left
// alone. GUI thread only.
#include <QPlainTextEdit>
#include <string_view>

namespace vardel::gui {

class LogPane : public QPlainTextEdit {
    Q_OBJECT

  public:
    static constexpr int kMaxLines = 10000;

    explicit LogPane(QWidget* parent = nullptr);

    // Appends `text` as it stands; "\r\n" and a lone "\r" end a line like
    // "\n". 8-bit text is taken as UTF-8.
    void append_text(std::string_view text);
    void append_text(const QString& text);
};

}  // namespace vardel::gui
