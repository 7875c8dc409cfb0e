// The fuzz targets' checks on fixed inputs: every input a target once failed
// on (tests/fuzz-regressions/<target>/, where scripts/fuzz puts them), the
// hand-made seeds (fuzz/seeds/<target>/) and the codec's sample photos. Here
// they also run against the Windows builds' codec.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "checks.h"

namespace {

namespace fs = std::filesystem;

struct FuzzInput {
  std::string target;
  fs::path file;
};

void PrintTo(const FuzzInput& input, std::ostream* out) {
  *out << input.target << ": " << input.file.filename().string();
}

std::vector<FuzzInput> SortedByFile(std::vector<FuzzInput> inputs) {
  std::sort(inputs.begin(), inputs.end(),
            [](const FuzzInput& a, const FuzzInput& b) { return a.file < b.file; });
  return inputs;
}

std::vector<FuzzInput> FilesIn(const fs::path& folder, const std::string& target) {
  std::vector<FuzzInput> found;
  std::error_code error;
  for (const auto& file : fs::directory_iterator(folder, error)) {
    if (file.is_regular_file())
      found.push_back({target, file.path()});
  }
  return SortedByFile(std::move(found));
}

// The files of every <target> folder under `root`.
std::vector<FuzzInput> ByTarget(const fs::path& root) {
  std::vector<FuzzInput> found;
  std::error_code error;
  for (const auto& folder : fs::directory_iterator(root, error)) {
    if (!folder.is_directory())
      continue;
    const auto files = FilesIn(folder.path(), folder.path().filename().string());
    found.insert(found.end(), files.begin(), files.end());
  }
  return SortedByFile(std::move(found));
}

std::vector<FuzzInput> Regressions() {
  return ByTarget(TBM_FUZZ_REGRESSIONS_DIR);
}
std::vector<FuzzInput> Seeds() {
  return ByTarget(TBM_FUZZ_SEEDS_DIR);
}
std::vector<FuzzInput> SamplePhotos() {
  std::vector<FuzzInput> photos = FilesIn(TBM_TEST_DATA_DIR, "codec");
  std::erase_if(photos, [](const FuzzInput& p) { return p.file.extension() != ".jpg"; });
  return photos;
}

// "<target>_<file name>", in the characters a test name may hold.
std::string CaseName(const testing::TestParamInfo<FuzzInput>& info) {
  std::string name = info.param.target + "_" + info.param.file.filename().string();
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
      '_');
  return name;
}

class FuzzChecks : public testing::TestWithParam<FuzzInput> {};

TEST_P(FuzzChecks, Hold) {
  const FuzzInput& input = GetParam();
  const fuzz_checks::Target* target = fuzz_checks::FindTarget(input.target);
  ASSERT_NE(target, nullptr) << "no fuzz target named " << input.target;
  std::ifstream file(input.file, std::ios::binary);
  ASSERT_TRUE(file.is_open());
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                   std::istreambuf_iterator<char>()};
  EXPECT_EQ(target->check(bytes), fuzz_checks::Violations{});
}

INSTANTIATE_TEST_SUITE_P(Regression, FuzzChecks, testing::ValuesIn(Regressions()), CaseName);
INSTANTIATE_TEST_SUITE_P(Seed, FuzzChecks, testing::ValuesIn(Seeds()), CaseName);
INSTANTIATE_TEST_SUITE_P(SamplePhoto, FuzzChecks, testing::ValuesIn(SamplePhotos()), CaseName);

// A wrong folder (its Windows path, say) would replay nothing and pass.
TEST(FuzzInputFolders, AreFoundWithEveryTargetsInputs) {
  EXPECT_FALSE(Regressions().empty()) << TBM_FUZZ_REGRESSIONS_DIR;
  EXPECT_FALSE(SamplePhotos().empty()) << TBM_TEST_DATA_DIR;
  const std::vector<FuzzInput> seeds = Seeds();
  for (const fuzz_checks::Target& target : fuzz_checks::Targets()) {
    EXPECT_TRUE(std::any_of(seeds.begin(), seeds.end(),
                            [&](const FuzzInput& seed) { return seed.target == target.name; }))
        << "no seeds for " << target.name << " in " << TBM_FUZZ_SEEDS_DIR;
  }
}

}  // namespace
