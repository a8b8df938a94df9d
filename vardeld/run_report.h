#pragma once
// What a run tells when it ends: the report (shown and mailed), the failure
// text, the result, and the files it could not save. Every failure of a run
// is logged and reported through note() or fail(), so the log and the report
// always say the same. Owned by the run, on the backup thread.
#include <cstdint>
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

    std::string failure_text;
    int result = kResultCompleted;
    // Files worth a second try, walked again at the end of the run.
    MyString retry_list;
    // Files that failed for a reason a second try cannot mend: reported with
    // those still on the retry list after the second pass.
    MyString given_up;

  private:
    void log_and_add(int level, const std::string& text);

    MyString lines_;
};

// What the walk counted.
struct RunCounters {
    uint64_t dirs_walked = 0;
    uint64_t files_scanned = 0;
    uint64_t files_saved = 0;  // handed to saving
    uint64_t empty_dirs = 0;
};

}  // namespace vardel
