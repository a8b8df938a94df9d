#include "containers/saf_format.h"

#include <cstring>

#include "containers/byte_order.h"
#include "containers/crc32.h"

namespace vardel {

void SafFileHeader::encode(uint8_t out[saf::kFileHeaderSize]) const {
    std::memset(out, 0, saf::kFileHeaderSize);
    std::memcpy(out, "SAF", 4);
    store_le16(out + 4, version);
    store_le16(out + 6, 9);
    store_le16(out + 8, 12);
    store_le16(out + 10, encoding);
    store_le32(out + 12, check_value);
    store_le32(out + 16, entry_count);
    store_le64(out + 40, trailer_offset);
    store_le64(out + 48, archive_length);
}

bool SafFileHeader::decode(const uint8_t in[saf::kFileHeaderSize]) {
    if (std::memcmp(in, "SAF", 4) != 0) return false;
    version = load_le16(in + 4);
    encoding = load_le16(in + 10);
    check_value = load_le32(in + 12);
    entry_count = load_le32(in + 16);
    trailer_offset = load_le64(in + 40);
    archive_length = load_le64(in + 48);
    return true;
}

void SafDataHeader::encode(uint8_t out[saf::kDataHeaderSize]) const {
    std::memset(out, 0, saf::kDataHeaderSize);
    std::memcpy(out, "HDR", 4);
    store_le32(out + 4, number);
    store_le32(out + 8, attributes);
    store_le64(out + 16, stored_length);
    store_le64(out + 24, plain_length);
    store_le32(out + 32, stored_crc);
    store_le32(out + 36, plain_crc);
    store_le32(out + 40, name_length);
    store_le32(out + 44, extra_length);
    store_le64(out + 48, last_write);
    store_le64(out + 56, creation);
    store_le64(out + 64, last_access);
    store_le16(out + 72, encoding);
    store_le32(out + 76, flags);
    store_le32(out + 80, checksum);
}

uint32_t SafDataHeader::compute_checksum() const {
    SafDataHeader copy = *this;
    copy.checksum = 0;
    uint8_t bytes[saf::kDataHeaderSize];
    copy.encode(bytes);
    return crc32_of(bytes, sizeof bytes);
}

namespace {
// Offsets 0 to 47 are the same in both layouts.
void decode_common(const uint8_t* in, SafDataHeader& h) {
    h.magic_ok = std::memcmp(in, "HDR", 4) == 0;
    h.number = load_le32(in + 4);
    h.attributes = load_le32(in + 8);
    h.stored_length = load_le64(in + 16);
    h.plain_length = load_le64(in + 24);
    h.stored_crc = load_le32(in + 32);
    h.plain_crc = load_le32(in + 36);
    h.name_length = load_le32(in + 40);
    h.extra_length = load_le32(in + 44);
}
}  // namespace

void SafDataHeader::decode(const uint8_t in[saf::kDataHeaderSize]) {
    decode_common(in, *this);
    last_write = load_le64(in + 48);
    creation = load_le64(in + 56);
    last_access = load_le64(in + 64);
    encoding = load_le16(in + 72);
    flags = load_le32(in + 76);
    checksum = load_le32(in + 80);
}

void SafDataHeader::decode_old(const uint8_t in[saf::kOldDataHeaderSize]) {
    decode_common(in, *this);
    last_write = creation = last_access = load_le64(in + 48);
    encoding = load_le16(in + 56);
    flags = load_le32(in + 60);
    checksum = load_le32(in + 64);
}

}  // namespace vardel
