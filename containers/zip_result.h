#pragma once
// Result codes of the ZIP writer and reader and their texts. minizip's and
// zlib's failures are mapped onto these; the texts are what the service puts
// into its trace and the restore tool shows. Thread-safe.
#include <cstddef>
#include <cstdint>

namespace vardel {

using ZipResult = uint32_t;

inline constexpr ZipResult ZR_OK = 0;
inline constexpr ZipResult ZR_RECENT = 1;  // "the result of the last operation"
inline constexpr ZipResult ZR_NODUPH = 0x100;
inline constexpr ZipResult ZR_NOFILE = 0x200;
inline constexpr ZipResult ZR_NOALLOC = 0x300;
inline constexpr ZipResult ZR_WRITE = 0x400;
inline constexpr ZipResult ZR_NOTFOUND = 0x500;
inline constexpr ZipResult ZR_MORE = 0x600;
inline constexpr ZipResult ZR_CORRUPT = 0x700;
inline constexpr ZipResult ZR_READ = 0x800;
inline constexpr ZipResult ZR_ARGS = 0x10000;
inline constexpr ZipResult ZR_NOTMMAP = 0x20000;
inline constexpr ZipResult ZR_MEMSIZE = 0x30000;
inline constexpr ZipResult ZR_FAILED = 0x40000;
inline constexpr ZipResult ZR_ENDED = 0x50000;
inline constexpr ZipResult ZR_MISSIZE = 0x60000;
inline constexpr ZipResult ZR_PARTIALUNZ = 0x70000;
inline constexpr ZipResult ZR_ZMODE = 0x80000;
inline constexpr ZipResult ZR_NOTINITED = 0x1000000;
inline constexpr ZipResult ZR_SEEK = 0x2000000;
inline constexpr ZipResult ZR_NOCHANGE = 0x4000000;
inline constexpr ZipResult ZR_FLATE = 0x5000000;

// The text of a result code, "unknown zip result code" for any code not in
// the table. ZR_RECENT is resolved by the writer or reader that knows its
// last result (see their result_text); here it is unknown.
const char* zip_result_name(ZipResult code);

// Copies the text into buffer, cut to fit and always ended with a zero byte
// (nothing is written when size is 0). Returns the length of the full text.
size_t zip_result_text(ZipResult code, char* buffer, size_t size);

}  // namespace vardel
