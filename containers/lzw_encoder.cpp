#include "containers/lzw_encoder.h"

#include <cstring>

#include "containers/byte_order.h"

namespace vardel {

namespace {
constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kWiden = 258;
constexpr uint32_t kFirstFree = 260;
constexpr uint32_t kMaxWidth = 12;

// Slot of (prefix, byte) = prefix XOR a scatter value of the byte: the
// byte's part is looked up beside the chain of dependent loads, so only one
// XOR lies on it.
struct ByteScatter {
    uint16_t v[256];
    constexpr ByteScatter() : v() {
        for (uint32_t b = 0; b < 256; ++b)
            v[b] = static_cast<uint16_t>(((b + 1) * 0x9E3779B1u) >> 19);
    }
};
constexpr ByteScatter kScatter;
}  // namespace

namespace {
// Pieces shorter than this track their codes' slots: for them a full clear
// would cost more than the compressing.
constexpr size_t kTrackBelow = 64u << 10;
}  // namespace

LzwEncoder::LzwEncoder() {
    std::memset(table_, 0, sizeof table_);
    next_code_ = kFirstFree;
    tracked_ = true;
    reset();
}

void LzwEncoder::clear_dictionary() {
    const uint32_t used = next_code_ - kFirstFree;
    if (tracked_ && used < kTableSize / 16) {
        for (uint32_t i = 0; i < used; ++i) table_[slot_of_[i]] = 0;
    } else {
        std::memset(table_, 0, sizeof table_);
    }
    next_code_ = kFirstFree;
    width_ = 9;
    tracked_ = true;
}

void LzwEncoder::reset() {
    clear_dictionary();
    current_ = -1;
    bits_ = 0;
    bit_count_ = 0;
}

size_t LzwEncoder::compress(const uint8_t* in, size_t length, uint8_t* out) {
    return compress_impl<false>(in, length, out);
}

template <bool Track>
size_t LzwEncoder::compress_impl(const uint8_t* in, size_t length, uint8_t* out) {
    if (length == 0) return 0;
    if (!Track) tracked_ = false;
    const uint8_t* p = in;
    const uint8_t* const end = in + length;
    uint8_t* o = out;
    // The very first byte of a file only selects its single-byte string.
    uint32_t cur = current_ < 0 ? *p++ : static_cast<uint32_t>(current_);
    uint64_t bits = bits_;
    uint32_t nbits = bit_count_;
    uint32_t width = width_;
    uint32_t next = next_code_;
    uint32_t limit = 1u << width;

    // Branch-free: store eight bytes, keep the complete ones (max_output
    // leaves room for the spare ones), carry fewer than 8 bits.
    auto put = [&](uint32_t code) {
        bits |= static_cast<uint64_t>(code) << nbits;
        nbits += width;
        store_le64(o, bits);
        o += nbits >> 3;
        bits >>= nbits & ~7u;
        nbits &= 7;
    };

    while (p < end) {
        const uint32_t b = *p++;
        const uint32_t key = (cur << 8) | b;
        uint32_t h = cur ^ kScatter.v[b];
        uint32_t e;
        while ((e = table_[h]) != 0 && (e >> 12) != key) h = (h + 1) & kTableMask;
        if (e != 0) {
            cur = e & 0xFFFu;
            continue;
        }
        put(cur);
        table_[h] = (key << 12) | next;
        if constexpr (Track) slot_of_[next - kFirstFree] = static_cast<uint16_t>(h);
        cur = b;
        if (++next == limit) {
            if (width == kMaxWidth) {
                put(kClear);
                std::memset(table_, 0, sizeof table_);
                next = kFirstFree;
                width = 9;
            } else {
                put(kWiden);
                ++width;
            }
            limit = 1u << width;
        }
    }

    // Hand over every complete byte; fewer than 8 bits stay pending.
    while (nbits >= 8) {
        *o++ = static_cast<uint8_t>(bits);
        bits >>= 8;
        nbits -= 8;
    }
    current_ = static_cast<int32_t>(cur);
    bits_ = bits;
    bit_count_ = nbits;
    width_ = width;
    next_code_ = next;
    return static_cast<size_t>(o - out);
}

size_t LzwEncoder::finish(uint8_t* out) {
    return end_stream(kEnd, out, nullptr);
}

size_t LzwEncoder::end_stream(uint32_t code, uint8_t* out, uint64_t* bit_length) {
    uint8_t* o = out;
    uint64_t bits = bits_;
    uint32_t nbits = bit_count_;
    if (current_ >= 0) {
        bits |= static_cast<uint64_t>(current_) << nbits;
        nbits += width_;
    }
    bits |= static_cast<uint64_t>(code) << nbits;
    nbits += width_;
    if (bit_length) *bit_length = nbits;
    while (nbits > 0) {
        *o++ = static_cast<uint8_t>(bits);
        bits >>= 8;
        nbits = nbits > 8 ? nbits - 8 : 0;
    }
    current_ = -1;
    bits_ = 0;
    bit_count_ = 0;
    return static_cast<size_t>(o - out);
}

uint64_t LzwEncoder::compress_piece(const uint8_t* in, size_t length, bool last,
                                    std::vector<uint8_t>& out) {
    reset();
    out.resize(max_output(length) + kMaxFinishBytes);
    size_t n = length < kTrackBelow ? compress_impl<true>(in, length, out.data())
                                    : compress_impl<false>(in, length, out.data());
    uint64_t tail = 0;
    size_t m = end_stream(last ? kEnd : kClear, out.data() + n, &tail);
    out.resize(n + m);
    return static_cast<uint64_t>(n) * 8 + tail;
}

}  // namespace vardel
