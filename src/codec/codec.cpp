// The codec binding on libjpeg's jpeglib API.
//
// libjpeg reports a fatal error by calling error_exit, which must not return.
// Ours jumps back to the small C-style function that set the jump point
// (RunDecode, RunEncode). Nothing between that function and libjpeg holds a
// C++ object with a destructor, and all scratch memory comes from libjpeg's
// own pools, so jpeg_destroy_* releases everything after a jump. The one
// block libjpeg hands out for us to free, a decode's ICC profile, is held in
// the job record that outlives the jump.
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "codec/codec.h"
#include "codec/exif_orientation.h"
#include "codec/large_blocks.h"

// After <cstdio>: jpeglib.h uses FILE and size_t without declaring them.
#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>

namespace {

// A real photo has about ten scans; thousands of them are a crafted file that
// would keep the decoder busy for minutes.
constexpr int kMaxScans = 500;

// Rows handed to libjpeg per read or write call.
constexpr JDIMENSION kRowsPerCall = 16;

// An ICC profile's header: its size, then at 16 the colour space of the data.
constexpr size_t kIccHeaderBytes = 128;
constexpr size_t kIccSpaceAt = 16;
constexpr JOCTET kIccRgb[4] = {'R', 'G', 'B', ' '};

// What each APP2 chunk of an ICC profile adds: marker, length and libjpeg's
// "ICC_PROFILE\0" header with the chunk's number and count.
constexpr uint64_t kIccChunkData = 65519;
constexpr uint64_t kIccChunkOverhead = 2 + 2 + 14;
constexpr uint64_t kMarkerOverhead = 2 + 2;

constexpr int kBgrBytes = 3;

// An error manager whose error_exit jumps back instead of exiting.
struct ErrorTrap {
  jpeg_error_mgr pub;  // first, so that cinfo->err converts back to the trap
  std::jmp_buf jump;
  int failure;  // what the function that set `jump` returns after the jump
};

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
  auto* trap = reinterpret_cast<ErrorTrap*>(cinfo->err);
  // libjpeg's own memory running out is no fault of the photo.
  if (trap->pub.msg_code == JERR_OUT_OF_MEMORY || trap->pub.msg_code == JERR_NO_BACKING_STORE)
    trap->failure = CODEC_NO_MEMORY;
  std::longjmp(trap->jump, 1);
}

[[noreturn]] void FailWith(j_common_ptr cinfo, int status) {
  reinterpret_cast<ErrorTrap*>(cinfo->err)->failure = status;
  JumpBack(cinfo);
}

// A GUI program has no console to print libjpeg's messages on.
void DiscardMessage(j_common_ptr) {}

jpeg_error_mgr* InstallTrap(ErrorTrap* trap, int failure) {
  jpeg_std_error(&trap->pub);
  trap->pub.error_exit = JumpBack;
  trap->pub.output_message = DiscardMessage;
  trap->failure = failure;
  return &trap->pub;
}

// libjpeg's progress monitor with the caller's hook beside it.
struct Progress {
  jpeg_progress_mgr pub;  // first, so that cinfo->progress converts back
  CodecProgress* hook;
  double last;
};

void ReportProgress(j_common_ptr cinfo) {
  auto* progress = reinterpret_cast<Progress*>(cinfo->progress);
  if (progress->hook == nullptr)
    return;
  const jpeg_progress_mgr& p = progress->pub;
  double done = p.total_passes > 0 && p.pass_limit > 0
                    ? (p.completed_passes +
                       static_cast<double>(p.pass_counter) / static_cast<double>(p.pass_limit)) /
                          p.total_passes
                    : 0;
  done = std::clamp(done, progress->last, 1.0);
  progress->last = done;
  if (!progress->hook->Report(done))
    FailWith(cinfo, CODEC_CANCELLED);
}

void LimitScans(j_common_ptr cinfo) {
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    FailWith(cinfo, CODEC_UNREADABLE);
  }
  ReportProgress(cinfo);
}

size_t RowStride(const CodecProps& props) {
  return static_cast<size_t>(props.pixelWidth) * kBgrBytes + props.pixelRowPad;
}

bool ValidPixelLayout(const CodecProps& props) {
  return props.pixelChannels == kBgrBytes && props.pixelColor == CODEC_PIXEL_BGR &&
         props.pixelRowPad >= 0 && props.pixelRowPad <= 3;
}

// 0 for a mode that is not a decode mode.
unsigned int ScaleDenominator(int mode) {
  switch (mode) {
    case CODEC_DECODE_FULL:
      return 1;
    case CODEC_DECODE_HALF:
      return 2;
    case CODEC_DECODE_QUARTER:
      return 4;
    default:
      return 0;
  }
}

bool IsCmyk(J_COLOR_SPACE space) {
  return space == JCS_CMYK || space == JCS_YCCK;
}

// Colour spaces libjpeg turns into BGR for us, or into CMYK that we convert.
bool Decodable(J_COLOR_SPACE space) {
  return space == JCS_YCbCr || space == JCS_GRAYSCALE || space == JCS_RGB || IsCmyk(space);
}

// a * b / 255, rounded to nearest.
JSAMPLE MulDiv255(unsigned int a, unsigned int b) {
  const unsigned int product = a * b + 128;
  return static_cast<JSAMPLE>((product + (product >> 8)) >> 8);
}

// Adobe applications store CMYK inverted (255 is no ink), others store ink.
void CmykToBgr(const JSAMPLE* cmyk, uint8_t* bgr, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += kBgrBytes) {
    unsigned int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    bgr[0] = MulDiv255(y, k);
    bgr[1] = MulDiv255(m, k);
    bgr[2] = MulDiv255(c, k);
  }
}

// Writes props->pixelHeight rows; may jump back through the trap.
void DecodeRows(j_decompress_ptr cinfo, const CodecProps* props) {
  const JDIMENSION width = static_cast<JDIMENSION>(props->pixelWidth);
  const JDIMENSION height = static_cast<JDIMENSION>(props->pixelHeight);
  const size_t stride = RowStride(*props);
  const bool cmyk = cinfo->out_color_space == JCS_CMYK;
  const bool inverted = cinfo->saw_Adobe_marker;
  jpeg_start_decompress(cinfo);
  // libjpeg rounds scaled sizes up and ours are rounded down, so a row may be
  // wider than the buffer's; such rows go through a few scratch rows. The
  // copy is a few tenths of a percent of a conversion; jpeg_crop_scanline
  // would spare it but changes the edge pixels of narrower requests.
  const bool direct = !cmyk && cinfo->output_width == width;
  JSAMPARRAY scratch = nullptr;
  if (!direct) {
    scratch =
        (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                    cinfo->output_width * cinfo->output_components, kRowsPerCall);
  }
  JSAMPROW rows[kRowsPerCall];
  while (cinfo->output_scanline < height) {
    const JDIMENSION first = cinfo->output_scanline;
    const JDIMENSION wanted = std::min(kRowsPerCall, height - first);
    JSAMPARRAY target = scratch;
    if (direct) {
      for (JDIMENSION i = 0; i < wanted; ++i)
        rows[i] = props->pixelBuffer + (first + i) * stride;
      target = rows;
    }
    // The memory source never suspends, so every call makes progress.
    const JDIMENSION got = jpeg_read_scanlines(cinfo, target, wanted);
    for (JDIMENSION i = 0; !direct && i < got; ++i) {
      uint8_t* out = props->pixelBuffer + (first + i) * stride;
      if (cmyk) {
        CmykToBgr(scratch[i], out, width, inverted);
      } else {
        std::memcpy(out, scratch[i], static_cast<size_t>(width) * kBgrBytes);
      }
    }
  }
}

// Holds everything a decode needs that must outlive a jump back.
struct DecodeJob {
  jpeg_decompress_struct cinfo;
  ErrorTrap trap;
  Progress progress;
  uint16_t orientation;
  JOCTET* icc;  // from libjpeg's malloc; CodecRead takes or frees it
  unsigned int iccSize;
};

uint16_t FirstExifOrientation(j_decompress_ptr cinfo) {
  constexpr JOCTET kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length >= sizeof kExif &&
        std::memcmp(m->data, kExif, sizeof kExif) == 0) {
      return ExifOrientation({m->data, m->data_length});
    }
  }
  return 0;
}

// Reads the headers and, for a decode mode, the metadata and the pixels; may
// jump back through the trap.
int ReadJpeg(DecodeJob* job, CodecProps* props, int mode) {
  j_decompress_ptr cinfo = &job->cinfo;
  jpeg_mem_src(cinfo, props->jpegBuffer, props->jpegSize);
  const bool metadata = mode != CODEC_READ_PARAMS && props->metadata != nullptr;
  if (metadata) {
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  }
  jpeg_read_header(cinfo, TRUE);
  if (!Decodable(cinfo->jpeg_color_space))
    return CODEC_UNREADABLE;
  if (mode == CODEC_READ_PARAMS) {
    props->jpegWidth = static_cast<int32_t>(cinfo->image_width);
    props->jpegHeight = static_cast<int32_t>(cinfo->image_height);
    return CODEC_OK;
  }
  if (metadata) {
    job->orientation = FirstExifOrientation(cinfo);
    // An incomplete profile reads as none (libjpeg warns, which we discard).
    if (!jpeg_read_icc_profile(cinfo, &job->icc, &job->iccSize))
      job->icc = nullptr;
  }
  cinfo->scale_num = 1;
  cinfo->scale_denom = ScaleDenominator(mode);
  cinfo->out_color_space = IsCmyk(cinfo->jpeg_color_space) ? JCS_CMYK : JCS_EXT_BGR;
  jpeg_calc_output_dimensions(cinfo);
  if (static_cast<JDIMENSION>(props->pixelWidth) > cinfo->output_width ||
      static_cast<JDIMENSION>(props->pixelHeight) > cinfo->output_height) {
    return CODEC_BAD_REQUEST;
  }
  if (props->pixelWidth > 0 && props->pixelHeight > 0)
    DecodeRows(cinfo, props);
  return CODEC_OK;
}

int RunDecode(DecodeJob* job, CodecProps* props, int mode) {
  job->cinfo.err = InstallTrap(&job->trap, CODEC_UNREADABLE);
  job->progress.pub.progress_monitor = LimitScans;
  job->progress.hook = mode == CODEC_READ_PARAMS ? nullptr : props->progress;
  if (setjmp(job->trap.jump)) {
    jpeg_destroy_decompress(&job->cinfo);
    return job->trap.failure;
  }
  jpeg_create_decompress(&job->cinfo);
  job->cinfo.progress = &job->progress.pub;
  const int status = ReadJpeg(job, props, mode);
  jpeg_destroy_decompress(&job->cinfo);  // also drops whatever is left undecoded
  return status;
}

// A destination over the caller's buffer, then the regions of its
// CodecOutput, that never writes past any of them. libjpeg asks for more room
// as soon as free_in_buffer reaches zero, even when the encoding ends exactly
// there. So where no more room can be had it moves on to one spare byte, and
// only a further request, once that byte is written too, means the encoding
// does not fit.
struct BufferDestination {
  jpeg_destination_mgr pub;  // first, so that cinfo->dest converts back
  JOCTET* buffer;
  size_t capacity;
  CodecOutput* more;
  size_t regionSize;       // of the region being written
  uint64_t writtenBefore;  // the bytes of the regions filled before it
  JOCTET spare;
  bool on_spare;
};

void MoveToRegion(BufferDestination* dest, std::span<uint8_t> region) {
  dest->regionSize = region.size();
  dest->pub.next_output_byte = region.data();
  dest->pub.free_in_buffer = region.size();
}

// Moves to the next region that has room, or to the spare byte.
void MoveOn(BufferDestination* dest) {
  if (dest->more != nullptr) {
    const std::span<uint8_t> region = dest->more->NextRegion();
    if (!region.empty()) {
      MoveToRegion(dest, region);
      return;
    }
  }
  dest->on_spare = true;
  dest->regionSize = 0;
  dest->pub.next_output_byte = &dest->spare;
  dest->pub.free_in_buffer = 1;
}

void StartDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<BufferDestination*>(cinfo->dest);
  dest->writtenBefore = 0;
  dest->on_spare = false;
  if (dest->more != nullptr)
    dest->more->Rewind();
  if (dest->capacity > 0) {
    MoveToRegion(dest, {dest->buffer, dest->capacity});
  } else {
    MoveOn(dest);
  }
}

boolean EmptyDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<BufferDestination*>(cinfo->dest);
  if (dest->on_spare) {
    FailWith(reinterpret_cast<j_common_ptr>(cinfo),
             dest->more != nullptr ? CODEC_NO_MEMORY : CODEC_OUTPUT_FULL);
  }
  dest->writtenBefore += dest->regionSize;
  MoveOn(dest);
  return TRUE;
}

void FinishDestination(j_compress_ptr) {}

uint64_t WrittenLength(const BufferDestination* dest) {
  if (dest->on_spare)
    return dest->writtenBefore;
  return dest->writtenBefore + dest->regionSize - dest->pub.free_in_buffer;
}

// The copy's metadata, right after the JFIF header: the orientation in an
// Exif segment of its own, then the colour profile.
void WriteMetadata(j_compress_ptr cinfo, const CodecMetadata& metadata) {
  if (IsTurningOrientation(metadata.orientation)) {
    const auto exif = ExifOrientationSegment(metadata.orientation);
    jpeg_write_marker(cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned int>(exif.size()));
  }
  if (metadata.iccProfile != nullptr)
    jpeg_write_icc_profile(cinfo, metadata.iccProfile.get(), metadata.iccProfileSize);
}

// Encodes the pixel rows and returns the length of the encoding; may jump
// back through the trap.
uint64_t WriteJpeg(j_compress_ptr cinfo, BufferDestination* dest, const CodecProps* props,
                   boolean optimize) {
  dest->buffer = props->jpegBuffer;
  dest->capacity = props->jpegBuffer != nullptr ? props->jpegSize : 0;
  dest->more = props->jpegMore;
  dest->pub.init_destination = StartDestination;
  dest->pub.empty_output_buffer = EmptyDestination;
  dest->pub.term_destination = FinishDestination;
  cinfo->dest = &dest->pub;

  cinfo->image_width = static_cast<JDIMENSION>(props->pixelWidth);
  cinfo->image_height = static_cast<JDIMENSION>(props->pixelHeight);
  cinfo->input_components = kBgrBytes;
  cinfo->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(cinfo);
  cinfo->comp_info[0].h_samp_factor = 2;
  cinfo->comp_info[0].v_samp_factor = 1;
  for (int c = 1; c < 3; ++c) {
    cinfo->comp_info[c].h_samp_factor = 1;
    cinfo->comp_info[c].v_samp_factor = 1;
  }
  jpeg_set_quality(cinfo, props->quality, TRUE);
  // Tables made for the image: a second pass over its coefficients, held in
  // memory, for a few percent fewer bytes of the same pixels.
  cinfo->optimize_coding = optimize;

  jpeg_start_compress(cinfo, TRUE);
  if (props->metadata != nullptr)
    WriteMetadata(cinfo, *props->metadata);
  const size_t stride = RowStride(*props);
  JSAMPROW rows[kRowsPerCall];
  while (cinfo->next_scanline < cinfo->image_height) {
    const JDIMENSION first = cinfo->next_scanline;
    const JDIMENSION count = std::min(kRowsPerCall, cinfo->image_height - first);
    for (JDIMENSION i = 0; i < count; ++i)
      rows[i] = props->pixelBuffer + (first + i) * stride;
    jpeg_write_scanlines(cinfo, rows, count);
  }
  jpeg_finish_compress(cinfo);
  return WrittenLength(dest);
}

// Holds everything an encode needs that must outlive a jump back.
struct EncodeJob {
  jpeg_compress_struct cinfo;
  ErrorTrap trap;
  BufferDestination dest;
  Progress progress;
};

int RunEncode(EncodeJob* job, const CodecProps* props, boolean optimize, uint64_t* written) {
  job->cinfo.err = InstallTrap(&job->trap, CODEC_FAILED);
  if (setjmp(job->trap.jump)) {
    jpeg_destroy_compress(&job->cinfo);
    return job->trap.failure;
  }
  jpeg_create_compress(&job->cinfo);
  job->progress.pub.progress_monitor = ReportProgress;
  job->progress.hook = props->progress;
  job->cinfo.progress = &job->progress.pub;
  *written = WriteJpeg(&job->cinfo, &job->dest, props, optimize);
  jpeg_destroy_compress(&job->cinfo);
  return CODEC_OK;
}

// An ICC profile that describes 3-component RGB data, as the copy's are.
bool IsRgbProfile(const JOCTET* icc, unsigned int size) {
  if (size < kIccHeaderBytes || std::memcmp(icc + kIccSpaceAt, kIccRgb, sizeof kIccRgb) != 0)
    return false;
  const uint32_t declared = static_cast<uint32_t>(icc[0]) << 24 |
                            static_cast<uint32_t>(icc[1]) << 16 |
                            static_cast<uint32_t>(icc[2]) << 8 | icc[3];
  return declared >= kIccHeaderBytes && declared <= size;
}

bool ValidEncodeRequest(const CodecProps& props) {
  const bool room =
      props.jpegMore != nullptr || (props.jpegBuffer != nullptr && props.jpegSize > 0);
  return ValidPixelLayout(props) && props.pixelBuffer != nullptr && room && props.pixelWidth > 0 &&
         props.pixelHeight > 0 && props.pixelWidth <= JPEG_MAX_DIMENSION &&
         props.pixelHeight <= JPEG_MAX_DIMENSION && props.jpegColor == CODEC_JPEG_YCBCR &&
         props.jpegSubsampling == CODEC_SUBSAMPLE_422;
}

}  // namespace

int CodecInit(CodecProps& props) {
  props = CodecProps{};
  return CODEC_OK;
}

int CodecFree(CodecProps& props) {
  props = CodecProps{};
  return CODEC_OK;
}

int CodecRead(CodecProps& props, int mode) {
  if (mode != CODEC_READ_PARAMS) {
    if (ScaleDenominator(mode) == 0 || !ValidPixelLayout(props) || props.pixelWidth < 0 ||
        props.pixelHeight < 0) {
      return CODEC_BAD_REQUEST;
    }
    if (props.pixelBuffer == nullptr && props.pixelWidth > 0 && props.pixelHeight > 0) {
      return CODEC_BAD_REQUEST;
    }
  }
  if (props.jpegBuffer == nullptr || props.jpegSize == 0)
    return CODEC_UNREADABLE;
  if (mode != CODEC_READ_PARAMS) {
    // A new photo: what the last one's encodes kept is of no more use.
    ReleaseKeptLargeBlocks();
  }
  DecodeJob job{};
  const int status = RunDecode(&job, &props, mode);
  if (props.metadata != nullptr && mode != CODEC_READ_PARAMS) {
    props.metadata->Clear();
    if (status == CODEC_OK) {
      if (IsTurningOrientation(job.orientation))
        props.metadata->orientation = job.orientation;
      if (job.icc != nullptr && IsRgbProfile(job.icc, job.iccSize)) {
        props.metadata->iccProfile.reset(job.icc);
        props.metadata->iccProfileSize = job.iccSize;
        job.icc = nullptr;
      }
    }
  }
  std::free(job.icc);
  return status;
}

int CodecWrite(CodecProps& props, int mode) {
  if (mode != CODEC_ENCODE_BUFFER || !ValidEncodeRequest(props)) {
    props.jpegSize = 0;
    return CODEC_BAD_REQUEST;
  }
  uint64_t written = 0;
  BeginKeepingLargeBlocks();
  EncodeJob job{};
  int status = RunEncode(&job, &props, TRUE, &written);
  if (status == CODEC_NO_MEMORY) {
    // No room for the second pass: the standard tables need none, and the
    // copy is made all the same, a little larger.
    ReleaseKeptLargeBlocks();
    job = EncodeJob{};
    status = RunEncode(&job, &props, FALSE, &written);
  }
  EndKeepingLargeBlocks();
  if (status == CODEC_OK && written > UINT32_MAX)
    status = CODEC_OUTPUT_FULL;
  props.jpegSize = status == CODEC_OK ? static_cast<uint32_t>(written) : 0;
  return status;
}

void CodecReleaseWarmBlocks() {
  ReleaseKeptLargeBlocks();
}

uint64_t CodecMetadata::SegmentBytes() const {
  uint64_t bytes = 0;
  if (IsTurningOrientation(orientation))
    bytes += kMarkerOverhead + kExifOrientationBytes;
  if (iccProfile != nullptr) {
    const uint64_t chunks = (iccProfileSize + kIccChunkData - 1) / kIccChunkData;
    bytes += iccProfileSize + chunks * kIccChunkOverhead;
  }
  return bytes;
}

uint64_t CodecEncodedSizeBound(int32_t width, int32_t height) {
  const uint64_t padded_width = (static_cast<uint64_t>(std::max(width, 0)) + 15) / 16 * 16;
  const uint64_t padded_height = (static_cast<uint64_t>(std::max(height, 0)) + 7) / 8 * 8;
  return padded_width * padded_height * 4 + 2048;
}
