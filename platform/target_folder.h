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
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace vardel::platform {

struct FileInfo;

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

    // The folder `name` below this one, created (`mode` less the umask)
    // when missing and `create` is set. Fails (ENOTDIR, ELOOP) when `name` is
    // a file or a link.
    bool open_child(const std::string& name, bool create, TargetFolder& out, int* error = nullptr,
                    mode_t mode = 0777) const;
    // A descriptor of its own for the same folder, for work that may outlive
    // this object's hold on it.
    bool reopen(TargetFolder& out, int* error = nullptr) const;
    // The folder itself (its device and inode); false and *error on failure.
    bool stat(FileInfo& out, int* error = nullptr) const;
    // What stands at `name`, a link not followed; false and *error on failure.
    bool stat_entry(const std::string& name, FileInfo& out, int* error = nullptr) const;
    // Every name in the folder but "." and "..".
    bool list(std::vector<std::string>& names, int* error = nullptr) const;
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
    // A new file at `name`, read and write, mode `mode` less the umask: a
    // file or link standing there is removed first (the link itself, never
    // what it points to) and the file is created anew (O_EXCL), so no one
    // else's file is ever opened or emptied. Fails (EISDIR) on a folder.
    bool replace_file(const std::string& name, File& file, mode_t mode = 0600,
                      int* error = nullptr) const;
    // The whole regular file `name`, a link not followed (a link, FIFO or
    // device is NotRegular, and never opened for reading).
    ReadStatus read_file(const std::string& name, std::string& out, int* error = nullptr) const;
    // Replaces `name` with `data` so that a crash leaves the old file or the
    // new one: a temporary file of mode `mode` beside it, flushed, renamed
    // over it, the folder flushed. False with a text naming the file and the
    // reason in *error, and errno in *error_number; the old file is kept.
    bool write_file(const std::string& name, std::string_view data, mode_t mode,
                    std::string* error = nullptr, int* error_number = nullptr) const;
    // Removes a file or a link at `name`; or a folder with everything in it,
    // when it and every folder below it belong to this process's user (what
    // the suite made there, never a tree planted by someone else: EPERM).
    // Links in it are removed, never followed. Nothing there is no error.
    bool remove_tree(const std::string& name, int* error = nullptr) const;
    // Flushes every file written on this folder's file system (syncfs) and
    // reports a write-back failure since the last call.
    bool sync_file_system(int* error = nullptr) const;
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
