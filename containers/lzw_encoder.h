#pragma once
// The LZW encoder of SAF entries (see docs/lzw-format.md): codes of 9 to 12
// bits packed least significant bit first, 256 clear, 257 end of data, 258
// widen, dictionary strings from 260 on, and a clear as soon as code 4095 has
// been assigned.
//
// The dictionary is a hash table keyed on (prefix code, byte): 8192 slots of
// 4 bytes, small enough to stay in the first-level cache, emptied at every
// clear. It assigns codes in the same order as a trie would, so the stream
// is the same code for code.
//
// Use: reset() at the start of every file, compress() for each block in
// order, then finish(). One object per user; not thread-safe. The object
// holds no heap memory and may be reused for any number of files.
//
// A large file may instead be cut into pieces, each compressed from an
// empty dictionary by compress_piece() (on any thread, each with its own
// encoder) and joined in order by LzwBitJoiner: every piece but the last
// ends in a clear code, which every reader takes as the dictionary's reset
// it is anyway every few thousand codes.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vardel {

class LzwEncoder {
  public:
    LzwEncoder();

    // The most bytes compress() can produce from `length` input bytes.
    // finish() produces at most kMaxFinishBytes.
    static constexpr size_t max_output(size_t length) {
        // At most one code per byte and one control code per 252 codes, each
        // at most 12 bits, plus up to 7 bits carried over from the last call.
        return length + length / 2 + length / 128 + 16;
    }
    static constexpr size_t kMaxFinishBytes = 8;

    // Empties the dictionary: width 9, next code 260, no current string.
    void reset();
    // Compresses `length` bytes; writes the complete bytes produced to `out`
    // (which must hold max_output(length)) and returns their count. Bits of
    // an unfinished byte are kept for the next call.
    size_t compress(const uint8_t* in, size_t length, uint8_t* out);
    // Ends the stream: the pending string's code, 257, and the last partial
    // byte (high bits zero). Writes at most kMaxFinishBytes; returns the count.
    // The encoder must be reset before the next file.
    size_t finish(uint8_t* out);

    // Compresses one piece from an empty dictionary into `out` (resized to
    // fit): its codes, then 257 when it is the last piece of the file, else
    // 256. Returns the stream's length in bits; the last byte's unused high
    // bits are zero. A file in one piece gives exactly the stream that
    // reset(), compress() and finish() give.
    uint64_t compress_piece(const uint8_t* in, size_t length, bool last, std::vector<uint8_t>& out);

  private:
    // compress(); Track: records each new code's slot, so that the next
    // clear of a small dictionary empties only those.
    template <bool Track>
    size_t compress_impl(const uint8_t* in, size_t length, uint8_t* out);
    // Writes the pending string's code and `code`, then the partial byte.
    size_t end_stream(uint32_t code, uint8_t* out, uint64_t* bits);

    static constexpr unsigned kTableBits = 13;
    static constexpr uint32_t kTableSize = 1u << kTableBits;
    static constexpr uint32_t kTableMask = kTableSize - 1;

    void clear_dictionary();

    // Slot: (prefix << 20 | byte << 12 | code); 0 is empty (codes are >= 260).
    uint32_t table_[kTableSize];
    // The slot of each code assigned since the last clear (code - 260), when
    // tracked_: a small file's clear empties only the slots it used.
    uint16_t slot_of_[kTableSize];
    bool tracked_;
    int32_t current_;  // code of the current string, -1 before the first byte
    uint32_t next_code_;
    uint32_t width_;
    uint64_t bits_;  // pending bits, least significant first
    uint32_t bit_count_;
};

}  // namespace vardel
