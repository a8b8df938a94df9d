#pragma once
// How the ZIP writer reads a source file: the plain hook, or (with a password
// stream) the encoding hook, which encodes every block it has read. Either
// fails at once, reading nothing, when the run's abort flag is set, so an
// abort stops a large file within one block.
//
// The hook keeps references to the abort flag and the password stream; both
// must outlive it. Used by the one thread that drives the writer; the abort
// flag may be set from any thread.
#include <atomic>
#include <cstddef>

#include "containers/password_stream.h"
#include "platform/file.h"

namespace vardel {

class ZipReadHook {
  public:
    // encoder: the run's password stream, or nullptr for the plain hook.
    explicit ZipReadHook(const std::atomic<bool>& abort, PasswordStream* encoder = nullptr)
        : abort_(abort), encoder_(encoder) {}
    virtual ~ZipReadHook() = default;

    // Called by the writer before the first read of every file: the password
    // stream starts again at position 0 for each file.
    virtual void start_file();
    // Reads up to size bytes (fewer only at the end of the file). False on a
    // read failure or when the abort flag is set; bytes_read is 0 then.
    virtual bool read(platform::File& file, void* buffer, size_t size, size_t& bytes_read);

    bool encodes() const { return encoder_ != nullptr; }

  protected:
    const std::atomic<bool>& abort_;
    PasswordStream* encoder_;
};

}  // namespace vardel
