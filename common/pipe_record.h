#pragma once
// The records of the control socket, both directions: a 4-byte little-endian
// code and a zero-terminated text, at most 1024 bytes in all (so a text of at
// most 1019 characters). One record per send; a longer text is cut to fit.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vardel {

enum PipeCode : uint32_t {
    PIPE_REGISTER = 1,
    PIPE_SINGLE_STATUS = 2,
    PIPE_REQUEST_ONGOING = 3,
    PIPE_STATUS = 4,
    PIPE_SHUT_DOWN = 5,
    PIPE_DISABLE = 6,
    PIPE_ENABLE = 7,
    PIPE_RUN_SET = 8,
    PIPE_PAUSE = 10,
    PIPE_RESUME = 11,
    PIPE_STOP = 12,
    PIPE_BACKUP_STARTING = 13,
    PIPE_BACKUP_COMPLETED = 14,
    PIPE_BACKUP_FAILED = 15,
    PIPE_BACKUP_ABORTED = 16,
    PIPE_INFO = 17,
    PIPE_ALERT = 18,
};

struct PipeRecord {
    static constexpr size_t kMaxRecord = 1024;
    static constexpr size_t kMaxText = kMaxRecord - 5;

    uint32_t code = 0;
    std::string text;

    // The bytes of one record; a text longer than 1019 characters is cut.
    std::string encode() const;
    // A record read from the socket: at least the 4 code bytes. The text runs
    // to the first zero byte or the end of the data (a missing terminator is
    // tolerated). Nothing for fewer than 4 bytes or more than 1024.
    static std::optional<PipeRecord> decode(std::string_view bytes);
};

// The code 18 answer to a request that changes the service's state from an
// account that may not (only root and members of the group "vardel" may).
inline constexpr const char* kPermissionDeniedText = "Permission denied";

}  // namespace vardel
