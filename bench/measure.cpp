#include "measure.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <span>
#include <vector>

#include <jpeglib.h>

#include "batch/pipeline.h"
#include "codec/exif_orientation.h"
#include "dialogs/quality_dialog.h"
#include "dialogs/size_dialog.h"

namespace {

constexpr int kQuality = 90;
// What the user types in the first "Output Quality" when it opens twice.
constexpr char kRetryQuality[] = "80";

// What a copy may carry from its photo, as the photo holds it.
struct Metadata {
  uint16_t orientation = 0;  // the first Exif APP1's
  std::vector<uint8_t> icc;  // a complete profile, of any colour space

  bool CarriesOrientation() const { return IsTurningOrientation(orientation); }
  bool CarriesIcc() const { return IccSpace() == "RGB "; }
  std::string IccSpace() const {
    return icc.size() >= 20 ? std::string(icc.begin() + 16, icc.begin() + 20) : "?";
  }
};

void SaveMetadataMarkers(j_decompress_ptr d) {
  jpeg_save_markers(d, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(d, JPEG_APP0 + 2, 0xFFFF);
}

// After jpeg_read_header, with the markers saved.
Metadata ReadMetadata(j_decompress_ptr d) {
  Metadata m;
  for (jpeg_saved_marker_ptr marker = d->marker_list; marker; marker = marker->next) {
    if (marker->marker == JPEG_APP0 + 1 && marker->data_length >= 6 &&
        std::memcmp(marker->data, "Exif\0\0", 6) == 0) {
      m.orientation = ExifOrientation({marker->data, marker->data_length});
      break;
    }
  }
  JOCTET* icc = nullptr;
  unsigned int iccBytes = 0;
  if (jpeg_read_icc_profile(d, &icc, &iccBytes)) {
    m.icc.assign(icc, icc + iccBytes);
    std::free(icc);
  }
  return m;
}

// The program's order: the orientation's APP1 right after JFIF's APP0, then
// the profile.
void WriteMetadata(j_compress_ptr c, const Metadata& m) {
  if (m.CarriesOrientation()) {
    const auto segment = ExifOrientationSegment(m.orientation);
    jpeg_write_marker(c, JPEG_APP0 + 1, segment.data(), static_cast<unsigned int>(segment.size()));
  }
  if (m.CarriesIcc())
    jpeg_write_icc_profile(c, m.icc.data(), static_cast<unsigned int>(m.icc.size()));
}

struct Encoded {
  std::unique_ptr<unsigned char, decltype(&std::free)> bytes{nullptr, &std::free};
  unsigned long size = 0;
};

// The reference's encode: baseline 4:2:2 into one buffer as large as the
// pixels, more than any photo encodes to at quality 90 (libjpeg's memory
// destination would grow it if not). libjpeg's own error handler ends the
// process on a fatal error, which the parent sees as a failed run.
Encoded EncodeReference(const uint8_t* pixels, JDIMENSION width, JDIMENSION height, size_t stride,
                        int quality, bool optimizeHuffman, const Metadata& m) {
  std::vector<JSAMPROW> rows(height);
  for (JDIMENSION y = 0; y < height; ++y)
    rows[y] = const_cast<uint8_t*>(pixels) + y * stride;
  unsigned long capacity = stride * height;
  auto* const buffer = static_cast<unsigned char*>(std::malloc(capacity));
  unsigned char* encoded = buffer;
  jpeg_error_mgr errors{};
  jpeg_compress_struct c{};
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &encoded, &capacity);
  c.image_width = width;
  c.image_height = height;
  c.input_components = 3;
  c.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  c.comp_info[0].h_samp_factor = 2;
  c.comp_info[0].v_samp_factor = 1;
  c.comp_info[1].h_samp_factor = c.comp_info[1].v_samp_factor = 1;
  c.comp_info[2].h_samp_factor = c.comp_info[2].v_samp_factor = 1;
  jpeg_set_quality(&c, quality, TRUE);
  c.optimize_coding = optimizeHuffman ? TRUE : FALSE;
  jpeg_start_compress(&c, TRUE);
  WriteMetadata(&c, m);
  while (c.next_scanline < height) {
    jpeg_write_scanlines(&c, rows.data() + c.next_scanline, height - c.next_scanline);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  if (encoded != buffer)
    std::free(buffer);
  Encoded result;
  result.bytes.reset(encoded);
  result.size = capacity;
  return result;
}

// Standard tables on the pixels the second opening encoded, at its quality
// and with its metadata, in this process: the first encode touches the
// memory, the second is timed.
int64_t WarmStandardEncode(const JobState& job) {
  Metadata m;
  m.orientation = job.metadata.orientation;
  const uint8_t* icc = job.metadata.iccProfile.get();
  m.icc.assign(icc, icc + job.metadata.iccProfileSize);
  ReuseHeapMemory();
  const size_t stride = static_cast<size_t>(job.width) * 3 + static_cast<size_t>(RowPad(job.width));
  int64_t took = 0;
  for (int pass = 0; pass < 2; ++pass) {
    const int64_t start = NowNs();
    EncodeReference(job.pixelBuffer.data(), static_cast<JDIMENSION>(job.width),
                    static_cast<JDIMENSION>(job.height), stride, job.quality, false, m);
    took = NowNs() - start;
  }
  return took;
}

bool ReadAll(int fd, uint8_t* into, size_t size) {
  while (size > 0) {
    const ssize_t got = read(fd, into, size);
    if (got <= 0)
      return false;
    into += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

SizeChoice ChoiceFor(int denominator) {
  return denominator == 2 ? SIZE_HALF : denominator == 4 ? SIZE_QUARTER : SIZE_FULL;
}

// The platform the batch runs on here: the input and output are POSIX files,
// and the dialogs do what their window procedures do when the user takes the
// preset answer (a size, then Save at quality 90), or types another quality
// in the first "Output Quality" and saves in the second. Each step is timed.
class BenchPlatform : public Platform {
 public:
  BenchPlatform(CodecProps& codec, SizeChoice choice, Phases& phases, bool twoOpenings,
                bool timeStandard)
      : codec_(codec),
        choice_(choice),
        phases_(phases),
        twoOpenings_(twoOpenings),
        timeStandard_(timeStandard) {}
  ~BenchPlatform() override { CloseInput(); }

  FileChoice ChooseFiles(JobState&) override { return FileChoice::kCancelled; }

  SystemError OpenInput(const char* path) override {
    readStart_ = NowNs();
    fd_ = open(path, O_RDONLY);
    return fd_ < 0 ? static_cast<SystemError>(errno) : kNoError;
  }

  SystemError InputSizeAndTime(uint64_t& bytes, uint64_t& lastWriteTime) override {
    struct stat st {};
    if (fstat(fd_, &st) != 0)
      return static_cast<SystemError>(errno);
    bytes = static_cast<uint64_t>(st.st_size);
    lastWriteTime = 0;
    return kNoError;
  }

  SystemError ReadInput(std::span<uint8_t> into) override {
    const bool ok = ReadAll(fd_, into.data(), into.size());
    phases_.read = NowNs() - readStart_;
    return ok ? kNoError : static_cast<SystemError>(EIO);
  }

  void CloseInput() override {
    if (fd_ >= 0)
      close(fd_);
    fd_ = -1;
  }

  int ShowSizeDialog(JobState& job) override {
    const int64_t start = NowNs();
    if (!ReadImageSize(job, codec_))
      return SIZE_UNREADABLE;
    const int64_t sized = NowNs();
    job.sizeChoice = choice_;
    const SizeResult result = ConfirmSize(job, codec_);
    phases_.params = sized - start;
    phases_.decode = NowNs() - sized;
    return result;
  }

  int ShowQualityDialog(JobState& job) override {
    const int64_t start = NowNs();
    EncodeAtQuality(job, codec_);
    const int64_t took = NowNs() - start;
    if (++openings_ == 1) {
      phases_.encode = took;
      return twoOpenings_ ? DecideQuality(job, kRetryQuality) : QUALITY_SAVE;
    }
    phases_.reencode = took;
    if (timeStandard_)
      phases_.standardEncode = WarmStandardEncode(job);
    return DecideQuality(job, kRetryQuality);
  }

  void ShowMessage(const char*) override { failed_ = true; }
  void ShowSystemError(SystemError) override { failed_ = true; }
  void ShowBatchPhoto(size_t, size_t, const char*) override {}
  bool ReportBatchProgress(double) noexcept override { return true; }
  void CloseBatchProgress() override {}

  SystemError SaveOutput(const char* path, std::span<const std::span<const uint8_t>> pieces,
                         uint64_t) override {
    const int64_t start = NowNs();
    const bool ok = WriteWholeFile(path, pieces);
    phases_.write = NowNs() - start;
    phases_.outputBytes = 0;
    for (const auto piece : pieces)
      phases_.outputBytes += piece.size();
    return ok ? kNoError : static_cast<SystemError>(EIO);
  }

  LeadByteRule LeadBytes() const override { return NoLeadBytes; }

  bool failed() const { return failed_; }

 private:
  CodecProps& codec_;
  SizeChoice choice_;
  Phases& phases_;
  bool twoOpenings_;
  bool timeStandard_;
  int openings_ = 0;
  int fd_ = -1;
  int64_t readStart_ = 0;
  bool failed_ = false;
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

uint64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0)
      return std::strtoull(line.c_str() + 6, nullptr, 10) * 1024;
  }
  return 0;
}

uint64_t PageFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_minflt + usage.ru_majflt);
}

int64_t FirstTouchNsPerPage(size_t bytes) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  std::vector<int64_t> perPage;
  for (int i = 0; i < 5; ++i) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
      return 0;
    auto* bytesAt = static_cast<volatile uint8_t*>(p);
    const int64_t start = NowNs();
    for (size_t at = 0; at < bytes; at += page)
      bytesAt[at] = 1;
    perPage.push_back((NowNs() - start) / static_cast<int64_t>(bytes / page));
    munmap(p, bytes);
  }
  std::sort(perPage.begin(), perPage.end());
  return perPage[perPage.size() / 2];
}

bool WriteWholeFile(const char* path, std::span<const std::span<const uint8_t>> pieces) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
    return false;
  bool ok = true;
  for (std::span<const uint8_t> piece : pieces) {
    while (ok && !piece.empty()) {
      const ssize_t put = write(fd, piece.data(), piece.size());
      ok = put > 0;
      if (ok)
        piece = piece.subspan(static_cast<size_t>(put));
    }
  }
  return close(fd) == 0 && ok;
}

Phases RunProgram(const std::string& photo, int denominator, bool twoOpenings, bool timeStandard) {
  Phases phases;
  JobState job;
  CodecProps codec{};
  BenchPlatform platform(codec, ChoiceFor(denominator), phases, twoOpenings, timeStandard);
  const uint64_t faults = PageFaults();
  const int64_t start = NowNs();
  const auto ending = ProcessFile(job, codec, platform, InputMode::kCommandLine, photo.c_str());
  phases.total = NowNs() - start;
  phases.pageFaults = PageFaults() - faults;
  phases.ok = !ending && !platform.failed() && phases.outputBytes > 0;
  return phases;
}

Phases RunReference(const std::string& photo, const std::string& output, int denominator,
                    bool optimizeHuffman) {
  Phases phases;
  const uint64_t faults = PageFaults();
  const int64_t start = NowNs();

  const int fd = open(photo.c_str(), O_RDONLY);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0)
    return phases;
  const auto jpegSize = static_cast<size_t>(st.st_size);
  std::unique_ptr<uint8_t[]> jpeg(new uint8_t[jpegSize]);
  const bool readOk = ReadAll(fd, jpeg.get(), jpegSize);
  close(fd);
  if (!readOk)
    return phases;
  const int64_t read = NowNs();

  jpeg_error_mgr decodeErrors{};
  jpeg_decompress_struct d{};
  d.err = jpeg_std_error(&decodeErrors);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, jpeg.get(), static_cast<unsigned long>(jpegSize));
  SaveMetadataMarkers(&d);
  jpeg_read_header(&d, TRUE);
  const Metadata metadata = ReadMetadata(&d);
  d.scale_num = 1;
  d.scale_denom = static_cast<unsigned int>(denominator);
  d.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&d);
  const JDIMENSION width = d.output_width;
  const JDIMENSION height = d.output_height;
  const size_t stride = static_cast<size_t>(width) * 3;
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[stride * height]);
  std::vector<JSAMPROW> rows(height);
  for (JDIMENSION y = 0; y < height; ++y)
    rows[y] = pixels.get() + y * stride;
  while (d.output_scanline < height) {
    jpeg_read_scanlines(&d, rows.data() + d.output_scanline, height - d.output_scanline);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  jpeg.reset();
  const int64_t decoded = NowNs();

  int64_t encodedAt = 0;
  {
    const Encoded encoded =
        EncodeReference(pixels.get(), width, height, stride, kQuality, optimizeHuffman, metadata);
    pixels.reset();
    encodedAt = NowNs();
    const std::span<const uint8_t> whole(encoded.bytes.get(), encoded.size);
    phases.ok = WriteWholeFile(output.c_str(), {&whole, 1});
    phases.outputBytes = encoded.size;
  }
  const int64_t end = NowNs();

  phases.read = read - start;
  phases.decode = decoded - read;
  phases.encode = encodedAt - decoded;
  phases.write = end - encodedAt;
  phases.total = end - start;
  phases.pageFaults = PageFaults() - faults;
  return phases;
}

PhotoInfo ProbePhoto(const std::string& photo, int repeats) {
  PhotoInfo info;
  JobState job;
  CodecProps codec{};
  const int fd = open(photo.c_str(), O_RDONLY);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size <= 0 ||
      !job.jpegBuffer.Allocate(static_cast<uint64_t>(st.st_size)) ||
      !ReadAll(fd, job.jpegBuffer.data(), job.jpegBuffer.size())) {
    if (fd >= 0)
      close(fd);
    return info;
  }
  close(fd);
  job.fileSize = static_cast<uint32_t>(job.jpegBuffer.size());
  if (!ReadImageSize(job, codec))
    return info;
  info.readable = true;
  // The first read pays for first touches of the bytes and of the codec's
  // memory; the repeats time the header read itself.
  std::vector<int64_t> times;
  for (int i = 0; i < repeats; ++i) {
    const int64_t start = NowNs();
    ReadImageSize(job, codec);
    times.push_back(NowNs() - start);
  }
  std::sort(times.begin(), times.end());
  info.headerReadNs = times.empty() ? 0 : times[times.size() / 2];
  info.width = job.width;
  info.height = job.height;

  // The program read the headers, so libjpeg's own handler will not fire.
  jpeg_error_mgr errors{};
  jpeg_decompress_struct d{};
  d.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, job.jpegBuffer.data(), job.fileSize);
  SaveMetadataMarkers(&d);
  jpeg_read_header(&d, TRUE);
  const Metadata metadata = ReadMetadata(&d);
  info.orientation = metadata.orientation;
  info.iccBytes = static_cast<uint32_t>(metadata.icc.size());
  info.iccSpace = metadata.icc.empty() ? "-" : metadata.IccSpace();
  info.iccSpace.erase(info.iccSpace.find_last_not_of(' ') + 1);
  info.progressive = d.progressive_mode != 0;
  info.components = d.num_components;
  if (d.num_components == 1) {
    info.sampling = "gray";
  } else {
    const jpeg_component_info* c = d.comp_info;
    const int h = c[0].h_samp_factor / c[1].h_samp_factor;
    const int v = c[0].v_samp_factor / c[1].v_samp_factor;
    info.sampling = h == 1 && v == 1   ? "4:4:4"
                    : h == 2 && v == 1 ? "4:2:2"
                    : h == 2 && v == 2 ? "4:2:0"
                                       : std::to_string(c[0].h_samp_factor) + "x" +
                                             std::to_string(c[0].v_samp_factor);
  }
  jpeg_destroy_decompress(&d);
  return info;
}
