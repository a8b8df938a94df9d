#pragma once
// Writes SAF archives (docs/saf-format.md): the backup run creates one per
// backup, appends an entry per saved file and per empty folder, may read an
// entry back to compare it with its source, and closes it with a trailer.
//
// Every operation returns success; on failure error_code() and error_text()
// hold the designed code (28 to 31) and text. MyError passes through only
// from the progress hook (the run's abort check) and from verify_entry.
// Whatever fails, the archive stays consistent: a failed entry is cut off
// and the count restored, exactly as drop_entry() does, so an archive never
// claims a file it does not hold.
//
// One writer per run, used on the backup thread only. It owns its archive
// file, password stream, coders and buffers (allocated once, reused for
// every entry). Entry data is compressed in pieces of kPieceSize bytes,
// on the threads of a work pool when one is given; where the pieces are
// made never changes the archive. Appends are gathered in memory and
// written in large blocks; headers are filled in there when they still are.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "containers/lzw_decoder.h"
#include "containers/lzw_encoder.h"
#include "containers/password_stream.h"
#include "containers/saf_format.h"
#include "platform/file.h"
#include "platform/file_info.h"
#include "platform/work_pool.h"

namespace vardel {

// The archive file as the writer uses it. The default is a real file;
// tests derive from it to fail writes the way a full disk does.
class SafArchiveFile {
  public:
    virtual ~SafArchiveFile() = default;
    // Creates or replaces the file, read and write.
    virtual bool create(const std::string& path);
    // Takes a file already created (empty, read and write) at `path`.
    virtual bool adopt(platform::File file, const std::string& path);
    virtual bool write_at(const void* data, size_t length, uint64_t offset);
    // Bytes read (fewer only at the end of the file), -1 on failure.
    virtual ssize_t read_at(void* data, size_t length, uint64_t offset);
    virtual bool truncate(uint64_t length);
    // The file and the folder holding it, to disk.
    virtual bool sync();
    virtual void close();
    // errno of the last failure.
    virtual int error() const;

  private:
    platform::File file_;
    std::string path_;
    int folder_error_ = 0;
};

// An entry's data made ahead, on any thread, from a whole file of at most
// SafWriter::kPieceSize bytes, with the file's state as it was read. The
// writer takes it in place of reading the file only while the open file
// still matches that state.
struct SafPreparedEntry {
    platform::FileInfo info;  // the same before and after the read
    bool compressed = false;
    bool encoded = false;
    uint64_t plain_length = 0;
    uint32_t plain_crc = 0;
    std::vector<uint8_t> stored;  // the whole stored data
    uint32_t stored_crc = 0;
};

class SafWriter {
  public:
    // Called before the first and after every block of 65536 bytes written
    // or read back. May throw (the run's abort check throws MyError 23
    // "Abort flag set"); the writer then cuts off an entry being written
    // and lets the exception through.
    using ProgressHook = std::function<void()>;

    // `file` replaces the real archive file (tests); null for the real one.
    explicit SafWriter(std::unique_ptr<SafArchiveFile> file = nullptr);
    ~SafWriter();
    SafWriter(const SafWriter&) = delete;
    SafWriter& operator=(const SafWriter&) = delete;

    // Creates (or replaces) the archive and writes its first header, count
    // 0. Only when no archive is open.
    bool create_archive(const std::string& path);
    // The same on a new empty file its caller created (read and write).
    bool create_archive(platform::File file, const std::string& path);
    // PasswordStream with a non-empty password stores the check value and
    // encodes every later entry's data; None (or an empty password) stores 0.
    bool set_encoding(SafEncoding mode, std::string_view password);
    void set_progress_hook(ProgressHook hook) { progress_ = std::move(hook); }
    // Pieces of entry data are compressed on `pool`'s threads; null: on the
    // calling thread. The pool must outlive the writer.
    void set_work_pool(platform::WorkPool* pool) { pool_ = pool; }
    // Plain bytes per piece: a file no larger is one LZW stream as it always
    // was; a larger one gets a clear code between its pieces.
    static constexpr size_t kPieceSize = 1u << 20;

    // Appends the header and name of a file entry for `path` (the full
    // source path, which becomes the name); method 0 (stored) for names
    // ending ".zip" in any case, else 1 (compressed).
    bool open_file_entry(const std::string& path);
    // The same for a path whose stat the caller has just taken.
    bool open_file_entry(const std::string& path, const platform::FileInfo& known);
    // True when an entry for `path` is compressed (else stored as it is).
    static bool compresses(const std::string& path);
    // Makes `out` from a whole file's bytes (changed in place when `key`,
    // the archive's password stream, encodes them). On any thread.
    static void prepare_entry(uint8_t* data, size_t length, bool compressed,
                              const PasswordStream* key, SafPreparedEntry& out);
    // Reads `source` from its current position to its end into the open
    // entry, then takes attributes and times from it. On failure the entry
    // is cut off: a failed or short write is code 28.
    bool write_entry_data(platform::File& source);
    // The same, taking `prepared` instead of reading when `source` (at its
    // start) is still the file it was made from, unchanged.
    bool write_entry_data(platform::File& source, const SafPreparedEntry* prepared);
    // Compares the written entry with `source` (rewound by the caller):
    // true when they match byte for byte. Throws MyError OPERATION_FAILED
    // "Error positioning file for verify" when the entry cannot be read back,
    // BAD_DATA from the decoder, and whatever the progress hook throws. The
    // entry stays open either way.
    bool verify_entry(platform::File& source);
    // Keeps the entry. Without an open entry it does nothing.
    bool close_entry();
    // Cuts the entry off: the archive is as it was before open_file_entry().
    // Without an open entry (already cut off after a failure) it does nothing.
    bool drop_entry();
    // A folder entry without data (attributes and times 0).
    bool add_directory_entry(const std::string& path);
    // Opens `path` itself and stores it as one entry, checksum filled.
    bool add_file(const std::string& path);
    // Appends the trailer, rewrites the file header and flushes the file to
    // disk before it reports success. An entry still open (not closed after
    // an abort) is cut off first. The archive is closed even on failure.
    bool close_archive();

    bool is_open() const { return open_; }
    bool entry_open() const { return entry_open_; }
    uint32_t entry_count() const { return header_.entry_count; }
    int error_code() const { return error_code_; }
    // errno of the archive file's last failure (a full disk: ENOSPC).
    int write_error() const { return file_->error(); }
    const std::string& error_text() const { return error_text_; }

  private:
    bool fail(int code, std::string text);
    bool start_archive();
    bool write_failed();
    bool start_entry(const std::string& path, platform::FileInfo& info);
    bool begin_file_entry(const std::string& path, const platform::FileInfo& info);
    bool finish_entry_data(const platform::FileInfo& info, uint64_t plain, uint32_t plain_crc,
                           uint64_t stored, uint32_t stored_crc);
    bool write_at(const void* data, size_t length, uint64_t offset);
    // Appends at the archive's end through the buffer; false when a write
    // of the buffer failed (what was appended stays buffered).
    bool append(const void* data, size_t length);
    bool flush_output();
    struct Piece;
    static void make_piece(Piece& piece);
    bool write_file_header();
    bool write_data_header();
    void cut_off_entry();
    void progress();
    bool append_entry_head(const std::string& path, const SafDataHeader& header);

    std::unique_ptr<SafArchiveFile> file_;
    bool open_ = false;
    SafFileHeader header_;
    bool dirty_ = false;
    bool trailer_written_ = false;
    uint64_t end_ = 0;  // the archive's length as written
    bool entry_open_ = false;
    bool entry_data_written_ = false;
    uint64_t entry_position_ = 0;
    SafDataHeader entry_;
    std::string entry_name_;
    PasswordStream password_;
    LzwDecoder decoder_;
    std::vector<uint8_t> out_;  // archive bytes from out_start_ on, not yet written
    uint64_t out_start_ = 0;
    platform::WorkPool* pool_ = nullptr;
    platform::WorkPool inline_pool_{0};
    std::vector<std::unique_ptr<uint8_t[]>> free_blocks_;  // piece buffers to reuse
    std::vector<uint8_t> packed_;                          // archive blocks read back
    std::vector<uint8_t> compare_;                         // source blocks read back for a verify
    ProgressHook progress_;
    int error_code_ = 0;
    std::string error_text_;
};

}  // namespace vardel
