// Photos as large as phones take them. The shipped program is 32-bit: a 200 MP
// photo at full size needs a 572 MiB pixel block and an output buffer beside
// it, which do not fit in the 2 GiB a 32-bit process has without the
// large-address-aware flag. scripts/test runs these against the 32-bit exe
// as well as the 64-bit one. The photos are made by the test program itself
// (E2eTest::BigPhoto) and kept under build/.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "e2e_test.h"

namespace e2e {
namespace {

// 200 MP, the largest mode phones are sold with.
constexpr int kBigWidth = 16320;
constexpr int kBigHeight = 12240;
// 100 MP, stored progressive.
constexpr int kProgressiveWidth = 11552;
constexpr int kProgressiveHeight = 8664;

struct Copy {
  std::string name;
  int choice;  // the radio button
  int divisor;
};

// A photo-like picture compresses to between 1 and 3 bits a pixel at
// quality 90; a flat or a noisy one would not be the test it claims to be.
testing::AssertionResult IsPhotoSized(const Bytes& photo, int width, int height) {
  const double bits = static_cast<double>(photo.size()) * 8 / (double{1} * width * height);
  if (bits < 1 || bits > 3)
    return testing::AssertionFailure() << bits << " bits a pixel, not a photo's 1 to 3";
  return testing::AssertionSuccess();
}

// What a user saw of the program from OK in "Output Size" to the moment
// "Output Quality" takes input: the decode, then the first encode.
struct LongWorkSeen {
  bool sizeBusy = false;     // "Output Size" on screen, answering, only its Cancel usable
  bool sizeBar = false;      // ... with its progress bar
  bool qualityBusy = false;  // "Output Quality" the same while it encodes
  bool qualityBar = false;
  bool hung = false;     // a window the system would call not responding
  Millis longestGap{0};  // without any window of the program on screen
};

// Presses OK and watches until "Output Quality" takes input.
LongWorkSeen WatchLongWork(Program& program, HWND size) {
  LongWorkSeen seen;
  if (!PostClick(size, IDOK))
    throw Unexpected("cannot press OK");
  using Clock = std::chrono::steady_clock;
  auto lastSeen = Clock::now();
  const auto deadline = lastSeen + 20 * WindowTimeout();
  for (;;) {
    bool onScreen = false;
    for (const TopWindow& w : WindowsOf(program.Proc().Id())) {
      if (!w.visible || (w.title != kSizeTitle && w.title != kQualityTitle))
        continue;
      onScreen = true;
      if (w.title == kQualityTitle && TakesInput(w.hwnd)) {
        seen.longestGap =
            std::max(seen.longestGap, std::chrono::duration_cast<Millis>(Clock::now() - lastSeen));
        return seen;
      }
      DWORD_PTR ignored = 0;
      const bool answers =
          SendMessageTimeoutW(w.hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored) != 0;
      if (!answers && !IsWindow(w.hwnd))
        continue;  // closed since it was listed
      seen.hung = seen.hung || !answers || IsHungAppWindow(w.hwnd);
      const bool busy = answers && !TakesInput(w.hwnd) &&
                        IsWindowEnabled(GetDlgItem(w.hwnd, IDCANCEL)) &&
                        !IsWindowEnabled(GetDlgItem(w.hwnd, kQuality)) &&
                        !IsWindowEnabled(GetDlgItem(w.hwnd, kFull));
      const bool bar = busy && IsWindowVisible(GetDlgItem(w.hwnd, kWorkBar));
      (w.title == kSizeTitle ? seen.sizeBusy : seen.qualityBusy) |= busy;
      (w.title == kSizeTitle ? seen.sizeBar : seen.qualityBar) |= bar;
    }
    const auto now = Clock::now();
    if (!onScreen) {
      seen.longestGap =
          std::max(seen.longestGap, std::chrono::duration_cast<Millis>(now - lastSeen));
    } else {
      lastSeen = now;
    }
    if (!program.Proc().Running() || now >= deadline)
      throw Unexpected("no \"Output Quality\" to take input: " + program.Describe());
    std::this_thread::sleep_for(Millis{20});
  }
}

using BigPhotoTest = E2eTest;

// The same photo three times on one command line, saved at full, half and
// quarter size in turn: one program start, which costs a minute under qemu.
TEST_F(BigPhotoTest, TwoHundredMegapixelsAtFullHalfAndQuarter) {
  const Bytes photo = BigPhoto(kBigWidth, kBigHeight, false);
  ASSERT_TRUE(IsPhotoSized(photo, kBigWidth, kBigHeight));
  const std::vector<Copy> copies = {
      {"full.jpg", kFull, 1}, {"half.jpg", kHalf, 2}, {"quarter.jpg", kQuarter, 4}};
  std::string commandLine;
  for (const Copy& copy : copies) {
    if (!commandLine.empty())
      commandLine += ' ';
    commandLine += Quoted(Put(copy.name, photo));
  }

  Program program(commandLine);
  std::vector<std::string> shown;
  for (const Copy& copy : copies) {
    SizeDialog size = program.AwaitSize();
    EXPECT_EQ(size.OptionTexts(),
              (std::vector<std::string>{"16320 by 12240", "8160 by 6120", "4080 by 3060"}));
    size.Choose(copy.choice);
    size.Ok();
    QualityDialog quality = program.AwaitQuality();
    EXPECT_EQ(quality.Resolution(), SizeText(kBigWidth / copy.divisor, kBigHeight / copy.divisor));
    EXPECT_EQ(quality.InputSize(), KbText(photo.size()));
    EXPECT_EQ(quality.NewName(), XName(copy.name));
    shown.push_back(quality.OutputSize());
    quality.Save();
  }
  EXPECT_EQ(program.ExitCode(), 0u);

  for (size_t i = 0; i < copies.size(); ++i) {
    const std::string output = Path(XName(copies[i].name));
    EXPECT_TRUE(
        IsOutput(output, kBigWidth / copies[i].divisor, kBigHeight / copies[i].divisor, 90));
    EXPECT_EQ(shown[i], KbText(ReadBytes(output).value_or(Bytes{}).size())) << "for " << output;
  }
}

// Three 200 MP photos at full size, the two after the first on worker
// threads, which take them as memory allows (in the 32-bit program one at a
// time); then a path that cannot be opened, which leaves the program waiting
// with its host window: by then it holds no more than it held before.
TEST_F(BigPhotoTest, TwoHundredMegapixelsOnWorkersGiveTheirMemoryBack) {
  const Bytes photo = BigPhoto(kBigWidth, kBigHeight, false);
  std::string commandLine;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
    commandLine += Quoted(Put(name, photo)) + " ";
  commandLine += Quoted(Path("gone.jpg"));
  Program program(commandLine);
  SizeDialog size = program.AwaitSize();
  // The first photo's bytes are read, nothing else is held yet.
  const std::optional<size_t> before = program.Proc().CommittedPrivate();
  ASSERT_TRUE(before);
  size.Choose(kFull);
  size.Ok();
  QualityDialog quality = program.AwaitQuality();
  quality.CheckSameForRest();
  quality.Save();
  EXPECT_EQ(program.DismissMessage(), SystemText(ERROR_FILE_NOT_FOUND));
  const std::optional<size_t> after = program.Proc().CommittedPrivate();
  ASSERT_TRUE(after);
  std::printf("committed: %zu MB at the first photo's Output Size, %zu MB after the run\n",
              *before >> 20, *after >> 20);
  EXPECT_LE(*after, *before + (size_t{16} << 20));
  program.CloseHostWindow();
  EXPECT_EQ(program.ExitCode(), 0u);
  for (const char* copy : {"aX.jpg", "bX.jpg", "cX.jpg"})
    EXPECT_TRUE(IsOutput(Path(copy), kBigWidth, kBigHeight, 90)) << copy;
}

// A progressive photo's decoder keeps every coefficient of the image until
// its last scan: 2 bytes for each of 1.5 samples a pixel, 286 MiB here,
// beside the 286 MiB pixel block.
TEST_F(BigPhotoTest, HundredMegapixelsProgressiveAtFull) {
  const Bytes photo = BigPhoto(kProgressiveWidth, kProgressiveHeight, true);
  ASSERT_TRUE(IsPhotoSized(photo, kProgressiveWidth, kProgressiveHeight));
  const std::vector<int> markers = MarkersBeforeScan(photo);
  ASSERT_NE(std::find(markers.begin(), markers.end(), 0xC2), markers.end()) << "not progressive";
  Put("progressive.jpg", photo);

  Program program(Quoted(Path("progressive.jpg")));
  SizeDialog size = program.AwaitSize();
  EXPECT_EQ(size.OptionTexts()[0], SizeText(kProgressiveWidth, kProgressiveHeight));
  size.Choose(kFull);
  // Seconds of decoding, then of encoding: a window stays on screen,
  // answering and showing progress, nothing but its Cancel usable, with no
  // gap a user would see.
  const LongWorkSeen seen = WatchLongWork(program, size.Window());
  EXPECT_TRUE(seen.sizeBusy && seen.sizeBar) << "Output Size while it decodes";
  EXPECT_TRUE(seen.qualityBusy && seen.qualityBar) << "Output Quality while it encodes";
  EXPECT_FALSE(seen.hung);
  EXPECT_LT(seen.longestGap.count(), 250) << "ms without a window";
  QualityDialog quality = program.AwaitQuality();
  EXPECT_EQ(quality.Resolution(), SizeText(kProgressiveWidth, kProgressiveHeight));
  const std::string shown = quality.OutputSize();
  quality.Save();
  EXPECT_EQ(program.ExitCode(), 0u);

  EXPECT_TRUE(IsOutput(Path("progressiveX.jpg"), kProgressiveWidth, kProgressiveHeight, 90));
  EXPECT_EQ(shown, KbText(ReadBytes(Path("progressiveX.jpg")).value_or(Bytes{}).size()));
}

// The program's window of that title once it works: on screen, its OK or
// Save disabled, its Cancel usable.
HWND AwaitWork(Program& program, const char* title) {
  const auto deadline = std::chrono::steady_clock::now() + 20 * WindowTimeout();
  while (std::chrono::steady_clock::now() < deadline && program.Proc().Running()) {
    for (const TopWindow& w : WindowsOf(program.Proc().Id())) {
      if (w.visible && w.title == title && !TakesInput(w.hwnd) &&
          IsWindowEnabled(GetDlgItem(w.hwnd, IDCANCEL))) {
        return w.hwnd;
      }
    }
    std::this_thread::sleep_for(Millis{10});
  }
  throw Unexpected(std::string("no \"") + title + "\" at work: " + program.Describe());
}

// Cancel during the decode behind OK does what Cancel in "Output Size" does:
// the program ends. During the encode, the close box does what Cancel in
// "Output Quality" does: the photo is skipped and the next one follows.
TEST_F(BigPhotoTest, CancelStopsTheWorkOfEitherDialog) {
  const std::string big =
      Put("progressive.jpg", BigPhoto(kProgressiveWidth, kProgressiveHeight, true));
  const std::string small = Put("small.jpg", MakeJpeg(80, 60));
  using Clock = std::chrono::steady_clock;
  {
    Program program(Quoted(big) + " " + Quoted(small));
    SizeDialog size = program.AwaitSize();
    size.Choose(kFull);
    ASSERT_TRUE(PostClick(size.Window(), IDOK));
    ASSERT_TRUE(PostClick(AwaitWork(program, kSizeTitle), IDCANCEL));
    const auto pressed = Clock::now();
    EXPECT_EQ(program.ExitCode(), 0u);
    std::printf(
        "decode: the program ended %lld ms after Cancel\n",
        static_cast<long long>(std::chrono::duration_cast<Millis>(Clock::now() - pressed).count()));
  }
  EXPECT_FALSE(Exists(Path("progressiveX.jpg")));
  EXPECT_FALSE(Exists(Path("smallX.jpg")));

  Program program(Quoted(big) + " " + Quoted(small));
  SizeDialog size = program.AwaitSize();
  size.Choose(kFull);
  size.Ok();
  ASSERT_TRUE(PostMessageW(AwaitWork(program, kQualityTitle), WM_CLOSE, 0, 0));
  const auto closed = Clock::now();
  SizeDialog next = program.AwaitSize();
  std::printf(
      "encode: the next photo's dialog came %lld ms after the close box\n",
      static_cast<long long>(std::chrono::duration_cast<Millis>(Clock::now() - closed).count()));
  EXPECT_EQ(next.OptionTexts()[0], "80 by 60");
  next.Ok();
  program.AwaitQuality().Save();
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_FALSE(Exists(Path("progressiveX.jpg")));
  EXPECT_TRUE(IsOutput(Path("smallX.jpg"), 80, 60, 90));
}

}  // namespace
}  // namespace e2e
