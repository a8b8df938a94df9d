#pragma once
// The two questions of an extraction: "Overwrite?" (a file exists where a
// saved version goes) and "Delete File?" (an item is flagged for deletion),
// each with the target's path and five answers. Closing the window answers
// "&No": nothing is lost by a question left unanswered. GUI thread only.
#include <QDialog>

#include "vardelrestore/restore_ui.h"

namespace vardel {

class PromptDialog : public QDialog {
    Q_OBJECT
  public:
    enum class Kind { Overwrite, Delete };
    PromptDialog(Kind kind, const QString& target, QWidget* parent = nullptr);

    PromptAnswer answer() const { return answer_; }
    // Shows the dialog and waits for the answer.
    static PromptAnswer ask(Kind kind, const QString& target, QWidget* parent);

  private:
    PromptAnswer answer_ = PromptAnswer::No;
};

}  // namespace vardel
