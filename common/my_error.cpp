#include "common/my_error.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vardel {

const char* category_name(int32_t code) {
    switch (code) {
        case NO_ERRORS:
            return "No Error";
        case BAD_DATA:
            return "BAD DATA";
        case OPERATION_FAILED:
            return "OPERATION FAILED";
        case RESOURCE_FAILURE:
            return "RESOURCE FAILURE";
        case INVALID_PARAMETERS:
            return "INVALID PARAMETERS";
        case NOT_FOUND:
            return "NOT FOUND";
        default:
            return "UNKNOWN ERROR";
    }
}

MyError::MyError(int32_t code, std::string_view message) : code_(code) {
    size_t n = message.size() < kMaxMessage ? message.size() : kMaxMessage;
    std::memcpy(message_, message.data(), n);
    message_[n] = '\0';
}

MyError MyError::format(int32_t code, const char* fmt, ...) {
    char buf[kMaxMessage + 1];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return MyError(code, buf);
}

}  // namespace vardel
