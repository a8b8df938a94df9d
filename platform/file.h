#pragma once
// An open file descriptor owned by one object: the suite's files are read and
// written through this, never through raw system calls above platform/.
// Every failure leaves errno in error() for the caller's message.
// Not thread-safe: one owner at a time (it may be moved between threads).
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vardel::platform {

enum class OpenMode {
    Read,  // existing file, read only
    // existing file, read only, its access time left as it is (O_NOATIME,
    // which only the owner may use; for others the same as Read)
    ReadKeepAccessTime,
    ReadWrite,      // existing file, read and write
    CreateReplace,  // read and write, created or emptied
    CreateKeep,     // read and write, created when missing, kept when present
    // read and write, created or emptied; a symbolic link at the path is
    // replaced by a new file, never followed (extraction targets)
    CreateReplaceNoFollow,
    CreateNew,  // read and write, created; fails (EEXIST) when the name is taken
    // read and write, a new file without a name in the folder given as the
    // path (O_TMPFILE): nobody sees it until it is linked in
    CreateUnnamed,
    // an existing folder, read only: for opening files relative to it
    Folder,
};

class File {
  public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // mode_bits apply to a file that is created. Never follows a FIFO or
    // device open into a block: O_NONBLOCK is used for Read and cleared after.
    bool open(const std::string& path, OpenMode mode, mode_t mode_bits = 0644);
    // The same for `name` in the folder open as `dir_fd` (AT_FDCWD: the
    // working folder); path() then gives `display_path` (or `name`).
    bool open_at(int dir_fd, const std::string& name, OpenMode mode, mode_t mode_bits = 0644,
                 const std::string& display_path = {});
    // Takes ownership of an open descriptor.
    void adopt(int fd, const std::string& path);
    // Closes, then fails as an open of `path` with `error_number` would: for
    // an Env that fakes a refusal.
    bool fail_open(const std::string& path, int error_number);
    bool is_open() const { return fd_ >= 0; }
    void close();
    int fd() const { return fd_; }
    int error() const { return error_; }
    const std::string& path() const { return path_; }

    // Reads up to n bytes (fewer only at the end of the file); -1 on failure.
    ssize_t read(void* buf, size_t n);
    // Writes all n bytes or fails (a short write is ENOSPC); retries EINTR.
    bool write_all(const void* buf, size_t n);
    ssize_t pread(void* buf, size_t n, uint64_t offset);
    // One read at `offset` (EINTR retried): for a regular file, fewer than n
    // bytes only at its end. -1 on failure.
    ssize_t pread_once(void* buf, size_t n, uint64_t offset);
    bool pwrite_all(const void* buf, size_t n, uint64_t offset);
    bool seek(uint64_t offset);
    bool seek_end(uint64_t* new_offset = nullptr);
    bool truncate(uint64_t length);
    bool sync();
    // Copies up to n bytes from this file's position to `out`'s inside the
    // kernel (copy_file_range); 0 at the end of the file, -1 on failure with
    // errno in error(). EXDEV, EINVAL, ENOSYS or EOPNOTSUPP at the first
    // call mean the kernel cannot do it for these two files: copy through
    // read() and write_all() instead.
    ssize_t copy_to(File& out, size_t n);
    // flock(LOCK_EX | LOCK_NB): the file "opened unshared". False with
    // EWOULDBLOCK in error() when another holder has it (a sharing violation).
    bool lock_exclusive();
    // flock(LOCK_SH | LOCK_NB): readers may share it; false while another
    // holds it exclusively.
    bool lock_shared();
    // An open-file-description read lock over the whole file (F_OFD_SETLK,
    // F_RDLCK). False when another process holds a write lock.
    bool read_lock_whole();
    // Permission bits, for a copy that keeps them (umask does not apply).
    bool set_mode(mode_t mode);
    // -1 on failure.
    int64_t size();
    int64_t position();

  private:
    int fd_ = -1;
    int error_ = 0;
    std::string path_;
};

// Reading a whole state file ("BACKUP.INI", a list file): only a regular
// file is read. A FIFO, device, socket or folder is refused without a read
// that could block, and with links not followed, so is a link.
enum class ReadStatus { Read, Missing, NotRegular, Failed };
enum class Links { Follow, NoFollow };
// `name` in the folder open as `dir_fd` (AT_FDCWD: a path). *error_number
// is errno for Missing and Failed; for NotRegular EISDIR (a folder), ELOOP
// (a link not followed) or EINVAL (anything else).
ReadStatus read_regular_file(int dir_fd, const std::string& name, std::string& out,
                             Links links = Links::Follow, int* error_number = nullptr);
// The same for a path.
ReadStatus read_regular_file(const std::string& path, std::string& out, Links links = Links::Follow,
                             int* error_number = nullptr);

// Flushes the folder holding `path` to disk, so that a newly created file's
// name survives a power cut. False and *error_number on failure.
bool sync_parent_directory(const std::string& path, int* error_number = nullptr);
// Flushes the whole file system holding `path` (a file or folder) to disk,
// data and names, and reports a write-back failure of any file on it since
// the last call (syncfs). False and *error_number on failure.
bool sync_file_system(const std::string& path, int* error_number = nullptr);

}  // namespace vardel::platform
