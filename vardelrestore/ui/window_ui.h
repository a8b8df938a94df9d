#pragma once
// The workers' RestoreUi in the window: every question and message is shown
// on the GUI thread while the worker waits for it (as a sent message
// waits), and what the worker is doing goes to a callback on the GUI thread
// without waiting. Made on the GUI thread; called from one worker at a time.
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "vardelrestore/restore_ui.h"

namespace vardel {

class WindowUi : public RestoreUi {
  public:
    // Boxes and prompts open over `owner`; `on_extracting` and `on_activity`
    // run on its thread.
    explicit WindowUi(QWidget* owner, std::function<void(QString)> on_extracting = {},
                      std::function<void(QString)> on_activity = {});

    void message(const std::string& text, const std::string& caption, MessageKind kind) override;
    bool confirm(const std::string& text, const std::string& caption, MessageKind kind) override;
    PromptAnswer ask_overwrite(const std::string& target) override;
    PromptAnswer ask_delete(const std::string& target) override;
    void extracting(const std::string& path) override;
    void activity(const char* text) override;

  private:
    // Runs fn on the GUI thread and waits (at once when already there).
    void on_gui(const std::function<void()>& fn);

    QPointer<QWidget> owner_;
    std::function<void(QString)> on_extracting_;
    // The newest path waits here while one update is on its way, so a
    // folder of small files does not flood the GUI thread with events.
    struct Latest {
        std::mutex mutex;
        QString path;
        std::atomic<bool> pending{false};
    };
    std::shared_ptr<Latest> latest_ = std::make_shared<Latest>();
    std::function<void(QString)> on_activity_;
};

}  // namespace vardel
