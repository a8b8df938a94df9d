#pragma once
// A bump allocator over chunks of a fixed size (64000 bytes in the service).
// A request larger than the chunk size gets a chunk of its own, put first in
// the list. reset() marks every chunk unused and starts again at the first;
// the memory is freed only when the pool is destroyed. New memory is zeroed.
// Not thread-safe: one owner.
#include <cstddef>
#include <memory>
#include <vector>

namespace vardel {

class ChunkPool {
  public:
    static constexpr size_t kDefaultChunkSize = 64000;

    explicit ChunkPool(size_t chunk_size = kDefaultChunkSize);
    ChunkPool(const ChunkPool&) = delete;
    ChunkPool& operator=(const ChunkPool&) = delete;

    // n zeroed bytes, aligned for any object. Throws MyError 22
    // "Memory allocation failure" when memory runs out.
    void* allocate(size_t n);
    void reset();

    size_t chunk_count() const { return chunks_.size(); }
    size_t chunk_size() const { return chunk_size_; }

  private:
    struct Chunk {
        std::unique_ptr<unsigned char[]> data;
        size_t size;
        size_t used;
    };
    Chunk make_chunk(size_t size);

    size_t chunk_size_;
    std::vector<Chunk> chunks_;
    size_t current_ = 0;
};

}  // namespace vardel
