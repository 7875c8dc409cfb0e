// The output's path and the name shown for it.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "batch/output_naming.h"

namespace {

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
    JobState job;
    ASSERT_TRUE(BuildOutputPath(job, c.input)) << c.input;
    BuildDisplayName(job);
    EXPECT_EQ(std::string_view(job.OutputPath.data()), c.output) << c.input;
    EXPECT_EQ(std::string_view(job.DisplayName.data()), c.shown) << c.input;
  }
}

TEST(OutputNaming, APathWhoseXNameDoesNotFitIsRefusedWithoutOverrun) {
  JobState job;
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
  JobState job;
  for (std::string_view name : {"a.jpg", "b.jpg", "c.jpg"}) {
    ASSERT_TRUE(BuildOutputPath(job, "C:\\pics\\" + std::string(name)));
    BuildDisplayName(job);
    EXPECT_EQ(std::string(job.DisplayName.data()), std::string(1, name[0]) + "X.jpg");
  }
}

}  // namespace
