#pragma once
// What the loading and extraction workers need from whoever drives them:
// messages, the two prompts, and what they are doing now. The window
// answers on the GUI thread (the worker waits, as for a sent message); the
// command line answers at once, without asking anyone. Called only from the
// worker's own thread.
#include <string>

namespace vardel {

enum class MessageKind { Information, Warning, Error };

// The five buttons of the overwrite and delete prompts.
enum class PromptAnswer { Yes, No, YesToAll, NoToAll, Abort };

class RestoreUi {
  public:
    virtual ~RestoreUi() = default;
    virtual void message(const std::string& text, const std::string& caption, MessageKind kind) = 0;
    // A box with OK and Cancel: true for OK.
    virtual bool confirm(const std::string& text, const std::string& caption, MessageKind kind) = 0;
    // "File exists. Overwrite?" / "Item is flagged for deletion. Go ahead?"
    virtual PromptAnswer ask_overwrite(const std::string& target) = 0;
    virtual PromptAnswer ask_delete(const std::string& target) = 0;
    // The item being extracted (a stored path).
    virtual void extracting(const std::string& /*path*/) {}
    // "Loading List", ...
    virtual void activity(const char* /*text*/) {}
};

}  // namespace vardel
