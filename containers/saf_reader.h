#pragma once
// Reads SAF archives (docs/saf-format.md) for the restore tool: the file
// header at open, every data header on first use, and one entry at a time
// extracted to a path the caller gives.
//
// Everything read from the file is checked against the file's size before
// it is used, so a corrupt or truncated archive gives a MyError, never a
// read past the end, a huge allocation or a hang. Failures are MyError
// OPERATION_FAILED with the designed text (error_code() then holds 30, 31
// or 34); decoding failures are MyError BAD_DATA.
//
// The reader never writes to the archive (it opens it read-only), and it
// writes nothing but the target path handed to extract_entry(): it creates
// no folders and never follows an entry's name.
//
// One reader per user, on one thread at a time. Entries returned by entry()
// live until close() or the next open().
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "containers/lzw_decoder.h"
#include "containers/password_stream.h"
#include "containers/saf_format.h"
#include "platform/file.h"

namespace vardel {

enum class SafExtractResult {
    Extracted,
    // The target could not be created: the entry is skipped, as designed.
    TargetNotCreated,
};

class SafReader {
  public:
    using ProgressHook = std::function<void()>;

    SafReader();
    ~SafReader();
    SafReader(const SafReader&) = delete;
    SafReader& operator=(const SafReader&) = delete;

    // Opens an existing archive and reads its file header. Throws MyError
    // OPERATION_FAILED "Couldn't open SAF file" (missing, unreadable, too
    // short, not a SAF file) or "Unrecognized file version" (above 2).
    void open(const std::string& path);
    bool is_open() const { return file_.is_open(); }
    uint16_t version() const { return header_.version; }
    SafEncoding encoding() const { return static_cast<SafEncoding>(header_.encoding); }
    // For an encoded archive: tests the password against the check value
    // (MyError code 34 "Invalid password for encrypted SAF file" on a
    // mismatch) and keys the decoding with it. Does nothing for an archive
    // that is not encoded. Loads no entry.
    void set_password(std::string_view password);
    // Called every 20 data headers loaded.
    void set_progress_hook(ProgressHook hook) { progress_ = std::move(hook); }

    // The count in the file header, the trailer included.
    uint32_t entry_count() const { return header_.entry_count; }
    // Loads every data header on first use; 0 <= index < entry_count().
    const SafEntry& entry(uint32_t index);
    // Every data header, loaded on first use. A damaged or cut archive
    // throws at the damage (as entry() does), and the entries read before
    // it are kept: this call, entry() and extraction then give those.
    const std::vector<SafEntry>& load_headers();
    // Writes entry `index` to `target` (a file, replaced; or a folder,
    // created when missing), with its times and read-only bit. `progress`
    // is called after every block of stored data. On a failure after the
    // target was created, the partial target is removed and the MyError
    // passes on. `crc_matches` (when given) tells whether the extracted
    // bytes have the entry's plain CRC; it is not treated as an error.
    SafExtractResult extract_entry(uint32_t index, const std::string& target,
                                   const ProgressHook& progress = {}, bool* crc_matches = nullptr);
    // Writes the plain data of file entry `index` into `out` at its position,
    // decoded and decompressed; naming, times and replacing are the caller's.
    // Throws as extract_entry() does; `out` may then hold part of the data.
    void extract_data(uint32_t index, platform::File& out, const ProgressHook& progress = {},
                      bool* crc_matches = nullptr);
    // Frees the entries and closes the file.
    void close();

    int error_code() const { return error_code_; }
    const std::string& error_text() const { return error_text_; }

  private:
    [[noreturn]] void fail(int code, const char* text);
    void load_entries();
    void check_extractable(const SafEntry& e);
    void extract_file(const SafEntry& e, platform::File& target, const ProgressHook& progress,
                      uint32_t& crc);

    platform::File file_;
    uint64_t file_size_ = 0;
    SafFileHeader header_;
    bool loaded_ = false;
    int damage_code_ = 0;  // why loading stopped early, when it did
    std::string damage_text_;
    std::vector<SafEntry> entries_;
    PasswordStream password_;
    bool password_set_ = false;
    LzwDecoder decoder_;
    std::vector<uint8_t> block_;
    std::vector<uint8_t> out_;  // decoded bytes on their way to the target
    ProgressHook progress_;
    int error_code_ = 0;
    std::string error_text_;
};

}  // namespace vardel
