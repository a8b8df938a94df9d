#include "containers/lzw_decoder.h"

#include <cstring>

#include "common/my_error.h"
#include "containers/byte_order.h"

namespace vardel {

namespace {
constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;
constexpr uint32_t kWiden = 258;
constexpr uint32_t kUnused = 259;
constexpr uint32_t kFirstFree = 260;
constexpr uint32_t kMaxWidth = 12;
constexpr uint32_t kTableSize = 4096;
// Room kept after the history's end: the longest string plus the overrun of
// the 16-byte copies.
constexpr size_t kSlack = kTableSize + 32;
constexpr size_t kInitialCapacity = 256 * 1024;
}  // namespace

LzwDecoder::LzwDecoder() {
    for (uint32_t c = 0; c < 256; ++c) entries_[c] = Entry{c, 1};
    reset();
}

void LzwDecoder::bad_data() {
    throw MyError(BAD_DATA, "Bad data in decompression");
}
void LzwDecoder::code_data_error() {
    throw MyError(BAD_DATA, "code data error in decompression");
}

void LzwDecoder::reserve(size_t needed) {
    if (needed <= capacity_) return;
    size_t cap = capacity_ ? capacity_ : kInitialCapacity;
    while (cap < needed) cap *= 2;
    std::unique_ptr<uint8_t[]> grown(new uint8_t[cap]());
    if (length_) std::memcpy(grown.get(), history_.get(), length_);
    history_ = std::move(grown);
    capacity_ = cap;
}

void LzwDecoder::start_generation() {
    length_ = 256;
    flushed_ = 256;
    next_code_ = kFirstFree;
    width_ = 9;
    first_ = true;
}

void LzwDecoder::reset() {
    reserve(kInitialCapacity);
    for (uint32_t c = 0; c < 256; ++c) history_[c] = static_cast<uint8_t>(c);
    start_generation();
    bits_ = 0;
    bit_count_ = 0;
    finished_ = false;
}

void LzwDecoder::flush(const Sink& sink) {
    if (length_ > flushed_) {
        sink(history_.get() + flushed_, length_ - flushed_);
        flushed_ = length_;
    }
}

void LzwDecoder::decompress(const uint8_t* in, size_t length, const Sink& sink) {
    if (finished_) return;
    const uint8_t* p = in;
    const uint8_t* const end = in + length;
    uint64_t bits = bits_;
    uint32_t nbits = bit_count_;

    for (;;) {
        if (nbits < width_) {
            if (end - p >= 8) {
                // Bits above nbits may hold the start of the next unread byte:
                // the same bits land there again when it is read.
                bits |= load_le64(p) << nbits;
                p += (63 - nbits) >> 3;
                nbits |= 56;
            } else {
                while (nbits < width_ && p < end) {
                    bits |= static_cast<uint64_t>(*p++) << nbits;
                    nbits += 8;
                }
                if (nbits < width_) break;
            }
        }
        const uint32_t code = static_cast<uint32_t>(bits) & ((1u << width_) - 1);
        bits >>= width_;
        nbits -= width_;

        if (code >= kClear && code <= kWiden) {
            if (code == kEnd) {
                finished_ = true;
                break;
            }
            if (code == kWiden && width_ < kMaxWidth) {
                ++width_;
                continue;
            }
            flush(sink);
            start_generation();
            continue;
        }

        if (first_) {
            if (code >= kClear) {
                if (code > next_code_) bad_data();
                code_data_error();
            }
            reserve(length_ + kSlack);
            history_[length_] = static_cast<uint8_t>(code);
            prev_start_ = static_cast<uint32_t>(length_);
            prev_length_ = 1;
            ++length_;
            first_ = false;
            continue;
        }
        if (code > next_code_) bad_data();
        // A well-formed stream is cleared before the table fills.
        if (next_code_ >= kTableSize) bad_data();
        if (length_ + kSlack > capacity_) reserve(length_ + kSlack);
        uint8_t* const hist = history_.get();
        const uint32_t out = static_cast<uint32_t>(length_);
        uint32_t len;
        if (code < next_code_) {
            if (code == kUnused) code_data_error();
            const Entry e = entries_[code];
            len = e.length;
            if (len <= 16 && out - e.start >= 16)
                std::memcpy(hist + out, hist + e.start, 16);
            else
                std::memcpy(hist + out, hist + e.start, len);
        } else {
            // The code being defined: the previous string and its first byte.
            len = prev_length_ + 1;
            if (prev_length_ <= 16 && out - prev_start_ >= 16)
                std::memcpy(hist + out, hist + prev_start_, 16);
            else
                std::memcpy(hist + out, hist + prev_start_, prev_length_);
            hist[out + prev_length_] = hist[prev_start_];
        }
        // The previous string and the first byte of this one lie side by side.
        entries_[next_code_++] = Entry{prev_start_, prev_length_ + 1};
        prev_start_ = out;
        prev_length_ = len;
        length_ += len;
    }

    bits_ = nbits ? bits & ((uint64_t{1} << nbits) - 1) : 0;
    bit_count_ = nbits;
    flush(sink);
}

}  // namespace vardel
