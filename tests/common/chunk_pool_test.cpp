#include "common/chunk_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace vardel {
namespace {

TEST(ChunkPool, BumpsWithinAChunkAndMovesOnWhenFull) {
    ChunkPool pool(1000);
    auto* a = static_cast<unsigned char*>(pool.allocate(400));
    auto* b = static_cast<unsigned char*>(pool.allocate(400));
    EXPECT_EQ(pool.chunk_count(), 1u);
    EXPECT_GE(b - a, 400);
    pool.allocate(400);
    EXPECT_EQ(pool.chunk_count(), 2u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % alignof(std::max_align_t), 0u);
}

TEST(ChunkPool, OversizedRequestsGetAChunkOfTheirOwn) {
    ChunkPool pool(1000);
    pool.allocate(10);
    auto* big = static_cast<unsigned char*>(pool.allocate(5000));
    std::memset(big, 0xAB, 5000);
    EXPECT_EQ(pool.chunk_count(), 2u);
    // The small chunk still has room and is used again.
    pool.allocate(10);
    EXPECT_EQ(pool.chunk_count(), 2u);
}

TEST(ChunkPool, ResetReusesChunksAndMemoryComesZeroed) {
    ChunkPool pool(1000);
    auto* a = static_cast<unsigned char*>(pool.allocate(900));
    std::memset(a, 0xFF, 900);
    pool.allocate(900);
    size_t chunks = pool.chunk_count();
    pool.reset();
    auto* again = static_cast<unsigned char*>(pool.allocate(900));
    EXPECT_EQ(pool.chunk_count(), chunks);
    for (int i = 0; i < 900; ++i) ASSERT_EQ(again[i], 0);
}

}  // namespace
}  // namespace vardel
