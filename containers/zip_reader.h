#pragma once
// Reads ZIP archives through minizip's unzip side: the backups the service
// wrote and archives made by other ZIP tools. Opening walks the central
// directory once, so every entry is reached by number without a search.
// A corrupt or truncated archive gives a result code, never a crash; names
// are returned as stored (the caller decides where an entry may go).
//
// minizip 1.1 as Debian ships it does not read ZIP64 extra fields in the
// central directory: it reports 4294967295 for sizes kept there and cannot
// reach an entry whose local header lies beyond 4 GB (any large backup).
// So sizes come from our own reading of the central header, sizes and check
// values are verified here for every entry, and entries beyond 4 GB are
// read from their local header with zlib directly.
//
// One reader per open archive, used by one thread at a time.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "containers/zip_file_stream.h"
#include "containers/zip_result.h"

namespace vardel::platform {
class File;
}

namespace vardel {

struct ZipEntryInfo {
    std::string name;         // as stored (cut at a zero byte, which no path can hold)
    uint32_t attributes = 0;  // the suite's attribute bits (platform/file_info.h): 0x10 folder, ...
    uint64_t last_write = 0;  // modification time as FILETIME
    uint32_t unix_mode = 0;   // type and permission bits when a Unix tool stored them, else 0
    uint64_t size = 0;        // uncompressed
    uint64_t compressed_size = 0;
    uint32_t method = 0;     // 0 stored, 8 deflated
    uint32_t crc = 0;        // CRC-32 of the uncompressed data
    bool encrypted = false;  // ZIP encryption: not something this suite reads
};

class ZipReader {
  public:
    // Changes a block of decompressed data in place before it is written
    // (the password stream decoding).
    using BlockHook = std::function<void(void* data, size_t size)>;

    // nullptr when the file cannot be opened or is not a readable ZIP;
    // *result (when given) tells which.
    static std::unique_ptr<ZipReader> open(const std::string& path, ZipResult* result = nullptr);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    size_t entry_count() const { return entries_.size(); }
    // nullptr for a number out of range.
    const ZipEntryInfo* entry(size_t index) const;

    // Extracts entry `index` to the file `target`, whose folder must exist.
    // The data goes to a temporary file beside the target and replaces it
    // only once it is whole and its check value matches: a bad entry leaves
    // an existing target as it was. The file gets the entry's modification
    // time and, when stored, its permission bits (0777 at most: set-id bits
    // are not restored). A folder entry creates the folder.
    ZipResult extract(size_t index, const std::string& target, const BlockHook& hook = nullptr);

    // Writes the data of file entry `index` into `out` at its position,
    // through `hook`, and checks its size and check value (ZR_CORRUPT when
    // they differ: `out` then holds data that must not be used). Naming,
    // times and replacing are the caller's.
    ZipResult extract_data(size_t index, platform::File& out, const BlockHook& hook = nullptr);

    size_t result_text(ZipResult code, char* buffer, size_t size) const;
    ZipResult last_result() const { return last_; }

  private:
    ZipReader() = default;
    ZipResult finish(ZipResult r) { return last_ = r; }
    ZipResult load_directory();
    struct Sink;
    ZipResult copy_through_minizip(size_t index, Sink& sink);
    ZipResult copy_from_local_header(size_t index, Sink& sink);
    ZipResult copy_data(size_t index, Sink& sink, const BlockHook& hook);

    struct Position {
        uint64_t central_offset;  // minizip's place of the central header
        uint64_t entry_number;
        uint64_t local_offset;  // from the ZIP64 field, when minizip cannot reach it
        bool beyond_minizip;    // read with copy_from_local_header
    };

    ZipFileStream stream_;
    void* unz_ = nullptr;  // minizip's unzFile
    std::vector<ZipEntryInfo> entries_;
    std::vector<Position> positions_;
    ZipResult last_ = ZR_OK;
};

}  // namespace vardel
