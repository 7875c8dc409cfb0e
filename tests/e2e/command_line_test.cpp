// The program started with paths on its command line.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "e2e_test.h"

namespace e2e {
namespace {

using CommandLineTest = E2eTest;

TEST_F(CommandLineTest, SavesAHalfSizeCopyBesideTheInput) {
  const Bytes photo = Sample("testorig.jpg");
  const std::string input = Put("photo.jpg", photo);
  Program program(Quoted(input));

  SizeDialog size = program.AwaitSize();
  EXPECT_EQ(Owner(size.Window()), nullptr);
  EXPECT_EQ(size.OptionTexts(), (std::vector<std::string>{"227 by 149", "113 by 74", "56 by 37"}));
  EXPECT_EQ(size.Checked(), kFull) << "the first file starts at full size";
  size.Choose(kHalf);
  size.Ok();

  QualityDialog quality = program.AwaitQuality();
  EXPECT_EQ(WindowText(Owner(quality.Window())), kHostTitle);
  EXPECT_EQ(quality.Quality(), "90");
  EXPECT_EQ(quality.InputSize(), KbText(photo.size()));
  EXPECT_EQ(quality.Resolution(), "113 by 74");
  EXPECT_EQ(quality.NewName(), "photoX.jpg");
  const std::string shownOutputSize = quality.OutputSize();
  quality.Save();
  EXPECT_EQ(program.ExitCode(), 0u);

  EXPECT_TRUE(IsOutput(Path("photoX.jpg"), 113, 74, 90));
  EXPECT_EQ(shownOutputSize, KbText(ReadBytes(Path("photoX.jpg")).value_or(Bytes{}).size()));
  EXPECT_TRUE(Holds(input, photo));
  EXPECT_EQ(FolderNames(Folder()), (std::set<std::string>{"photo.jpg", "photoX.jpg"}));
}

// The copy holds the picture and the JFIF header the encoder writes, never
// the camera's Exif data with the place where the photo was taken. A photo
// stored the way up it is shown (orientation 1) needs no Exif segment, and a
// profile for anything but RGB would give the copy, which is YCbCr, wrong
// colours.
TEST_F(CommandLineTest, TheCopyCarriesNoCameraData) {
  const Bytes photo =
      WithCameraData(WithSegments(Sample("testorig.jpg"), IccChunks(IccProfile("CMYK"))), 1);
  ASSERT_EQ(MarkersBeforeScan(photo).front(), 0xE1) << "the photo starts with its Exif segment";
  Put("camera.jpg", photo);
  Program program(Quoted(Path("camera.jpg")));
  program.AwaitSize().Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.ExitCode(), 0u);

  ASSERT_TRUE(IsOutput(Path("cameraX.jpg"), kSampleWidth, kSampleHeight, 90));
  const Bytes copy = ReadBytes(Path("cameraX.jpg")).value_or(Bytes{});
  for (const int marker : MarkersBeforeScan(copy)) {
    EXPECT_FALSE(marker > 0xE0 && marker <= 0xEF) << "APP" << marker - 0xE0 << " in the copy";
  }
  for (const std::string& needle : {std::string("Exif\0\0", 6), std::string("TBMCAM1")}) {
    EXPECT_EQ(std::search(copy.begin(), copy.end(), needle.begin(), needle.end()), copy.end())
        << "the copy holds \"" << needle.c_str() << "\"";
  }
}

// IFD0 of an Exif segment's data, read in the byte order its TIFF header
// names: each entry's tag, type, count and first SHORT of its value, the
// next IFD's offset and where IFD0 ends, from the start of the data.
struct Ifd0 {
  std::vector<std::array<uint32_t, 4>> entries;
  uint32_t next = 0;
  size_t end = 0;
};
std::optional<Ifd0> ReadIfd0(const Bytes& exif) {
  const Bytes header = {'E', 'x', 'i', 'f', 0, 0};
  if (exif.size() < 14 || !std::equal(header.begin(), header.end(), exif.begin()))
    return std::nullopt;
  const bool big = exif[6] == 'M';
  // Offsets count from the TIFF header; at() stops a read past the data.
  const auto u16 = [&](size_t at) -> uint32_t {
    const uint32_t first = exif.at(6 + at), second = exif.at(7 + at);
    return big ? first << 8 | second : second << 8 | first;
  };
  const auto u32 = [&](size_t at) {
    return big ? u16(at) << 16 | u16(at + 2) : u16(at + 2) << 16 | u16(at);
  };
  Ifd0 ifd;
  const size_t start = u32(4);
  const size_t count = u16(start);
  for (size_t entry = start + 2; entry < start + 2 + count * 12; entry += 12)
    ifd.entries.push_back({u16(entry), u16(entry + 2), u32(entry + 4), u16(entry + 8)});
  ifd.next = u32(start + 2 + count * 12);
  ifd.end = 6 + start + 2 + count * 12 + 4;
  return ifd;
}

// A portrait photo stored sideways, as a camera holds it, with an RGB
// profile and what the camera and an editor add. The copy is the stored
// picture, not turned, with the orientation alone to show it upright and the
// profile for its colours: nothing else.
TEST_F(CommandLineTest, TheCopyCarriesTheOrientationAndTheRgbProfileOnly) {
  const Bytes profile = IccProfile("RGB ");
  std::vector<Segment> added = IccChunks(profile);
  ASSERT_EQ(added.size(), 2u) << "the profile takes two APP2 segments";
  const std::string xmp =
      std::string("http://ns.adobe.com/xap/1.0/", 29) +
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description tiff:Orientation=\"6\" "
      "exif:DateTimeOriginal=\"TBMXMP 2024-05-17T14:03:22\"/></rdf:RDF></x:xmpmeta>";
  const std::string comment = "TBMCOMMENT: the view from the bridge";
  added.push_back({0xFE, Bytes(comment.begin(), comment.end())});
  // The XMP goes first, so that the orientation is in the second APP1.
  const Bytes photo = WithSegments(WithCameraData(WithSegments(MakeJpeg(240, 160), added), 6),
                                   {{0xE1, Bytes(xmp.begin(), xmp.end())}});
  ASSERT_EQ(InspectJpeg(photo).iccProfile, profile) << "libjpeg reads the photo's profile";
  const std::string input = Put("sideways.jpg", photo);
  Program program(Quoted(input));

  SizeDialog size = program.AwaitSize();
  EXPECT_EQ(size.OptionTexts()[1], SizeText(120, 80)) << "the stored size, not turned";
  size.Choose(kHalf);
  size.Ok();
  QualityDialog quality = program.AwaitQuality();
  const std::string shownOutputSize = quality.OutputSize();
  quality.Save();
  EXPECT_EQ(program.ExitCode(), 0u);

  ASSERT_TRUE(IsOutput(Path("sidewaysX.jpg"), 120, 80, 90));
  const Bytes copy = ReadBytes(Path("sidewaysX.jpg")).value_or(Bytes{});
  EXPECT_EQ(shownOutputSize, KbText(copy.size()));
  std::vector<int> carried;  // the APPn segments and comments
  for (const Segment& segment : SegmentsBeforeScan(copy)) {
    if ((segment.marker >= 0xE0 && segment.marker <= 0xEF) || segment.marker == 0xFE)
      carried.push_back(segment.marker);
    if (segment.marker == 0xE0) {
      EXPECT_EQ(std::string(segment.data.begin(), segment.data.end()).substr(0, 5),
                std::string("JFIF\0", 5));
    }
    if (segment.marker != 0xE1)
      continue;
    const std::optional<Ifd0> ifd = ReadIfd0(segment.data);
    ASSERT_TRUE(ifd) << "the copy's APP1 is no Exif segment";
    EXPECT_EQ(ifd->entries, (std::vector<std::array<uint32_t, 4>>{{0x0112, 3, 1, 6}}))
        << "IFD0 holds the orientation alone, a SHORT of 6";
    EXPECT_EQ(ifd->next, 0u) << "no IFD1, with a thumbnail";
    EXPECT_EQ(segment.data.size(), ifd->end) << "nothing after IFD0";
  }
  EXPECT_EQ(carried, (std::vector<int>{0xE0, 0xE1, 0xE2, 0xE2}))
      << "JFIF, Exif and the profile in two chunks";
  EXPECT_EQ(InspectJpeg(copy).iccProfile, profile);
  for (const std::string_view needle : {"TBMCAM1", "2024:05:17", "TBMXMP", "TBMCOMMENT"}) {
    EXPECT_EQ(std::search(copy.begin(), copy.end(), needle.begin(), needle.end()), copy.end())
        << "the copy holds \"" << needle << "\"";
  }
}

TEST_F(CommandLineTest, TheXGoesBeforeTheFirstDotOfTheName) {
  Put("a.b.jpg", Sample("testorig.jpg"));
  Program program(Quoted(Path("a.b.jpg")));
  program.AwaitSize().Ok();
  QualityDialog quality = program.AwaitQuality();
  EXPECT_EQ(quality.NewName(), "aX.b.jpg");
  quality.Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("aX.b.jpg"), kSampleWidth, kSampleHeight, 90));
}

TEST_F(CommandLineTest, ANewQualityReencodesAndSavesAtThatQuality) {
  Put("photo.jpg", Sample("testimgint.jpg"));
  Program program(Quoted(Path("photo.jpg")));
  program.AwaitSize().Ok();
  QualityDialog first = program.AwaitQuality();
  const std::string sizeAt90 = first.OutputSize();
  QualityDialog again = first.Retry("20");
  EXPECT_NE(again.Window(), first.Window()) << "the dialog closes and comes back";
  EXPECT_EQ(again.Quality(), "20");
  EXPECT_NE(again.OutputSize(), sizeAt90);
  const std::string sizeAt20 = again.OutputSize();
  again.Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("photoX.jpg"), kSampleWidth, kSampleHeight, 20));
  EXPECT_EQ(sizeAt20, KbText(ReadBytes(Path("photoX.jpg")).value_or(Bytes{}).size()));
}

TEST_F(CommandLineTest, CancelInTheQualityDialogSkipsOnlyThatFile) {
  Put("one.jpg", Sample("testorig.jpg"));
  Put("two.jpg", MakeJpeg(64, 48));
  Program program(Quoted(Path("one.jpg")) + " " + Quoted(Path("two.jpg")));
  program.AwaitSize().Ok();
  program.AwaitQuality().Cancel();
  SizeDialog second = program.AwaitSize();
  EXPECT_EQ(second.OptionTexts()[0], "64 by 48");
  second.Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_FALSE(Exists(Path("oneX.jpg")));
  EXPECT_TRUE(IsOutput(Path("twoX.jpg"), 64, 48, 90));
}

TEST_F(CommandLineTest, SizeAndQualityCarryOverToTheNextFile) {
  Put("one.jpg", Sample("testorig.jpg"));
  Put("two.jpg", MakeJpeg(200, 100));
  Program program(Quoted(Path("one.jpg")) + " " + Quoted(Path("two.jpg")));
  SizeDialog first = program.AwaitSize();
  first.Choose(kQuarter);
  first.Ok();
  program.AwaitQuality().Retry("70").Save();

  SizeDialog second = program.AwaitSize();
  EXPECT_EQ(second.Checked(), kQuarter);
  EXPECT_EQ(second.OptionTexts(),
            (std::vector<std::string>{"200 by 100", "100 by 50", "50 by 25"}));
  second.Ok();
  QualityDialog quality = program.AwaitQuality();
  EXPECT_EQ(quality.Quality(), "70");
  EXPECT_EQ(quality.Resolution(), "50 by 25");
  quality.Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("oneX.jpg"), 56, 37, 70));
  EXPECT_TRUE(IsOutput(Path("twoX.jpg"), 50, 25, 70));
}

TEST_F(CommandLineTest, TwoQuotedPathsAreTwoFilesInOrder) {
  // A space inside a quoted path stays part of it.
  Put("my photo.jpg", Sample("testorig.jpg"));
  Put("b.jpg", MakeJpeg(40, 30));
  Program program(Quoted(Path("my photo.jpg")) + " " + Quoted(Path("b.jpg")));
  program.AwaitSize().Ok();
  QualityDialog first = program.AwaitQuality();
  EXPECT_EQ(first.NewName(), "my photoX.jpg");
  EXPECT_TRUE(first.SameForRestShown()) << "a photo follows";
  first.Save();
  program.AwaitSize().Ok();
  QualityDialog second = program.AwaitQuality();
  EXPECT_EQ(second.NewName(), "bX.jpg");
  EXPECT_FALSE(second.SameForRestShown()) << "the last photo";
  second.Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("my photoX.jpg"), kSampleWidth, kSampleHeight, 90));
  EXPECT_TRUE(IsOutput(Path("bX.jpg"), 40, 30, 90));
}

// abcabc.jpg: the first three characters come back at "abc.jpg", so the
// program sees the paths "ab" and "abc.jpg".
TEST_F(CommandLineTest, ARepeatedHeadSplitsOneName) {
  Put("ab", MakeJpeg(40, 30));
  Put("abc.jpg", Sample("testorig.jpg"));
  Put("abcabc.jpg", MakeJpeg(16, 16));
  Program program("abcabc.jpg", Folder());
  program.AwaitSize().Ok();
  QualityDialog first = program.AwaitQuality();
  EXPECT_EQ(first.NewName(), "abX");
  first.Save();
  program.AwaitSize().Ok();
  QualityDialog second = program.AwaitQuality();
  EXPECT_EQ(second.NewName(), "abcX.jpg");
  second.Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(Path("abX"), 40, 30, 90));
  EXPECT_TRUE(IsOutput(Path("abcX.jpg"), kSampleWidth, kSampleHeight, 90));
  EXPECT_FALSE(Exists(Path("abcabcX.jpg")));
}

TEST_F(CommandLineTest, ARepeatedHeadWhoseFirstPartIsMissingStopsTheBatch) {
  Put("abc.jpg", Sample("testorig.jpg"));
  Put("abcabc.jpg", MakeJpeg(16, 16));
  Program program("abcabc.jpg", Folder());
  EXPECT_EQ(program.DismissMessage(), SystemText(ERROR_FILE_NOT_FOUND));
  program.CloseHostWindow();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_EQ(FolderNames(Folder()), (std::set<std::string>{"abc.jpg", "abcabc.jpg"}));
}

TEST_F(CommandLineTest, AMissingInputStopsTheBatchAndLeavesTheHostWindowOpen) {
  Put("good.jpg", Sample("testorig.jpg"));
  Program program(Quoted(Path("missing.jpg")) + " " + Quoted(Path("good.jpg")));
  EXPECT_EQ(program.DismissMessage(), SystemText(ERROR_FILE_NOT_FOUND));
  program.CloseHostWindow();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_EQ(FolderNames(Folder()), std::set<std::string>{"good.jpg"});
}

TEST_F(CommandLineTest, CancelInTheSizeDialogEndsTheProgram) {
  Put("one.jpg", Sample("testorig.jpg"));
  Put("two.jpg", Sample("testorig.jpg"));
  Program program(Quoted(Path("one.jpg")) + " " + Quoted(Path("two.jpg")));
  program.AwaitSize().Cancel();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_EQ(FolderNames(Folder()), (std::set<std::string>{"one.jpg", "two.jpg"}));
}

TEST_F(CommandLineTest, AQuarterOfATinyImageSavesNothingAndTheBatchGoesOn) {
  Put("tiny.jpg", MakeJpeg(3, 3));
  Put("next.jpg", MakeJpeg(40, 30));
  Program program(Quoted(Path("tiny.jpg")) + " " + Quoted(Path("next.jpg")));
  SizeDialog size = program.AwaitSize();
  EXPECT_EQ(size.OptionTexts()[2], "0 by 0");
  size.Choose(kQuarter);
  size.Ok();
  QualityDialog quality = program.AwaitQuality();
  EXPECT_EQ(quality.Resolution(), "0 by 0");
  quality.Save();
  SizeDialog next = program.AwaitSize();
  next.Choose(kFull);
  next.Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_EQ(FolderNames(Folder()), (std::set<std::string>{"tiny.jpg", "next.jpg", "nextX.jpg"}));
}

// The input lies on a read-only mount: opening it for writing fails, so
// only a program that reads it read-only gets to the dialogs.
TEST_F(CommandLineTest, AReadOnlyInputIsProcessed) {
  const std::string input = Required("TBM_READONLY_INPUT");
  const HANDLE writable = CreateFileA(input.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (writable != INVALID_HANDLE_VALUE)
    CloseHandle(writable);
  ASSERT_EQ(writable, INVALID_HANDLE_VALUE) << input << " can be opened for writing";
  const auto before = ReadBytes(input);
  ASSERT_TRUE(before);
  const std::string output = input.substr(0, input.rfind('.')) + "X.jpg";
  RemoveTree(output);

  Program program(Quoted(input));
  program.AwaitSize().Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(IsOutput(output, kSampleWidth, kSampleHeight, 90));
  EXPECT_TRUE(Holds(input, *before));
  RemoveTree(output);
}

}  // namespace
}  // namespace e2e
