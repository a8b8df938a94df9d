#pragma once
// "Extracting Files...": runs the extraction on a worker thread while it is
// open, shows the item being extracted, and Cancel asks the worker to stop
// before its next item (or block of a large file). It ends once the worker
// has ended. GUI thread only.
#include <QDialog>
#include <atomic>
#include <functional>
#include <thread>

class QPlainTextEdit;

namespace vardel {

class ProgressDialog : public QDialog {
    Q_OBJECT
  public:
    // `work` runs on the worker thread and returns whether it completed;
    // it reads `stop()` to know when to end early.
    explicit ProgressDialog(QWidget* parent = nullptr);
    ~ProgressDialog() override;

    // Shows the dialog, runs `work` and waits for it: its result.
    bool run(const std::function<bool()>& work);
    std::atomic<bool>& stop() { return stop_; }
    void show_item(const QString& path);

  protected:
    void reject() override;  // Cancel, Escape and the close box

  private:
    std::atomic<bool> stop_{false};
    std::thread worker_;
    bool finished_ = false;
    bool result_ = false;
    QPlainTextEdit* item_;
};

}  // namespace vardel
