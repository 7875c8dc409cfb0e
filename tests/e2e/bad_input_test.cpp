// Bad inputs, each taken through the program on the command line and in the
// open dialog, followed by a good photo: whether the program saves a copy,
// refuses the file and goes on, or ends, it says so as its rules say, ends
// with exit code 0, leaves the input as it was and no other file behind,
// and any copy it writes is a whole JPEG of the size chosen.
#include <array>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "corpus.h"
#include "e2e_test.h"

namespace e2e {
namespace {

using Space = JpegRecipe::Space;

enum class Outcome {
  // Decoded as far as its data goes, as viewers show such files: both
  // dialogs, and a copy of the size chosen. The next file follows.
  kSaved,
  // "Output Size" offers the size, but the image cannot be held: the
  // system's "not enough memory", no copy. The next file follows.
  kNoMemory,
  // "That's not a jpeg file.": the program ends, the next file is never
  // looked at.
  kNotAJpeg,
  // Past the signature test, but the codec decodes no image of it: "That's
  // not a jpeg file." as soon as its headers fail, or after "Output Size"
  // when they read (width given). The next file follows.
  kUndecodable,
  // Nothing shown, no copy; the next file follows.
  kSkipped,
  // "File is empty": the program ends.
  kFileIsEmpty,
  // A folder, which stands for the photos in it: "No JPEG photos were found
  // in FOLDER." for one without. The next file follows.
  kNoPhotos,
  // Not a case in this mode.
  kNotOffered,
};

struct BadInput {
  const char* name;
  Bytes (*make)();  // null: a folder named like a photo
  Outcome commandLine;
  Outcome selection;
  // For kSaved, kNoMemory and kUndecodable: the size "Output Size" offers,
  // and the choice.
  int width = 0;
  int height = 0;
  int choice = kFull;
  // For kSaved: whether libjpeg itself reads the file without a warning, so
  // that the file is the kind of damage (or not) that its name says.
  bool wellFormed = true;
  // For kSaved photos of one colour: the copy's average red, green, blue.
  std::optional<std::array<double, 3>> colour = std::nullopt;
};

constexpr Outcome kSaved = Outcome::kSaved;
constexpr Outcome kNotAJpeg = Outcome::kNotAJpeg;
constexpr Outcome kUndecodable = Outcome::kUndecodable;

// The first `count` bytes of FF D8 FF, the JPEG signature.
Bytes Signature(size_t count) {
  const Bytes signature = {0xFF, 0xD8, 0xFF};
  return Bytes(signature.begin(), signature.begin() + static_cast<std::ptrdiff_t>(count));
}

Bytes Claiming(int width, int height) {
  return WithFrameSize(MakeJpeg(64, 48), width, height);
}

Bytes SignatureWithoutTheThirdFF() {
  return {0xFF, 0xD8, 0x00, 0xFF, 0xE0};
}

Bytes Text() {
  const std::string text = "just some text";
  return Bytes(text.begin(), text.end());
}

constexpr std::array<double, 3> kRed{255, 0, 0};
constexpr std::array<double, 3> kBlue{0, 0, 255};
constexpr std::array<double, 3> kGrey100{100, 100, 100};

const BadInput kBadInputs[] = {
    {"TruncatedAtTenPercent", [] { return Truncated(GrainyPhoto(false), 10); }, kSaved, kSaved, 320,
     240, kHalf, false},
    {"TruncatedAtHalf", [] { return Truncated(GrainyPhoto(false), 50); }, kSaved, kSaved, 320, 240,
     kFull, false},
    {"TruncatedAtNinetyNinePercent", [] { return Truncated(GrainyPhoto(false), 99); }, kSaved,
     kSaved, 320, 240, kQuarter, false},
    {"ProgressiveTruncatedAtHalf", [] { return Truncated(GrainyPhoto(true), 50); }, kSaved, kSaved,
     320, 240, kHalf, false},
    // A frame header of a large photo over the data of a small one: the
    // picture runs out after a few rows.
    {"HeaderClaimsMoreThanItsData",
     [] { return WithFrameSize(E2eTest::Sample("testorig.jpg"), 2000, 1500); }, kSaved, kSaved,
     2000, 1500, kQuarter, false},
    {"GarbageAfterTheEnd", [] { return WithTrailingGarbage(E2eTest::Sample("testorig.jpg")); },
     kSaved, kSaved, kSampleWidth, kSampleHeight, kFull},
    {"LongCommentAndOddMarkers", OddlyMarked, kSaved, kSaved, 160, 120, kHalf},
    {"ArithmeticCoded", [] { return E2eTest::Sample("testimgari.jpg"); }, kSaved, kSaved,
     kSampleWidth, kSampleHeight, kHalf},
    {"Cmyk", RedInCmyk, kSaved, kSaved, 64, 48, kFull, true, kRed},
    {"Ycck", BlueInYcck, kSaved, kSaved, 64, 48, kHalf, true, kBlue},
    {"Grayscale", [] { return Flat(Space::kGray, {100}); }, kSaved, kSaved, 64, 48, kQuarter, true,
     kGrey100},

    // The pixel buffer alone would take 12 GB.
    {"Claims65000By65000", [] { return Claiming(65000, 65000); }, Outcome::kNoMemory,
     Outcome::kNoMemory, 65000, 65000, kFull},

    // Past the signature test, but the codec reads no image size from them.
    // A small photo cut at 10 % loses the end of its Huffman tables.
    {"HeadersCutOff", [] { return Truncated(E2eTest::Sample("testorig.jpg"), 10); }, kUndecodable,
     kUndecodable},
    {"ZeroWidth", [] { return Claiming(0, 48); }, kUndecodable, kUndecodable},
    {"ZeroHeight", [] { return Claiming(64, 0); }, kUndecodable, kUndecodable},
    {"WiderThanAJpegMayBe", [] { return Claiming(65535, 48); }, kUndecodable, kUndecodable},
    {"TwelveBit", [] { return E2eTest::Sample("testorig12.jpg"); }, kUndecodable, kUndecodable},
    {"Lossless", [] { return LosslessJpeg(64, 48); }, kUndecodable, kUndecodable},
    {"SignatureOnly", [] { return Signature(3); }, kUndecodable, kUndecodable},
    // Its size reads, its pixels do not.
    {"NoQuantizationTables",
     [] { return WithoutQuantizationTables(E2eTest::Sample("testorig.jpg")); }, kUndecodable,
     kUndecodable, kSampleWidth, kSampleHeight, kHalf},
    // Not even the signature.
    {"TwoSignatureBytes", [] { return Signature(2); }, kNotAJpeg, kNotAJpeg},
    {"OneSignatureByte", [] { return Signature(1); }, kNotAJpeg, kNotAJpeg},
    {"SignatureWithoutTheThirdFF", SignatureWithoutTheThirdFF, kNotAJpeg, kNotAJpeg},
    {"PngNamedJpg", [] { return Png(16, 16); }, kNotAJpeg, kNotAJpeg},
    {"Text", Text, kNotAJpeg, kNotAJpeg},

    {"Empty", [] { return Bytes{}; }, Outcome::kSkipped, Outcome::kFileIsEmpty},
    // Typing a folder's name in the open dialog opens the folder instead.
    {"Folder", nullptr, Outcome::kNoPhotos, Outcome::kNotOffered},
};

enum class Mode { kCommandLine, kSelection };

struct Run {
  const BadInput* input;
  Mode mode;
  Outcome Expected() const {
    return mode == Mode::kCommandLine ? input->commandLine : input->selection;
  }
};

std::string NameOf(const Run& run) {
  return std::string(run.mode == Mode::kCommandLine ? "CommandLine_" : "Selection_") +
         run.input->name;
}

// For GoogleTest's reports.
void PrintTo(const Run& run, std::ostream* out) {
  *out << NameOf(run);
}

std::vector<Run> Runs() {
  std::vector<Run> runs;
  for (const Mode mode : {Mode::kCommandLine, Mode::kSelection}) {
    for (const BadInput& input : kBadInputs) {
      if (Run{&input, mode}.Expected() != Outcome::kNotOffered)
        runs.push_back({&input, mode});
    }
  }
  return runs;
}

int Divisor(int choice) {
  return choice == kHalf ? 2 : choice == kQuarter ? 4 : 1;
}

constexpr char kBad[] = "bad.jpg";
constexpr char kNext[] = "next.jpg";
constexpr int kNextWidth = 40;
constexpr int kNextHeight = 32;

class BadInputTest : public E2eTest, public testing::WithParamInterface<Run> {};

TEST_P(BadInputTest, EndsAsTheRulesSay) {
  const BadInput& input = *GetParam().input;
  const Outcome outcome = GetParam().Expected();
  Bytes bytes;
  if (input.make) {
    bytes = input.make();
    Put(kBad, bytes);
  } else {
    ASSERT_TRUE(MakeFolder(Path(kBad)));
  }
  if (outcome == kSaved) {
    ASSERT_EQ(InspectJpeg(bytes).decoded, input.wellFormed)
        << "the file is not what the case says: " << InspectJpeg(bytes).error;
  }
  Put(kNext, MakeJpeg(kNextWidth, kNextHeight));

  const bool commandLine = GetParam().mode == Mode::kCommandLine;
  Program program(commandLine ? Quoted(Path(kBad)) + " " + Quoted(Path(kNext)) : "");
  if (!commandLine)
    program.Choose(Folder(), {kBad, kNext});

  const int width = input.width / Divisor(input.choice);
  const int height = input.height / Divisor(input.choice);
  std::set<std::string> left = {kBad, kNext};
  bool nextFollows = true;
  int nextChoice = input.choice;  // carried over from the bad file's dialog
  switch (outcome) {
    case Outcome::kSaved: {
      SizeDialog size = program.AwaitSize();
      EXPECT_EQ(size.OptionTexts()[0], SizeText(input.width, input.height));
      size.Choose(input.choice);
      size.Ok();
      QualityDialog quality = program.AwaitQuality();
      EXPECT_EQ(quality.InputSize(), KbText(bytes.size()));
      EXPECT_EQ(quality.Resolution(), SizeText(width, height));
      quality.Save();
      left.insert(XName(kBad));
      break;
    }
    case Outcome::kNoMemory:
    case Outcome::kUndecodable:
      if (input.width != 0) {
        SizeDialog size = program.AwaitSize();
        EXPECT_EQ(size.OptionTexts()[0], SizeText(input.width, input.height));
        size.Choose(input.choice);
        size.Ok();
      }
      EXPECT_EQ(program.DismissMessage(), outcome == Outcome::kNoMemory
                                              ? SystemText(ERROR_NOT_ENOUGH_MEMORY)
                                              : "That's not a jpeg file.");
      break;
    case Outcome::kNotAJpeg:
      EXPECT_EQ(program.DismissMessage(), "That's not a jpeg file.");
      nextFollows = false;
      break;
    case Outcome::kSkipped:
      nextChoice = kFull;
      break;
    case Outcome::kFileIsEmpty:
      EXPECT_EQ(program.DismissMessage(), "File is empty");
      nextFollows = false;
      break;
    case Outcome::kNoPhotos:
      EXPECT_EQ(program.DismissMessage(), "No JPEG photos were found in " + Path(kBad) + ".");
      nextChoice = kFull;
      break;
    case Outcome::kNotOffered:
      FAIL() << "not a case in this mode";
  }
  if (nextFollows) {
    SizeDialog next = program.AwaitSize();
    EXPECT_EQ(next.OptionTexts()[0], SizeText(kNextWidth, kNextHeight));
    EXPECT_EQ(next.Checked(), nextChoice);
    next.Ok();
    program.AwaitQuality().Save();
    left.insert(XName(kNext));
  }
  EXPECT_EQ(program.ExitCode(), 0u);

  EXPECT_EQ(FolderNames(Folder()), left);
  if (outcome == kSaved) {
    EXPECT_TRUE(IsOutput(Path(XName(kBad)), width, height, 90));
    if (input.colour) {
      const JpegFacts copy = InspectJpeg(ReadBytes(Path(XName(kBad))).value_or(Bytes{}));
      EXPECT_NEAR(copy.meanRed, (*input.colour)[0], 8);
      EXPECT_NEAR(copy.meanGreen, (*input.colour)[1], 8);
      EXPECT_NEAR(copy.meanBlue, (*input.colour)[2], 8);
    }
  }
  if (nextFollows) {
    EXPECT_TRUE(IsOutput(Path(XName(kNext)), kNextWidth / Divisor(nextChoice),
                         kNextHeight / Divisor(nextChoice), 90));
  }
  if (!input.make) {
    EXPECT_TRUE(FolderNames(Path(kBad)).empty()) << "something was written into the folder";
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, BadInputTest, testing::ValuesIn(Runs()),
                         [](const testing::TestParamInfo<Run>& run) { return NameOf(run.param); });

}  // namespace
}  // namespace e2e
