// The codec target: any bytes through the header read; the images small
// enough to decode quickly through a decode at one scale and an encode of
// what it gave, as the program makes them, with guard bytes around every
// block the codec writes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "check_report.h"
#include "checks.h"
#include "codec/codec.h"
#include "codec/large_blocks.h"
#include "convert/conversion.h"

namespace fuzz_checks {
namespace {

// Only images of up to this many pixels are decoded. A fuzzer explores the
// parser and the entropy decoder, which a small image reaches as well as a
// large one; a JPEG of a few bytes may claim 65500 x 65500 pixels and still
// decode (as grey, from missing data), and filling such blocks would take
// the fuzzer's time. Extreme widths or heights within the area stay in
// reach; the size arithmetic of larger images is the unit tests'.
constexpr uint64_t kMaxDecodedPixels = 256 * 256;

// Bytes around the codec's output that it must never write.
constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 64;

// The largest encodings, so the one that tests the capacity hardest.
constexpr int32_t kEncodeQuality = 100;

struct Scale {
  SizeChoice choice;
  int mode;
  int32_t divisor;
  const char* name;
};
constexpr Scale kScales[] = {{SIZE_FULL, CODEC_DECODE_FULL, 1, "full: "},
                             {SIZE_HALF, CODEC_DECODE_HALF, 2, "half: "},
                             {SIZE_QUARTER, CODEC_DECODE_QUARTER, 4, "quarter: "}};

// What the program's conversion hands the codec besides the pixels.
struct CodecMemory {
  CodecMetadata metadata;
  LargeBlocks largeBlocks{kMaxBlockBytes};
};

bool IsCodecStatus(int status) {
  return status <= CODEC_OK && status >= CODEC_CANCELLED;
}

bool AllGuard(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == kGuard; });
}

// Reports must run within 0 to 1 and never go back.
class SteadyProgress final : public CodecProgress {
 public:
  bool Report(double done) noexcept override {
    steady_ = steady_ && done >= last_ && done <= 1;
    last_ = done;
    return true;
  }
  bool Steady() const { return steady_; }

 private:
  double last_ = 0;
  bool steady_ = true;
};

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

  // The block as the codec's pixels, as the program hands them over.
  void PointAt(CodecProps& props) {
    props.pixelBuffer = bytes.data();
    props.pixelWidth = width;
    props.pixelHeight = height;
    props.pixelRowPad = rowPad;
    props.pixelChannels = 3;
    props.pixelColor = CODEC_PIXEL_BGR;
  }

  bool OnlyPixelsWritten() const {
    const std::span<const uint8_t> all(bytes);
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
      if (!AllGuard(all.subspan(y * Stride() + static_cast<size_t>(width) * 3, rowPad)))
        return false;
    }
    return AllGuard(all.subspan(Stride() * height));
  }
};

// The encoding, empty when it failed.
std::vector<uint8_t> CheckEncode(Report& report, PixelBlock& block, CodecMemory& job) {
  const size_t capacity = static_cast<size_t>(OutputBound(block.width, block.height, job.metadata));
  std::vector<uint8_t> out(capacity + kGuardBytes, kGuard);
  const std::vector<uint8_t> pixels = block.bytes;
  SteadyProgress progress;
  CodecProps props;
  CodecInit(props);
  block.PointAt(props);
  props.jpegBuffer = out.data();
  props.jpegSize = static_cast<uint32_t>(capacity);
  props.jpegWidth = block.width;
  props.jpegHeight = block.height;
  props.jpegColor = CODEC_JPEG_YCBCR;
  props.jpegSubsampling = CODEC_SUBSAMPLE_422;
  props.quality = kEncodeQuality;
  props.metadata = &job.metadata;
  props.progress = &progress;
  props.largeBlocks = &job.largeBlocks;
  const int status = CodecWrite(props, CODEC_ENCODE_BUFFER);

  report.Check(IsCodecStatus(status) && status != CODEC_CANCELLED,
               "the encode returns a codec status");
  report.Check((status == CODEC_BAD_REQUEST) == (block.width == 0 || block.height == 0),
               "the encode refuses exactly the empty images");
  report.Check(status == CODEC_OK || props.jpegSize == 0, "a failed encode has no length");
  report.Check(props.jpegSize <= capacity, "the encoded length is within the capacity");
  report.Check(AllGuard(std::span<const uint8_t>(out).subspan(capacity)),
               "the encode writes nothing past the capacity");
  report.Check(block.bytes == pixels, "the encode leaves the pixels as they were");
  report.Check(progress.Steady(), "the encode's reports stay within 0 to 1 and never go back");
  if (status != CODEC_OK || props.jpegSize > capacity)
    return {};
  const size_t size = props.jpegSize;
  if (!report.Check(size >= 4 && out[0] == 0xFF && out[1] == 0xD8 && out[size - 2] == 0xFF &&
                        out[size - 1] == 0xD9,
                    "the encoding starts with SOI and ends with EOI"))
    return {};
  CodecProps reread;
  CodecInit(reread);
  reread.jpegBuffer = out.data();
  reread.jpegSize = props.jpegSize;
  report.Check(CodecRead(reread, CODEC_READ_PARAMS) == CODEC_OK &&
                   reread.jpegWidth == block.width && reread.jpegHeight == block.height,
               "the encoding reads back with the image's size");
  out.resize(size);
  return out;
}

// The program's conversion of the same bytes at the same scale gives what
// the codec gave.
void CheckConversion(Report& report, std::span<const uint8_t> jpeg, const Scale& scale, int decoded,
                     const std::vector<uint8_t>& encoding) {
  Conversion conversion;
  if (!conversion.PrepareInput(jpeg.size()))
    return;
  std::copy(jpeg.begin(), jpeg.end(), conversion.Input().begin());
  report.Check(conversion.ReadHeader(), "the conversion reads the header the codec read");
  report.Check(conversion.Decode(scale.choice, nullptr) == decoded,
               "the conversion decodes as the codec does");
  if (decoded != CODEC_OK || encoding.empty())
    return;
  std::vector<uint8_t> copy;
  if (conversion.Encode(kEncodeQuality, nullptr) == CODEC_OK) {
    for (const auto piece : conversion.CopyPieces())
      copy.insert(copy.end(), piece.begin(), piece.end());
  }
  report.Check(copy == encoding, "the conversion's copy is the codec's encoding");
}

// The decode at one scale, and the encode of what it gave.
void CheckScale(Report& report, std::span<uint8_t> jpeg, int32_t width, int32_t height,
                const Scale& scale) {
  report.SetContext(scale.name);
  // The program's own scaling, block size and codec memory.
  CodecMemory job;
  PixelBlock block(width / scale.divisor, height / scale.divisor);

  SteadyProgress progress;
  CodecProps props;
  CodecInit(props);
  props.jpegBuffer = jpeg.data();
  props.jpegSize = static_cast<uint32_t>(jpeg.size());
  block.PointAt(props);
  props.metadata = &job.metadata;
  props.progress = &progress;
  props.largeBlocks = &job.largeBlocks;
  const int status = CodecRead(props, scale.mode);

  // The program's sizes never exceed the codec's own (rounded up) scaled
  // size, so the header that was read once decodes or is unreadable.
  report.Check(status == CODEC_OK || status == CODEC_UNREADABLE,
               "the decode of a readable header is done or unreadable");
  report.Check(block.OnlyPixelsWritten(), "the decode writes only the rows' pixels");
  report.Check(progress.Steady(), "the decode's reports stay within 0 to 1 and never go back");
  const CodecMetadata& kept = job.metadata;
  report.Check(kept.orientation == 0 || (kept.orientation >= 2 && kept.orientation <= 8),
               "only a turning orientation is kept");
  report.Check(
      kept.iccProfile == nullptr ||
          (kept.iccProfileSize >= 128 && std::memcmp(kept.iccProfile.get() + 16, "RGB ", 4) == 0),
      "only an RGB profile is kept");
  std::vector<uint8_t> encoding;
  if (status == CODEC_OK)
    encoding = CheckEncode(report, block, job);
  CheckConversion(report, jpeg, scale, status, encoding);
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
  // The scale follows the input's length, which a mutation that inserts or
  // removes bytes changes and one that flips a byte keeps.
  CheckScale(report, jpeg, width, height, kScales[jpeg.size() % std::size(kScales)]);
  report.SetContext({});
  report.Check(std::equal(jpeg.begin(), jpeg.end(), input.begin(), input.end()),
               "the codec leaves the input as it was");
  return report.Take();
}

}  // namespace fuzz_checks
