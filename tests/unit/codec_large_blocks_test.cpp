// The keeper of the codec's large blocks, which a batch's photos reuse.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "codec/large_blocks.h"

namespace {

TEST(LargeBlocks, AKeptBlockServesTheSmallestRequestItHolds) {
  const size_t kib = 1024;
  LargeBlocks blocks(1024 * kib);
  EXPECT_EQ(blocks.Take(1024 * kib + 1), nullptr);
  void* big = blocks.Take(300 * kib);
  void* small = blocks.Take(200 * kib);
  ASSERT_TRUE(big != nullptr && small != nullptr);
  blocks.Give(big, 300 * kib);
  blocks.Give(small, 200 * kib);
  EXPECT_EQ(blocks.Take(150 * kib), small);
  EXPECT_EQ(blocks.Take(250 * kib), big);
  std::memset(big, 1, 250 * kib);
  // Given back with the size it was asked for, it still holds its own.
  blocks.Give(small, 150 * kib);
  void* again = blocks.Take(200 * kib);
  EXPECT_EQ(again, small);
  std::memset(again, 2, 200 * kib);
  blocks.Give(again, 200 * kib);
  blocks.Give(big, 250 * kib);
  blocks.Release();
}

}  // namespace
