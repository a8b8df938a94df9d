#include "containers/zip_file_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_info.h"

namespace vardel {

namespace {
constexpr size_t kBufferSize = 256 * 1024;
}

bool ZipFileStream::open(const std::string& path, Purpose purpose) {
    purpose_ = purpose;
    buf_.assign(kBufferSize, 0);
    buf_start_ = buf_len_ = pos_ = size_ = 0;
    dirty_ = false;
    error_ = 0;
    if (purpose == Purpose::Read) {
        if (!file_.open(path, platform::OpenMode::Read)) {
            error_ = file_.error();
            return false;
        }
        platform::FileInfo fi;
        int err = 0;
        if (!platform::stat_descriptor(file_.fd(), path, fi, &err) || !fi.is_regular()) {
            error_ = err ? err : EINVAL;
            file_.close();
            return false;
        }
        size_ = fi.size;
    } else if (!file_.open(path, platform::OpenMode::CreateReplace, 0644)) {
        error_ = file_.error();
        return false;
    }
    return true;
}

bool ZipFileStream::adopt_for_writing(platform::File file) {
    purpose_ = Purpose::Write;
    buf_.assign(kBufferSize, 0);
    buf_start_ = buf_len_ = pos_ = size_ = 0;
    dirty_ = false;
    error_ = 0;
    file_ = std::move(file);
    return file_.is_open();
}

void ZipFileStream::fail(int err) {
    if (error_ == 0) error_ = err ? err : EIO;
}

bool ZipFileStream::flush() {
    if (dirty_ && buf_len_ > 0) {
        if (!file_.pwrite_all(buf_.data(), buf_len_, buf_start_)) {
            fail(file_.error());
            dirty_ = false;
            buf_len_ = 0;
            return false;
        }
    }
    dirty_ = false;
    buf_len_ = 0;
    return true;
}

size_t ZipFileStream::read(void* out, size_t n) {
    if (error_ || n == 0) return 0;
    if (dirty_ && !flush()) return 0;
    auto* dst = static_cast<char*>(out);
    size_t done = 0;
    while (done < n) {
        if (pos_ >= buf_start_ && pos_ < buf_start_ + buf_len_) {
            size_t off = static_cast<size_t>(pos_ - buf_start_);
            size_t take = std::min(n - done, buf_len_ - off);
            std::memcpy(dst + done, buf_.data() + off, take);
            done += take;
            pos_ += take;
            continue;
        }
        if (pos_ >= size_) break;
        if (n - done >= buf_.size()) {
            // Large reads (entry data) skip the buffer.
            ssize_t r = file_.pread(dst + done, n - done, pos_);
            if (r < 0) {
                fail(file_.error());
                break;
            }
            done += static_cast<size_t>(r);
            pos_ += static_cast<uint64_t>(r);
            if (r == 0) break;
            continue;
        }
        ssize_t r = file_.pread(buf_.data(), buf_.size(), pos_);
        if (r < 0) {
            fail(file_.error());
            break;
        }
        buf_start_ = pos_;
        buf_len_ = static_cast<size_t>(r);
        if (r == 0) break;
    }
    return done;
}

bool ZipFileStream::read_at(uint64_t offset, void* buf, size_t n) {
    uint64_t keep = pos_;
    pos_ = offset;
    size_t got = read(buf, n);
    pos_ = keep;
    return got == n;
}

size_t ZipFileStream::write(const void* in, size_t n) {
    if (error_ || n == 0) return 0;
    // A patch inside what the buffer holds (an entry's header filled in once
    // its data is written) stays in the buffer: no write of its own.
    if (dirty_ && pos_ >= buf_start_ && pos_ + n <= buf_start_ + buf_len_) {
        std::memcpy(buf_.data() + (pos_ - buf_start_), in, n);
        pos_ += n;
        return n;
    }
    bool appends = dirty_ && pos_ == buf_start_ + buf_len_ && buf_len_ + n <= buf_.size();
    if (!appends) {
        if (!flush()) return 0;
        if (n >= buf_.size()) {
            if (!file_.pwrite_all(in, n, pos_)) {
                fail(file_.error());
                return 0;
            }
            pos_ += n;
            size_ = std::max(size_, pos_);
            return n;
        }
        buf_start_ = pos_;
        buf_len_ = 0;
    }
    std::memcpy(buf_.data() + buf_len_, in, n);
    buf_len_ += n;
    dirty_ = true;
    pos_ += n;
    size_ = std::max(size_, pos_);
    return n;
}

bool ZipFileStream::finish() {
    if (!file_.is_open()) return error_ == 0;
    bool ok = flush();
    // A backup is only recorded as done once its archive is on the disk.
    if (ok && purpose_ == Purpose::Write && !file_.sync()) {
        fail(file_.error());
        ok = false;
    }
    file_.close();
    return ok && error_ == 0;
}

voidpf ZipFileStream::cb_open(voidpf opaque, const void*, int) {
    auto* self = static_cast<ZipFileStream*>(opaque);
    return self->file_.is_open() ? self : nullptr;
}

uLong ZipFileStream::cb_read(voidpf, voidpf stream, void* buf, uLong size) {
    return static_cast<ZipFileStream*>(stream)->read(buf, size);
}

uLong ZipFileStream::cb_write(voidpf, voidpf stream, const void* buf, uLong size) {
    return static_cast<ZipFileStream*>(stream)->write(buf, size);
}

ZPOS64_T ZipFileStream::cb_tell(voidpf, voidpf stream) {
    return static_cast<ZipFileStream*>(stream)->pos_;
}

long ZipFileStream::cb_seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* self = static_cast<ZipFileStream*>(stream);
    uint64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            base = 0;
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            base = self->pos_;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            base = self->size_;
            break;
        default:
            return -1;
    }
    // minizip passes negative moves as wrapped unsigned values.
    self->pos_ = base + offset;
    if (self->pos_ > (uint64_t{1} << 62)) return -1;
    return self->error_ ? -1 : 0;
}

int ZipFileStream::cb_close(voidpf, voidpf stream) {
    return static_cast<ZipFileStream*>(stream)->finish() ? 0 : -1;
}

int ZipFileStream::cb_error(voidpf, voidpf stream) {
    return static_cast<ZipFileStream*>(stream)->error_ != 0;
}

zlib_filefunc64_def ZipFileStream::functions() {
    zlib_filefunc64_def f{};
    f.zopen64_file = &cb_open;
    f.zread_file = &cb_read;
    f.zwrite_file = &cb_write;
    f.ztell64_file = &cb_tell;
    f.zseek64_file = &cb_seek;
    f.zclose_file = &cb_close;
    f.zerror_file = &cb_error;
    f.opaque = this;
    return f;
}

}  // namespace vardel
