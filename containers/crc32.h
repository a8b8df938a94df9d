#pragma once
// CRC-32 as SAF stores it: the standard reflected CRC (polynomial 0xEDB88320,
// initial value all ones, final complement), which is exactly zlib's crc32().
// Running values are carried across blocks by passing the previous result in.
#include <zlib.h>

#include <cstddef>
#include <cstdint>

namespace vardel {

inline uint32_t crc32_update(uint32_t running, const void* data, size_t length) {
    const auto* p = static_cast<const Bytef*>(data);
    uLong crc = running;
    // zlib takes a 32-bit length; feed larger buffers in slices.
    while (length > 0) {
        uInt n = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
        crc = ::crc32(crc, p, n);
        p += n;
        length -= n;
    }
    return static_cast<uint32_t>(crc);
}

inline uint32_t crc32_of(const void* data, size_t length) {
    return crc32_update(0, data, length);
}

}  // namespace vardel
