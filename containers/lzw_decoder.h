#pragma once
// The LZW decoder of SAF entries, the inverse of LzwEncoder (see
// docs/lzw-format.md). A code cut by the end of a block is completed by the
// next call, so a stream may be fed in blocks of any size, even one byte.
//
// Every string decoded since the last clear is kept in one history buffer;
// a dictionary entry is a (start, length) pair into it, so adding an entry
// copies nothing. The buffer grows as needed and is kept across files; a
// generation between two clears holds at most 3837 codes of at most 3837
// bytes, which bounds it (about 15 MB) even for a hostile stream.
//
// Corrupt input throws MyError BAD_DATA: "Bad data in decompression" for a
// code above the next free code, and also for a stream that would add an
// entry beyond 4095 without a clear; "code data error in decompression" for
// a code that has no entry (259, or a dictionary code right after a clear).
// After a throw the decoder must be reset.
//
// One object per user; not thread-safe.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace vardel {

class LzwDecoder {
  public:
    // Receives decoded bytes; the data is valid only during the call.
    using Sink = std::function<void(const uint8_t* data, size_t length)>;

    LzwDecoder();

    // Table back to the 256 single bytes, width 9, next code 260, no
    // pending bits, not finished.
    void reset();
    // Decodes every complete code of the block, handing the bytes to `sink`
    // (in one or more calls). Stops at code 257: later bytes, in this block
    // or later ones, are ignored.
    void decompress(const uint8_t* in, size_t length, const Sink& sink);
    // True once code 257 has been read.
    bool finished() const { return finished_; }

  private:
    struct Entry {
        uint32_t start;  // offset in history_
        uint32_t length;
    };

    void start_generation();
    void reserve(size_t needed);
    void flush(const Sink& sink);
    [[noreturn]] static void bad_data();
    [[noreturn]] static void code_data_error();

    std::unique_ptr<uint8_t[]> history_;
    size_t capacity_ = 0;
    size_t length_ = 0;   // bytes in history_ (the 256 single bytes first)
    size_t flushed_ = 0;  // history_ up to here has gone to the sink
    Entry entries_[4096];
    uint32_t next_code_ = 260;
    uint32_t width_ = 9;
    uint64_t bits_ = 0;
    uint32_t bit_count_ = 0;
    bool first_ = true;  // the next code starts a generation
    bool finished_ = false;
    uint32_t prev_start_ = 0;
    uint32_t prev_length_ = 0;
};

}  // namespace vardel
