#include "e2e_test.h"

namespace e2e {

void E2eTest::SetUp() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  // Parameterised names hold slashes.
  for (char& c : name) {
    if (c == '/')
      c = '_';
  }
  folder_ = Required("TBM_WORK") + "\\" + name;
  ASSERT_TRUE(FreshFolder(folder_)) << "cannot make " << folder_;
}

void E2eTest::TearDown() {
  std::map<std::string, std::set<std::string>> allowed;  // folder -> names
  for (const auto& [path, bytes] : put_) {
    EXPECT_TRUE(Holds(path, bytes));
    const size_t slash = path.rfind('\\');
    const std::string name = path.substr(slash + 1);
    allowed[path.substr(0, slash)].insert({name, XName(name)});
  }
  for (const auto& [folder, names] : allowed) {
    for (const std::string& name : FolderNames(folder)) {
      const std::string path = folder + "\\" + name;
      if (!IsFolder(path)) {
        EXPECT_TRUE(names.count(name)) << path << " is neither an input nor its output";
      }
    }
  }
}

std::string E2eTest::Put(const std::string& name, const Bytes& bytes) {
  const std::string path = Path(name);
  if (!WriteBytes(path, bytes)) {
    throw Unexpected("cannot write " + path);
  }
  put_[path] = bytes;
  return path;
}

Bytes E2eTest::Sample(const std::string& name) {
  const std::string path = Required("TBM_SAMPLES") + "\\" + name;
  auto bytes = ReadBytes(path);
  if (!bytes)
    throw Unexpected("cannot read the sample " + path);
  return *bytes;
}

Bytes E2eTest::BigPhoto(int width, int height, bool progressive) {
  // The recipe's version is in the name: a changed recipe makes new files.
  const std::string name = std::string(progressive ? "progressive" : "baseline") + "-" +
                           std::to_string(width) + "x" + std::to_string(height) + "-v1.jpg";
  const std::string path = Required("TBM_CACHE") + "\\" + name;
  if (auto kept = ReadBytes(path)) {
    const FrameDimensions size = FrameSize(*kept);
    // A whole file: the size asked for, and the end marker.
    if (size.width == width && size.height == height && kept->size() > 2 &&
        (*kept)[kept->size() - 2] == 0xFF && kept->back() == 0xD9) {
      return *kept;
    }
  }
  Bytes photo = MakeBigPhoto(Sample("testorig.jpg"), width, height, progressive);
  // Written beside it and renamed, so that a run cut short leaves no half file.
  const std::string temporary = path + ".new";
  if (!WriteBytes(temporary, photo) ||
      !MoveFileExW(Wide(temporary).c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw Unexpected("cannot keep the photo in " + path);
  }
  return photo;
}

std::string E2eTest::Required(const char* name) {
  std::string value = Env(name);
  if (value.empty())
    throw Unexpected(std::string(name) + " is not set: run the tests with scripts/e2e");
  return value;
}

std::string XName(const std::string& name) {
  const size_t dot = name.find('.');
  return dot == std::string::npos ? name + "X" : name.substr(0, dot) + "X" + name.substr(dot);
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

testing::AssertionResult IsOutput(const std::string& path, int width, int height, int quality) {
  const auto bytes = ReadBytes(path);
  if (!bytes)
    return testing::AssertionFailure() << path << " is missing";
  const JpegFacts jpeg = InspectJpeg(*bytes);
  auto failure = [&] { return testing::AssertionFailure() << path << ": "; };
  if (!jpeg.decoded)
    return failure() << "does not decode: " << jpeg.error;
  if (jpeg.width != width || jpeg.height != height) {
    return failure() << jpeg.width << " by " << jpeg.height << ", not " << width << " by "
                     << height;
  }
  if (jpeg.frameMarker != 0xC0 || jpeg.progressive || jpeg.bitsPerSample != 8) {
    return failure() << "not baseline 8-bit (frame marker " << std::hex << jpeg.frameMarker << ")";
  }
  if (jpeg.components != 3)
    return failure() << jpeg.components << " components";
  const int sampling[6] = {jpeg.hSampling[0], jpeg.vSampling[0], jpeg.hSampling[1],
                           jpeg.vSampling[1], jpeg.hSampling[2], jpeg.vSampling[2]};
  const int expected[6] = {2, 1, 1, 1, 1, 1};
  if (!std::equal(sampling, sampling + 6, expected)) {
    return failure() << "sampling " << sampling[0] << "x" << sampling[1] << "," << sampling[2]
                     << "x" << sampling[3] << "," << sampling[4] << "x" << sampling[5]
                     << ", not 2x1,1x1,1x1";
  }
  if (jpeg.firstLuminanceQuant != LuminanceQuantFor(quality)) {
    return failure() << "luminance DC quantizer " << jpeg.firstLuminanceQuant << ", quality "
                     << quality << " gives " << LuminanceQuantFor(quality);
  }
  return testing::AssertionSuccess();
}

testing::AssertionResult Holds(const std::string& path, const Bytes& expected) {
  const auto bytes = ReadBytes(path);
  if (!bytes)
    return testing::AssertionFailure() << path << " cannot be read";
  if (*bytes != expected) {
    return testing::AssertionFailure()
           << path << " has changed: " << bytes->size() << " bytes, was " << expected.size();
  }
  return testing::AssertionSuccess();
}

std::string KbText(size_t bytes) {
  return std::to_string(bytes >> 10) + " KB";
}

std::string SizeText(int width, int height) {
  return std::to_string(width) + " by " + std::to_string(height);
}

}  // namespace e2e
