#include "gui/log_pane.h"

#include <QScrollBar>
#include <QTextCursor>

namespace vardel::gui {

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setMaximumBlockCount(kMaxLines);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setUndoRedoEnabled(false);
}

void LogPane::append_text(std::string_view text) {
    append_text(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void LogPane::append_text(const QString& raw) {
    QString text = raw;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.isEmpty()) return;
    QScrollBar* bar = verticalScrollBar();
    bool follow = bar->value() >= bar->maximum();
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    if (follow) bar->setValue(bar->maximum());
}

}  // namespace vardel::gui
