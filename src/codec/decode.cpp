// The record's lifetime and the decode, on libjpeg's jpeglib API.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "codec/codec.h"
#include "codec/error_trap.h"
#include "codec/exif_orientation.h"
#include "codec/metadata_segments.h"
#include "codec/pixel_rows.h"
#include "codec/progress_watch.h"

namespace {

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
  jpeg_decompress_struct cinfo;  // first, so that the marker processors convert back
  ErrorTrap trap;
  ProgressWatch watch;
  MetadataSegments segments;
  JOCTET* icc;  // from malloc; CodecRead takes or frees it
  unsigned int iccSize;
};
static_assert(std::is_standard_layout_v<DecodeJob>);

DecodeJob* JobOf(j_decompress_ptr cinfo) {
  return reinterpret_cast<DecodeJob*>(cinfo);
}

boolean OnMetadataSegment(j_decompress_ptr cinfo) {
  return ReadMetadataSegments(cinfo, &JobOf(cinfo)->segments);
}

// What libjpeg holds of a photo it cannot decode row by row: every block of
// every component, padded to whole sampling units, as its coefficient
// controller allocates them.
uint64_t CoefficientBytes(j_decompress_ptr cinfo) {
  if (!jpeg_has_multiple_scans(cinfo))
    return 0;
  uint64_t blocks = 0;
  for (int c = 0; c < cinfo->num_components; ++c) {
    const jpeg_component_info& component = cinfo->comp_info[c];
    const auto round_up = [](uint64_t n, int unit) {
      return (n + static_cast<uint64_t>(unit) - 1) / static_cast<uint64_t>(unit) * unit;
    };
    blocks += round_up(component.width_in_blocks, component.h_samp_factor) *
              round_up(component.height_in_blocks, component.v_samp_factor);
  }
  return blocks * sizeof(JBLOCK);
}

// Reads the headers and, for a decode mode, the metadata and the pixels; may
// jump back through the trap.
int ReadJpeg(DecodeJob* job, CodecProps* props, int mode) {
  j_decompress_ptr cinfo = &job->cinfo;
  jpeg_mem_src(cinfo, props->jpegBuffer, props->jpegSize);
  const bool metadata = mode != CODEC_READ_PARAMS && props->metadata != nullptr;
  // Without metadata to read, the processor still passes over runs of
  // segments faster than libjpeg does.
  job->segments.closed = !metadata;
  jpeg_set_marker_processor(cinfo, JPEG_APP0 + 1, OnMetadataSegment);
  jpeg_set_marker_processor(cinfo, JPEG_APP0 + 2, OnMetadataSegment);
  jpeg_read_header(cinfo, TRUE);
  // What comes between the scans of a progressive photo is not the photo's.
  job->segments.closed = true;
  if (!Decodable(cinfo->jpeg_color_space))
    return CODEC_UNREADABLE;
  if (mode == CODEC_READ_PARAMS) {
    props->jpegWidth = static_cast<int32_t>(cinfo->image_width);
    props->jpegHeight = static_cast<int32_t>(cinfo->image_height);
    props->jpegCoefficientBytes = CoefficientBytes(cinfo);
    return CODEC_OK;
  }
  if (metadata) {
    job->icc =
        AssembleIccProfile(reinterpret_cast<j_common_ptr>(cinfo), job->segments, &job->iccSize);
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
  job->cinfo.client_data = props->largeBlocks;  // kept by jpeg_create_decompress
  BeginWatch(&job->watch, props->progress);
  if (setjmp(job->trap.jump)) {
    jpeg_destroy_decompress(&job->cinfo);
    return job->trap.failure;
  }
  jpeg_create_decompress(&job->cinfo);
  Watch(reinterpret_cast<j_common_ptr>(&job->cinfo), &job->watch);
  const int status = ReadJpeg(job, props, mode);
  jpeg_destroy_decompress(&job->cinfo);  // also drops whatever is left undecoded
  return status;
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
  DecodeJob job{};
  const int status = RunDecode(&job, &props, mode);
  if (props.metadata != nullptr && mode != CODEC_READ_PARAMS) {
    props.metadata->Clear();
    if (status == CODEC_OK) {
      if (IsTurningOrientation(job.segments.orientation))
        props.metadata->orientation = job.segments.orientation;
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
