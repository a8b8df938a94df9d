#pragma once
// A folder held open by its descriptor, for writing a tree below it that
// outside data names (files restored from a backup): every name is reached
// from the folder's descriptor, one component at a time, and a symbolic
// link met on the way is never followed (O_NOFOLLOW, AT_SYMLINK_NOFOLLOW),
// so a link planted in the tree cannot send a write elsewhere. Names given
// here are single components (no "/"); the caller splits and checks paths.
// One owner; not thread-safe.
#include <sys/types.h>

#include <string>

namespace vardel::platform {

class File;

class TargetFolder {
  public:
    enum class Entry { None, File, Folder, Other };

    TargetFolder() = default;
    ~TargetFolder();
    TargetFolder(TargetFolder&& other) noexcept;
    TargetFolder& operator=(TargetFolder&& other) noexcept;
    TargetFolder(const TargetFolder&) = delete;
    TargetFolder& operator=(const TargetFolder&) = delete;

    // Opens an existing folder by its path (the user's own choice, so links
    // in it are followed). False and *error on failure.
    bool open(const std::string& path, int* error = nullptr);
    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The folder's path as given, with a "/" at the end, for messages.
    const std::string& path() const { return path_; }

    // The folder `name` below this one, created (mode 0777 less the umask)
    // when missing and `create` is set. Fails (ENOTDIR, ELOOP) when `name` is
    // a file or a link.
    bool open_child(const std::string& name, bool create, TargetFolder& out,
                    int* error = nullptr) const;
    // What stands at `name`, links not followed (a link is Other).
    Entry entry(const std::string& name, int* error = nullptr) const;
    // A new file under a name of its own beside `name` (".<name>.vardel-<tag>-...").
    bool create_temp(const std::string& name, File& file, std::string& temp, std::string_view tag,
                     mode_t mode = 0600) const;
    // A new file with no name yet (O_TMPFILE), for link_unnamed(); false
    // where the file system cannot make one (then use create_temp()).
    bool create_unnamed(File& file, mode_t mode = 0600) const;
    // Gives a file from create_unnamed() the name `name`; fails (EEXIST)
    // when the name is taken: it never replaces anything.
    bool link_unnamed(const File& file, const std::string& name, int* error = nullptr) const;
    // rename() within this folder: replaces a file or a link at `to`, never
    // what a link points to.
    bool rename(const std::string& from, const std::string& to, int* error = nullptr) const;
    // Removes a file (or a link) or an empty folder.
    bool remove_file(const std::string& name, int* error = nullptr) const;
    bool remove_folder(const std::string& name, int* error = nullptr) const;
    // Flushes the folder itself (its names) to disk.
    bool sync(int* error = nullptr) const;
    void close();

  private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace vardel::platform
