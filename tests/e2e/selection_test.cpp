// The program started without arguments: the files come from its open
// dialog.
#include <optional>

#include "e2e_test.h"

namespace e2e {
namespace {

using SelectionTest = E2eTest;

// A file's last-write time in 100-nanosecond units; empty when unreadable.
std::optional<uint64_t> LastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data))
    return std::nullopt;
  return uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime;
}

bool SetLastWriteTime(const std::string& path, uint64_t time) {
  const HANDLE file = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const FILETIME written{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  const bool set = file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, nullptr, &written);
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
  return set;
}

// The copy takes the original's last-write time, to the 100 nanoseconds, so
// that galleries sort it beside the original; nothing is added inside it.
TEST_F(SelectionTest, OneFileIsSavedWithItsOriginalsTime) {
  const Bytes photo = Sample("testorig.jpg");
  Put("photo.jpg", photo);
  SYSTEMTIME taken{2009, 7, 0, 14, 16, 30, 45, 0};  // 14 July 2009, 16:30:45 UTC
  FILETIME past{};
  ASSERT_TRUE(SystemTimeToFileTime(&taken, &past));
  const uint64_t original = (uint64_t{past.dwHighDateTime} << 32 | past.dwLowDateTime) + 1234567;
  ASSERT_TRUE(SetLastWriteTime(Path("photo.jpg"), original));
  Program program("");
  program.Choose(Folder(), {"photo.jpg"});
  SizeDialog size = program.AwaitSize();
  EXPECT_EQ(size.OptionTexts(), (std::vector<std::string>{"227 by 149", "113 by 74", "56 by 37"}));
  EXPECT_EQ(size.Checked(), kFull);
  size.Choose(kQuarter);
  size.Ok();
  QualityDialog quality = program.AwaitQuality();
  EXPECT_EQ(quality.NewName(), "photoX.jpg");
  EXPECT_EQ(quality.Resolution(), "56 by 37");
  quality.Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("photoX.jpg"), 56, 37, 90));
  EXPECT_TRUE(Holds(Path("photo.jpg"), photo));
  EXPECT_EQ(LastWriteTime(Path("photoX.jpg")), original);
  EXPECT_EQ(LastWriteTime(Path("photo.jpg")), original);
}

TEST_F(SelectionTest, ThreeFilesInTheOrderChosenWithChoicesCarriedOver) {
  Put("a.jpg", MakeJpeg(80, 60));
  Put("b.jpg", Sample("testorig.jpg"));
  Put("c.jpg", MakeJpeg(40, 20));
  Program program("");
  program.Choose(Folder(), {"c.jpg", "a.jpg", "b.jpg"});

  SizeDialog first = program.AwaitSize();
  EXPECT_EQ(first.OptionTexts()[0], "40 by 20");
  first.Choose(kHalf);
  first.Ok();
  program.AwaitQuality().Retry("60").Save();

  SizeDialog second = program.AwaitSize();
  EXPECT_EQ(second.OptionTexts()[0], "80 by 60");
  EXPECT_EQ(second.Checked(), kHalf);
  second.Ok();
  QualityDialog secondQuality = program.AwaitQuality();
  EXPECT_EQ(secondQuality.Quality(), "60");
  secondQuality.Cancel();

  SizeDialog third = program.AwaitSize();
  EXPECT_EQ(third.OptionTexts()[0], "227 by 149");
  third.Choose(kFull);
  third.Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.ExitCode(), 0u);

  EXPECT_TRUE(IsOutput(Path("cX.jpg"), 20, 10, 60));
  EXPECT_FALSE(Exists(Path("aX.jpg")));
  EXPECT_TRUE(IsOutput(Path("bX.jpg"), kSampleWidth, kSampleHeight, 60));
}

TEST_F(SelectionTest, CancelledChoiceEndsTheProgram) {
  Program program("");
  program.CancelChoice();
  EXPECT_EQ(program.ExitCode(), 0u);
}

TEST_F(SelectionTest, CancelInTheSizeDialogEndsTheProgram) {
  Put("one.jpg", MakeJpeg(40, 30));
  Put("two.jpg", MakeJpeg(40, 30));
  Program program("");
  program.Choose(Folder(), {"one.jpg", "two.jpg"});
  program.AwaitSize().Cancel();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_EQ(FolderNames(Folder()), (std::set<std::string>{"one.jpg", "two.jpg"}));
}

// The first file is open in a viewer, which reads it and lets others read
// it: the program copies it. The second is held open without sharing by the
// test: the program cannot open it, stops and waits with its host window
// shown.
TEST_F(SelectionTest, AnInputThatCannotBeOpenedStopsTheBatch) {
  Put("one.jpg", MakeJpeg(40, 30));
  Put("two.jpg", MakeJpeg(40, 30));
  Put("three.jpg", MakeJpeg(40, 30));
  const HANDLE viewer = CreateFileA(Path("one.jpg").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const HANDLE held = CreateFileA(Path("two.jpg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  struct Release {
    HANDLE handle;
    ~Release() {
      if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    }
  } releaseViewer{viewer}, release{held};
  ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  Program program("");
  program.Choose(Folder(), {"one.jpg", "two.jpg", "three.jpg"});
  program.AwaitSize().Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.DismissMessage(), SystemText(ERROR_SHARING_VIOLATION));
  program.CloseHostWindow();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("oneX.jpg"), 40, 30, 90));
  EXPECT_FALSE(Exists(Path("twoX.jpg")));
  EXPECT_FALSE(Exists(Path("threeX.jpg")));
}

TEST_F(SelectionTest, AQuarterOfATinyImageSavesNothingAndTheBatchGoesOn) {
  Put("tiny.jpg", MakeJpeg(3, 3));
  Put("next.jpg", MakeJpeg(40, 32));
  Program program("");
  program.Choose(Folder(), {"tiny.jpg", "next.jpg"});
  SizeDialog size = program.AwaitSize();
  size.Choose(kQuarter);
  size.Ok();
  program.AwaitQuality().Save();
  program.AwaitSize().Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_EQ(FolderNames(Folder()), (std::set<std::string>{"tiny.jpg", "next.jpg", "nextX.jpg"}));
  EXPECT_TRUE(IsOutput(Path("nextX.jpg"), 10, 8, 90));
}

// A photo the codec cannot decode, between two that it can: that one is
// skipped with the message, and the batch goes on.
TEST_F(SelectionTest, AnUndecodablePhotoBetweenTwoIsSkipped) {
  Put("first.jpg", MakeJpeg(40, 30));
  Put("twelve.jpg", Sample("testorig12.jpg"));
  Put("last.jpg", MakeJpeg(64, 48));
  Program program("");
  program.Choose(Folder(), {"first.jpg", "twelve.jpg", "last.jpg"});
  program.AwaitSize().Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.DismissMessage(), "That's not a jpeg file.");
  SizeDialog last = program.AwaitSize();
  EXPECT_EQ(last.OptionTexts()[0], "64 by 48");
  last.Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("firstX.jpg"), 40, 30, 90));
  EXPECT_TRUE(IsOutput(Path("lastX.jpg"), 64, 48, 90));
  EXPECT_FALSE(Exists(Path("twelveX.jpg")));
}

}  // namespace
}  // namespace e2e
