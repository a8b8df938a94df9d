#include "vardeld/run_report.h"

#include <cstdarg>

#include "common/log.h"
#include "common/text_helpers.h"

namespace vardel {

void RunReport::log_and_add(int level, const std::string& text) {
    log(level, "%s\n", text.c_str());
    lines_.add_line(text);
}

void RunReport::note(int level, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = vstrprintf(fmt, ap);
    va_end(ap);
    log_and_add(level, text);
}

void RunReport::fail(int level, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    failure_text = vstrprintf(fmt, ap);
    va_end(ap);
    log_and_add(level, failure_text);
    result = kResultFailed;
}

void RunReport::not_saved(const std::string& path, const std::string& reason, Said said) {
    if (!unsaved_.insert(path).second) return;
    given_up.add_line(path);
    if (said == Said::No) note(LOG_COMPLAIN, "Could not save %s: %s", path.c_str(), reason.c_str());
}

void RunReport::retry(const std::string& path, const std::string& reason) {
    retry_list.add_line(path);
    retry_reasons_[path] = reason;
}

void RunReport::settle_retries() {
    size_t n = retry_list.count_lines();
    for (size_t i = 1; i <= n; ++i) {
        std::string p = retry_list.line(i);
        auto it = retry_reasons_.find(p);
        not_saved(p, it != retry_reasons_.end() ? it->second : "it failed twice");
    }
    retry_list.assign("");
}

}  // namespace vardel
