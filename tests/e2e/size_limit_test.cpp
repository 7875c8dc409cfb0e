// "at most N KB" in "Output Quality": the quality found for one photo, a
// limit no quality meets, and the rest of a batch with a limit.
#include "e2e_test.h"

namespace e2e {
namespace {

using SizeLimitTest = E2eTest;

// A grainy photo, which compresses little: its copy's size falls steadily
// with the quality.
Bytes Grainy(int width, int height) {
  JpegRecipe recipe;
  recipe.width = width;
  recipe.height = height;
  recipe.picture = JpegRecipe::Picture::kNoise;
  return MakeJpeg(recipe);
}

size_t FileSize(const std::string& path) {
  const auto bytes = ReadBytes(path);
  return bytes ? bytes->size() : 0;
}

TEST_F(SizeLimitTest, ALimitFindsTheQualityAndSaveWritesItsCopy) {
  const std::string photo = Put("grain.jpg", Grainy(800, 600));
  Program program(Quoted(photo));
  program.AwaitSize().Ok();
  QualityDialog quality = program.AwaitQuality();
  EXPECT_EQ(quality.AtMost(), "") << "no limit at first";
  const int at90 = std::stoi(quality.OutputSize());
  const std::string limit = std::to_string(at90 / 3);
  QualityDialog found = quality.RetryWithin("90", limit);
  const int shown = std::stoi(found.Quality());
  EXPECT_LT(shown, 90);
  EXPECT_GE(shown, 1);
  EXPECT_EQ(found.AtMost(), limit);
  const std::string shownSize = found.OutputSize();
  EXPECT_LE(std::stoi(shownSize), at90 / 3);
  found.Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("grainX.jpg"), 800, 600, shown));
  EXPECT_LE(FileSize(Path("grainX.jpg")), static_cast<size_t>(at90 / 3) * 1024);
  EXPECT_EQ(KbText(FileSize(Path("grainX.jpg"))), shownSize);
}

TEST_F(SizeLimitTest, ALimitNoQualityMeetsIsSaidAndQualityOneIsShown) {
  const std::string photo = Put("grain.jpg", Grainy(800, 600));
  Program program(Quoted(photo));
  program.AwaitSize().Ok();
  QualityDialog quality = program.AwaitQuality();
  if (!SetControlText(quality.Window(), kAtMostKb, "1") || !PostClick(quality.Window(), IDOK))
    FAIL() << "cannot type the limit";
  EXPECT_EQ(program.DismissMessage(), "Even at quality 1 the copy is larger than 1 KB.");
  QualityDialog one = program.AwaitQuality();
  EXPECT_EQ(one.Quality(), "1");
  EXPECT_NE(one.OutputSize(), "0 KB");
  one.Cancel();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_FALSE(Exists(Path("grainX.jpg")));
}

TEST_F(SizeLimitTest, TheRestOfABatchKeepsTheCeilingAndNamesThePhotosThatCannotFit) {
  // At most 8 KB: a fits only below 90, b and d at 90, c at no quality.
  std::string commandLine;
  const struct {
    const char* name;
    Bytes bytes;
    int width, height;
  } photos[] = {{"a.jpg", Grainy(200, 200), 200, 200},
                {"b.jpg", MakeJpeg(160, 120), 160, 120},
                {"c.jpg", Grainy(1200, 900), 1200, 900},
                {"d.jpg", MakeJpeg(200, 150), 200, 150}};
  for (const auto& photo : photos)
    commandLine += Quoted(Put(photo.name, photo.bytes)) + " ";
  commandLine.pop_back();
  Program program(commandLine);
  program.AwaitSize().Ok();
  QualityDialog quality = program.AwaitQuality();
  quality.CheckSameForRest();
  QualityDialog found = quality.RetryWithin("90", "8");
  const int shown = std::stoi(found.Quality());
  EXPECT_LT(shown, 90);
  found.Save();
  EXPECT_EQ(program.DismissMessage(), "These photos cannot be made as small as 8 KB:\nc.jpg");
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("aX.jpg"), 200, 200, shown));
  EXPECT_TRUE(IsOutput(Path("bX.jpg"), 160, 120, 90)) << "the ceiling typed, not a's quality";
  EXPECT_TRUE(IsOutput(Path("dX.jpg"), 200, 150, 90));
  EXPECT_FALSE(Exists(Path("cX.jpg")));
  for (const char* copy : {"aX.jpg", "bX.jpg", "dX.jpg"})
    EXPECT_LE(FileSize(Path(copy)), 8u * 1024) << copy;
}

}  // namespace
}  // namespace e2e
