// Not a test but a measurement: the program's memory for photos of 24, 100
// and 200 MP at each size, one program run each so that peaks do not mix.
// scripts/measure-memory runs it against the 32-bit build and writes the
// table it builds (TBM_MEMORY_TABLE) into bench/memory-win32.md.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <thread>

#include "e2e_test.h"

namespace e2e {
namespace {

struct Photo {
  const char* name;
  int width;
  int height;
  bool progressive;
};
constexpr Photo kPhotos[] = {{"24 MP", 5664, 4248, false},
                             {"100 MP progressive", 11552, 8664, true},
                             {"200 MP", 16320, 12240, false}};

struct Scale {
  const char* name;
  int radio;
  int divisor;
};
constexpr Scale kScales[] = {{"full", kFull, 1}, {"half", kHalf, 2}, {"quarter", kQuarter, 4}};

double MiB(uint64_t bytes) {
  return static_cast<double>(bytes) / (1 << 20);
}

// What the program holds for a photo, in its two phases. While the photo is
// decoded: the input's bytes, the pixel block of the chosen size (rows padded
// to 4 bytes; the program pads by three times the pad) and, for a
// progressive photo, libjpeg's coefficients of the whole image, whatever the
// size chosen (128 bytes a block, blocks rounded up to whole MCUs). While it
// is encoded, the input gone: the pixel block, the output chain (the copy in
// whole 1 MiB regions) and the encoder's coefficients of the whole copy,
// which the Huffman tables made for each photo need (4:2:2). libjpeg's row
// buffers, under 2 MiB, are not counted.
struct Formula {
  uint64_t input;
  uint64_t pixels;
  uint64_t decoder;
  uint64_t output;
  uint64_t encoder;
  uint64_t Decoding() const { return input + pixels + decoder; }
  uint64_t Encoding() const { return pixels + output + encoder; }
};

uint64_t RoundUp(uint64_t value, uint64_t step) {
  return (value + step - 1) / step * step;
}

// The program's output regions, which a copy takes whole.
constexpr uint64_t kRegionBytes = uint64_t{1} << 20;

// libjpeg's coefficients of a whole YCbCr image: whole MCUs of `h` by `v`
// luminance blocks and one block of each chroma, 128 bytes a block.
uint64_t CoefficientBytes(uint64_t width, uint64_t height, uint64_t h, uint64_t v) {
  const uint64_t mcus = RoundUp(width, 8 * h) / (8 * h) * (RoundUp(height, 8 * v) / (8 * v));
  return mcus * (h * v + 2) * 128;
}

Formula FormulaFor(const Photo& photo, const Scale& scale, uint64_t inputBytes,
                   uint64_t copyBytes) {
  const uint64_t width = static_cast<uint64_t>(photo.width / scale.divisor);
  const uint64_t height = static_cast<uint64_t>(photo.height / scale.divisor);
  const uint64_t pad = RoundUp(3 * width, 4) - 3 * width;
  const uint64_t pixels = (width + pad) * height * 3;
  // MakeBigPhoto stores 4:2:0; the program's copy is 4:2:2.
  const uint64_t decoder = photo.progressive
                               ? CoefficientBytes(static_cast<uint64_t>(photo.width),
                                                  static_cast<uint64_t>(photo.height), 2, 2)
                               : 0;
  return {inputBytes, pixels, decoder, RoundUp(copyBytes, kRegionBytes),
          CoefficientBytes(width, height, 2, 1)};
}

// The highest PagefileUsage seen, polled every 10 ms on a thread of its own
// while the program runs: Wine's PeakPagefileUsage is no peak.
class Sampler {
 public:
  explicit Sampler(const Process& process)
      : thread_([this, &process] {
          while (!stop_) {
            if (const auto counters = process.Memory())
              pagefile_ = std::max<size_t>(pagefile_, counters->PagefileUsage);
            std::this_thread::sleep_for(Millis{10});
          }
        }) {}
  ~Sampler() {
    stop_ = true;
    thread_.join();
  }
  size_t Pagefile() const { return pagefile_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<size_t> pagefile_{0};
  std::thread thread_;
};

struct Case {
  Photo photo;
  Scale scale;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  for (const Photo& photo : kPhotos) {
    for (const Scale& scale : kScales)
      cases.push_back({photo, scale});
  }
  return cases;
}

class PeakMemory : public E2eTest, public testing::WithParamInterface<Case> {};

TEST_P(PeakMemory, OfOneRun) {
  const Photo& photo = GetParam().photo;
  const Scale& scale = GetParam().scale;
  const Bytes bytes = BigPhoto(photo.width, photo.height, photo.progressive);
  // A missing second file stops the batch with a message, so that the
  // program is still there to be read once the photo is saved.
  Program program(Quoted(Put("photo.jpg", bytes)) + " " + Quoted(Path("missing.jpg")));
  size_t peakPagefile = 0;
  size_t committed = 0;
  std::string shown;
  PROCESS_MEMORY_COUNTERS last{};
  {
    const Sampler sampler(program.Proc());
    SizeDialog size = program.AwaitSize();
    size.Choose(scale.radio);
    size.Ok();
    QualityDialog quality = program.AwaitQuality();
    committed = program.Proc().CommittedPrivate().value_or(0);
    shown = quality.OutputSize();
    quality.Save();
    program.Await(kMessageTitle);
    last = program.Proc().Memory().value_or(PROCESS_MEMORY_COUNTERS{});
    peakPagefile = std::max<size_t>(sampler.Pagefile(), last.PeakPagefileUsage);
  }
  EXPECT_EQ(program.DismissMessage(), SystemText(ERROR_FILE_NOT_FOUND));
  program.CloseHostWindow();
  EXPECT_EQ(program.ExitCode(), 0u);
  ASSERT_TRUE(
      IsOutput(Path("photoX.jpg"), photo.width / scale.divisor, photo.height / scale.divisor, 90));

  const size_t copyBytes = ReadBytes(Path("photoX.jpg")).value_or(Bytes{}).size();
  // A figure is only worth writing down for a copy the program sized exactly.
  EXPECT_EQ(shown, KbText(copyBytes));
  const Formula formula = FormulaFor(photo, scale, bytes.size(), copyBytes);
  char row[400];
  std::snprintf(row, sizeof row,
                "| %s | %s | %.0f | %.0f | %.0f | %.0f | %.0f + %.0f + %.0f = %.0f | %.0f + %.0f + "
                "%.0f = %.0f |\n",
                photo.name, scale.name, MiB(peakPagefile), MiB(last.PeakPagefileUsage),
                MiB(last.PeakWorkingSetSize), MiB(committed), MiB(formula.input),
                MiB(formula.pixels), MiB(formula.decoder), MiB(formula.Decoding()),
                MiB(formula.pixels), MiB(formula.output), MiB(formula.encoder),
                MiB(formula.Encoding()));
  std::printf("%s", row);
  const std::string table = Env("TBM_MEMORY_TABLE");
  if (!table.empty()) {
    Bytes all = ReadBytes(table).value_or(Bytes{});
    all.insert(all.end(), row, row + std::strlen(row));
    ASSERT_TRUE(WriteBytes(table, all)) << "cannot write " << table;
  }
}

std::string CaseName(const testing::TestParamInfo<Case>& info) {
  std::string name = std::string(info.param.photo.name) + "_" + info.param.scale.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)))
      c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Photos, PeakMemory, testing::ValuesIn(Cases()), CaseName);

}  // namespace
}  // namespace e2e
