// What every end-to-end test shares: a fresh folder of its own under
// TBM_WORK, the sample photos, and the checks on what the program leaves on
// disk.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "files.h"
#include "program.h"

namespace e2e {

// testorig.jpg, the codec's own sample: 227 by 149 pixels, 5770 bytes.
inline constexpr int kSampleWidth = 227;
inline constexpr int kSampleHeight = 149;

// After each test, every file it put is unchanged byte for byte, and the
// folders it put them in hold nothing but those files and their X-names: a
// temporary file left behind fails the test whatever it asserted itself.
class E2eTest : public testing::Test {
 public:
  // A photo from the sample folder, read whole.
  static Bytes Sample(const std::string& name);
  // A photo made by MakeBigPhoto from testorig.jpg, made once and kept in
  // TBM_CACHE (scripts/e2e: build/e2e-cache), so that later runs only read
  // it: a 200 MP photo takes some seconds to make.
  static Bytes BigPhoto(int width, int height, bool progressive);
  // An environment variable that the runner must have set.
  static std::string Required(const char* name);

 protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& Folder() const { return folder_; }
  std::string Path(const std::string& name) const { return folder_ + "\\" + name; }
  // Writes a file into the test's folder and gives its path.
  std::string Put(const std::string& name, const Bytes& bytes);

 private:
  std::string folder_;
  std::map<std::string, Bytes> put_;  // by full path
};

// The name with an X before its first dot: img.jpg -> imgX.jpg.
std::string XName(const std::string& name);

std::string Quoted(const std::string& path);

// A saved output: a baseline 8-bit JPEG of `width` by `height`, three
// components sampled 2x1, 1x1, 1x1, encoded at `quality`, that decodes whole.
testing::AssertionResult IsOutput(const std::string& path, int width, int height, int quality);

// The file holds exactly `expected`.
testing::AssertionResult Holds(const std::string& path, const Bytes& expected);

// "N KB" for a byte count, as the quality dialog shows sizes.
std::string KbText(size_t bytes);

// "W by H", as both dialogs show an image's size in pixels.
std::string SizeText(int width, int height);

}  // namespace e2e
