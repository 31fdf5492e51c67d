// Big data blocks: reused when a transfer of about the same size follows,
// handed back to the kernel beyond a few, and intact whatever path they
// take through a vector's growth.
#include <gtest/gtest.h>

#include <numeric>

#include "support/BigBlocks.h"
#include "support/DataVector.h"

namespace cvn {
namespace {

TEST(BigBlocks, FreedBlocksServeTheNextTransferAndStayFew) {
    const size_t size = size_t{4} << 20;  // within the bytes kept
    void* first = bigblocks::Allocate(size);
    static_cast<char*>(first)[size - 1] = 7;  // all of it is there
    bigblocks::Free(first);
    const size_t kept = bigblocks::KeptBytes();
    EXPECT_GE(kept, size);
    // A block of about the same size reuses it; a much smaller one does not.
    void* again = bigblocks::Allocate(size - 1000);
    EXPECT_EQ(again, first);
    void* small = bigblocks::Allocate(bigblocks::kMinBytes);
    EXPECT_NE(small, first);
    bigblocks::Free(small);
    bigblocks::Free(again);

    // Many freed blocks: only a few are kept, within the byte limit.
    std::vector<void*> blocks;
    for (int i = 0; i < 12; ++i) blocks.push_back(bigblocks::Allocate((size_t{1} << 20) * (i + 1)));
    for (void* b : blocks) bigblocks::Free(b);
    EXPECT_LE(bigblocks::KeptBytes(), bigblocks::kKeptBytes);
    bigblocks::Free(nullptr);
}

TEST(BigBlocks, VectorsGrowAcrossTheThresholdWithTheirValues) {
    DataVector<int16_t> v;
    for (int i = 0; i < 400000; ++i) v.push_back(static_cast<int16_t>(i));  // small, then big
    ASSERT_EQ(v.size(), 400000u);
    for (int i = 0; i < 400000; i += 997) ASSERT_EQ(v[i], static_cast<int16_t>(i));
    // Zeros where they are asked for, even in a reused block.
    v = DataVector<int16_t>();
    DataVector<int16_t> zeros(400000, int16_t{0});
    EXPECT_EQ(std::accumulate(zeros.begin(), zeros.end(), 0), 0);
    DataVector<double> shrunk(1 << 20);
    shrunk.resize(10);
    shrunk.shrink_to_fit();  // big to small: freed by the path it came by
    EXPECT_EQ(shrunk.size(), 10u);
}

}  // namespace
}  // namespace cvn
