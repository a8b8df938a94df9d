#include "containers/zip_reader.h"

#include <minizip/unzip.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <random>

#include "common/text_helpers.h"
#include "platform/atomic_file.h"
#include "platform/file.h"
#include "platform/file_info.h"

namespace vardel {

namespace fs = std::filesystem;

namespace {

constexpr size_t kBlock = 256 * 1024;
constexpr uint32_t kHostUnix = 3;
constexpr uint32_t kHostMac = 19;  // macOS tools store Unix modes too

unzFile handle(void* p) {
    return static_cast<unzFile>(p);
}

uint32_t le16(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}
uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const unsigned char* p) {
    return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}

// The modification time from the extra fields, when one of them has it:
// NTFS times (exact) before the Unix extended timestamp (seconds).
bool time_from_extra(const unsigned char* p, size_t len, uint64_t& filetime) {
    bool have_ut = false;
    uint64_t ut = 0;
    while (len >= 4) {
        uint32_t id = le16(p), size = le16(p + 2);
        if (size > len - 4) break;
        const unsigned char* d = p + 4;
        if (id == 0x000a && size >= 32) {
            // reserved(4), then tags; tag 1 of 24 bytes holds mtime, atime, ctime
            const unsigned char* t = d + 4;
            size_t left = size - 4;
            while (left >= 4) {
                uint32_t tag = le16(t), tsize = le16(t + 2);
                if (tsize > left - 4) break;
                if (tag == 1 && tsize >= 24) {
                    filetime = le64(t + 4);
                    return true;
                }
                t += 4 + tsize;
                left -= 4 + tsize;
            }
        } else if (id == 0x5455 && size >= 5 && (d[0] & 1)) {
            auto seconds = static_cast<int32_t>(le32(d + 1));
            ut = platform::filetime_from_unix(seconds, 0);
            have_ut = true;
        }
        p += 4 + size;
        len -= 4 + size;
    }
    if (have_ut) filetime = ut;
    return have_ut;
}

uint64_t time_from_dos(uLong dos) {
    uint32_t date = static_cast<uint32_t>(dos >> 16), time = static_cast<uint32_t>(dos & 0xFFFF);
    struct tm tm {};
    tm.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>(date & 0x1F);
    tm.tm_hour = static_cast<int>(time >> 11);
    tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>(time & 0x1F) * 2;
    tm.tm_isdst = -1;
    time_t t = mktime(&tm);
    return t == static_cast<time_t>(-1) ? 0 : platform::filetime_from_unix(t, 0);
}

uint32_t attributes_of(const ZipEntryInfo& e, uint32_t dos) {
    uint32_t a = dos & (platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem |
                        platform::kAttrDirectory);
    if (e.unix_mode) {
        if (S_ISDIR(e.unix_mode))
            a |= platform::kAttrDirectory;
        else if ((e.unix_mode & S_IFMT) && !S_ISREG(e.unix_mode))
            a |= platform::kAttrSystem;
        if (!(e.unix_mode & S_IWUSR)) a |= platform::kAttrReadOnly;
    }
    if (!e.name.empty() && e.name.back() == '/') a |= platform::kAttrDirectory;
    std::string_view base = e.name;
    while (!base.empty() && base.back() == '/') base.remove_suffix(1);
    base = file_name_part(base);
    if (!base.empty() && base[0] == '.' && base != "." && base != "..") a |= platform::kAttrHidden;
    return a ? a : platform::kAttrNormal;
}

}  // namespace

// Where the decompressed data goes: checked, changed by the hook, written.
struct ZipReader::Sink {
    platform::File file;
    const BlockHook* hook = nullptr;
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t total = 0;
    uint64_t limit = 0;  // the entry's size: a stream that goes on is corrupt

    ZipResult put(char* p, size_t n) {
        if (n > limit - total) return ZR_CORRUPT;
        total += n;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(p), static_cast<uInt>(n));
        if (*hook) (*hook)(p, n);
        return file.write_all(p, n) ? ZR_OK : ZR_WRITE;
    }
};

std::unique_ptr<ZipReader> ZipReader::open(const std::string& path, ZipResult* result) {
    ZipResult ignored;
    ZipResult& res = result ? *result : ignored;
    std::unique_ptr<ZipReader> r(new ZipReader());
    if (!r->stream_.open(path, ZipFileStream::Purpose::Read)) {
        res = ZR_NOFILE;
        return nullptr;
    }
    zlib_filefunc64_def io = r->stream_.functions();
    r->unz_ = unzOpen2_64(path.c_str(), &io);
    if (!r->unz_) {
        // minizip does not find an end record at the very start of the file,
        // so it refuses an archive with nothing in it.
        unsigned char end[22];
        if (r->stream_.error() == 0 && r->stream_.open(path, ZipFileStream::Purpose::Read) &&
            r->stream_.read_at(0, end, sizeof end) && le32(end) == 0x06054b50 &&
            le16(end + 8) == 0 && le16(end + 10) == 0 && r->stream_.size() == 22 + le16(end + 20)) {
            res = ZR_OK;
            return r;
        }
        res = r->stream_.error() ? ZR_READ : ZR_CORRUPT;
        return nullptr;
    }
    res = r->load_directory();
    if (res != ZR_OK) return nullptr;
    return r;
}

ZipReader::~ZipReader() {
    if (unz_) unzClose(handle(unz_));
}

ZipResult ZipReader::load_directory() {
    unz_global_info64 gi;
    if (unzGetGlobalInfo64(handle(unz_), &gi) != UNZ_OK) return ZR_CORRUPT;
    if (gi.number_entry == 0) return ZR_OK;
    std::vector<char> name(65536 + 1), raw_name(65536);
    std::vector<unsigned char> extra(65536);
    int rc = unzGoToFirstFile(handle(unz_));
    while (rc == UNZ_OK) {
        unz_file_info64 info;
        rc = unzGetCurrentFileInfo64(handle(unz_), &info, name.data(), name.size() - 1,
                                     extra.data(), extra.size(), nullptr, 0);
        if (rc != UNZ_OK) break;
        unz64_file_pos pos;
        if (unzGetFilePos64(handle(unz_), &pos) != UNZ_OK) {
            rc = UNZ_BADZIPFILE;
            break;
        }
        ZipEntryInfo e;
        size_t name_len = std::min<size_t>(info.size_filename, name.size() - 1);
        e.name.assign(name.data(), name_len);
        if (size_t nul = e.name.find('\0'); nul != std::string::npos) e.name.resize(nul);
        uint32_t host = static_cast<uint32_t>(info.version >> 8);
        if (host == kHostUnix || host == kHostMac)
            e.unix_mode = static_cast<uint32_t>(info.external_fa >> 16);
        e.attributes = attributes_of(e, static_cast<uint32_t>(info.external_fa & 0xFF));
        size_t extra_len = std::min<size_t>(info.size_file_extra, extra.size());
        if (!time_from_extra(extra.data(), extra_len, e.last_write))
            e.last_write = time_from_dos(info.dosDate);
        e.size = info.uncompressed_size;
        e.compressed_size = info.compressed_size;
        e.method = static_cast<uint32_t>(info.compression_method);
        e.crc = static_cast<uint32_t>(info.crc);
        e.encrypted = (info.flag & 1) != 0;
        Position p{pos.pos_in_zip_directory, pos.num_of_file, 0, false};

        // The central header as it stands in the file (minizip's places are
        // file offsets unless the archive has a prefix, which the check
        // of signature and name rules out): its 32-bit fields say which
        // values the ZIP64 field holds, in the order size, compressed size,
        // local header offset.
        unsigned char h[46];
        if (stream_.read_at(p.central_offset, h, sizeof h) && le32(h) == 0x02014b50 &&
            le16(h + 28) == info.size_filename &&
            stream_.read_at(p.central_offset + 46, raw_name.data(), info.size_filename) &&
            std::equal(raw_name.begin(), raw_name.begin() + info.size_filename, name.begin())) {
            const unsigned char* z = extra.data();
            size_t left = extra_len, zlen = 0;
            const unsigned char* zdata = nullptr;
            while (left >= 4) {
                uint32_t id = le16(z), size = le16(z + 2);
                if (size > left - 4) break;
                if (id == 0x0001) {
                    zdata = z + 4;
                    zlen = size;
                    break;
                }
                z += 4 + size;
                left -= 4 + size;
            }
            size_t at = 0;
            auto take = [&](uint32_t field, uint64_t& value) {
                if (field != 0xFFFFFFFFu) return false;
                if (zdata && at + 8 <= zlen) value = le64(zdata + at);
                at += 8;
                return zdata && at <= zlen;
            };
            take(le32(h + 24), e.size);
            take(le32(h + 20), e.compressed_size);
            if (take(le32(h + 42), p.local_offset)) p.beyond_minizip = true;
        }
        entries_.push_back(std::move(e));
        positions_.push_back(p);
        rc = unzGoToNextFile(handle(unz_));
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE) return stream_.error() ? ZR_READ : ZR_CORRUPT;
    return ZR_OK;
}

const ZipEntryInfo* ZipReader::entry(size_t index) const {
    return index < entries_.size() ? &entries_[index] : nullptr;
}

ZipResult ZipReader::copy_through_minizip(size_t index, Sink& sink) {
    auto from_minizip = [this](int rc) -> ZipResult {
        switch (rc) {
            // A short read without an I/O error is an archive cut short.
            case UNZ_ERRNO:
                return stream_.error() ? ZR_READ : ZR_CORRUPT;
            case UNZ_PARAMERROR:
                return ZR_ARGS;
            case UNZ_INTERNALERROR:
            case Z_MEM_ERROR:
                return ZR_NOALLOC;
            default:
                return ZR_CORRUPT;
        }
    };
    unz64_file_pos pos{positions_[index].central_offset, positions_[index].entry_number};
    if (unzGoToFilePos64(handle(unz_), &pos) != UNZ_OK) return ZR_CORRUPT;
    int rc = unzOpenCurrentFile(handle(unz_));
    if (rc != UNZ_OK) return from_minizip(rc);
    std::vector<char> buf(kBlock);
    ZipResult result = ZR_OK;
    for (;;) {
        int n = unzReadCurrentFile(handle(unz_), buf.data(), static_cast<unsigned>(buf.size()));
        if (n < 0) {
            result = from_minizip(n);
            break;
        }
        if (n == 0) break;
        if ((result = sink.put(buf.data(), static_cast<size_t>(n))) != ZR_OK) break;
    }
    rc = unzCloseCurrentFile(handle(unz_));
    if (result == ZR_OK && rc != UNZ_OK)
        result = rc == UNZ_CRCERROR ? ZR_CORRUPT : from_minizip(rc);
    return result;
}

ZipResult ZipReader::copy_from_local_header(size_t index, Sink& sink) {
    const ZipEntryInfo& e = entries_[index];
    uint64_t at = positions_[index].local_offset;
    unsigned char h[30];
    if (!stream_.read_at(at, h, sizeof h)) return stream_.error() ? ZR_READ : ZR_CORRUPT;
    if (le32(h) != 0x04034b50) return ZR_CORRUPT;
    uint64_t data = at + 30 + le16(h + 26) + le16(h + 28);
    if (e.method != 0 && e.method != Z_DEFLATED) return ZR_CORRUPT;

    std::vector<char> in(kBlock), out(kBlock);
    uint64_t left = e.compressed_size;
    auto fill = [&](size_t& got) {
        got = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
        if (!stream_.read_at(data, in.data(), got)) return false;
        data += got;
        left -= got;
        return true;
    };
    size_t got = 0;
    if (e.method == 0) {
        while (left > 0) {
            if (!fill(got)) return stream_.error() ? ZR_READ : ZR_CORRUPT;
            if (ZipResult r = sink.put(in.data(), got); r != ZR_OK) return r;
        }
        return ZR_OK;
    }
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return ZR_NOALLOC;
    ZipResult result = ZR_OK;
    int rc = Z_OK;
    while (result == ZR_OK && rc != Z_STREAM_END) {
        if (z.avail_in == 0) {
            if (left == 0 || !fill(got)) {
                result = stream_.error() ? ZR_READ : ZR_CORRUPT;
                break;
            }
            z.next_in = reinterpret_cast<Bytef*>(in.data());
            z.avail_in = static_cast<uInt>(got);
        }
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            result = rc == Z_MEM_ERROR ? ZR_NOALLOC : ZR_CORRUPT;
            break;
        }
        result = sink.put(out.data(), out.size() - z.avail_out);
    }
    inflateEnd(&z);
    return result;
}

ZipResult ZipReader::extract(size_t index, const std::string& target, const BlockHook& hook) {
    if (index >= entries_.size() || target.empty()) return finish(ZR_ARGS);
    const ZipEntryInfo& e = entries_[index];

    if (e.attributes & platform::kAttrDirectory) {
        std::error_code ec;
        fs::create_directory(target, ec);
        if (ec && !fs::is_directory(target)) return finish(ZR_NOFILE);
        platform::set_file_times(target, e.last_write, e.last_write);
        return finish(ZR_OK);
    }
    // The suite never writes encrypted entries: such an archive is not ours.
    if (e.encrypted) return finish(ZR_CORRUPT);

    Sink sink;
    std::string temp;
    if (!platform::create_temp_beside(target, sink.file, temp, "extract", 0666))
        return finish(ZR_NOFILE);
    // The temporary file goes on every way out, an exception from the hook included.
    struct Remove {
        std::string& path;
        ~Remove() {
            if (!path.empty()) {
                std::error_code ec;
                fs::remove(path, ec);
            }
        }
    } remove{temp};

    ZipResult r = copy_data(index, sink, hook);
    if (r != ZR_OK) return finish(r);

    platform::set_descriptor_times(sink.file.fd(), e.last_write, e.last_write);
    sink.file.close();
    std::error_code ec;
    if (e.unix_mode & 0777) fs::permissions(temp, static_cast<fs::perms>(e.unix_mode & 0777), ec);
    fs::rename(temp, target, ec);
    if (ec) return finish(ZR_NOFILE);
    temp.clear();
    return finish(ZR_OK);
}

ZipResult ZipReader::copy_data(size_t index, Sink& sink, const BlockHook& hook) {
    const ZipEntryInfo& e = entries_[index];
    sink.hook = &hook;
    sink.limit = e.size;
    ZipResult r = positions_[index].beyond_minizip ? copy_from_local_header(index, sink)
                                                   : copy_through_minizip(index, sink);
    if (r != ZR_OK) return r;
    if (sink.total != e.size || sink.crc != e.crc) return ZR_CORRUPT;
    return ZR_OK;
}

ZipResult ZipReader::extract_data(size_t index, platform::File& out, const BlockHook& hook) {
    if (index >= entries_.size() || !out.is_open()) return finish(ZR_ARGS);
    const ZipEntryInfo& e = entries_[index];
    if ((e.attributes & platform::kAttrDirectory) || e.encrypted) return finish(ZR_CORRUPT);
    Sink sink;
    sink.file = std::move(out);
    ZipResult r = copy_data(index, sink, hook);
    out = std::move(sink.file);
    return finish(r);
}

size_t ZipReader::result_text(ZipResult code, char* buffer, size_t size) const {
    return zip_result_text(code == ZR_RECENT ? last_ : code, buffer, size);
}

}  // namespace vardel
