#include "checks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <utility>

#include "batch/command_line.h"
#include "batch/input_list.h"
#include "batch/job_state.h"
#include "batch/output_naming.h"
#include "batch/selection.h"
#include "codec/codec.h"
#include "codec/exif_orientation.h"
#include "dialogs/size_dialog.h"

namespace fuzz_checks {
namespace {

// Collects the checks that failed, each under the context it was made in.
class Report {
 public:
  bool Check(bool holds, std::string_view what) {
    if (!holds)
      found_.push_back(context_ + std::string(what));
    return holds;
  }
  void SetContext(std::string context) { context_ = std::move(context); }
  bool Clean() const { return found_.empty(); }
  Violations Take() { return std::move(found_); }

 private:
  std::string context_;
  Violations found_;
};

std::string_view AsText(std::span<const uint8_t> input) {
  return {reinterpret_cast<const char*>(input.data()), input.size()};
}

// A string that must end in a zero byte within its buffer, up to that byte.
std::string_view Terminated(const char* text, size_t room, bool* terminated) {
  const size_t length = strnlen(text, room);
  *terminated = length < room;
  return {text, length};
}

// --- The codec ---

// Decodes of larger images are skipped. A JPEG of a few bytes may claim up to
// 65500 x 65500 pixels and still decode (as grey, from missing data); under
// the sanitizers a megapixel takes most of a second through the three decodes
// and encodes, so larger claims would spend the fuzzer's time filling memory
// instead of finding new paths. Extreme widths and heights stay in reach.
constexpr uint64_t kMaxDecodedPixels = uint64_t{1} << 20;

// Bytes around the codec's output that it must never write.
constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;

// The largest encodings, so the one that tests the capacity hardest.
constexpr int32_t kEncodeQuality = 100;

struct Scale {
  SizeChoice choice;
  int mode;
  const char* name;
};
constexpr Scale kScales[] = {{SIZE_FULL, CODEC_DECODE_FULL, "full: "},
                             {SIZE_HALF, CODEC_DECODE_HALF, "half: "},
                             {SIZE_QUARTER, CODEC_DECODE_QUARTER, "quarter: "}};

bool IsCodecStatus(int status) {
  switch (status) {
    case CODEC_OK:
    case CODEC_BAD_REQUEST:
    case CODEC_UNREADABLE:
    case CODEC_OUTPUT_FULL:
    case CODEC_FAILED:
    case CODEC_NO_MEMORY:
      return true;
    default:
      return false;
  }
}

bool AllGuard(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == kGuard; });
}

// A block as the program allocates it, with guard bytes after it. Only the
// pixel bytes of each row belong to the codec: the row pads, the block's
// slack and the guards must keep their guard value.
struct PixelBlock {
  int32_t width;
  int32_t height;
  int32_t rowPad;
  std::vector<uint8_t> bytes;

  PixelBlock(int32_t w, int32_t h)
      : width(w),
        height(h),
        rowPad(RowPad(w)),
        bytes(static_cast<size_t>(BlockSize(w, h)) + kGuardBytes, kGuard) {}

  size_t Stride() const { return static_cast<size_t>(width) * 3 + rowPad; }

  bool OnlyPixelsWritten() const {
    const std::span<const uint8_t> all(bytes);
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
      if (!AllGuard(all.subspan(y * Stride() + static_cast<size_t>(width) * 3, rowPad)))
        return false;
    }
    return AllGuard(all.subspan(Stride() * height));
  }
};

void CheckEncode(Report& report, PixelBlock& block, CodecMetadata& metadata) {
  const size_t capacity = static_cast<size_t>(OutputBound(block.width, block.height, metadata));
  std::vector<uint8_t> out(capacity + kGuardBytes, kGuard);
  const std::vector<uint8_t> pixels = block.bytes;
  CodecProps props;
  CodecInit(props);
  props.pixelBuffer = block.bytes.data();
  props.pixelWidth = block.width;
  props.pixelHeight = block.height;
  props.pixelRowPad = block.rowPad;
  props.pixelChannels = 3;
  props.pixelColor = CODEC_PIXEL_BGR;
  props.jpegBuffer = out.data();
  props.jpegSize = static_cast<uint32_t>(capacity);
  props.jpegWidth = block.width;
  props.jpegHeight = block.height;
  props.jpegColor = CODEC_JPEG_YCBCR;
  props.jpegSubsampling = CODEC_SUBSAMPLE_422;
  props.quality = kEncodeQuality;
  props.metadata = &metadata;
  const int status = CodecWrite(props, CODEC_ENCODE_BUFFER);

  report.Check(IsCodecStatus(status), "the encode returns a codec status");
  report.Check((status == CODEC_BAD_REQUEST) == (block.width == 0 || block.height == 0),
               "the encode refuses exactly the empty images");
  report.Check(status == CODEC_OK || props.jpegSize == 0, "a failed encode has no length");
  report.Check(props.jpegSize <= capacity, "the encoded length is within the capacity");
  report.Check(AllGuard(std::span<const uint8_t>(out).subspan(capacity)),
               "the encode writes nothing past the capacity");
  report.Check(block.bytes == pixels, "the encode leaves the pixels as they were");
  if (status != CODEC_OK || props.jpegSize > capacity)
    return;
  const size_t size = props.jpegSize;
  if (!report.Check(size >= 4 && out[0] == 0xFF && out[1] == 0xD8 && out[size - 2] == 0xFF &&
                        out[size - 1] == 0xD9,
                    "the encoding starts with SOI and ends with EOI"))
    return;
  CodecProps reread;
  CodecInit(reread);
  reread.jpegBuffer = out.data();
  reread.jpegSize = props.jpegSize;
  report.Check(CodecRead(reread, CODEC_READ_PARAMS) == CODEC_OK &&
                   reread.jpegWidth == block.width && reread.jpegHeight == block.height,
               "the encoding reads back with the image's size");
}

// The decode at one scale, and the encode of what it gave.
void CheckScale(Report& report, std::span<uint8_t> jpeg, int32_t width, int32_t height,
                const Scale& scale) {
  report.SetContext(scale.name);
  // The program's own scaling and block size.
  JobState job;
  job.width = width;
  job.height = height;
  job.sizeChoice = scale.choice;
  ScaleBySizeChoice(job);
  PixelBlock block(job.width, job.height);

  CodecProps props;
  CodecInit(props);
  props.jpegBuffer = jpeg.data();
  props.jpegSize = static_cast<uint32_t>(jpeg.size());
  props.pixelBuffer = block.bytes.data();
  props.pixelWidth = block.width;
  props.pixelHeight = block.height;
  props.pixelRowPad = block.rowPad;
  props.pixelChannels = 3;
  props.pixelColor = CODEC_PIXEL_BGR;
  props.metadata = &job.metadata;
  const int status = CodecRead(props, scale.mode);

  // The program's sizes never exceed the codec's own (rounded up) scaled
  // size, so the header that was read once decodes or is unreadable.
  report.Check(status == CODEC_OK || status == CODEC_UNREADABLE,
               "the decode of a readable header is done or unreadable");
  report.Check(block.OnlyPixelsWritten(), "the decode writes only the rows' pixels");
  const CodecMetadata& kept = job.metadata;
  report.Check(kept.orientation == 0 || (kept.orientation >= 2 && kept.orientation <= 8),
               "only a turning orientation is kept");
  report.Check(
      kept.iccProfile == nullptr ||
          (kept.iccProfileSize >= 128 && std::memcmp(kept.iccProfile.get() + 16, "RGB ", 4) == 0),
      "only an RGB profile is kept");
  if (status == CODEC_OK)
    CheckEncode(report, block, job.metadata);
}

}  // namespace

Violations CheckCodec(std::span<const uint8_t> input) {
  Report report;
  // An exact copy: the codec reads a buffer of the file's size, and the copy
  // shows whether it wrote to it.
  std::vector<uint8_t> jpeg(input.begin(), input.end());
  CodecProps props;
  CodecInit(props);
  props.jpegBuffer = jpeg.data();
  props.jpegSize = static_cast<uint32_t>(jpeg.size());
  const int status = CodecRead(props, CODEC_READ_PARAMS);
  report.Check(status == CODEC_OK || status == CODEC_UNREADABLE,
               "the header read is done or unreadable");
  if (status != CODEC_OK)
    return report.Take();
  const int32_t width = props.jpegWidth;
  const int32_t height = props.jpegHeight;
  if (!report.Check(width >= 1 && width <= 65500 && height >= 1 && height <= 65500,
                    "a read header gives a size JPEG can hold"))
    return report.Take();
  if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxDecodedPixels)
    return report.Take();
  for (const Scale& scale : kScales)
    CheckScale(report, jpeg, width, height, scale);
  report.SetContext({});
  report.Check(std::equal(jpeg.begin(), jpeg.end(), input.begin(), input.end()),
               "the codec leaves the input as it was");
  return report.Take();
}

// --- The Exif orientation reader ---

Violations CheckExifOrientation(std::span<const uint8_t> input) {
  Violations found;
  const uint16_t read = ExifOrientation(input);

  // The segment inside a larger buffer, as libjpeg keeps it among other
  // data: a read past its end sees the segment's own bytes again, which
  // hold an Exif header and entries wherever the input does.
  std::vector<uint8_t> buffer(input.begin(), input.end());
  buffer.insert(buffer.end(), input.begin(), input.end());
  if (ExifOrientation(std::span<const uint8_t>(buffer).first(input.size())) != read)
    found.push_back("the result depends on bytes after the segment");

  // A segment made for a copy, for the orientation the first two bytes name.
  const uint16_t value =
      input.size() < 2 ? uint16_t{6} : static_cast<uint16_t>(input[0] << 8 | input[1]);
  const auto made = ExifOrientationSegment(value);
  if (ExifOrientation(made) != value)
    found.push_back("a made segment reads as " + std::to_string(ExifOrientation(made)) + ", not " +
                    std::to_string(value));
  // Cut inside its one entry (which ends at byte 28), it holds no orientation.
  for (size_t cut = 0; cut < 28; ++cut) {
    // An exact copy, so that the sanitizer sees any read past the cut.
    const std::vector<uint8_t> shorter(made.begin(), made.begin() + cut);
    if (ExifOrientation(shorter) != 0)
      found.push_back("a made segment cut to " + std::to_string(cut) + " bytes reads as " +
                      std::to_string(ExifOrientation(shorter)));
  }
  return found;
}

// --- The command line ---

Violations CheckCommandLine(std::span<const uint8_t> input) {
  Report report;
  const std::string_view text = AsText(input);
  std::string kept;
  std::copy_if(text.begin(), text.end(), std::back_inserter(kept), [](char c) { return c != '"'; });

  JobState job;
  CaptureArguments(job, text);
  const std::vector<char>& buffer = job.CommandLineBuffer;
  report.Check(job.commandLineLength == kept.size(),
               "the captured length is the text's without quotes");
  report.Check(buffer.size() == kept.size() + 3 &&
                   std::equal(kept.begin(), kept.end(), buffer.begin()) &&
                   std::all_of(buffer.end() - 3, buffer.end(), [](char c) { return c == '\0'; }),
               "the buffer holds the text without quotes, then three zero bytes");
  const InputMode mode = BeginBatch(job);
  report.Check(mode == (kept.empty() ? InputMode::kSelection : InputMode::kCommandLine),
               "the mode follows whether the text holds anything");
  if (mode != InputMode::kCommandLine || !report.Clean())
    return report.Take();

  // The original text, zero bytes after it as in the buffer, to compare the
  // walk's pieces with while the split writes terminators into the buffer.
  const std::string padded = kept + std::string(3, '\0');
  const std::string_view prefix(padded.data(), 3);
  const char* const begin = buffer.data();
  const char* const end = begin + buffer.size();
  size_t steps = 0;
  while (job.currentFile < job.commandLineLength) {
    if (!report.Check(++steps <= kept.size(), "the walk ends within one path per character"))
      break;
    const size_t start = job.currentFile;
    const char* path = SplitCurrentPath(job);
    if (!report.Check(path == begin + start, "each path starts at currentFile in the buffer") ||
        !report.Check(std::memchr(path, '\0', static_cast<size_t>(end - path)) != nullptr,
                      "each path ends inside the buffer") ||
        !report.Check(job.nextStart > start, "nextStart strictly increases"))
      break;
    // The path runs to the character before the prefix's next occurrence, or
    // to the end of the text.
    const size_t next = job.nextStart;
    if (!report.Check(next <= kept.size(), "nextStart stays within the text"))
      break;
    const bool split = next < kept.size();
    const size_t stop = split ? next - 1 : kept.size();
    report.Check(!split || (padded.compare(next, 3, prefix) == 0 && buffer[stop] == '\0'),
                 "a split is at the prefix, the character before it a terminator");
    report.Check(padded.find(prefix, start + 1) >= next,
                 "a path holds the prefix nowhere after its first character");
    const std::string_view piece(padded.data() + start, stop - start);
    report.Check(std::string_view(path) == piece.substr(0, piece.find('\0')),
                 "each path is the text up to its split");
    job.currentFile = next;
  }
  return report.Take();
}

// --- The open dialog's result ---

Violations CheckSelection(std::span<const uint8_t> input) {
  Report report;
  JobState job;
  const size_t copied = std::min(input.size(), kSelectionBytes);
  std::memcpy(job.SelectionBuffer.data(), input.data(), copied);

  // The result as the dialog lays it out: the first string (the folder, or
  // the one full path) and the names after it, each ended by a zero byte, up
  // to an empty one. Without that empty one the list was cut at the
  // buffer's end, and a string that reaches the end is unterminated.
  const std::string_view result(job.SelectionBuffer.data(), kSelectionBytes);
  struct Piece {
    std::string_view text;
    bool terminated;
  };
  std::vector<Piece> pieces;
  bool whole = false;
  for (size_t p = 0; p < result.size();) {
    const size_t zero = std::min(result.find('\0', p), result.size());
    if (!pieces.empty() && zero == p) {
      whole = true;
      break;
    }
    pieces.push_back({result.substr(p, zero - p), zero < result.size()});
    p = zero + 1;
  }
  const Piece first = pieces.front();
  const std::span<const Piece> names = std::span<const Piece>(pieces).subspan(1);

  const bool parsed = ParseSelection(job);
  report.Check(parsed == whole, "a result is taken exactly when it ends with its double zero");
  if (!parsed) {
    report.Check(job.fileCount == 0, "a cut result has no files");
    return report.Take();
  }
  report.Check(job.fileCount >= 1, "fileCount is at least 1");
  report.Check(static_cast<size_t>(job.fileCount) == std::max<size_t>(names.size(), 1),
               "fileCount is the number of names, or 1 for a full path");
  for (size_t index = 0; index < static_cast<size_t>(job.fileCount); ++index) {
    report.SetContext("file " + std::to_string(index) + ": ");
    const bool built = BuildSelectedPath(job, index);
    bool terminated = false;
    const std::string_view path = Terminated(job.inputPath.data(), kPathBytes, &terminated);
    if (!report.Check(terminated, "inputPath is zero-terminated"))
      continue;
    std::string expected(first.text);
    bool complete = first.terminated;
    if (!names.empty()) {
      expected += '\\';
      expected += names[index].text;
      complete = names[index].terminated;
    }
    const bool fits = complete && expected.size() < kPathBytes;
    report.Check(built == fits, "a path is built exactly when it is whole and fits");
    if (built)
      report.Check(path == expected, "a built path is the folder, a backslash and the name");
    else
      report.Check(
          std::all_of(job.inputPath.begin(), job.inputPath.end(), [](char c) { return c == '\0'; }),
          "a path that is not built is empty");
  }
  return report.Take();
}

// --- The output naming ---

Violations CheckOutputNaming(std::span<const uint8_t> input) {
  Report report;
  // The program names outputs of zero-terminated paths.
  const std::string_view text = AsText(input);
  const std::string_view path = text.substr(0, text.find('\0'));

  // The file name follows the last separator; the X goes before its first
  // dot, or at its end.
  size_t nameStart = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' || path[i] == '/')
      nameStart = i + 1;
  }
  size_t insertAt = nameStart;
  while (insertAt < path.size() && path[insertAt] != '.')
    ++insertAt;
  const std::string expected =
      std::string(path.substr(0, insertAt)) + 'X' + std::string(path.substr(insertAt));

  JobState job;
  job.OutputPath.fill('?');
  job.DisplayName.fill('?');
  const PathBuffer untouched = job.DisplayName;
  const bool built = BuildOutputPath(job, path);
  report.Check(built == (expected.size() < kPathBytes),
               "an output path is refused exactly when it does not fit");
  report.Check(job.DisplayName == untouched, "nothing is written past OutputPath");
  if (!built) {
    report.Check(job.OutputPath[0] == '\0', "a refused output path is empty");
    return report.Take();
  }
  bool terminated = false;
  const std::string_view output = Terminated(job.OutputPath.data(), kPathBytes, &terminated);
  report.Check(terminated && output == expected,
               "the output path is the input with an X before the file name's first dot");
  BuildDisplayName(job);
  const std::string_view shown = Terminated(job.DisplayName.data(), kPathBytes, &terminated);
  report.Check(terminated && shown == std::string_view(expected).substr(nameStart),
               "the shown name is the output path's file name");
  return report.Take();
}

namespace {
constexpr Target kTargets[] = {
    {"codec", CheckCodec},
    {"exif_orientation", CheckExifOrientation},
    {"command_line", CheckCommandLine},
    {"selection", CheckSelection},
    {"output_naming", CheckOutputNaming},
};
}  // namespace

std::span<const Target> Targets() {
  return kTargets;
}

const Target* FindTarget(std::string_view name) {
  const auto found = std::find_if(std::begin(kTargets), std::end(kTargets),
                                  [name](const Target& t) { return t.name == name; });
  return found == std::end(kTargets) ? nullptr : found;
}

}  // namespace fuzz_checks
