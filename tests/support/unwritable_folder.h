#pragma once
#include <string>

namespace vardel::test {

// A folder that refuses new entries while the object lives: its write bits
// taken away, or for root, whom those do not stop, the immutable flag.
// Where neither can be had, ok() is false and why_not() says why.
class UnwritableFolder {
  public:
    explicit UnwritableFolder(const std::string& folder);
    ~UnwritableFolder();
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;
    bool ok() const { return ok_; }
    const std::string& why_not() const { return why_not_; }

  private:
    std::string folder_;
    bool ok_ = false, immutable_ = false;
    std::string why_not_;
};

}  // namespace vardel::test
