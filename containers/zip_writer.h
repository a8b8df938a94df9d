#pragma once
// Writes one backup as a standard ZIP archive through minizip, with the
// suite's entry rules:
//  - an entry's name is the source's full path without its leading "/"
//    ("/home/ann/a.txt" -> "home/ann/a.txt"); a folder entry ends in "/";
//  - folders and names ending (any case) in .Z .zip .zoo .arc .lzh .arj .gz
//    .tgz are stored, everything else is deflated;
//  - each entry carries the modification time and the Unix permission bits
//    (external attributes, made by "Unix"), so unzip restores them;
//  - files of 4 GB or more are refused before they are opened.
// An entry whose data could not be read in full (read failure, abort) is
// closed with a check value that cannot match, so no ZIP tool takes the part
// that was written for the whole file.
//
// Deflating goes in pieces of 1 MiB, each started with the previous 32 KiB
// as its dictionary and ended on a byte boundary, as parallel gzip
// compressors do; the pieces of a file are deflated on the threads of a
// work pool when one is given. The entry is one ordinary deflate stream
// either way, within a few bytes of what one deflate call would make.
//
// One writer per archive, used by one thread (the backup thread).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "containers/zip_file_stream.h"
#include "containers/zip_read_hook.h"
#include "containers/zip_result.h"
#include "platform/file_info.h"
#include "platform/work_pool.h"

namespace vardel {

// A file's entry made ahead, on any thread, from its whole content (at most
// ZipWriter::kWholeAtMost bytes, already encoded when the archive is), with
// the file's state as it was read.
struct ZipPreparedEntry {
    platform::FileInfo info;  // the same before and after the read
    bool ok = false;
    uint32_t crc = 0;                   // of the bytes as given
    uint64_t length = 0;                // of the bytes as given
    std::vector<unsigned char> packed;  // deflated, or as given for a stored entry
};

class ZipWriter {
  public:
    static constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;  // 4294967295 bytes
    // The largest file made into an entry ahead: one piece.
    static constexpr uint64_t kWholeAtMost = 1u << 20;

    // Creates (or empties) the archive file; nullptr when it cannot be created.
    static std::unique_ptr<ZipWriter> create(const std::string& path);
    // The same on a new empty file its caller created (read and write).
    static std::unique_ptr<ZipWriter> create(platform::File file, const std::string& path);
    // Closes the archive when close() was not called.
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // The 4 GB rule: the size must fit in 32 bits.
    static bool fits(uint64_t size) { return size <= kMaxFileSize; }
    // "File '%s' is too large for zip file (4GB max)"
    static std::string too_large_text(std::string_view path);
    // The entry name for a path: leading "/" dropped.
    static std::string entry_name(std::string_view path);
    // True when an entry of that name is stored rather than deflated.
    static bool stored_by_name(std::string_view name);

    // Adds a file: opens source_path read-only itself and reads it only
    // through the hook. A source of 4 GB or more, or one that is not a
    // regular file, is refused without being opened (ZR_ARGS, ZR_NOFILE).
    ZipResult add_file(std::string_view entry, const std::string& source_path, ZipReadHook& hook);
    // Makes `out` for an entry named `entry` from a file's whole content
    // (out.info is the caller's). On any thread.
    static void prepare_entry(std::string_view entry, const unsigned char* data, size_t length,
                              ZipPreparedEntry& out);
    // Adds the entry made ahead, the same as add_file() would have made it
    // from the same bytes.
    ZipResult add_prepared(std::string_view entry, const ZipPreparedEntry& prepared);
    // Adds a folder entry (name with its trailing "/").
    ZipResult add_folder(const std::string& path);
    // Pieces of files are deflated on `pool`'s threads; null: on the calling
    // thread. The pool must outlive the writer.
    void set_work_pool(platform::WorkPool* pool) { pool_ = pool; }
    // Writes the central directory and flushes the archive to disk. Later
    // additions give ZR_ENDED.
    ZipResult close();

    // The text of a code (ZR_RECENT: of the last operation's result), see
    // zip_result_text. Returns the length of the full text.
    size_t result_text(ZipResult code, char* buffer, size_t size) const;
    ZipResult last_result() const { return last_; }
    // The errno of the first failed write of the archive, or 0.
    int write_error() const { return stream_.error(); }

  private:
    struct EntryFacts;
    struct DeflatePiece;
    static void make_piece(DeflatePiece& piece);
    static EntryFacts file_facts(const std::string& name, const platform::FileInfo& fi);
    // Starts an entry: its local header, raw (the data and check value are ours).
    ZipResult open_entry(const std::string& name, const EntryFacts& facts);
    ZipWriter() = default;
    ZipResult finish(ZipResult r) { return last_ = r; }
    ZipResult from_minizip(int err);
    ZipResult add_entry(const std::string& name, const EntryFacts& facts, platform::File* source,
                        ZipReadHook* hook);

    ZipFileStream stream_;
    platform::WorkPool* pool_ = nullptr;
    platform::WorkPool inline_pool_{0};
    std::vector<std::unique_ptr<unsigned char[]>> free_blocks_;  // piece buffers to reuse
    void* zip_ = nullptr;                                        // minizip's zipFile
    bool broken_ = false;  // the archive file could not be written: nothing more can go in
    ZipResult last_ = ZR_OK;
};

}  // namespace vardel
