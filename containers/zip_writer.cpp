#include "containers/zip_writer.h"

#include <minizip/zip.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <future>
#include <vector>

#include "common/text_helpers.h"
#include "platform/file_info.h"

namespace vardel {

namespace {

constexpr size_t kPiece = 1u << 20;
constexpr int kLevel = 6;  // zlib's default, as `zip -6`
// Entries this large get ZIP64 size fields from the start: with deflate's
// framing a file just under 4 GB may not fit the 32-bit fields.
constexpr uint64_t kZip64From = 0xFF000000ull;
// "Made by Unix, 3.0", so tools read the high half of the external
// attributes as the file's mode.
constexpr uLong kMadeByUnix = (3u << 8) | 30;
constexpr uLong kUtf8NameFlag = 1u << 11;

zipFile handle(void* p) {
    return static_cast<zipFile>(p);
}

// MS-DOS date and time in local time; the format cannot hold years before
// 1980 or after 2107.
uLong dos_date(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) return (1u << 21) | (1u << 16);  // 1980-01-01
    if (tm.tm_year > 207)
        return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    return (static_cast<uLong>(tm.tm_year - 80) << 25) | (static_cast<uLong>(tm.tm_mon + 1) << 21) |
           (static_cast<uLong>(tm.tm_mday) << 16) | (static_cast<uLong>(tm.tm_hour) << 11) |
           (static_cast<uLong>(tm.tm_min) << 5) | (static_cast<uLong>(tm.tm_sec) / 2);
}

bool valid_utf8_non_ascii(std::string_view s) {
    bool non_ascii = false;
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        if (len > 1) non_ascii = true;
        i += len;
    }
    return non_ascii;
}

}  // namespace

// What goes into an entry's header besides its name.
struct ZipWriter::EntryFacts {
    int64_t mtime = 0;
    mode_t mode = 0;
    uint32_t dos_attributes = 0;
    uint64_t size = 0;
    bool stored = false;
};

struct ZipWriter::DeflatePiece {
    std::unique_ptr<unsigned char[]> plain;  // as the hook delivered it
    size_t length = 0;
    std::vector<unsigned char> dictionary;  // the 32 KiB before, if any
    bool last = false;
    bool deflate = true;
    bool ok = true;
    uLong crc = 0;
    std::vector<unsigned char> packed;
};

std::unique_ptr<ZipWriter> ZipWriter::create(const std::string& path) {
    platform::File file;
    if (!file.open(path, platform::OpenMode::CreateReplace, 0644)) return nullptr;
    return create(std::move(file), path);
}

std::unique_ptr<ZipWriter> ZipWriter::create(platform::File file, const std::string& path) {
    std::unique_ptr<ZipWriter> w(new ZipWriter());
    if (!w->stream_.adopt_for_writing(std::move(file))) return nullptr;
    zlib_filefunc64_def io = w->stream_.functions();
    w->zip_ = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &io);
    if (!w->zip_) return nullptr;
    return w;
}

ZipWriter::~ZipWriter() {
    if (zip_) close();
}

std::string ZipWriter::too_large_text(std::string_view path) {
    return strprintf("File '%.*s' is too large for zip file (4GB max)",
                     static_cast<int>(path.size()), path.data());
}

std::string ZipWriter::entry_name(std::string_view path) {
    size_t start = path.find_first_not_of('/');
    return start == std::string_view::npos ? std::string() : std::string(path.substr(start));
}

bool ZipWriter::stored_by_name(std::string_view name) {
    static constexpr std::string_view kStored[] = {".Z",   ".zip", ".zoo", ".arc",
                                                   ".lzh", ".arj", ".gz",  ".tgz"};
    if (!name.empty() && name.back() == '/') return true;
    for (std::string_view ext : kStored) {
        if (name.size() >= ext.size() && iequals(name.substr(name.size() - ext.size()), ext))
            return true;
    }
    return false;
}

ZipResult ZipWriter::from_minizip(int err) {
    switch (err) {
        case ZIP_OK:
            return ZR_OK;
        case ZIP_ERRNO:
            broken_ = true;
            return ZR_WRITE;
        case ZIP_PARAMERROR:
            return ZR_ARGS;
        case Z_MEM_ERROR:
            return ZR_NOALLOC;
        case ZIP_BADZIPFILE:
        case ZIP_INTERNALERROR:
        default:
            // The archive's state is unknown after an internal failure.
            broken_ = true;
            return ZR_FLATE;
    }
}

ZipResult ZipWriter::add_file(std::string_view entry, const std::string& source_path,
                              ZipReadHook& hook) {
    if (!zip_) return finish(ZR_ENDED);
    if (broken_) return finish(ZR_FAILED);
    std::string name = entry_name(entry);
    if (name.empty() || name.back() == '/') return finish(ZR_ARGS);

    // Refused before anything opens it: too large, or not a regular file
    // (a FIFO or device would block the backup thread).
    platform::FileInfo before;
    if (!platform::stat_path(source_path, before)) return finish(ZR_NOFILE);
    if (before.kind == platform::FileInfo::Kind::Other || before.is_directory())
        return finish(ZR_NOFILE);
    if (before.is_regular() && !fits(before.size)) return finish(ZR_ARGS);

    platform::File source;
    if (!source.open(source_path, platform::OpenMode::Read)) return finish(ZR_NOFILE);
    platform::FileInfo fi;
    if (!platform::stat_descriptor(source.fd(), source_path, fi) || !fi.is_regular())
        return finish(ZR_NOFILE);
    if (!fits(fi.size)) return finish(ZR_ARGS);

    return finish(add_entry(name, file_facts(name, fi), &source, &hook));
}

ZipWriter::EntryFacts ZipWriter::file_facts(const std::string& name, const platform::FileInfo& fi) {
    EntryFacts facts;
    facts.mtime = fi.mtime_sec;
    facts.mode = fi.mode;
    facts.dos_attributes = fi.attributes & (platform::kAttrReadOnly | platform::kAttrHidden);
    facts.size = fi.size;
    facts.stored = stored_by_name(name);
    return facts;
}

void ZipWriter::prepare_entry(std::string_view entry, const unsigned char* data, size_t length,
                              ZipPreparedEntry& out) {
    // The one piece add_file() would make of it, so the entry is the same
    // byte for byte.
    DeflatePiece p;
    p.plain.reset(new unsigned char[std::max<size_t>(length, 1)]);
    std::copy(data, data + length, p.plain.get());
    p.length = length;
    p.last = true;
    p.deflate = !stored_by_name(entry_name(entry));
    make_piece(p);
    out.ok = p.ok;
    out.crc = static_cast<uint32_t>(p.crc);
    out.length = length;
    if (p.deflate)
        out.packed = std::move(p.packed);
    else
        out.packed.assign(data, data + length);
}

ZipResult ZipWriter::add_prepared(std::string_view entry, const ZipPreparedEntry& prepared) {
    if (!zip_) return finish(ZR_ENDED);
    if (broken_) return finish(ZR_FAILED);
    std::string name = entry_name(entry);
    if (name.empty() || name.back() == '/' || !prepared.ok ||
        prepared.length != prepared.info.size || prepared.length > kPiece)
        return finish(ZR_ARGS);
    if (ZipResult r = open_entry(name, file_facts(name, prepared.info)); r != ZR_OK)
        return finish(r);
    ZipResult result = ZR_OK;
    if (!prepared.packed.empty() &&
        zipWriteInFileInZip(handle(zip_), prepared.packed.data(),
                            static_cast<unsigned>(prepared.packed.size())) != ZIP_OK) {
        broken_ = true;
        result = ZR_WRITE;
    }
    int err = zipCloseFileInZipRaw64(handle(zip_), prepared.length, prepared.crc);
    if (err != ZIP_OK && result == ZR_OK) result = from_minizip(err);
    return finish(result);
}

ZipResult ZipWriter::add_folder(const std::string& path) {
    if (!zip_) return finish(ZR_ENDED);
    if (broken_) return finish(ZR_FAILED);
    std::string name = entry_name(path);
    if (name.empty()) return finish(ZR_ARGS);
    if (name.back() != '/') name += '/';

    EntryFacts facts;
    platform::FileInfo fi;
    if (platform::stat_path(path, fi) && fi.is_directory()) {
        facts.mtime = fi.mtime_sec;
        facts.mode = fi.mode;
    } else {
        facts.mtime = std::time(nullptr);
        facts.mode = S_IFDIR | 0755;
    }
    facts.dos_attributes = platform::kAttrDirectory;
    facts.stored = true;
    return finish(add_entry(name, facts, nullptr, nullptr));
}

// On any thread: a piece and nothing else.
void ZipWriter::make_piece(DeflatePiece& p) {
    p.crc = crc32(0L, p.plain.get(), static_cast<uInt>(p.length));
    if (!p.deflate) return;
    struct Stream {
        z_stream z{};
        bool ready = false;
        ~Stream() {
            if (ready) deflateEnd(&z);
        }
    };
    thread_local Stream s;
    if (!s.ready) {
        if (deflateInit2(&s.z, kLevel, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY) !=
            Z_OK) {
            p.ok = false;
            return;
        }
        s.ready = true;
    } else if (deflateReset(&s.z) != Z_OK) {
        p.ok = false;
        return;
    }
    if (!p.dictionary.empty() &&
        deflateSetDictionary(&s.z, p.dictionary.data(), static_cast<uInt>(p.dictionary.size())) !=
            Z_OK) {
        p.ok = false;
        return;
    }
    // A piece that is not the last ends on a byte boundary (an empty
    // stored block), so the next piece's bytes simply follow.
    p.packed.resize(deflateBound(&s.z, static_cast<uLong>(p.length)) + 16);
    s.z.next_in = p.plain.get();
    s.z.avail_in = static_cast<uInt>(p.length);
    s.z.next_out = p.packed.data();
    s.z.avail_out = static_cast<uInt>(p.packed.size());
    int rc = deflate(&s.z, p.last ? Z_FINISH : Z_SYNC_FLUSH);
    // A sync flush is whole only when it left room to spare.
    if (rc != (p.last ? Z_STREAM_END : Z_OK) || s.z.avail_in != 0 || s.z.avail_out == 0) {
        p.ok = false;
        return;
    }
    p.packed.resize(p.packed.size() - s.z.avail_out);
}

ZipResult ZipWriter::open_entry(const std::string& name, const EntryFacts& facts) {
    zip_fileinfo zi{};
    zi.dosDate = dos_date(facts.mtime);
    zi.external_fa = (static_cast<uLong>(facts.mode & 0xFFFF) << 16) | facts.dos_attributes;

    // Extended timestamp: the exact UTC modification time, where it fits.
    unsigned char ut[9];
    uInt ut_len = 0;
    if (facts.mtime >= INT32_MIN && facts.mtime <= INT32_MAX) {
        auto t = static_cast<uint32_t>(static_cast<int32_t>(facts.mtime));
        unsigned char v[9] = {0x55,
                              0x54,
                              5,
                              0,
                              1,
                              static_cast<unsigned char>(t),
                              static_cast<unsigned char>(t >> 8),
                              static_cast<unsigned char>(t >> 16),
                              static_cast<unsigned char>(t >> 24)};
        std::copy(v, v + 9, ut);
        ut_len = 9;
    }

    int method = facts.stored ? 0 : Z_DEFLATED;
    int level = facts.stored ? 0 : kLevel;
    uLong flags = valid_utf8_non_ascii(name) ? kUtf8NameFlag : 0;
    const int zip64 = facts.size >= kZip64From ? 1 : 0;
    // raw = 1: the deflating and the check value are ours, so a file that
    // could not be read in full can be marked as such.
    const int err = zipOpenNewFileInZip4_64(handle(zip_), name.c_str(), &zi, ut_len ? ut : nullptr,
                                            ut_len, ut_len ? ut : nullptr, ut_len, nullptr, method,
                                            level, 1, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                            nullptr, 0, kMadeByUnix, flags, zip64);
    return from_minizip(err);
}

ZipResult ZipWriter::add_entry(const std::string& name, const EntryFacts& facts,
                               platform::File* source, ZipReadHook* hook) {
    const int zip64 = facts.size >= kZip64From ? 1 : 0;
    if (ZipResult opened = open_entry(name, facts); opened != ZR_OK) return opened;
    int err = ZIP_OK;
    ZipResult result = ZR_OK;
    uint64_t total = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    if (source) {
        // Growing past what the header was made for would not fit it.
        const uint64_t cap = zip64 ? kMaxFileSize : kZip64From - 1;
        auto put = [&](const unsigned char* p, size_t n) {
            if (n > 0 && zipWriteInFileInZip(handle(zip_), p, static_cast<unsigned>(n)) != ZIP_OK) {
                broken_ = true;
                result = ZR_WRITE;
                return false;
            }
            return true;
        };
        platform::WorkPool& pool = pool_ ? *pool_ : inline_pool_;
        const size_t depth = 2 * std::max(1u, pool.threads());
        std::deque<std::future<DeflatePiece>> flight;
        bool deflate_open = false;  // pieces written, the stream not yet ended
        // Writes made pieces in order until at most `keep` are in flight.
        auto take = [&](size_t keep) {
            while (flight.size() > keep) {
                DeflatePiece p = flight.front().get();
                flight.pop_front();
                if (result != ZR_OK || !p.ok) {
                    free_blocks_.push_back(std::move(p.plain));
                    if (result == ZR_OK) result = ZR_FLATE;
                    continue;
                }
                crc = crc32_combine(crc, p.crc, static_cast<z_off_t>(p.length));
                total += p.length;
                deflate_open = !p.last;
                if (p.deflate)
                    put(p.packed.data(), p.packed.size());
                else
                    put(p.plain.get(), p.length);
                free_blocks_.push_back(std::move(p.plain));
            }
        };

        hook->start_file();
        bool read_all = false;
        std::vector<unsigned char> dictionary;
        uint64_t read_bytes = 0;
        DeflatePiece next;
        bool have_next = false;
        // Reads one piece through the hook; false on a failed read.
        auto read_piece = [&](DeflatePiece& p) {
            if (free_blocks_.empty()) {
                p.plain.reset(new unsigned char[kPiece]);
            } else {
                p.plain = std::move(free_blocks_.back());
                free_blocks_.pop_back();
            }
            p.length = 0;
            while (p.length < kPiece) {
                size_t n = 0;
                if (!hook->read(*source, p.plain.get() + p.length, kPiece - p.length, n))
                    return false;
                if (n == 0) break;
                p.length += n;
            }
            return true;
        };
        if (!read_piece(next)) {
            result = ZR_READ;
        } else {
            have_next = true;
        }
        while (have_next && result == ZR_OK) {
            DeflatePiece piece;
            std::swap(piece, next);
            have_next = false;
            bool last = piece.length < kPiece;
            if (!last) {
                if (!read_piece(next)) {
                    result = ZR_READ;
                    break;
                }
                last = next.length == 0;
                have_next = !last;
            }
            read_bytes += piece.length;
            if (read_bytes > cap) {
                result = ZR_MISSIZE;
                free_blocks_.push_back(std::move(piece.plain));
                break;
            }
            piece.last = last;
            piece.deflate = !facts.stored;
            piece.dictionary = dictionary;
            if (piece.deflate && !last) {
                size_t keep = std::min<size_t>(piece.length, 32768);
                dictionary.assign(piece.plain.get() + piece.length - keep,
                                  piece.plain.get() + piece.length);
            }
            flight.push_back(pool.submit([p = std::move(piece)]() mutable {
                make_piece(p);
                return std::move(p);
            }));
            take(last ? 0 : depth);
            if (last && result == ZR_OK) read_all = true;
        }
        take(0);
        if (next.plain) free_blocks_.push_back(std::move(next.plain));
        // Even a cut-short entry gets a complete deflate stream, so the
        // archive stays readable around it: the pieces so far end on a byte
        // boundary, and an empty final block ends the stream.
        if (!facts.stored && !broken_ && (deflate_open || total == 0) && !read_all) {
            static const unsigned char kEmptyFinalBlock[] = {0x03, 0x00};
            put(kEmptyFinalBlock, sizeof kEmptyFinalBlock);
        }
        if (!read_all) crc = ~crc;
    }
    err = zipCloseFileInZipRaw64(handle(zip_), total, crc);
    if (err != ZIP_OK && result == ZR_OK) result = from_minizip(err);
    return result;
}

ZipResult ZipWriter::close() {
    if (!zip_) return finish(ZR_ENDED);
    int err = zipClose(handle(zip_), nullptr);
    zip_ = nullptr;
    if (err != ZIP_OK || stream_.error() != 0) return finish(broken_ ? ZR_FAILED : ZR_WRITE);
    return finish(ZR_OK);
}

size_t ZipWriter::result_text(ZipResult code, char* buffer, size_t size) const {
    return zip_result_text(code == ZR_RECENT ? last_ : code, buffer, size);
}

}  // namespace vardel
