// Saves that fail: each leaves the old output as it was and no temporary
// file behind, shows the system's text, and the batch goes on with the next
// file. Each test first proves that its failure is real. And a save at the
// edge of failing, in a folder as long as a photo's path allows.
#include "e2e_test.h"

namespace e2e {
namespace {

class FailedSaveTest : public E2eTest {
 protected:
  // The failing folder holds the photo and an older copy under its X-name
  // (or a folder of that name); remember both, and everything else there.
  void Remember(const std::string& folder, const std::string& photo = "photo.jpg") {
    failing_ = folder;
    photo_ = photo;
    namesBefore_ = FolderNames(folder);
    inputBefore_ = ReadBytes(Photo()).value_or(Bytes{});
    // Only what the folder lists: a device's name opens the device, and a
    // read from a serial port never ends.
    if (namesBefore_.count(XName(photo)) && !IsFolder(OldOutput()))
      oldOutput_ = ReadBytes(OldOutput()).value_or(Bytes{});
  }
  std::string Photo() const { return failing_ + "\\" + photo_; }
  std::string OldOutput() const { return failing_ + "\\" + XName(photo_); }

  // Where the failure shows: when Save is pressed, or already once the size
  // is chosen, before anything is encoded.
  enum class FailsAt { kSave, kSizeChosen };

  // The photo at full size, whose save fails, then next.jpg, which saves.
  // Gives the message shown for the failure.
  std::string SaveFailsThenNextSaves(FailsAt failsAt = FailsAt::kSave) {
    Put("next.jpg", MakeJpeg(40, 30));
    Program program(Quoted(Photo()) + " " + Quoted(Path("next.jpg")));
    program.AwaitSize().Ok();
    if (failsAt == FailsAt::kSave)
      program.AwaitQuality().Save();
    const std::string message = program.DismissMessage();
    program.AwaitSize().Ok();
    program.AwaitQuality().Save();
    EXPECT_EQ(program.ExitCode(), 0u);
    EXPECT_TRUE(IsOutput(Path("nextX.jpg"), 40, 30, 90));
    return message;
  }

  void ExpectFolderUntouched() {
    EXPECT_EQ(FolderNames(failing_), namesBefore_) << "a temporary file was left behind";
    EXPECT_TRUE(Holds(Photo(), inputBefore_));
    if (!oldOutput_.empty()) {
      EXPECT_TRUE(Holds(OldOutput(), oldOutput_));
    }
  }

  std::string failing_;
  std::string photo_;
  std::set<std::string> namesBefore_;
  Bytes inputBefore_;
  Bytes oldOutput_;
};

TEST_F(FailedSaveTest, AFullDiskKeepsTheOldOutput) {
  const std::string disk = Required("TBM_FULL_DIR");
  for (const std::string& name : FolderNames(disk))
    RemoveTree(disk + "\\" + name);
  ASSERT_TRUE(WriteBytes(disk + "\\photo.jpg", Sample("testorig.jpg")));
  ASSERT_TRUE(WriteBytes(disk + "\\photoX.jpg", MakeJpeg(16, 16)));
  // Fill every page that is left; a save needs at least one. The bound only
  // stops on a disk that never fills.
  const HANDLE filler = CreateFileA((disk + "\\filler").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(filler, INVALID_HANDLE_VALUE);
  const Bytes page(4096, 0x55);
  DWORD written = 0;
  for (int pages = 0; pages < 100000; ++pages) {
    if (!WriteFile(filler, page.data(), 4096, &written, nullptr))
      break;
  }
  const DWORD fillError = GetLastError();
  CloseHandle(filler);
  ASSERT_EQ(fillError, static_cast<DWORD>(ERROR_DISK_FULL)) << disk << " does not fill up";
  Remember(disk);

  EXPECT_EQ(SaveFailsThenNextSaves(), SystemText(ERROR_DISK_FULL));
  ExpectFolderUntouched();
  for (const std::string& name : FolderNames(disk))
    RemoveTree(disk + "\\" + name);
}

TEST_F(FailedSaveTest, AnOutputHeldOpenKeepsTheOldOutput) {
  ASSERT_TRUE(CreateDirectoryA(Path("failing").c_str(), nullptr));
  Put("failing\\photo.jpg", Sample("testorig.jpg"));
  Put("failing\\photoX.jpg", MakeJpeg(16, 16));
  Remember(Path("failing"));
  const HANDLE held = CreateFileA(OldOutput().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const HANDLE second = CreateFileA(OldOutput().c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD secondError = GetLastError();
  if (second != INVALID_HANDLE_VALUE)
    CloseHandle(second);
  if (second != INVALID_HANDLE_VALUE || secondError != ERROR_SHARING_VIOLATION) {
    CloseHandle(held);
    FAIL() << "holding " << OldOutput() << " open does not lock it";
  }

  std::string message;
  try {
    message = SaveFailsThenNextSaves();
  } catch (...) {
    CloseHandle(held);
    throw;
  }
  CloseHandle(held);
  EXPECT_EQ(message, SystemText(ERROR_ACCESS_DENIED));
  ExpectFolderUntouched();
}

TEST_F(FailedSaveTest, AFolderInTheOutputsPlaceStays) {
  ASSERT_TRUE(CreateDirectoryA(Path("failing").c_str(), nullptr));
  Put("failing\\photo.jpg", Sample("testorig.jpg"));
  ASSERT_TRUE(CreateDirectoryA(Path("failing\\photoX.jpg").c_str(), nullptr));
  Put("failing\\photoX.jpg\\inside.txt", {'k', 'e', 'e', 'p'});
  Remember(Path("failing"));

  EXPECT_EQ(SaveFailsThenNextSaves(), SystemText(ERROR_ACCESS_DENIED));
  ExpectFolderUntouched();
  EXPECT_TRUE(IsFolder(OldOutput()));
  EXPECT_TRUE(Holds(OldOutput() + "\\inside.txt", {'k', 'e', 'e', 'p'}));
}

// scripts/e2e mounts this folder read-only with photo.jpg and an older
// photoX.jpg in it.
TEST_F(FailedSaveTest, AReadOnlyFolderKeepsTheOldOutput) {
  const std::string folder = Required("TBM_READONLY_DIR");
  const std::string probe = folder + "\\probe";
  const HANDLE created = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created != INVALID_HANDLE_VALUE) {
    CloseHandle(created);
    DeleteFileA(probe.c_str());
  }
  ASSERT_EQ(created, INVALID_HANDLE_VALUE) << folder << " is writable";
  Remember(folder);
  ASSERT_FALSE(oldOutput_.empty()) << folder << " has no photoX.jpg";

  // Wine reports a read-only mount as access denied.
  EXPECT_EQ(SaveFailsThenNextSaves(), SystemText(ERROR_ACCESS_DENIED));
  ExpectFolderUntouched();
}

// The photo's path is as long as a path may be, 259 bytes and its
// terminator: it opens, but its X-name is one byte too long for any path.
// An older copy under that name, made here through the system's UTF-16
// calls, which have no such limit, stays as it was.
TEST_F(FailedSaveTest, AnXNameTooLongForAPathKeepsTheOldOutput) {
  const std::string folder = Path("failing");
  ASSERT_TRUE(MakeFolder(folder));
  constexpr size_t kLongestPath = MAX_PATH - 1;
  const size_t stem = kLongestPath - folder.size() - std::string("\\.jpg").size();
  const std::string photo = std::string(stem, 'p') + ".jpg";
  ASSERT_EQ(folder.size() + 1 + photo.size(), kLongestPath);
  Put("failing\\" + photo, Sample("testorig.jpg"));
  Put("failing\\" + XName(photo), MakeJpeg(16, 16));
  Remember(folder, photo);

  EXPECT_EQ(SaveFailsThenNextSaves(FailsAt::kSizeChosen), SystemText(ERROR_FILENAME_EXCED_RANGE));
  ExpectFolderUntouched();
}

// The folder is 251 bytes long, longer than any in which a temporary file
// could be named through the ANSI calls, and the copy's path 258 bytes: it
// is saved, and replaces the older copy.
TEST_F(FailedSaveTest, APhotoInAFolderOf251BytesIsSaved) {
  const std::string base = Path("long");
  ASSERT_TRUE(MakeFolder(base));
  const std::string folder = base + "\\" + std::string(251 - base.size() - 1, 'f');
  ASSERT_EQ(folder.size(), 251u);
  ASSERT_TRUE(MakeFolder(folder));
  Put(folder.substr(Folder().size() + 1) + "\\p.jpg", Sample("testorig.jpg"));
  ASSERT_TRUE(WriteBytes(folder + "\\pX.jpg", MakeJpeg(16, 16)));
  Remember(folder, "p.jpg");
  ASSERT_EQ(OldOutput().size(), 258u);

  Program program(Quoted(Photo()));
  program.AwaitSize().Ok();
  QualityDialog quality = program.AwaitQuality();
  EXPECT_EQ(quality.NewName(), "pX.jpg");
  quality.Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(OldOutput(), kSampleWidth, kSampleHeight, 90));
  EXPECT_EQ(FolderNames(folder), namesBefore_) << "a temporary file was left behind";
}

// au.jpg's copy would be auX.jpg: whatever follows its first dot, that is
// the name of the serial port AUX in every folder, and no file can take it.
TEST_F(FailedSaveTest, AnXNameThatNamesADeviceIsRefused) {
  ASSERT_TRUE(MakeFolder(Path("failing")));
  Put("failing\\au.jpg", Sample("testorig.jpg"));
  Remember(Path("failing"), "au.jpg");

  EXPECT_EQ(SaveFailsThenNextSaves(), SystemText(ERROR_ACCESS_DENIED));
  ExpectFolderUntouched();
}

}  // namespace
}  // namespace e2e
