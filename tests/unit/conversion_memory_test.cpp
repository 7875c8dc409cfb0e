// A conversion's memory: the pixel layout's arithmetic, page blocks and the
// copy's regions.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "codec/codec.h"
#include "convert/conversion.h"

namespace {

// The next region, which must be there.
std::span<uint8_t> Next(OutputBlock& out) {
  std::span<uint8_t> region;
  EXPECT_EQ(out.NextRegion(region), CODEC_OK);
  return region;
}

// What the output block's regions hold: every region taken, read back whole.
uint64_t TakenBytes(const OutputBlock& out) {
  uint64_t bytes = 0;
  for (const auto piece : out.Pieces(UINT64_MAX))
    bytes += piece.size();
  return bytes;
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

TEST(OutputBlock, HandsOutRegionsUpToTheBoundAndKeepsThemForTheNextEncoding) {
  OutputBlock out;
  ASSERT_TRUE(out.Prepare(0));
  EXPECT_EQ(TakenBytes(out), 0u);
  std::span<uint8_t> none;
  EXPECT_EQ(out.NextRegion(none), CODEC_OUTPUT_FULL);
  EXPECT_TRUE(none.empty());
  // A small photo's bound takes one region, no larger than the granularity needs.
  ASSERT_TRUE(out.Prepare(1000));
  EXPECT_EQ(TakenBytes(out), 64u * 1024);
  out.Rewind();
  EXPECT_EQ(Next(out).size(), 64u * 1024);
  // Past the bound is an encoding that does not fit, not memory short.
  EXPECT_EQ(out.NextRegion(none), CODEC_OUTPUT_FULL) << "nothing past the bound";

  // A large one takes regions only as they are asked for.
  const uint64_t most = 2 * OutputBlock::kRegionBytes + 1;
  ASSERT_TRUE(out.Prepare(most));
  EXPECT_EQ(TakenBytes(out), OutputBlock::kRegionBytes);
  out.Rewind();
  std::vector<uint8_t*> first;
  for (int i = 0; i < 3; ++i) {
    const std::span<uint8_t> region = Next(out);
    ASSERT_EQ(region.size(), OutputBlock::kRegionBytes);
    region.front() = static_cast<uint8_t>(i + 1);
    region.back() = static_cast<uint8_t>(i + 11);
    first.push_back(region.data());
  }
  EXPECT_EQ(out.NextRegion(none), CODEC_OUTPUT_FULL);
  out.Rewind();
  EXPECT_EQ(Next(out).data(), first[0]) << "a new encoding writes the same memory";
  // The next photo, prepared for without a Release, takes them over.
  ASSERT_TRUE(out.Prepare(OutputBlock::kRegionBytes + 1));
  out.Rewind();
  EXPECT_EQ(Next(out).data(), first[0]) << "the next photo writes the same memory";

  const auto pieces = out.Pieces(OutputBlock::kRegionBytes + 5);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].size(), OutputBlock::kRegionBytes);
  EXPECT_EQ(pieces[1].size(), 5u);
  EXPECT_EQ(pieces[0].back(), 11);
  EXPECT_EQ(pieces[1].front(), 2);
  EXPECT_TRUE(out.Pieces(0).empty());
  out.Release();
  EXPECT_EQ(TakenBytes(out), 0u);
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

TEST(PageBlock, FitKeepsItsPagesWhileTheyAreEnough) {
  PageBlock a;
  ASSERT_TRUE(a.Fit(8000));
  uint8_t* const pages = a.data();
  a.data()[0] = 5;
  ASSERT_TRUE(a.Fit(6000));
  EXPECT_EQ(a.data(), pages);
  EXPECT_EQ(a.size(), 6000u);
  EXPECT_EQ(a.data()[0], 5) << "kept pages hold what they held";
  ASSERT_TRUE(a.Fit(8000));  // back up to what the pages hold
  EXPECT_EQ(a.data(), pages);
  EXPECT_EQ(a.size(), 8000u);
  ASSERT_TRUE(a.Fit(20000));  // more than they hold: a fresh block
  ASSERT_EQ(a.size(), 20000u);
  EXPECT_EQ(a.data()[0], 0);
  EXPECT_EQ(a.data()[19999], 0);
}

}  // namespace
