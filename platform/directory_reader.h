#pragma once
// Reading a directory's entries in the order the file system returns them.
// One owner; not thread-safe.
#include <string>

namespace vardel::platform {

class DirectoryReader {
  public:
    DirectoryReader() = default;
    ~DirectoryReader();
    DirectoryReader(const DirectoryReader&) = delete;
    DirectoryReader& operator=(const DirectoryReader&) = delete;

    // False with errno when the directory cannot be read.
    bool open(const std::string& path);
    // The next name other than "." and ".."; false at the end.
    bool next(std::string& name);
    void close();
    // The open directory's descriptor (-1 when closed), for calls relative
    // to it; it stays the reader's.
    int fd() const;

  private:
    void* dir_ = nullptr;
};

// The working directory, "" when it cannot be read.
std::string current_directory();

}  // namespace vardel::platform
