// A folder among the paths: the photos in it and below, in Explorer's order,
// its copies left out; and a folder without photos, which is said so.
#include "e2e_test.h"

namespace e2e {
namespace {

using FolderTest = E2eTest;

TEST_F(FolderTest, AFolderStandsForItsPhotosInExplorersOrderWithoutItsCopies) {
  ASSERT_TRUE(MakeFolder(Path("pics")));
  ASSERT_TRUE(MakeFolder(Path("pics\\sub")));
  Put("pics\\a.jpg", MakeJpeg(80, 60));
  Put("pics\\10.jpg", MakeJpeg(100, 60));
  Put("pics\\9.JPEG", MakeJpeg(90, 60));
  Put("pics\\notes.txt", Bytes{'h', 'i'});
  Put("pics\\sub\\c.jfif", MakeJpeg(120, 60));
  // An older copy of a.jpg: replaced in a.jpg's turn, never a photo itself.
  ASSERT_TRUE(WriteBytes(Path("pics\\aX.jpg"), MakeJpeg(8, 8)));

  Program program(Quoted(Path("pics")));
  const struct {
    const char* name;
    int width;
  } expected[] = {{"9X.JPEG", 90}, {"10X.jpg", 100}, {"aX.jpg", 80}, {"cX.jfif", 120}};
  for (const auto& photo : expected) {
    SizeDialog size = program.AwaitSize();
    EXPECT_EQ(size.OptionTexts()[0], SizeText(photo.width, 60));
    size.Ok();
    QualityDialog quality = program.AwaitQuality();
    EXPECT_EQ(quality.NewName(), photo.name);
    EXPECT_EQ(quality.SameForRestShown(), photo.width != 120) << "another photo follows";
    quality.Save();
  }
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("pics\\aX.jpg"), 80, 60, 90));
  EXPECT_TRUE(IsOutput(Path("pics\\sub\\cX.jfif"), 120, 60, 90));
  EXPECT_FALSE(Exists(Path("pics\\aXX.jpg")));
}

TEST_F(FolderTest, AFolderWithoutPhotosIsSaidSoAndTheNextPathFollows) {
  ASSERT_TRUE(MakeFolder(Path("empty")));
  ASSERT_TRUE(MakeFolder(Path("empty\\deeper")));
  Put("empty\\readme.txt", Bytes{'n', 'o'});
  const std::string photo = Put("a.jpg", MakeJpeg(80, 60));
  Program program(Quoted(Path("empty")) + " " + Quoted(photo));
  EXPECT_EQ(program.DismissMessage(), "No JPEG photos were found in " + Path("empty") + ".");
  program.AwaitSize().Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("aX.jpg"), 80, 60, 90));
}

}  // namespace
}  // namespace e2e
