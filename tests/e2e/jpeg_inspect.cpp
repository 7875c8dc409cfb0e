// A JPEG looked into with libjpeg itself rather than the program's own codec.
#include "files.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frame_offset.h"

// jpeglib.h expects these declared first.
#include <jpeglib.h>

namespace e2e {

namespace {

struct ErrorJump {
  jpeg_error_mgr manager;
  std::jmp_buf back;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JumpOnError(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<ErrorJump*>(cinfo->err);
  cinfo->err->format_message(cinfo, error->message);
  std::longjmp(error->back, 1);
}

// Warnings (corrupt data, a premature end) count as failures: an output
// that decodes only with warnings is a broken file.
void FailOnWarning(j_common_ptr cinfo, int level) {
  if (level < 0)
    JumpOnError(cinfo);
}

}  // namespace

JpegFacts InspectJpeg(const Bytes& jpeg) {
  JpegFacts facts;
  jpeg_decompress_struct cinfo{};
  ErrorJump error{};
  cinfo.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JumpOnError;
  error.manager.emit_message = FailOnWarning;
  if (setjmp(error.back)) {
    facts.error = error.message;
    jpeg_destroy_decompress(&cinfo);
    return facts;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  facts.headerRead = true;
  JOCTET* profile = nullptr;
  unsigned int profileSize = 0;
  // Chunks that do not add up to one profile draw a warning, so a failure.
  if (jpeg_read_icc_profile(&cinfo, &profile, &profileSize)) {
    facts.iccProfile.assign(profile, profile + profileSize);
    std::free(profile);
  }
  facts.width = static_cast<int>(cinfo.image_width);
  facts.height = static_cast<int>(cinfo.image_height);
  facts.components = cinfo.num_components;
  for (int c = 0; c < cinfo.num_components && c < 3; ++c) {
    facts.hSampling[c] = cinfo.comp_info[c].h_samp_factor;
    facts.vSampling[c] = cinfo.comp_info[c].v_samp_factor;
  }
  facts.progressive = cinfo.progressive_mode != FALSE;
  if (const size_t frame = FrameOffset(jpeg))
    facts.frameMarker = jpeg[frame + 1];
  facts.bitsPerSample = cinfo.data_precision;
  if (cinfo.quant_tbl_ptrs[0])
    facts.firstLuminanceQuant = cinfo.quant_tbl_ptrs[0]->quantval[0];

  jpeg_start_decompress(&cinfo);
  const int channels = cinfo.output_components;
  std::vector<JSAMPLE> row(static_cast<size_t>(cinfo.output_width) * channels);
  JSAMPROW rows[1] = {row.data()};
  double sums[3] = {};
  while (cinfo.output_scanline < cinfo.output_height) {
    jpeg_read_scanlines(&cinfo, rows, 1);
    for (size_t at = 0; at < row.size(); at += channels) {
      for (int c = 0; c < 3; ++c)
        sums[c] += row[at + (channels == 3 ? c : 0)];
    }
  }
  jpeg_finish_decompress(&cinfo);
  const double pixels = static_cast<double>(cinfo.output_width) * cinfo.output_height;
  if (pixels > 0 && (channels == 3 || channels == 1)) {
    facts.meanRed = sums[0] / pixels;
    facts.meanGreen = sums[1] / pixels;
    facts.meanBlue = sums[2] / pixels;
  }
  jpeg_destroy_decompress(&cinfo);
  facts.decoded = true;
  return facts;
}

int LuminanceQuantFor(int quality) {
  if (quality < 1)
    quality = 1;
  if (quality > 100)
    quality = 100;
  const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
  const int value = (16 * scale + 50) / 100;  // 16: the standard table's DC entry
  return value < 1 ? 1 : value > 255 ? 255 : value;
}

}  // namespace e2e
