#pragma once
// Destinations made by hand for the restore tests: "BACKUP.INI", SAF
// archives with any entry names (hostile ones too), list files; and a
// RestoreUi that records what it is told and answers from a script.
#include <deque>
#include <string>
#include <vector>

#include "vardelrestore/restore_ui.h"

namespace vardel::test {

struct SafItem {
    std::string name;
    std::string data;
    uint32_t type = 1;        // 1 file, 2 folder
    uint64_t last_write = 0;  // FILETIME
};
// A stored (uncompressed) SAF archive; encoded with `password` when given.
void write_saf(const std::string& path, const std::vector<SafItem>& items,
               const std::string& password = {});

// "BACKUP.INI" for a set whose backups (cycle, save) are `instances`, each
// saved at 1700000000 + 100 * cycle + save.
void write_state(const std::string& folder, const std::string& name, int format,
                 const std::vector<std::pair<int, int>>& instances, int cycles = 3,
                 int per_cycle = 4, bool encode = false);

class ScriptedUi : public RestoreUi {
  public:
    std::vector<std::string> messages;  // "caption: text"
    std::deque<PromptAnswer> answers;   // for the prompts, in turn (then Yes)
    std::vector<std::string> asked;     // the targets prompted for
    bool confirm_answer = true;

    void message(const std::string& text, const std::string& caption, MessageKind) override {
        messages.push_back(caption + ": " + text);
    }
    bool confirm(const std::string& text, const std::string& caption, MessageKind k) override {
        message(text, caption, k);
        return confirm_answer;
    }
    PromptAnswer ask_overwrite(const std::string& target) override { return next(target); }
    PromptAnswer ask_delete(const std::string& target) override { return next(target); }

  private:
    PromptAnswer next(const std::string& target) {
        asked.push_back(target);
        if (answers.empty()) return PromptAnswer::Yes;
        PromptAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
};

}  // namespace vardel::test
