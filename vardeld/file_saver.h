#pragma once
// What the walk hands each selected file and each empty directory to.
#include <string>

#include "platform/file_info.h"

namespace vardel::platform {
class WorkPool;
}

namespace vardel {

class FileSaver {
  public:
    virtual ~FileSaver() = default;
    // Saves one file into the run's container; true when it was saved.
    // `info` is the walk's stat of it (for a link, of its target), taken a
    // moment before. Throws MyError only to end the run (an abort, corrupt
    // data on read-back).
    virtual bool save_file(const std::string& path, const platform::FileInfo& info) = 0;
    // Announces, in order, files the walk will hand to save_file next, so
    // the saver may read them ahead. The walk may still skip some.
    virtual void expect(const std::string& /*path*/, const platform::FileInfo& /*info*/) {}
    // The run pauses: files opened ahead are closed (and their locks
    // released) until the walk goes on.
    virtual void pausing() {}
    // Threads the walk may share for its own work between files (null: none).
    virtual platform::WorkPool* work_pool() { return nullptr; }
    // True for the run's own output (device and inode), met by the walk.
    virtual bool is_output(const platform::FileInfo& /*info*/) const { return false; }
    // Records an empty directory (path ends in "/").
    virtual void record_empty_directory(const std::string& path) = 0;
};

}  // namespace vardel
