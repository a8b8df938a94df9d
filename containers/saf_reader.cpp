#include "containers/saf_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/my_error.h"
#include "common/text_helpers.h"
#include "containers/crc32.h"
#include "platform/atomic_file.h"
#include "platform/file_info.h"

namespace vardel {

namespace {
const char* const kLoadText = "Can't load data headers from SAF file";
const char* const kReadText = "Read failed on SAF file";
const char* const kMagicText = "Bad MAGIC value in data header";
const char* const kPasswordText = "Invalid password for encrypted SAF file";
const char* const kOpenText = "Couldn't open SAF file";
const char* const kVersionText = "Unrecognized file version";
constexpr size_t kOutBuffer = 256 * 1024;

[[noreturn]] void bad_data() {
    throw MyError(BAD_DATA, "Bad data in decompression");
}
}  // namespace

SafReader::SafReader() : block_(saf::kBlockSize), out_(kOutBuffer) {}

SafReader::~SafReader() {
    close();
}

void SafReader::fail(int code, const char* text) {
    error_code_ = code;
    error_text_ = text;
    throw MyError(OPERATION_FAILED, text);
}

void SafReader::close() {
    file_.close();
    entries_.clear();
    entries_.shrink_to_fit();
    loaded_ = false;
    damage_code_ = 0;
    damage_text_.clear();
    password_set_ = false;
    password_ = PasswordStream();
    header_ = SafFileHeader{};
    file_size_ = 0;
}

void SafReader::open(const std::string& path) {
    close();
    error_code_ = 0;
    error_text_.clear();
    platform::FileInfo info;
    uint8_t bytes[saf::kFileHeaderSize];
    // Anything but a regular file could block a read for ever.
    bool ok = file_.open(path, platform::OpenMode::Read) &&
              platform::stat_descriptor(file_.fd(), path, info) && info.is_regular() &&
              info.size >= saf::kFileHeaderSize &&
              file_.pread(bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes) &&
              header_.decode(bytes);
    if (ok && header_.version > saf::kVersion) {
        close();
        fail(saf::kReadFailed, kVersionText);
    }
    if (!ok || header_.encoding > static_cast<uint16_t>(SafEncoding::PasswordStream)) {
        close();
        fail(saf::kReadFailed, kOpenText);
    }
    file_size_ = info.size;
}

void SafReader::set_password(std::string_view password) {
    if (!is_open()) fail(saf::kReadFailed, kReadText);
    if (encoding() != SafEncoding::PasswordStream) return;
    if (!PasswordStream::test_check_value(password, header_.check_value))
        fail(saf::kBadPassword, kPasswordText);
    password_.set_key(password);
    password_set_ = true;
}

void SafReader::load_entries() {
    entries_.clear();
    loaded_ = false;
    if (!is_open()) fail(saf::kLoadFailed, kLoadText);
    // Whatever happens below, the entries read before it stay usable: a
    // damaged or cut archive still gives back what lies before the damage.
    loaded_ = true;
    const size_t header_size =
        header_.version >= saf::kVersion ? saf::kDataHeaderSize : saf::kOldDataHeaderSize;
    const uint32_t count = header_.entry_count;
    // The count is not trusted to size an allocation: each entry read must
    // first be found whole in the file.
    entries_.reserve(std::min<uint32_t>(count, 4096));
    // Headers are read through a window of the file: one read serves the
    // headers of many small entries, where a read each would copy far more
    // than the headers themselves.
    constexpr size_t kWindow = 1u << 20;
    std::vector<uint8_t> window(kWindow);
    uint64_t window_at = 0;
    size_t window_len = 0;
    auto bytes_at = [&](uint64_t at, size_t want, ssize_t& got) -> const uint8_t* {
        if (at < window_at || at + want > window_at + window_len) {
            ssize_t r =
                file_.pread(window.data(),
                            static_cast<size_t>(std::min<uint64_t>(kWindow, file_size_ - at)), at);
            window_at = at;
            window_len = r > 0 ? static_cast<size_t>(r) : 0;
        }
        got = static_cast<ssize_t>(std::min<uint64_t>(want, window_at + window_len - at));
        return window.data() + (at - window_at);
    };
    uint64_t pos = saf::kFileHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        if (pos > file_size_ || file_size_ - pos < header_size) fail(saf::kLoadFailed, kLoadText);
        const uint64_t rest_of_file = file_size_ - pos;
        const size_t want = static_cast<size_t>(
            std::min<uint64_t>(header_size + saf::kMaxNameBytes + 1, rest_of_file));
        ssize_t got = 0;
        const uint8_t* buf = bytes_at(pos, want, got);
        if (got < static_cast<ssize_t>(header_size)) fail(saf::kLoadFailed, kLoadText);
        SafDataHeader h;
        if (header_size == saf::kDataHeaderSize)
            h.decode(buf);
        else
            h.decode_old(buf);
        if (h.number != i) fail(saf::kReadFailed, kReadText);
        if (!h.magic_ok) fail(saf::kReadFailed, kMagicText);

        uint64_t rest = rest_of_file - header_size;
        if (h.name_length > saf::kMaxNameBytes + 1 || h.name_length > rest)
            fail(saf::kLoadFailed, kLoadText);
        rest -= h.name_length;
        if (h.extra_length > rest) fail(saf::kLoadFailed, kLoadText);
        rest -= h.extra_length;
        if (h.stored_length > rest) fail(saf::kLoadFailed, kLoadText);
        if (static_cast<size_t>(got) < header_size + h.name_length)
            fail(saf::kLoadFailed, kLoadText);

        SafEntry e;
        if (h.name_length > 0) {
            const char* name = reinterpret_cast<const char*>(buf + header_size);
            const size_t text = h.name_length - 1;
            // The zero byte ends the name, and only there.
            if (name[text] != '\0' || std::memchr(name, '\0', text) != nullptr)
                fail(saf::kLoadFailed, kLoadText);
            e.name.assign(name, text);
        }
        e.number = h.number;
        e.type = h.type();
        e.method = h.method();
        e.attributes = h.attributes;
        e.last_write = h.last_write;
        e.creation = h.creation;
        e.last_access = h.last_access;
        e.stored_length = h.stored_length;
        e.plain_length = h.plain_length;
        e.stored_crc = h.stored_crc;
        e.plain_crc = h.plain_crc;
        e.position = pos;
        // The extra text is skipped, never read.
        e.data_offset = pos + header_size + h.name_length + h.extra_length;
        pos = e.data_offset + h.stored_length;
        entries_.push_back(std::move(e));
        if ((i + 1) % 20 == 0 && progress_) progress_();
    }
}

const std::vector<SafEntry>& SafReader::load_headers() {
    if (!loaded_) {
        try {
            load_entries();
        } catch (const MyError&) {
            damage_code_ = error_code_;
            damage_text_ = error_text_;
            throw;
        }
    }
    return entries_;
}

const SafEntry& SafReader::entry(uint32_t index) {
    if (!loaded_) {
        try {
            load_entries();
        } catch (const MyError&) {
            // The damage lies beyond this entry: it is as good as before.
            damage_code_ = error_code_;
            damage_text_ = error_text_;
            if (index >= entries_.size()) throw;
        }
    }
    if (index >= entries_.size()) {
        // Past the damage, the damage is the reason.
        if (damage_code_ != 0) fail(damage_code_, damage_text_.c_str());
        fail(saf::kReadFailed, kReadText);
    }
    return entries_[index];
}

void SafReader::check_extractable(const SafEntry& e) {
    if (e.type != saf::kTypeFile) fail(saf::kReadFailed, kReadText);
    if (encoding() == SafEncoding::PasswordStream && !password_set_)
        fail(saf::kBadPassword, kPasswordText);
    if (e.method != saf::kMethodStored && e.method != saf::kMethodCompressed) bad_data();
    if (e.method == saf::kMethodStored && e.stored_length != e.plain_length)
        fail(saf::kReadFailed, kReadText);
}

void SafReader::extract_data(uint32_t index, platform::File& out, const ProgressHook& progress,
                             bool* crc_matches) {
    const SafEntry e = entry(index);
    check_extractable(e);
    uint32_t crc = 0;
    extract_file(e, out, progress, crc);
    if (crc_matches) *crc_matches = crc == e.plain_crc;
}

SafExtractResult SafReader::extract_entry(uint32_t index, const std::string& target,
                                          const ProgressHook& progress, bool* crc_matches) {
    const SafEntry e = entry(index);
    if (crc_matches) *crc_matches = true;
    if (e.type == saf::kTypeDirectory) {
        std::error_code ec;
        std::filesystem::create_directory(target, ec);
        if (ec && !std::filesystem::is_directory(std::filesystem::symlink_status(target)))
            return SafExtractResult::TargetNotCreated;
        return SafExtractResult::Extracted;
    }
    check_extractable(e);

    const bool read_only = (e.attributes & platform::kAttrReadOnly) != 0;
    const mode_t mode_bits = read_only ? 0444 : 0644;
    // Written beside the target and renamed over it only when whole: a
    // corrupt entry never costs the file already there.
    platform::File out;
    std::string temp;
    if (!platform::create_temp_beside(target, out, temp, "extract", mode_bits))
        return SafExtractResult::TargetNotCreated;
    uint32_t crc = 0;
    try {
        extract_file(e, out, progress, crc);
    } catch (...) {
        out.close();
        ::unlink(temp.c_str());
        throw;
    }
    out.set_mode(mode_bits);
    platform::set_descriptor_times(out.fd(), e.last_access, e.last_write);
    out.close();
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return SafExtractResult::TargetNotCreated;
    }
    if (crc_matches) *crc_matches = crc == e.plain_crc;
    return SafExtractResult::Extracted;
}

void SafReader::extract_file(const SafEntry& e, platform::File& target,
                             const ProgressHook& progress, uint32_t& crc) {
    const bool compressed = e.method == saf::kMethodCompressed;
    const bool encoded = encoding() == SafEncoding::PasswordStream;
    decoder_.reset();
    password_.restart();
    size_t fill = 0;
    uint64_t written = 0;
    auto flush = [&] {
        if (fill == 0) return;
        if (encoded) password_.encode(out_.data(), static_cast<std::ptrdiff_t>(fill));
        crc = crc32_update(crc, out_.data(), fill);
        if (!target.write_all(out_.data(), fill))
            throw MyError::format(OPERATION_FAILED, "Write failed on file %s: %s\n",
                                  target.path().c_str(), system_error_text(target.error()));
        fill = 0;
    };
    auto emit = [&](const uint8_t* data, size_t length) {
        // Never more than the entry claims: a corrupt stream cannot fill the disk.
        if (length > e.plain_length - written) bad_data();
        written += length;
        while (length > 0) {
            size_t n = std::min(length, out_.size() - fill);
            std::memcpy(out_.data() + fill, data, n);
            fill += n;
            data += n;
            length -= n;
            if (fill == out_.size()) flush();
        }
    };
    uint64_t at = e.data_offset;
    uint64_t remaining = e.stored_length;
    while (remaining > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, block_.size()));
        if (file_.pread(block_.data(), n, at) != static_cast<ssize_t>(n))
            fail(saf::kReadFailed, kReadText);
        if (compressed)
            decoder_.decompress(block_.data(), n, emit);
        else
            emit(block_.data(), n);
        at += n;
        remaining -= n;
        if (progress) progress();
    }
    flush();
    if (compressed && (!decoder_.finished() || written != e.plain_length)) bad_data();
}

}  // namespace vardel
