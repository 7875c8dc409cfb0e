// Photos as large as phones take them. The shipped program is 32-bit: a 200 MP
// photo at full size needs a 572 MiB pixel block and an output buffer beside
// it, which do not fit in the 2 GiB a 32-bit process has without the
// large-address-aware flag. scripts/test runs these against the 32-bit exe
// as well as the 64-bit one. The photos are made by the test program itself
// (E2eTest::BigPhoto) and kept under build/.
#include <algorithm>
#include <chrono>
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
  bool sizeBusy = false;     // "Output Size" on screen, disabled, answering
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
      if (w.title == kQualityTitle && IsWindowEnabled(w.hwnd)) {
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
      const bool busy = answers && !IsWindowEnabled(w.hwnd);
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
  // disabled, answering and showing progress, with no gap a user would see.
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

}  // namespace
}  // namespace e2e
