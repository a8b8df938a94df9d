#pragma once
// The exception of all the suite's own code: a category (or, for a processor
// fault, the fault code) and a message of at most 255 characters.
// Thrown by value, caught by reference. A std::exception, so one handler at
// the edge of a thread or a user action catches it with everything else;
// what() gives the message.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace vardel {

enum GENERAL_ERRORS : int32_t {
    NO_ERRORS = 0,
    BAD_DATA = 17,
    OPERATION_FAILED = 18,
    RESOURCE_FAILURE = 19,
    INVALID_PARAMETERS = 20,
    NOT_FOUND = 21,
    MEMORY_EXHAUSTED = 22,  // "Memory allocation failure"
    RUN_ABORTED = 23,       // a backup run stopped by request
};

// "No Error", "BAD DATA", ... ; "UNKNOWN ERROR" for anything else.
const char* category_name(int32_t code);

class MyError : public std::exception {
  public:
    static constexpr size_t kMaxMessage = 255;

    MyError(int32_t code, std::string_view message);
    // printf-style message, cut at 255 characters.
    static MyError format(int32_t code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    int32_t code() const { return code_; }
    const char* message() const { return message_; }
    const char* what() const noexcept override { return message_; }

  private:
    int32_t code_;
    char message_[kMaxMessage + 1];
};

}  // namespace vardel
