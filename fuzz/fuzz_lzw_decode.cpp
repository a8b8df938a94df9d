// The LZW decoder on arbitrary bytes in arbitrary block splits: it must
// produce output or throw MyError BAD_DATA, never crash, hang or touch
// memory out of bounds. The first two bytes choose the split.
#include <cstdint>
#include <cstdlib>

#include "common/my_error.h"
#include "containers/lzw_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint32_t seed = data[0] | (data[1] << 8);
    data += 2;
    size -= 2;
    static vardel::LzwDecoder dec;
    dec.reset();
    size_t total = 0;
    try {
        size_t pos = 0;
        while (pos < size) {
            seed = seed * 1103515245u + 12345u;
            size_t n = 1 + (seed >> 16) % 97;
            if (n > size - pos) n = size - pos;
            dec.decompress(data + pos, n, [&](const uint8_t* d, size_t len) {
                // Touch the bytes so a bad pointer shows.
                for (size_t i = 0; i < len; i += 509) total += d[i];
                total += len;
            });
            pos += n;
        }
    } catch (const vardel::MyError& e) {
        if (e.code() != vardel::BAD_DATA) std::abort();
    }
    return 0;
}
