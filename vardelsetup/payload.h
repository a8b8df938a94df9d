#pragma once
// The installer's payload: the ZIP archive of the suite's files carried
// inside the setup program. It is written out as "temp.zip" in the
// installer's scratch folder, then every entry is extracted into "temp/"
// beside it, reporting progress as it goes. Runs on a worker thread; the
// progress callback is called on that thread, and cancel() may come from
// any thread.
#include <atomic>
#include <functional>
#include <span>
#include <string>

namespace vardel {

class PayloadUnpacker {
  public:
    static constexpr const char* kArchiveName = "temp.zip";
    static constexpr const char* kFolderName = "temp";
    static constexpr size_t kBlockSize = 1024;

    // The status text ("Extracting resource...") and the bar's position, 0 to 100.
    using Progress = std::function<void(const char* status, int percent)>;

    PayloadUnpacker(std::span<const unsigned char> payload, std::string scratch,
                    Progress progress = nullptr);

    // Writes the archive and extracts it. False when the payload is
    // missing, a file cannot be made, the archive is unreadable (it is then
    // deleted) or cancel() was called; error() says which.
    bool run();
    void cancel() { cancelled_ = true; }
    const std::string& error() const { return error_; }

    // The extracted files' folder: scratch + "/temp/".
    std::string folder() const;

  private:
    bool fail(std::string text);
    bool write_archive(const std::string& path);
    bool extract(const std::string& path);

    std::span<const unsigned char> payload_;
    std::string scratch_;
    Progress progress_;
    std::atomic<bool> cancelled_{false};
    std::string error_;
};

}  // namespace vardel
