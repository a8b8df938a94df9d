#include "common/chunk_pool.h"

#include <cstring>
#include <new>

#include "common/my_error.h"

namespace vardel {

namespace {
constexpr size_t kAlign = alignof(std::max_align_t);
size_t round_up(size_t n) {
    return (n + kAlign - 1) & ~(kAlign - 1);
}
}  // namespace

ChunkPool::ChunkPool(size_t chunk_size) : chunk_size_(chunk_size) {}

ChunkPool::Chunk ChunkPool::make_chunk(size_t size) {
    unsigned char* p = new (std::nothrow) unsigned char[size];
    if (!p) throw MyError(MEMORY_EXHAUSTED, "Memory allocation failure");
    return Chunk{std::unique_ptr<unsigned char[]>(p), size, 0};
}

void* ChunkPool::allocate(size_t n) {
    if (n == 0) n = 1;
    if (n > chunk_size_) {
        // Oversized: a chunk of its own at the front, never bump-allocated from.
        chunks_.insert(chunks_.begin(), make_chunk(n));
        chunks_.front().used = n;
        ++current_;
        std::memset(chunks_.front().data.get(), 0, n);
        return chunks_.front().data.get();
    }
    while (true) {
        if (current_ >= chunks_.size()) chunks_.push_back(make_chunk(chunk_size_));
        Chunk& c = chunks_[current_];
        size_t at = round_up(c.used);
        if (at + n <= c.size) {
            c.used = at + n;
            unsigned char* p = c.data.get() + at;
            std::memset(p, 0, n);
            return p;
        }
        ++current_;
    }
}

void ChunkPool::reset() {
    for (Chunk& c : chunks_) c.used = 0;
    current_ = 0;
}

}  // namespace vardel
