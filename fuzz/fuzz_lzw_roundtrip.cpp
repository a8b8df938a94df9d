// Encode then decode any input, each in its own arbitrary block split: the
// input must come back unchanged. The first two bytes choose the splits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "containers/lzw_decoder.h"
#include "containers/lzw_encoder.h"

namespace {
size_t next_split(uint32_t& seed, size_t limit) {
    seed = seed * 1103515245u + 12345u;
    size_t n = 1 + (seed >> 16) % 4099;
    return n < limit ? n : limit;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint32_t seed = data[0] | (data[1] << 8);
    data += 2;
    size -= 2;
    static vardel::LzwEncoder enc;
    static vardel::LzwDecoder dec;
    std::vector<uint8_t> packed(vardel::LzwEncoder::max_output(size) +
                                vardel::LzwEncoder::kMaxFinishBytes);
    enc.reset();
    size_t out = 0;
    for (size_t pos = 0; pos < size;) {
        size_t n = next_split(seed, size - pos);
        out += enc.compress(data + pos, n, packed.data() + out);
        pos += n;
    }
    out += enc.finish(packed.data() + out);
    if (out > packed.size()) std::abort();

    std::vector<uint8_t> back;
    dec.reset();
    for (size_t pos = 0; pos < out;) {
        size_t n = next_split(seed, out - pos);
        dec.decompress(packed.data() + pos, n,
                       [&](const uint8_t* d, size_t len) { back.insert(back.end(), d, d + len); });
        pos += n;
    }
    if (!dec.finished() || back.size() != size ||
        (size && std::memcmp(back.data(), data, size) != 0))
        std::abort();
    return 0;
}
