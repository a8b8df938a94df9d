#pragma once
// "Extract Files": where the chosen versions go and how existing files are
// treated. Proposes the base directory the chosen paths share and the
// folder of the last extraction. GUI thread only.
#include <QDialog>
#include <string>
#include <vector>

#include "vardelrestore/extractor.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace vardel {

class ExtractDialog : public QDialog {
    Q_OBJECT
  public:
    // `paths`: the stored paths of the rows to extract, in list order.
    // `encoded`: the backups need a password (the field is enabled only then).
    ExtractDialog(const std::vector<std::string_view>& paths, bool encoded,
                  const ExtractOptions& previous, QWidget* parent = nullptr);

    // The options as filled in; meaningful after OK.
    const ExtractOptions& options() const { return options_; }

  protected:
    void accept() override;

  private:
    void browse();

    bool encoded_;
    ExtractOptions options_;
    QLineEdit* base_;
    QCheckBox* ignore_others_;
    QLineEdit* target_;
    QRadioButton* overwrite_all_;
    QRadioButton* overwrite_none_;
    QRadioButton* prompt_;
    QLineEdit* password_;
};

}  // namespace vardel
