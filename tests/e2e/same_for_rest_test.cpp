// "Same for the rest": one decision in "Output Quality" for every photo after
// it, made under the "Saving copies" window; and the windows the program
// keeps on screen while it works.
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <thread>

#include "e2e_test.h"

namespace e2e {
namespace {

using SameForRestTest = E2eTest;

// Chooses Half and 70 for the photo in hand, checks the box and saves: the
// box keeps its state over the retry that 70 takes.
void HalfAndSeventyForAll(Program& program) {
  SizeDialog size = program.AwaitSize();
  size.Choose(kHalf);
  size.Ok();
  QualityDialog quality = program.AwaitQuality();
  EXPECT_TRUE(quality.SameForRestShown());
  EXPECT_FALSE(quality.SameForRestChecked()) << "the box starts unchecked";
  quality.CheckSameForRest();
  QualityDialog again = quality.Retry("70");
  EXPECT_TRUE(again.SameForRestChecked()) << "the box keeps its state over a retry";
  again.Save();
}

TEST_F(SameForRestTest, FivePhotosTakeTheFirstPhotosSizeAndQuality) {
  std::string commandLine;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"})
    commandLine += Quoted(Put(name, Sample("testorig.jpg"))) + " ";
  commandLine.pop_back();
  Program program(commandLine);
  HalfAndSeventyForAll(program);
  EXPECT_EQ(program.ExitCode(), 0u);
  for (const char* name : {"aX.jpg", "bX.jpg", "cX.jpg", "dX.jpg", "eX.jpg"})
    EXPECT_TRUE(IsOutput(Path(name), 113, 74, 70)) << name;
}

TEST_F(SameForRestTest, APhotoThatIsNotAJpegEndsTheRestWithItsMessage) {
  std::string commandLine;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
    const Bytes bytes = name[0] == 'c' ? Bytes{'G', 'I', 'F', '8', '9', 'a'} : MakeJpeg(80, 60);
    commandLine += Quoted(Put(name, bytes)) + " ";
  }
  commandLine.pop_back();
  Program program(commandLine);
  HalfAndSeventyForAll(program);
  EXPECT_EQ(program.DismissMessage(), "That's not a jpeg file.");
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("aX.jpg"), 40, 30, 70));
  EXPECT_TRUE(IsOutput(Path("bX.jpg"), 40, 30, 70));
  EXPECT_FALSE(Exists(Path("dX.jpg")));
}

// Some 1,500 bytes of names, more than the open dialog took before.
TEST_F(SameForRestTest, SixtyPhotosChosenAtOnceAllGetTheirCopies) {
  std::vector<std::string> names;
  for (int i = 1; i <= 60; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "holiday-photo-%04d.jpg", i);
    names.emplace_back(name);
    Put(name, MakeJpeg(64 + i, 48));
  }
  Program program("");
  program.Choose(Folder(), names);
  SizeDialog size = program.AwaitSize();
  EXPECT_EQ(size.OptionTexts()[0], "65 by 48");
  size.Choose(kHalf);
  size.Ok();
  QualityDialog quality = program.AwaitQuality();
  quality.CheckSameForRest();
  quality.Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  for (int i = 1; i <= 60; ++i)
    EXPECT_TRUE(IsOutput(Path(XName(names[i - 1])), (64 + i) / 2, 24, 90)) << names[i - 1];
}

// Photos of several sizes, converted on every processor and then on one:
// the same copies, byte for byte.
TEST_F(SameForRestTest, SixteenPhotosGiveTheBytesOfAOneWorkerRun) {
  std::string commandLine;
  for (int i = 0; i < 16; ++i) {
    JpegRecipe recipe;
    recipe.width = 600 + 40 * i;
    recipe.height = 400 + 10 * i;
    recipe.picture = i % 2 == 0 ? JpegRecipe::Picture::kNoise : JpegRecipe::Picture::kGradient;
    commandLine += Quoted(Put("p" + std::to_string(i) + ".jpg", MakeJpeg(recipe))) + " ";
  }
  commandLine.pop_back();
  std::map<int, Bytes> oneWorker;
  for (const DWORD_PTR affinity : {DWORD_PTR{1}, DWORD_PTR{0}}) {
    SCOPED_TRACE(affinity == 1 ? "one processor" : "every processor");
    Program program(commandLine, {}, affinity);
    HalfAndSeventyForAll(program);
    EXPECT_EQ(program.ExitCode(), 0u);
    for (int i = 0; i < 16; ++i) {
      const std::string copy = Path("p" + std::to_string(i) + "X.jpg");
      const std::optional<Bytes> bytes = ReadBytes(copy);
      ASSERT_TRUE(bytes) << copy;
      if (affinity == 1) {
        oneWorker[i] = *bytes;
        ASSERT_TRUE(DeleteFileW(Wide(copy).c_str()));
      } else {
        EXPECT_TRUE(*bytes == oneWorker[i]) << copy;
        EXPECT_TRUE(IsOutput(copy, (600 + 40 * i) / 2, (400 + 10 * i) / 2, 70)) << copy;
      }
    }
  }
}

// Cancel ends the program at once: the copies made are those of the first
// photos, each whole; the test's folder check finds any temporary file left.
TEST_F(SameForRestTest, CancelInSavingCopiesLeavesOnlyWholeCopies) {
  constexpr int kPhotos = 12;
  const Bytes photo = MakeJpeg(3000, 2000);
  std::string commandLine;
  for (int i = 0; i < kPhotos; ++i)
    commandLine += Quoted(Put("p" + std::to_string(i) + ".jpg", photo)) + " ";
  commandLine.pop_back();
  Program program(commandLine);
  program.AwaitSize().Ok();
  QualityDialog quality = program.AwaitQuality();
  quality.CheckSameForRest();
  quality.Save();

  const HWND batch = program.Await(kBatchTitle);
  EXPECT_EQ(ControlText(batch, kBatchPhoto).rfind("Photo ", 0), 0u);
  EXPECT_NE(ControlText(batch, kBatchPhoto).find(" of 12"), std::string::npos);
  ASSERT_TRUE(PostClick(batch, IDCANCEL));
  const auto pressed = std::chrono::steady_clock::now();
  EXPECT_EQ(program.ExitCode(), 0u);
  std::printf("the program ended %lld ms after Cancel\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - pressed)
                                         .count()));

  int copies = 0;
  for (int i = 0; i < kPhotos; ++i) {
    const std::string copy = Path("p" + std::to_string(i) + "X.jpg");
    if (Exists(copy)) {
      EXPECT_EQ(copies, i) << "a copy after one that is missing: " << copy;
      ++copies;
      EXPECT_TRUE(IsOutput(copy, 3000, 2000, 90)) << copy;
    }
  }
  EXPECT_GE(copies, 1);
  EXPECT_LT(copies, kPhotos) << "Cancel came too late to stop anything";
}

// A logoff or shutdown during the rest: the program agrees to end, stops at
// the photo in hand, and leaves whole copies and no temporary file. Killed at
// any moment instead (a copy being written among them), it leaves the same.
TEST_F(SameForRestTest, EndingTheSessionOrKillingTheProgramLeavesOnlyWholeCopies) {
  constexpr int kPhotos = 10;
  // Grainy, so that its copies take a while to encode and to write.
  JpegRecipe recipe;
  recipe.width = 3000;
  recipe.height = 2000;
  recipe.picture = JpegRecipe::Picture::kNoise;
  const Bytes photo = MakeJpeg(recipe);
  std::string commandLine;
  for (int i = 0; i < kPhotos; ++i)
    commandLine += Quoted(Put("p" + std::to_string(i) + ".jpg", photo)) + " ";
  commandLine.pop_back();
  for (const int killAfterMs : {-1, 0, 50, 100, 150, 200, 250}) {
    const bool killed = killAfterMs >= 0;
    SCOPED_TRACE(killed ? "killed after " + std::to_string(killAfterMs) + " ms" : "logoff");
    Program program(commandLine);
    program.AwaitSize().Ok();
    QualityDialog quality = program.AwaitQuality();
    quality.CheckSameForRest();
    quality.Save();
    program.Await(kBatchTitle);
    if (killed) {
      std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
      program.Proc().Kill();
    } else {
      HWND host = nullptr;
      for (const TopWindow& w : WindowsOf(program.Proc().Id())) {
        if (w.title == kHostTitle)
          host = w.hwnd;
      }
      ASSERT_NE(host, nullptr);
      DWORD_PTR agrees = 0;
      ASSERT_TRUE(SendMessageTimeoutW(host, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                      SMTO_ABORTIFHUNG, 5000, &agrees));
      EXPECT_EQ(agrees, TRUE);
      DWORD_PTR ignored = 0;
      ASSERT_TRUE(SendMessageTimeoutW(host, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF,
                                      SMTO_ABORTIFHUNG, 5000, &ignored));
      EXPECT_EQ(program.ExitCode(), 0u);
    }
    EXPECT_FALSE(program.Proc().Running());
    int copies = 0;
    for (int i = 0; i < kPhotos; ++i) {
      const std::string copy = Path("p" + std::to_string(i) + "X.jpg");
      if (Exists(copy)) {
        ++copies;
        EXPECT_TRUE(IsOutput(copy, 3000, 2000, 90)) << copy;
        ASSERT_TRUE(DeleteFileW(Wide(copy).c_str()));
      }
    }
    if (!killed) {
      EXPECT_LT(copies, kPhotos) << "the run was over before the session ended";
    }
  }
}

}  // namespace
}  // namespace e2e
