#pragma once
// The file under a ZIP archive as minizip sees it: its I/O callbacks go
// through platform::File with a buffer of our own, because minizip reads and
// writes header fields a few bytes at a time. Also keeps the first errno so
// the caller can tell a full disk from a bad archive.
//
// Owned by the ZipWriter or ZipReader that opened it; one thread at a time.
#include <minizip/ioapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace vardel {

class ZipFileStream {
  public:
    enum class Purpose { Read, Write };

    ZipFileStream() = default;
    ZipFileStream(const ZipFileStream&) = delete;
    ZipFileStream& operator=(const ZipFileStream&) = delete;

    // Read: an existing regular file (a FIFO or device is refused without
    // blocking). Write: created or emptied. False with errno in error().
    bool open(const std::string& path, Purpose purpose);
    // For writing, a file its caller created (empty, read and write).
    bool adopt_for_writing(platform::File file);
    // Writes what is buffered; for an archive written, flushes it to disk.
    bool finish();
    int error() const { return error_; }
    // Reads exactly n bytes at offset, outside minizip's position (which it
    // keeps). False at the end of the file or on a read failure.
    bool read_at(uint64_t offset, void* buf, size_t n);
    uint64_t size() const { return size_; }

    // The callbacks for zipOpen2_64 / unzOpen2_64, bound to this stream.
    zlib_filefunc64_def functions();

  private:
    static voidpf cb_open(voidpf opaque, const void* filename, int mode);
    static uLong cb_read(voidpf opaque, voidpf stream, void* buf, uLong size);
    static uLong cb_write(voidpf opaque, voidpf stream, const void* buf, uLong size);
    static ZPOS64_T cb_tell(voidpf opaque, voidpf stream);
    static long cb_seek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
    static int cb_close(voidpf opaque, voidpf stream);
    static int cb_error(voidpf opaque, voidpf stream);

    size_t read(void* buf, size_t n);
    size_t write(const void* buf, size_t n);
    bool flush();
    void fail(int err);

    platform::File file_;
    Purpose purpose_ = Purpose::Read;
    std::vector<char> buf_;
    uint64_t buf_start_ = 0;  // file offset of buf_[0]
    size_t buf_len_ = 0;
    bool dirty_ = false;
    uint64_t pos_ = 0;   // minizip's position
    uint64_t size_ = 0;  // file length, including what is buffered
    int error_ = 0;
};

}  // namespace vardel
