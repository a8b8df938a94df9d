#pragma once
// Helpers shared by the SAF tests: inputs, raw little-endian peeks, and
// building archives from real files.
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "containers/saf_writer.h"
#include "platform/file.h"
#include "tests/support/scratch.h"
#include "tests/support/test_data.h"

namespace vardel::test {

inline uint32_t le32(const std::string& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
inline uint64_t le64(const std::string& b, size_t at) {
    uint64_t v;
    std::memcpy(&v, b.data() + at, 8);
    return v;
}
inline uint16_t le16(const std::string& b, size_t at) {
    uint16_t v;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}
inline void put32(std::string& b, size_t at, uint32_t v) {
    std::memcpy(b.data() + at, &v, 4);
}
inline void put16(std::string& b, size_t at, uint16_t v) {
    std::memcpy(b.data() + at, &v, 2);
}

// Saves one file through the entry operations, as the backup run does.
inline bool save_file(SafWriter& w, const std::string& path) {
    platform::File src;
    if (!src.open(path, platform::OpenMode::Read)) return false;
    if (!w.open_file_entry(path)) return false;
    if (!w.write_entry_data(src)) return false;
    return w.close_entry();
}

}  // namespace vardel::test
