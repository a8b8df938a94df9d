#pragma once
// A small tmpfs mounted for one test, to make a real "disk full". Mounting
// needs root with CAP_SYS_ADMIN; where that is refused, ok() is false and
// the test skips with the reason.
#include <string>

namespace vardel::test {

class TinyFs {
  public:
    // `source` is what the mount table shows as the mount's source.
    TinyFs(const std::string& mount_point, size_t bytes, const std::string& source = "tmpfs");
    ~TinyFs();
    TinyFs(const TinyFs&) = delete;
    TinyFs& operator=(const TinyFs&) = delete;

    bool ok() const { return mounted_; }
    const std::string& why_not() const { return why_not_; }
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    bool mounted_ = false;
    std::string why_not_;
};

}  // namespace vardel::test
