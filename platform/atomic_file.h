#pragma once
// Rewriting a state file so that a crash, a full disk or a power cut leaves
// either the old file or the new one, never a torn one: write a temporary
// file in the same folder, flush it to disk, rename it over the old file,
// then flush the folder.
#include <sys/types.h>
#include <string>
#include <string_view>

namespace vardel::platform {

class File;

// Creates a new file beside `target` under a name no other writer uses
// (".<name>.vardel-<tag>-<random>.tmp" in the target's folder), for a file that is
// written whole before it is renamed over the target, so a failure never
// costs the file already there. False, with the File's error, when it cannot.
bool create_temp_beside(const std::string& target, File& file, std::string& temp,
                        std::string_view tag, mode_t mode = 0600);

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
// file and leaves the old file as it was. A new file gets `new_file_mode`
// less the umask; an existing one keeps its permission bits.
bool write_file_atomically(const std::string& path, std::string_view data,
                           std::string* error = nullptr, AtomicWriteOps* ops = nullptr,
                           mode_t new_file_mode = 0644);

}  // namespace vardel::platform
