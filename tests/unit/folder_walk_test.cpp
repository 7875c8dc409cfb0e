// Explorer's name order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "batch/folder_walk.h"

namespace {

// Names in Explorer's order: Microsoft's example for StrCmpLogicalW first.
const std::vector<std::string> kOrdered = {
    "", "2string", "3string", "20string", "st2ring", "st3ring", "st20ring", "string2", "string3",
    "string20",
    // Numbers of any length, leading zeros; ties in value ordered by bytes.
    "x0", "x000", "x00000000000000000000000001", "x01", "x1", "x7", "x08", "x9", "x10",
    "x18446744073709551615", "x18446744073709551616", "x99999999999999999999999",
    "x100000000000000000000000",
    // Letters without case; ties in case ordered by bytes.
    "Y.JPG", "Y.jpg", "y.jpg", "y1.jpg", "Y2.JPG", "y10.jpg",
    // Punctuation by byte value, lower case first: '_' before the letters.
    "z z", "z-z", "z.z", "z0", "Z_", "za", "z~",
    // Other bytes by value, after ASCII.
    "\xC3\x89", "\xC3\xA9"};

TEST(LogicalNameLess, OrdersNamesAsExplorerDoes) {
  for (size_t i = 0; i < kOrdered.size(); ++i) {
    for (size_t j = 0; j < kOrdered.size(); ++j) {
      EXPECT_EQ(LogicalNameLess(kOrdered[i], kOrdered[j]), i < j)
          << '"' << kOrdered[i] << "\" vs \"" << kOrdered[j] << '"';
    }
  }
}

TEST(LogicalNameLess, SortsAShuffledList) {
  std::mt19937 random(20240601);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::string> names = kOrdered;
    std::shuffle(names.begin(), names.end(), random);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return LogicalNameLess(a, b); });
    EXPECT_EQ(names, kOrdered);
  }
}

}  // namespace
