#pragma once
// What the walk hands each selected file and each empty directory to.
#include <string>

namespace vardel {

class FileSaver {
  public:
    virtual ~FileSaver() = default;
    // Saves one file into the run's container; true when it was saved.
    // Throws MyError only to end the run (an abort, corrupt data on read-back).
    virtual bool save_file(const std::string& path) = 0;
    // Records an empty directory (path ends in "/").
    virtual void record_empty_directory(const std::string& path) = 0;
};

}  // namespace vardel
