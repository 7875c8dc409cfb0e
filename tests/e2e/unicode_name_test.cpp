// Photos named in scripts outside any single-byte code page, in a folder with
// accents. The program keeps its byte strings and A-functions; its manifest
// makes those UTF-8, so it opens these photos, shows their X-names and
// writes its copies under them. The names are spelt out as UTF-8 bytes, so
// the tests do not depend on how this file's literals are compiled, and the
// X-names shown (read as UTF-16, see automation.h) must be those bytes.
#include "e2e_test.h"

namespace e2e {
namespace {

constexpr char kFolderName[] =
    "Ann\xC3\xA9"
    "e";                                                      // Année
constexpr char kCjkPhoto[] = "\xE5\x86\x99\xE7\x9C\x9F.jpg";  // 写真.jpg
constexpr char kCjkCopy[] = "\xE5\x86\x99\xE7\x9C\x9FX.jpg";  // 写真X.jpg
constexpr char kGreekPhoto[] =                                // φωτο γραφία.jpg
    "\xCF\x86\xCF\x89\xCF\x84\xCE\xBF \xCE\xB3\xCF\x81\xCE\xB1\xCF\x86\xCE\xAF\xCE\xB1.jpg";
constexpr char kGreekCopy[] =  // φωτο γραφίαX.jpg
    "\xCF\x86\xCF\x89\xCF\x84\xCE\xBF \xCE\xB3\xCF\x81\xCE\xB1\xCF\x86\xCE\xAF\xCE\xB1X.jpg";

class UnicodeNameTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    ASSERT_TRUE(MakeFolder(Path(kFolderName))) << "cannot make " << Path(kFolderName);
    cjkPath_ = Put(In(kCjkPhoto), Sample("testorig.jpg"));
    greekPath_ = Put(In(kGreekPhoto), MakeJpeg(64, 48));
  }

  static std::string In(const std::string& name) { return std::string(kFolderName) + "\\" + name; }

  // Takes the two photos through the program in the order given, full size
  // at quality 90, checking that each dialog shows that photo and its X-name.
  void SaveBoth(Program& program) {
    SizeDialog first = program.AwaitSize();
    EXPECT_EQ(first.OptionTexts()[0], "227 by 149") << "the first is the CJK-named photo";
    first.Ok();
    QualityDialog firstQuality = program.AwaitQuality();
    EXPECT_EQ(firstQuality.NewName(), kCjkCopy);
    firstQuality.Save();

    SizeDialog second = program.AwaitSize();
    EXPECT_EQ(second.OptionTexts()[0], "64 by 48") << "the second is the Greek-named photo";
    second.Ok();
    QualityDialog secondQuality = program.AwaitQuality();
    EXPECT_EQ(secondQuality.NewName(), kGreekCopy);
    secondQuality.Save();
    EXPECT_EQ(program.ExitCode(), 0u);
  }

  // Exactly the photos and their copies, under these names, are in the
  // folder, and the copies are the photos at full size.
  void ExpectCopies() {
    const std::string folder = Path(kFolderName);
    EXPECT_EQ(FolderNames(folder),
              (std::set<std::string>{kCjkPhoto, kCjkCopy, kGreekPhoto, kGreekCopy}));
    EXPECT_TRUE(IsOutput(Path(In(kCjkCopy)), kSampleWidth, kSampleHeight, 90));
    EXPECT_TRUE(IsOutput(Path(In(kGreekCopy)), 64, 48, 90));
  }

  std::string cjkPath_;
  std::string greekPath_;
};

TEST_F(UnicodeNameTest, CommandLinePathsOpenAndKeepTheirNames) {
  Program program(Quoted(cjkPath_) + " " + Quoted(greekPath_));
  SaveBoth(program);
  ExpectCopies();
}

TEST_F(UnicodeNameTest, ChosenInTheOpenDialogTheyKeepTheirNames) {
  Program program("");
  program.Choose(Path(kFolderName), {kCjkPhoto, kGreekPhoto});
  SaveBoth(program);
  ExpectCopies();
}

}  // namespace
}  // namespace e2e
