#pragma once
// Joins LZW bit streams compressed apart (LzwEncoder::compress_piece) into
// one: each piece's bits follow the previous piece's last bit, as if one
// encoder had written them all. Complete bytes go out at once; fewer than 8
// bits wait for the next piece or finish().
//
// One per stream; one thread.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vardel {

class LzwBitJoiner {
  public:
    // Appends `bits` bits of `data` (least significant bit first); the
    // complete bytes are appended to `out`.
    void append(const uint8_t* data, uint64_t bits, std::vector<uint8_t>& out);
    // Appends the last partial byte, if any, high bits zero.
    void finish(std::vector<uint8_t>& out);

  private:
    uint32_t pending_ = 0;  // bits not yet in a complete byte
    uint32_t pending_count_ = 0;
};

}  // namespace vardel
