#include "containers/lzw_bit_joiner.h"

namespace vardel {

void LzwBitJoiner::append(const uint8_t* data, uint64_t bits, std::vector<uint8_t>& out) {
    const size_t whole = static_cast<size_t>(bits / 8);
    const uint32_t rest = static_cast<uint32_t>(bits % 8);
    if (pending_count_ == 0) {
        out.insert(out.end(), data, data + whole);
    } else {
        const uint32_t shift = pending_count_;
        size_t at = out.size();
        out.resize(at + whole);
        uint8_t* o = out.data() + at;
        uint32_t carry = pending_;
        for (size_t i = 0; i < whole; ++i) {
            o[i] = static_cast<uint8_t>(carry | (data[i] << shift));
            carry = data[i] >> (8 - shift);
        }
        pending_ = carry;
    }
    if (rest) {
        uint32_t last = data[whole] & ((1u << rest) - 1);
        pending_ |= last << pending_count_;
        pending_count_ += rest;
        if (pending_count_ >= 8) {
            out.push_back(static_cast<uint8_t>(pending_));
            pending_ >>= 8;
            pending_count_ -= 8;
        }
    }
}

void LzwBitJoiner::finish(std::vector<uint8_t>& out) {
    if (pending_count_) out.push_back(static_cast<uint8_t>(pending_));
    pending_ = 0;
    pending_count_ = 0;
}

}  // namespace vardel
