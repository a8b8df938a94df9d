#pragma once
// What a run tells when it ends: the report (shown and mailed), the failure
// text, the result, and the files it could not save. Every failure of a run
// is logged and reported through note() or fail(), so the log and the report
// always say the same. Owned by the run, on the backup thread.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "common/mystring.h"
#include "vardeld/service_messages.h"

namespace vardel {

class RunReport {
  public:
    // Logs the text (with "\n") at `level` and adds it to the report.
    void note(int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    // As note(); the text also becomes the failure text, and the run failed.
    void fail(int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    // A report line that is not logged.
    void add_line(std::string_view line) { lines_.add_line(line); }

    const MyString& lines() const { return lines_; }
    std::string str() const { return lines_.str(); }

    // A file or folder the run selected and could not save, for a reason a
    // second try cannot mend: logged and reported as "Could not save %s: %s"
    // (unless `reported`: the caller's own line already named it and why),
    // counted, and listed at the end. A path counts once.
    enum class Said { No, Already };
    void not_saved(const std::string& path, const std::string& reason, Said said = Said::No);
    // Puts a path on the retry list, remembering why it failed this time.
    void retry(const std::string& path, const std::string& reason);
    // After the second pass: every path still on the retry list is not saved.
    void settle_retries();
    size_t not_saved_count() const { return unsaved_.size(); }

    std::string failure_text;
    int result = kResultCompleted;
    // Files worth a second try, walked again at the end of the run.
    MyString retry_list;
    // Files that could not be saved, in the order they failed.
    MyString given_up;

  private:
    void log_and_add(int level, const std::string& text);

    MyString lines_;
    std::set<std::string> unsaved_;
    std::map<std::string, std::string> retry_reasons_;
};

// What the walk counted.
struct RunCounters {
    uint64_t dirs_walked = 0;
    uint64_t files_scanned = 0;
    uint64_t files_saved = 0;  // saved, not merely tried
    uint64_t empty_dirs = 0;
    uint64_t hidden_left_out = 0;  // hidden files and folders passed over
};

}  // namespace vardel
