#include "containers/saf_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <future>

#include "common/my_error.h"
#include "common/text_helpers.h"
#include "containers/crc32.h"
#include "containers/lzw_bit_joiner.h"
#include "platform/file_info.h"

namespace vardel {

// ---- SafArchiveFile: the real file ----

bool SafArchiveFile::create(const std::string& path) {
    path_ = path;
    folder_error_ = 0;
    return file_.open(path, platform::OpenMode::CreateReplace);
}

bool SafArchiveFile::adopt(platform::File file, const std::string& path) {
    path_ = path;
    folder_error_ = 0;
    file_ = std::move(file);
    return file_.is_open();
}

bool SafArchiveFile::write_at(const void* data, size_t length, uint64_t offset) {
    return file_.pwrite_all(data, length, offset);
}

ssize_t SafArchiveFile::read_at(void* data, size_t length, uint64_t offset) {
    return file_.pread(data, length, offset);
}

bool SafArchiveFile::truncate(uint64_t length) {
    return file_.truncate(length);
}

bool SafArchiveFile::sync() {
    if (!file_.sync()) return false;
    // The archive is new in its folder: its name must reach the disk too.
    return platform::sync_parent_directory(path_, &folder_error_);
}

void SafArchiveFile::close() {
    file_.close();
}

int SafArchiveFile::error() const {
    return folder_error_ ? folder_error_ : file_.error();
}

// ---- SafWriter ----

namespace {

const char* const kWriteFailedText = "Write failed on SAF file";
// Appends are written once this much has gathered.
constexpr size_t kFlushAt = 1u << 20;
// ... and at the end of an entry once this much has.
constexpr size_t kFlushEntry = 64u << 10;

bool stored_by_name(const std::string& path) {
    std::string_view name = file_name_part(path);
    size_t dot = name.rfind('.');
    return dot != std::string_view::npos && iequals(name.substr(dot + 1), "zip");
}

// A name the reader would refuse is refused here, as the stat would.
int name_error(const std::string& path) {
    if (path.size() > saf::kMaxNameBytes) return ENAMETOOLONG;
    if (path.find('\0') != std::string::npos || path.empty()) return EINVAL;
    return 0;
}

}  // namespace

SafWriter::SafWriter(std::unique_ptr<SafArchiveFile> file)
    : file_(file ? std::move(file) : std::make_unique<SafArchiveFile>()),
      packed_(saf::kBlockSize),
      compare_(saf::kBlockSize) {}

SafWriter::~SafWriter() {
    if (open_) file_->close();
}

bool SafWriter::fail(int code, std::string text) {
    error_code_ = code;
    error_text_ = std::move(text);
    return false;
}

bool SafWriter::write_failed() {
    return fail(saf::kWriteFailed, kWriteFailedText);
}

bool SafWriter::write_at(const void* data, size_t length, uint64_t offset) {
    // A header still in the buffer is filled in there.
    if (offset >= out_start_ && offset + length <= out_start_ + out_.size()) {
        std::memcpy(out_.data() + (offset - out_start_), data, length);
        return true;
    }
    if (offset + length > out_start_ && !flush_output()) return false;
    return file_->write_at(data, length, offset);
}

bool SafWriter::append(const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + length);
    end_ += length;
    return out_.size() < kFlushAt || flush_output();
}

bool SafWriter::flush_output() {
    if (out_.empty()) return true;
    // On failure the bytes stay, so a cut-off entry can still be taken out
    // of them and the rest written again.
    if (!file_->write_at(out_.data(), out_.size(), out_start_)) return false;
    out_start_ += out_.size();
    out_.clear();
    return true;
}

void SafWriter::progress() {
    if (progress_) progress_();
}

bool SafWriter::write_file_header() {
    uint8_t bytes[saf::kFileHeaderSize];
    header_.encode(bytes);
    return write_at(bytes, sizeof bytes, 0);
}

bool SafWriter::write_data_header() {
    uint8_t bytes[saf::kDataHeaderSize];
    entry_.encode(bytes);
    return write_at(bytes, sizeof bytes, entry_position_);
}

void SafWriter::cut_off_entry() {
    // Should the cut fail, the bytes beyond end_ are overwritten by the next
    // entry or cut at close; nothing counts them.
    if (entry_position_ >= out_start_) {
        out_.resize(static_cast<size_t>(entry_position_ - out_start_));
    } else {
        out_.clear();
        out_start_ = entry_position_;
        file_->truncate(entry_position_);
    }
    end_ = entry_position_;
    if (entry_open_) --header_.entry_count;
    entry_open_ = false;
    entry_data_written_ = false;
}

bool SafWriter::create_archive(const std::string& path) {
    error_code_ = 0;
    error_text_.clear();
    if (open_) return fail(saf::kWriteFailed, kWriteFailedText);
    if (!file_->create(path)) return write_failed();
    return start_archive();
}

bool SafWriter::create_archive(platform::File file, const std::string& path) {
    error_code_ = 0;
    error_text_.clear();
    if (open_) return fail(saf::kWriteFailed, kWriteFailedText);
    if (!file_->adopt(std::move(file), path)) return write_failed();
    return start_archive();
}

bool SafWriter::start_archive() {
    header_ = SafFileHeader{};
    password_ = PasswordStream();
    open_ = true;
    trailer_written_ = false;
    entry_open_ = false;
    end_ = saf::kFileHeaderSize;
    out_.clear();
    out_start_ = saf::kFileHeaderSize;
    dirty_ = true;
    if (!write_file_header()) {
        file_->close();
        open_ = false;
        return write_failed();
    }
    return true;
}

bool SafWriter::set_encoding(SafEncoding mode, std::string_view password) {
    error_code_ = 0;
    if (!open_) return write_failed();
    if (mode == SafEncoding::PasswordStream && !password.empty()) {
        password_.set_key(password);
        header_.encoding = static_cast<uint16_t>(SafEncoding::PasswordStream);
        header_.check_value = PasswordStream::make_check_value(password);
    } else {
        password_ = PasswordStream();
        header_.encoding = static_cast<uint16_t>(SafEncoding::None);
        header_.check_value = 0;
    }
    dirty_ = true;
    // Written at once too, so that the header never disagrees with the data.
    if (!write_file_header()) return write_failed();
    return true;
}

bool SafWriter::append_entry_head(const std::string& path, const SafDataHeader& header) {
    std::vector<uint8_t> head(saf::kDataHeaderSize + path.size() + 1);
    header.encode(head.data());
    std::memcpy(head.data() + saf::kDataHeaderSize, path.c_str(), path.size() + 1);
    const uint64_t at = end_;
    if (!append(head.data(), head.size())) {
        out_.resize(static_cast<size_t>(at - out_start_));
        end_ = at;
        return write_failed();
    }
    return true;
}

// What opening a file entry and adding a folder entry both check first: an
// archive ready for a new entry, and a name and a stat of the source.
bool SafWriter::start_entry(const std::string& path, platform::FileInfo& info) {
    error_code_ = 0;
    error_text_.clear();
    if (!open_ || entry_open_ || trailer_written_) return write_failed();
    int err = name_error(path);
    if (err == 0 && !platform::stat_path(path, info, &err) && err == 0) err = EIO;
    if (err != 0)
        return fail(saf::kReadFailed,
                    strprintf("Can't stat file %s: %s\n", path.c_str(), system_error_text(err)));
    return true;
}

bool SafWriter::compresses(const std::string& path) {
    return !stored_by_name(path);
}

bool SafWriter::open_file_entry(const std::string& path) {
    platform::FileInfo info;
    if (!start_entry(path, info)) return false;
    return begin_file_entry(path, info);
}

bool SafWriter::open_file_entry(const std::string& path, const platform::FileInfo& known) {
    error_code_ = 0;
    error_text_.clear();
    if (!open_ || entry_open_ || trailer_written_) return write_failed();
    if (int err = name_error(path))
        return fail(saf::kReadFailed,
                    strprintf("Can't stat file %s: %s\n", path.c_str(), system_error_text(err)));
    return begin_file_entry(path, known);
}

bool SafWriter::begin_file_entry(const std::string& path, const platform::FileInfo& info) {
    entry_ = SafDataHeader{};
    entry_.number = header_.entry_count;
    entry_.attributes = info.attributes;
    entry_.name_length = static_cast<uint32_t>(path.size() + 1);
    entry_.flags = SafDataHeader::make_flags(
        saf::kTypeFile, stored_by_name(path) ? saf::kMethodStored : saf::kMethodCompressed);
    entry_name_ = path;
    entry_position_ = end_;
    if (!append_entry_head(path, entry_)) return false;
    ++header_.entry_count;
    entry_open_ = true;
    entry_data_written_ = false;
    return true;
}

struct SafWriter::Piece {
    std::unique_ptr<uint8_t[]> plain;  // as read, then encoded in place
    size_t length = 0;
    uint64_t offset = 0;  // in the file
    bool last = false;
    bool compressed = false;
    PasswordStream* key = nullptr;  // the writer's; only its key is read
    uint32_t plain_crc = 0;
    std::vector<uint8_t> packed;
    uint64_t bits = 0;
};

// On any thread: touches nothing but the piece, and the key read-only.
void SafWriter::make_piece(Piece& piece) {
    piece.plain_crc = crc32_update(0, piece.plain.get(), piece.length);
    if (piece.key) {
        PasswordStream stream = *piece.key;
        stream.seek(piece.offset);
        stream.encode(piece.plain.get(), static_cast<std::ptrdiff_t>(piece.length));
    }
    if (piece.compressed) {
        thread_local LzwEncoder encoder;
        piece.bits =
            encoder.compress_piece(piece.plain.get(), piece.length, piece.last, piece.packed);
    }
}

bool SafWriter::write_entry_data(platform::File& source) {
    error_code_ = 0;
    error_text_.clear();
    if (!entry_open_ || entry_data_written_) return write_failed();
    const bool compressed = entry_.method() == saf::kMethodCompressed;
    const bool encoded = header_.encoding == static_cast<uint16_t>(SafEncoding::PasswordStream);
    platform::WorkPool& pool = pool_ ? *pool_ : inline_pool_;
    // Pieces in flight: enough to keep every worker busy, few enough that
    // memory stays bounded whatever the file.
    const size_t depth = 2 * std::max(1u, pool.threads());
    uint64_t plain = 0, stored = 0, offset = 0;
    uint32_t plain_crc = 0, stored_crc = 0;
    LzwBitJoiner joiner;
    std::deque<std::future<Piece>> flight;

    auto read_piece = [&](Piece& p) {
        if (!free_blocks_.empty()) {
            p.plain = std::move(free_blocks_.back());
            free_blocks_.pop_back();
        } else {
            p.plain.reset(new uint8_t[kPieceSize]);
        }
        p.offset = offset;
        p.compressed = compressed;
        p.key = encoded ? &password_ : nullptr;
        p.length = 0;
        while (p.length < kPieceSize) {
            ssize_t n = source.read(p.plain.get() + p.length, kPieceSize - p.length);
            if (n < 0) return false;
            if (n == 0) break;
            p.length += static_cast<size_t>(n);
        }
        offset += p.length;
        return true;
    };
    // Appends a made piece to the entry, in file order.
    auto take = [&](Piece p) {
        const size_t before = out_.size();
        if (compressed) {
            joiner.append(p.packed.data(), p.bits, out_);
            if (p.last) joiner.finish(out_);
        } else {
            out_.insert(out_.end(), p.plain.get(), p.plain.get() + p.length);
        }
        const size_t added = out_.size() - before;
        if (compressed) stored_crc = crc32_update(stored_crc, out_.data() + before, added);
        end_ += added;
        stored += added;
        plain += p.length;
        plain_crc = static_cast<uint32_t>(
            crc32_combine(plain_crc, p.plain_crc, static_cast<z_off_t>(p.length)));
        free_blocks_.push_back(std::move(p.plain));
        if (out_.size() >= kFlushAt && !flush_output()) return false;
        for (size_t done = 0; done < p.length; done += saf::kBlockSize) progress();
        return true;
    };
    // Pieces read the writer's key: none may outlive this call.
    auto drop_flight = [&] {
        for (auto& f : flight) f.wait();
        flight.clear();
    };
    auto failed = [&](bool write) {
        drop_flight();
        cut_off_entry();
        if (write) return write_failed();
        return fail(saf::kAddFailed,
                    strprintf("Failed to add file (%s) to SAF file", entry_name_.c_str()));
    };

    try {
        progress();
        Piece next;
        if (!read_piece(next)) return failed(false);
        for (;;) {
            Piece piece;
            std::swap(piece, next);
            // A piece is the last when nothing follows it; a file that ends
            // on a piece's boundary is found so by reading on.
            piece.last = piece.length < kPieceSize;
            if (!piece.last) {
                if (!read_piece(next)) return failed(false);
                piece.last = next.length == 0;
            }
            const bool last = piece.last;
            flight.push_back(pool.submit([p = std::move(piece)]() mutable {
                make_piece(p);
                return std::move(p);
            }));
            while (!flight.empty() && (last || flight.size() >= depth)) {
                Piece made = flight.front().get();
                flight.pop_front();
                if (!take(std::move(made))) return failed(true);
            }
            if (last) break;
        }
        if (next.plain) free_blocks_.push_back(std::move(next.plain));
    } catch (...) {
        drop_flight();
        cut_off_entry();
        throw;
    }
    if (!compressed) stored_crc = plain_crc;

    platform::FileInfo info;
    int err = 0;
    if (!platform::stat_descriptor(source.fd(), entry_name_, info, &err)) {
        cut_off_entry();
        return fail(saf::kReadFailed, strprintf("Can't stat file: %s\n", system_error_text(err)));
    }
    return finish_entry_data(info, plain, plain_crc, stored, stored_crc);
}

bool SafWriter::finish_entry_data(const platform::FileInfo& info, uint64_t plain,
                                  uint32_t plain_crc, uint64_t stored, uint32_t stored_crc) {
    entry_.attributes = info.attributes;
    entry_.last_write = info.times.last_write;
    entry_.creation = info.times.creation;
    entry_.last_access = info.times.last_access;
    entry_.plain_length = plain;
    entry_.plain_crc = plain_crc;
    entry_.stored_length = stored;
    entry_.stored_crc = stored_crc;
    // A large entry goes to disk now, so a full disk is told for the file
    // that met it; small ones gather, and a late failure fails the archive.
    if (!write_data_header() || (out_.size() >= kFlushEntry && !flush_output())) {
        cut_off_entry();
        return write_failed();
    }
    entry_data_written_ = true;
    return true;
}

void SafWriter::prepare_entry(uint8_t* data, size_t length, bool compressed,
                              const PasswordStream* key, SafPreparedEntry& out) {
    out.compressed = compressed;
    out.encoded = key != nullptr;
    out.plain_length = length;
    out.plain_crc = crc32_update(0, data, length);
    if (key) {
        PasswordStream stream = *key;
        stream.restart();
        stream.encode(data, static_cast<std::ptrdiff_t>(length));
    }
    out.stored.clear();
    if (compressed) {
        thread_local LzwEncoder encoder;
        std::vector<uint8_t> piece;
        uint64_t bits = encoder.compress_piece(data, length, true, piece);
        LzwBitJoiner joiner;
        joiner.append(piece.data(), bits, out.stored);
        joiner.finish(out.stored);
        out.stored_crc = crc32_update(0, out.stored.data(), out.stored.size());
    } else {
        out.stored.assign(data, data + length);
        out.stored_crc = out.plain_crc;
    }
}

bool SafWriter::write_entry_data(platform::File& source, const SafPreparedEntry* prepared) {
    if (!prepared) return write_entry_data(source);
    platform::FileInfo now;
    const bool compressed = entry_.method() == saf::kMethodCompressed;
    const bool encoded = header_.encoding == static_cast<uint16_t>(SafEncoding::PasswordStream);
    if (!entry_open_ || entry_data_written_ || prepared->compressed != compressed ||
        prepared->encoded != encoded || prepared->plain_length != prepared->info.size ||
        !platform::stat_descriptor(source.fd(), entry_name_, now) ||
        !now.unchanged_since(prepared->info))
        return write_entry_data(source);
    error_code_ = 0;
    error_text_.clear();
    try {
        progress();
        for (uint64_t done = 0; done < prepared->plain_length; done += saf::kBlockSize) progress();
    } catch (...) {
        cut_off_entry();
        throw;
    }
    out_.insert(out_.end(), prepared->stored.begin(), prepared->stored.end());
    end_ += prepared->stored.size();
    if (out_.size() >= kFlushAt && !flush_output()) {
        cut_off_entry();
        return write_failed();
    }
    return finish_entry_data(now, prepared->plain_length, prepared->plain_crc,
                             prepared->stored.size(), prepared->stored_crc);
}

bool SafWriter::verify_entry(platform::File& source) {
    error_code_ = 0;
    error_text_.clear();
    const char* const kPositionText = "Error positioning file for verify";
    if (!entry_open_) {
        error_code_ = saf::kReadFailed;
        error_text_ = kPositionText;
        throw MyError(OPERATION_FAILED, kPositionText);
    }
    password_.restart();
    uint8_t bytes[saf::kDataHeaderSize];
    SafDataHeader h;
    bool read = flush_output() && file_->read_at(bytes, sizeof bytes, entry_position_) ==
                                      static_cast<ssize_t>(sizeof bytes);
    if (read) h.decode(bytes);
    if (!read || !h.magic_ok || h.number != entry_.number) {
        error_code_ = saf::kReadFailed;
        error_text_ = kPositionText;
        throw MyError(OPERATION_FAILED, kPositionText);
    }
    const bool compressed = h.method() == saf::kMethodCompressed;
    const bool encoded = header_.encoding == static_cast<uint16_t>(SafEncoding::PasswordStream);
    bool same = true;
    uint64_t compared = 0;
    // Compares the next `length` bytes of the entry's (encoded) data with
    // the source, encoded the same way.
    auto compare = [&](const uint8_t* data, size_t length) {
        while (same && length > 0) {
            size_t n = length < compare_.size() ? length : compare_.size();
            ssize_t got = source.read(compare_.data(), n);
            if (got != static_cast<ssize_t>(n)) {
                same = false;
                break;
            }
            if (encoded) password_.encode(compare_.data(), got);
            if (std::memcmp(compare_.data(), data, n) != 0) same = false;
            compared += n;
            data += n;
            length -= n;
        }
    };
    decoder_.reset();
    uint64_t at = entry_position_ + saf::kDataHeaderSize + h.name_length + h.extra_length;
    uint64_t remaining = h.stored_length;
    while (same && remaining > 0) {
        size_t n = remaining < saf::kBlockSize ? static_cast<size_t>(remaining) : saf::kBlockSize;
        if (file_->read_at(packed_.data(), n, at) != static_cast<ssize_t>(n)) {
            error_code_ = saf::kReadFailed;
            error_text_ = "Read failed on SAF file";
            throw MyError(OPERATION_FAILED, error_text_);
        }
        if (compressed)
            decoder_.decompress(packed_.data(), n, compare);
        else
            compare(packed_.data(), n);
        at += n;
        remaining -= n;
        progress();
    }
    if (!same) return false;
    if (compressed && h.stored_length > 0 && !decoder_.finished()) return false;
    // The whole file, and nothing more.
    uint8_t extra;
    return compared == h.plain_length && source.read(&extra, 1) == 0;
}

bool SafWriter::close_entry() {
    error_code_ = 0;
    if (!entry_open_) return true;
    entry_open_ = false;
    entry_data_written_ = false;
    dirty_ = true;
    return true;
}

bool SafWriter::drop_entry() {
    error_code_ = 0;
    if (!entry_open_) return true;
    cut_off_entry();
    return true;
}

bool SafWriter::add_directory_entry(const std::string& path) {
    platform::FileInfo info;
    if (!start_entry(path, info)) return false;
    SafDataHeader h;
    h.number = header_.entry_count;
    h.name_length = static_cast<uint32_t>(path.size() + 1);
    h.flags = SafDataHeader::make_flags(saf::kTypeDirectory, saf::kMethodStored);
    if (!append_entry_head(path, h)) return false;
    ++header_.entry_count;
    dirty_ = true;
    return true;
}

bool SafWriter::add_file(const std::string& path) {
    error_code_ = 0;
    error_text_.clear();
    platform::File source;
    if (!source.open(path, platform::OpenMode::Read))
        return fail(saf::kReadFailed, strprintf("Can't open file %s: %s\n", path.c_str(),
                                                system_error_text(source.error())));
    if (!open_file_entry(path)) return false;
    if (!write_entry_data(source)) return false;
    entry_.checksum = entry_.compute_checksum();
    if (!write_data_header()) {
        cut_off_entry();
        return write_failed();
    }
    return close_entry();
}

bool SafWriter::close_archive() {
    error_code_ = 0;
    error_text_.clear();
    if (!open_) return write_failed();
    if (entry_open_) cut_off_entry();
    bool ok = true;
    if (dirty_ && !trailer_written_) {
        SafDataHeader t;
        t.number = header_.entry_count;
        t.flags = SafDataHeader::make_flags(saf::kTypeTrailer, saf::kMethodStored);
        t.checksum = t.compute_checksum();
        uint8_t bytes[saf::kDataHeaderSize];
        t.encode(bytes);
        const uint64_t at = end_;
        ok = append(bytes, sizeof bytes);
        if (ok) {
            header_.trailer_offset = at;
            ++header_.entry_count;
            header_.archive_length = end_;
            trailer_written_ = true;
        }
    }
    // A backup recorded as done must survive a power cut.
    ok = ok && flush_output() && write_file_header() && file_->truncate(end_) && file_->sync();
    file_->close();
    open_ = false;
    dirty_ = false;
    return ok ? true : write_failed();
}

}  // namespace vardel
