// The output's path and the name shown for it.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "batch/long_path.h"
#include "batch/output_naming.h"

namespace {

// Code page 932's lead bytes.
bool Cp932LeadBytes(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// In code page 932: ソ and 表, whose second bytes are a backslash's.
const std::string kSo = "\x83\x5C";
const std::string kHyo = "\x95\x5C";

struct NamingCase {
  std::string_view input;
  std::string_view output;
  std::string_view shown;
};

TEST(OutputNaming, PutsTheXBeforeTheFirstDotOfTheFileName) {
  const NamingCase cases[] = {
      {"C:\\pics\\img.jpg", "C:\\pics\\imgX.jpg", "imgX.jpg"},
      {"C:\\pics\\a.b.jpg", "C:\\pics\\aX.b.jpg", "aX.b.jpg"},
      {"C:\\pics\\noext", "C:\\pics\\noextX", "noextX"},
      {"C:\\my.pics\\img.jpg", "C:\\my.pics\\imgX.jpg", "imgX.jpg"},
      {"C:\\my.pics\\noext", "C:\\my.pics\\noextX", "noextX"},
      {"C:\\pics\\.jpg", "C:\\pics\\X.jpg", "X.jpg"},
      {"C:\\pics\\imgX.jpg", "C:\\pics\\imgXX.jpg", "imgXX.jpg"},
      {"img.jpg", "imgX.jpg", "imgX.jpg"},
      {"C:\\pics\\", "C:\\pics\\X", "X"},
      {"", "X", "X"},
      // Windows reads a slash as a folder separator too.
      {"C:/my.pics/img.jpg", "C:/my.pics/imgX.jpg", "imgX.jpg"},
      {"\\\\server\\share.x\\a b.jpeg", "\\\\server\\share.x\\a bX.jpeg", "a bX.jpeg"},
  };
  for (const auto& c : cases) {
    PhotoNames job;
    ASSERT_TRUE(BuildOutputPath(job, c.input)) << c.input;
    BuildDisplayName(job);
    EXPECT_EQ(std::string_view(job.OutputPath.data()), c.output) << c.input;
    EXPECT_EQ(std::string_view(job.DisplayName.data()), c.shown) << c.input;
  }
}

TEST(OutputNaming, APathWhoseXNameDoesNotFitIsRefusedWithoutOverrun) {
  PhotoNames job;
  const std::string longest = "C:\\" + std::string(254, 'a') + ".j";  // 259 characters
  ASSERT_EQ(longest.size(), 259u);
  job.OutputPath.fill('?');
  EXPECT_FALSE(BuildOutputPath(job, longest));
  EXPECT_EQ(job.OutputPath[0], '\0');

  const std::string fits = longest.substr(1);  // 258 characters and the X
  ASSERT_TRUE(BuildOutputPath(job, fits));
  EXPECT_EQ(std::string_view(job.OutputPath.data()).size(), 259u);
  EXPECT_EQ(job.OutputPath[259], '\0');
}

TEST(OutputNaming, EachFileGetsItsOwnShownName) {
  PhotoNames job;
  for (std::string_view name : {"a.jpg", "b.jpg", "c.jpg"}) {
    ASSERT_TRUE(BuildOutputPath(job, "C:\\pics\\" + std::string(name)));
    BuildDisplayName(job);
    EXPECT_EQ(std::string(job.DisplayName.data()), std::string(1, name[0]) + "X.jpg");
  }
}

TEST(OutputNaming, DoubleByteCharactersAreReadWhole) {
  struct {
    std::string input, output, shown;
  } const cases[] = {
      {"C:\\p\\a." + kSo + ".jpg", "C:\\p\\aX." + kSo + ".jpg", "aX." + kSo + ".jpg"},
      {"C:\\p\\" + kSo + "\x83\x6A\x81\x5B.jpg", "C:\\p\\" + kSo + "\x83\x6A\x81\x5BX.jpg",
       kSo + "\x83\x6A\x81\x5BX.jpg"},  // ソニー.jpg
      {"C:\\" + kHyo + ".d\\" + kSo, "C:\\" + kHyo + ".d\\" + kSo + "X", kSo + "X"},
      // A lead byte at the very end stands alone.
      {"C:\\p\\a\x83", "C:\\p\\a\x83X", "a\x83X"},
  };
  for (const auto& c : cases) {
    PhotoNames job;
    ASSERT_TRUE(BuildOutputPath(job, c.input, Cp932LeadBytes)) << c.input;
    BuildDisplayName(job, Cp932LeadBytes);
    EXPECT_EQ(std::string_view(job.OutputPath.data()), c.output) << c.input;
    EXPECT_EQ(std::string_view(job.DisplayName.data()), c.shown) << c.input;
  }
}

TEST(TemporaryPath, IsAShortNameInTheOutputsFolder) {
  const std::string folder = "C:\\" + std::string(247, 'f');  // 250 bytes
  const std::string output = folder + "\\pX.1.jpg";           // 259 bytes
  ASSERT_EQ(output.size(), 259u);
  struct Case {
    std::string output;
    uint32_t attempt;
    LeadByteRule rule;
    std::string temporary;
  };
  const Case cases[] = {
      {output, 0, NoLeadBytes, folder + "\\tbm0000.tmp"},
      {output, 0xBEEF, NoLeadBytes, folder + "\\tbmBEEF.tmp"},
      {"C:\\p\\aX." + kSo + ".jpg", 1, Cp932LeadBytes, "C:\\p\\tbm0001.tmp"},
      {"C:\\" + kHyo + "\\" + kSo + "X", 2, Cp932LeadBytes, "C:\\" + kHyo + "\\tbm0002.tmp"},
      {"imgX.jpg", 3, NoLeadBytes, "tbm0003.tmp"},
      // In drive D's current folder, as the output.
      {"D:imgX.jpg", 4, NoLeadBytes, "D:tbm0004.tmp"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TemporaryPath(c.output, c.attempt, c.rule), c.temporary) << c.output;
  }
}

TEST(LongPathForm, LiftsTheLengthLimitOfDrivesAndShares) {
  const std::wstring tail = L"\\" + std::wstring(300, L'f') + L"\\tbm0000.tmp";
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:" + tail, L"\\\\?\\C:" + tail},
      {L"\\\\server\\share" + tail, L"\\\\?\\UNC\\server\\share" + tail},
      {L"\\\\?\\C:\\a.jpg", L"\\\\?\\C:\\a.jpg"},
      // A device the system found in a name stays one: no file can take it.
      {L"\\\\.\\AUX", L"\\\\.\\AUX"},
  };
  for (const auto& [full, expected] : cases) {
    EXPECT_EQ(LongPathForm(full), expected);
  }
}

}  // namespace
