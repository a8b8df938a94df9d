#pragma once
// Rewriting a state file so that a crash, a full disk or a power cut leaves
// either the old file or the new one, never a torn one: write a temporary
// file in the same folder, flush it to disk, rename it over the old file,
// then flush the folder.
#include <string>
#include <string_view>
#include <sys/types.h>

namespace vardel::platform {

// The steps, as a seam: tests inject a failure at each one.
class AtomicWriteOps {
public:
    virtual ~AtomicWriteOps() = default;
    virtual int open_temp(const std::string& path, mode_t mode);  // -1 and errno on failure
    virtual ssize_t write(int fd, const void* data, size_t len);
    virtual int sync(int fd);
    virtual int rename(const std::string& from, const std::string& to);
};

// Replaces `path` with `data`. On failure returns false, sets *error (when
// given) to a text naming the file and the reason, removes the temporary
// file and leaves the old file as it was. A new file gets mode 0644 less the
// umask; an existing one keeps its permission bits.
bool write_file_atomically(const std::string& path, std::string_view data,
                           std::string* error = nullptr, AtomicWriteOps* ops = nullptr);

}  // namespace vardel::platform
