#include "conversion.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include <jpeglib.h>

#include "batch/pipeline.h"
#include "codec/exif_orientation.h"
#include "dialogs/quality_dialog.h"
#include "dialogs/size_dialog.h"

namespace {

constexpr int kQuality = 90;

// What a copy may carry from its photo, as the photo holds it.
struct Metadata {
  uint16_t orientation = 0;  // the first Exif APP1's
  std::vector<uint8_t> icc;  // a complete profile, of any colour space

  std::string IccSpace() const {
    return icc.size() >= 20 ? std::string(icc.begin() + 16, icc.begin() + 20) : "?";
  }
};

struct Bytes {
  std::unique_ptr<uint8_t[]> data;
  size_t size = 0;
};

// Left uninitialized: a minimal program does not clear what it reads into.
Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  Bytes bytes;
  const std::streamoff size = in.tellg();
  if (!in || size <= 0)
    return bytes;
  in.seekg(0);
  bytes.size = static_cast<size_t>(size);
  bytes.data.reset(new uint8_t[bytes.size]);
  if (!in.read(reinterpret_cast<char*>(bytes.data.get()), size))
    bytes = {};
  return bytes;
}

// libjpeg's own error handler ends the process on a fatal error, which the
// benchmark sees as a failed run.
struct Decoder {
  jpeg_error_mgr errors{};
  jpeg_decompress_struct d{};
  Metadata metadata;

  explicit Decoder(const Bytes& jpeg) {
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data.get(), static_cast<unsigned long>(jpeg.size));
    jpeg_save_markers(&d, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&d, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d, TRUE);
    for (auto* m = d.marker_list; m; m = m->next) {
      if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 &&
          std::memcmp(m->data, "Exif\0\0", 6) == 0) {
        metadata.orientation = ExifOrientation({m->data, m->data_length});
        break;
      }
    }
    JOCTET* icc = nullptr;
    unsigned int iccBytes = 0;
    if (jpeg_read_icc_profile(&d, &icc, &iccBytes)) {
      metadata.icc.assign(icc, icc + iccBytes);
      std::free(icc);
    }
  }
  ~Decoder() { jpeg_destroy_decompress(&d); }
};

bool WriteFile(const char* path, std::span<const std::span<const uint8_t>> pieces) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto piece : pieces)
    out.write(reinterpret_cast<const char*>(piece.data()),
              static_cast<std::streamsize>(piece.size()));
  out.close();
  return static_cast<bool>(out);
}

// Baseline 4:2:2 into one buffer as large as the pixels, more than any photo
// encodes to at quality 90 (libjpeg's memory destination would grow it if
// not). The program's order of metadata: the orientation's APP1 right after
// JFIF's APP0, then an RGB profile.
struct Encoded {
  std::unique_ptr<unsigned char, decltype(&std::free)> data{nullptr, &std::free};
  unsigned long size = 0;
};

Encoded Encode(const uint8_t* pixels, JDIMENSION width, JDIMENSION height, size_t stride,
               int quality, bool optimize, const Metadata& m) {
  std::vector<JSAMPROW> rows(height);
  for (JDIMENSION y = 0; y < height; ++y)
    rows[y] = const_cast<uint8_t*>(pixels) + y * stride;
  Encoded result;
  result.size = stride * height;
  result.data.reset(static_cast<unsigned char*>(std::malloc(result.size)));
  unsigned char* encoded = result.data.get();
  jpeg_error_mgr errors{};
  jpeg_compress_struct c{};
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &encoded, &result.size);
  c.image_width = width;
  c.image_height = height;
  c.input_components = 3;
  c.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  c.comp_info[0].h_samp_factor = 2;
  c.comp_info[0].v_samp_factor = 1;
  jpeg_set_quality(&c, quality, TRUE);
  c.optimize_coding = optimize ? TRUE : FALSE;
  jpeg_start_compress(&c, TRUE);
  if (IsTurningOrientation(m.orientation)) {
    const auto segment = ExifOrientationSegment(m.orientation);
    jpeg_write_marker(&c, JPEG_APP0 + 1, segment.data(), static_cast<unsigned int>(segment.size()));
  }
  if (m.IccSpace() == "RGB ")
    jpeg_write_icc_profile(&c, m.icc.data(), static_cast<unsigned int>(m.icc.size()));
  while (c.next_scanline < height)
    jpeg_write_scanlines(&c, rows.data() + c.next_scanline, height - c.next_scanline);
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  if (encoded != result.data.get())
    result.data.reset(encoded);
  return result;
}

// The platform the batch runs on here: POSIX files, and dialogs that do what
// their window procedures do with the user's answers. Each step is timed.
class BenchPlatform : public Platform {
 public:
  BenchPlatform(const UserAnswers& answers, Phases& phases, std::vector<int64_t>* openings)
      : answers_(answers), phases_(phases), openings_(openings) {}

  bool ChooseFiles(JobState&) override { return false; }
  SystemError OpenInput(const char* path) override {
    readStart_ = NowNs();
    in_.open(path, std::ios::binary | std::ios::ate);
    return in_ ? kNoError : static_cast<SystemError>(ENOENT);
  }
  SystemError InputSize(uint64_t& bytes) override {
    bytes = static_cast<uint64_t>(in_.tellg());
    in_.seekg(0);
    return kNoError;
  }
  SystemError ReadInput(std::span<uint8_t> into) override {
    in_.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
    phases_.read = NowNs() - readStart_;
    return in_ ? kNoError : static_cast<SystemError>(EIO);
  }
  void CloseInput() override { in_.close(); }

  int ShowSizeDialog(JobState& job) override {
    const int64_t start = NowNs();
    if (!ReadImageSize(job, codec_))
      return SIZE_UNREADABLE;
    const int64_t sized = NowNs();
    job.sizeChoice = answers_.size;
    const SizeResult result = ConfirmSize(job, codec_);
    phases_.params = sized - start;
    phases_.decode = NowNs() - sized;
    return result;
  }

  int ShowQualityDialog(JobState& job) override {
    const int64_t start = NowNs();
    EncodeAtQuality(job, codec_);
    const int64_t took = NowNs() - start;
    if (openings_)
      openings_->push_back(took);
    if (opening_ == 0)
      phases_.encode = took;
    if (opening_ < answers_.typedQualities.size())
      return DecideQuality(job, answers_.typedQualities[opening_++]);
    if (answers_.onSave)
      answers_.onSave(job);
    return QUALITY_SAVE;
  }

  void ShowMessage(const char*) override { failed = true; }
  void ShowSystemError(SystemError) override { failed = true; }

  SystemError SaveOutput(const char* path,
                         std::span<const std::span<const uint8_t>> pieces) override {
    const int64_t start = NowNs();
    const bool ok = WriteFile(path, pieces);
    phases_.write = NowNs() - start;
    for (const auto piece : pieces)
      phases_.outputBytes += piece.size();
    return ok ? kNoError : static_cast<SystemError>(EIO);
  }

  bool failed = false;

 private:
  const UserAnswers& answers_;
  Phases& phases_;
  std::vector<int64_t>* openings_;
  CodecProps codec_{};
  std::ifstream in_;
  size_t opening_ = 0;
  int64_t readStart_ = 0;
};

}  // namespace

void UseFreshLargeBuffers() {
  // A fixed threshold: glibc would otherwise raise it and keep freed buffers.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

void ReuseHeapMemory() {
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
}

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

uint64_t PageFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_minflt + usage.ru_majflt);
}

Phases RunProgram(const std::string& photo, const UserAnswers& answers,
                  std::vector<int64_t>* openings) {
  Phases phases;
  JobState job;
  CodecProps codec{};
  BenchPlatform platform(answers, phases, openings);
  const uint64_t faults = PageFaults();
  const int64_t start = NowNs();
  const auto ending = ProcessFile(job, codec, platform, InputMode::kCommandLine, photo.c_str());
  phases.total = NowNs() - start;
  phases.pageFaults = PageFaults() - faults;
  phases.ok = !ending && !platform.failed && phases.outputBytes > 0;
  return phases;
}

Phases RunReference(const std::string& photo, const std::string& output, int denominator,
                    bool optimizeHuffman) {
  Phases phases;
  const uint64_t faults = PageFaults();
  const int64_t start = NowNs();
  Bytes jpeg = ReadFile(photo);
  if (!jpeg.data)
    return phases;
  const int64_t read = NowNs();
  std::unique_ptr<uint8_t[]> pixels;
  JDIMENSION width = 0, height = 0;
  Metadata metadata;
  {
    Decoder decoder(jpeg);
    jpeg_decompress_struct& d = decoder.d;
    d.scale_num = 1;
    d.scale_denom = static_cast<unsigned int>(denominator);
    d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    width = d.output_width;
    height = d.output_height;
    pixels.reset(new uint8_t[size_t{width} * 3 * height]);
    std::vector<JSAMPROW> rows(height);
    for (JDIMENSION y = 0; y < height; ++y)
      rows[y] = pixels.get() + size_t{y} * width * 3;
    while (d.output_scanline < height)
      jpeg_read_scanlines(&d, rows.data() + d.output_scanline, height - d.output_scanline);
    jpeg_finish_decompress(&d);
    metadata = std::move(decoder.metadata);
  }
  jpeg = {};
  const int64_t decoded = NowNs();
  const Encoded encoded =
      Encode(pixels.get(), width, height, size_t{width} * 3, kQuality, optimizeHuffman, metadata);
  pixels.reset();
  const int64_t encodedAt = NowNs();
  const std::span<const uint8_t> whole(encoded.data.get(), encoded.size);
  phases.ok = WriteFile(output.c_str(), {&whole, 1});
  phases.outputBytes = encoded.size;
  const int64_t end = NowNs();
  phases.read = read - start;
  phases.decode = decoded - read;
  phases.encode = encodedAt - decoded;
  phases.write = end - encodedAt;
  phases.total = end - start;
  phases.pageFaults = PageFaults() - faults;
  return phases;
}

int64_t StandardTablesEncode(const JobState& job) {
  Metadata m;
  m.orientation = job.metadata.orientation;
  m.icc.assign(job.metadata.iccProfile.get(),
               job.metadata.iccProfile.get() + job.metadata.iccProfileSize);
  const int64_t start = NowNs();
  Encode(job.pixelBuffer.data(), static_cast<JDIMENSION>(job.width),
         static_cast<JDIMENSION>(job.height), size_t(job.width) * 3 + size_t(RowPad(job.width)),
         job.quality, false, m);
  return NowNs() - start;
}

std::string ProbePhoto(const std::string& photo) {
  JobState job;
  CodecProps codec{};
  const Bytes bytes = ReadFile(photo);
  if (!bytes.data || !job.jpegBuffer.Allocate(bytes.size))
    return "";
  std::memcpy(job.jpegBuffer.data(), bytes.data.get(), bytes.size);
  job.fileSize = static_cast<uint32_t>(bytes.size);
  if (!ReadImageSize(job, codec))
    return "";
  // The program read the headers, so libjpeg's own handler will not fire.
  Decoder decoder(bytes);
  const jpeg_decompress_struct& d = decoder.d;
  const std::string space = decoder.metadata.icc.empty() ? "" : decoder.metadata.IccSpace();
  return "{\"width\": " + std::to_string(job.width) +
         ", \"height\": " + std::to_string(job.height) +
         ", \"bytes\": " + std::to_string(bytes.size) +
         ", \"progressive\": " + (d.progressive_mode ? "true" : "false") +
         ", \"components\": " + std::to_string(d.num_components) + ", \"sampling\": [" +
         std::to_string(d.comp_info[0].h_samp_factor) + ", " +
         std::to_string(d.comp_info[0].v_samp_factor) +
         "], \"orientation\": " + std::to_string(decoder.metadata.orientation) +
         ", \"icc_bytes\": " + std::to_string(decoder.metadata.icc.size()) + ", \"icc_space\": \"" +
         space.substr(0, space.find_last_not_of(' ') + 1) + "\"}";
}
