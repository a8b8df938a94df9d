#pragma once
// The SAF archive layout shared by SafWriter and SafReader (docs/saf-format.md):
// a 56-byte file header, then one entry after another, each a data header
// (88 bytes in version 2, 72 in older archives), its name with a zero byte,
// an optional extra text and the stored data; the last entry is the trailer.
// All numbers little-endian, whatever the host.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vardel {

namespace saf {
inline constexpr size_t kFileHeaderSize = 56;
inline constexpr size_t kDataHeaderSize = 88;     // version 2
inline constexpr size_t kOldDataHeaderSize = 72;  // versions 0 and 1
inline constexpr uint16_t kVersion = 2;
inline constexpr size_t kBlockSize = 65536;
// Longest name text (without its zero byte) a reader accepts.
inline constexpr uint32_t kMaxNameBytes = 4096;

inline constexpr uint32_t kTypeFile = 1;
inline constexpr uint32_t kTypeDirectory = 2;
inline constexpr uint32_t kTypeTrailer = 6;
inline constexpr uint32_t kMethodStored = 0;
inline constexpr uint32_t kMethodCompressed = 1;

// The writer's and reader's error codes.
inline constexpr int kWriteFailed = 28;  // "Write failed on SAF file"
inline constexpr int kAddFailed = 29;    // "Failed to add file (%s) to SAF file"
inline constexpr int kLoadFailed = 30;   // "Can't load data headers from SAF file"
inline constexpr int kReadFailed = 31;   // stat, open, read, magic and verify texts
inline constexpr int kBadPassword = 34;  // "Invalid password for encrypted SAF file"
}  // namespace saf

enum class SafEncoding : uint16_t {
    None = 0,
    PasswordStream = 1,
};

struct SafFileHeader {
    uint16_t version = saf::kVersion;
    uint16_t encoding = 0;
    uint32_t check_value = 0;
    uint32_t entry_count = 0;     // the trailer included
    uint64_t trailer_offset = 0;  // 0 until the archive is closed
    uint64_t archive_length = saf::kFileHeaderSize;

    void encode(uint8_t out[saf::kFileHeaderSize]) const;
    // False when the magic is not "SAF\0".
    bool decode(const uint8_t in[saf::kFileHeaderSize]);
};

struct SafDataHeader {
    uint32_t number = 0;
    uint32_t attributes = 0;
    uint64_t stored_length = 0;
    uint64_t plain_length = 0;
    uint32_t stored_crc = 0;
    uint32_t plain_crc = 0;
    uint32_t name_length = 0;   // with the zero byte
    uint32_t extra_length = 0;  // with the zero byte; 0 when absent
    uint64_t last_write = 0;
    uint64_t creation = 0;
    uint64_t last_access = 0;
    uint16_t encoding = 0;
    uint32_t flags = 0;  // bits 0-3 method, 4-11 type
    uint32_t checksum = 0;
    bool magic_ok = true;  // set by decode

    uint32_t method() const { return flags & 0xFu; }
    uint32_t type() const { return (flags >> 4) & 0xFFu; }
    static uint32_t make_flags(uint32_t type, uint32_t method) { return (type << 4) | method; }

    // Version 2 layout.
    void encode(uint8_t out[saf::kDataHeaderSize]) const;
    // CRC-32 of the encoded 88 bytes with the checksum field zero.
    uint32_t compute_checksum() const;
    void decode(const uint8_t in[saf::kDataHeaderSize]);
    // The 72-byte layout of versions below 2: one time for all three.
    void decode_old(const uint8_t in[saf::kOldDataHeaderSize]);
};

// One entry as the reader loaded it.
struct SafEntry {
    uint32_t number = 0;
    uint32_t type = 0;
    uint32_t method = 0;
    std::string name;
    uint32_t attributes = 0;
    uint64_t last_write = 0;  // FILETIMEs
    uint64_t creation = 0;
    uint64_t last_access = 0;
    uint64_t stored_length = 0;
    uint64_t plain_length = 0;
    uint32_t stored_crc = 0;
    uint32_t plain_crc = 0;
    uint64_t position = 0;     // of the data header
    uint64_t data_offset = 0;  // of the stored data
};

}  // namespace vardel
