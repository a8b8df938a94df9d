#include "containers/saf_writer.h"

#include <cerrno>
#include <cstring>

#include "common/my_error.h"
#include "common/text_helpers.h"
#include "containers/crc32.h"
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
      block_(saf::kBlockSize),
      packed_(LzwEncoder::max_output(saf::kBlockSize) + LzwEncoder::kMaxFinishBytes),
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
    return file_->write_at(data, length, offset);
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
    file_->truncate(entry_position_);
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
    if (!write_at(head.data(), head.size(), end_)) {
        file_->truncate(end_);
        return write_failed();
    }
    end_ += head.size();
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

bool SafWriter::open_file_entry(const std::string& path) {
    platform::FileInfo info;
    if (!start_entry(path, info)) return false;
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

bool SafWriter::write_entry_data(platform::File& source) {
    error_code_ = 0;
    error_text_.clear();
    if (!entry_open_ || entry_data_written_) return write_failed();
    const bool compressed = entry_.method() == saf::kMethodCompressed;
    const bool encoded = header_.encoding == static_cast<uint16_t>(SafEncoding::PasswordStream);
    encoder_.reset();
    password_.restart();
    uint64_t plain = 0, stored = 0;
    uint32_t plain_crc = 0, stored_crc = 0;
    uint64_t at = entry_position_ + saf::kDataHeaderSize + entry_.name_length;
    try {
        progress();
        for (;;) {
            ssize_t n = source.read(block_.data(), block_.size());
            if (n < 0) {
                cut_off_entry();
                return fail(saf::kAddFailed,
                            strprintf("Failed to add file (%s) to SAF file", entry_name_.c_str()));
            }
            const uint8_t* out = block_.data();
            size_t out_length = static_cast<size_t>(n);
            if (n == 0) {
                if (!compressed) break;
                out = packed_.data();
                out_length = encoder_.finish(packed_.data());
            } else {
                plain += static_cast<uint64_t>(n);
                plain_crc = crc32_update(plain_crc, block_.data(), static_cast<size_t>(n));
                if (encoded) password_.encode(block_.data(), n);
                if (compressed) {
                    out = packed_.data();
                    out_length =
                        encoder_.compress(block_.data(), static_cast<size_t>(n), packed_.data());
                }
            }
            if (compressed) stored_crc = crc32_update(stored_crc, out, out_length);
            // A full disk shows here: the entry goes, the failure is reported.
            if (!write_at(out, out_length, at)) {
                cut_off_entry();
                return write_failed();
            }
            at += out_length;
            stored += out_length;
            if (n == 0) break;
            progress();
        }
    } catch (...) {
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
    entry_.attributes = info.attributes;
    entry_.last_write = info.times.last_write;
    entry_.creation = info.times.creation;
    entry_.last_access = info.times.last_access;
    entry_.plain_length = plain;
    entry_.plain_crc = plain_crc;
    entry_.stored_length = stored;
    entry_.stored_crc = stored_crc;
    if (!write_data_header()) {
        cut_off_entry();
        return write_failed();
    }
    end_ = at;
    entry_data_written_ = true;
    return true;
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
    bool read =
        file_->read_at(bytes, sizeof bytes, entry_position_) == static_cast<ssize_t>(sizeof bytes);
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
        ok = write_at(bytes, sizeof bytes, end_);
        if (ok) {
            header_.trailer_offset = end_;
            end_ += saf::kDataHeaderSize;
            ++header_.entry_count;
            header_.archive_length = end_;
            trailer_written_ = true;
        }
    }
    // A backup recorded as done must survive a power cut.
    ok = ok && write_file_header() && file_->truncate(end_) && file_->sync();
    file_->close();
    open_ = false;
    dirty_ = false;
    return ok ? true : write_failed();
}

}  // namespace vardel
