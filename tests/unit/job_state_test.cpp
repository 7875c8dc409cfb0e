// Start values and the arithmetic shared by the pipeline and the dialogs.
#include <gtest/gtest.h>

#include "batch/job_state.h"
#include "codec/codec.h"

namespace {

TEST(JobState, StartsAtFullSizeAndQuality90) {
  JobState job;
  EXPECT_EQ(job.sizeChoice, SIZE_FULL);
  EXPECT_EQ(job.quality, 90);
  EXPECT_EQ(job.commandLineLength, 0u);
  EXPECT_EQ(job.jpegBuffer.data(), nullptr);
  EXPECT_EQ(job.pixelBuffer.data(), nullptr);
}

TEST(RowPad, MakesEveryRowAMultipleOfFourBytes) {
  const struct {
    int32_t width, pad;
  } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 0}, {5, 1}, {8, 0}, {1001, 1}, {65535, 3}};
  for (const auto& c : cases) {
    EXPECT_EQ(RowPad(c.width), c.pad) << c.width;
    EXPECT_EQ((3 * c.width + RowPad(c.width)) % 4, 0) << c.width;
  }
}

TEST(BlockSize, IsWidthPlusPadTimesHeightTimesThree) {
  EXPECT_EQ(BlockSize(1000, 750), 2'250'000u);
  EXPECT_EQ(BlockSize(5, 2), (5u + 1u) * 2u * 3u);
  EXPECT_EQ(BlockSize(0, 0), 0u);
  EXPECT_EQ(BlockSize(0, 100), 0u);
  EXPECT_EQ(BlockSize(100, 0), 0u);
}

TEST(BlockSize, HugeImagesAreComputedWithoutWrapping) {
  // 65000 x 65000 x 3 wraps in 32 bits; in 64 it is far above what a 32-bit
  // process can hold, and a page block refuses it.
  const uint64_t bytes = BlockSize(65000, 65000);
  EXPECT_EQ(bytes, 65000ull * 65000ull * 3ull);
  EXPECT_GT(bytes, kMaxBlockBytes);
  PageBlock block;
  EXPECT_FALSE(block.Allocate(bytes));
  EXPECT_EQ(block.data(), nullptr);
  EXPECT_EQ(block.size(), 0u);
}

TEST(OutputCapacity, CoversTheEncodersWorstCaseForTinyImages) {
  for (int32_t side : {1, 8, 16}) {
    EXPECT_GE(OutputCapacity(side, side), CodecEncodedSizeBound(side, side)) << side;
    EXPECT_GT(OutputCapacity(side, side), BlockSize(side, side)) << side;
  }
  EXPECT_GE(OutputCapacity(4000, 3000), BlockSize(4000, 3000));
  EXPECT_EQ(OutputCapacity(0, 0), 0u);
}

TEST(KbText, ShiftsRightByTenBits) {
  EXPECT_EQ(KbText(0), "0 KB");
  EXPECT_EQ(KbText(1023), "0 KB");
  EXPECT_EQ(KbText(1024), "1 KB");
  EXPECT_EQ(KbText(2'000'000), "1953 KB");
  EXPECT_EQ(KbText(0xFFFFFFFFu), "4194303 KB");
}

TEST(PageBlock, IsZeroFilledAndHandsOverOnMove) {
  PageBlock a;
  ASSERT_TRUE(a.Allocate(10000));
  for (uint8_t byte : a.bytes())
    ASSERT_EQ(byte, 0);
  a.data()[9999] = 7;
  PageBlock b = std::move(a);
  EXPECT_EQ(a.data(), nullptr);
  ASSERT_EQ(b.size(), 10000u);
  EXPECT_EQ(b.data()[9999], 7);
  ASSERT_TRUE(b.Allocate(0));  // an empty request releases and succeeds
  EXPECT_EQ(b.data(), nullptr);
}

}  // namespace
