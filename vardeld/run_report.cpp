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

}  // namespace vardel
