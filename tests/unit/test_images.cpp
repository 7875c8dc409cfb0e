#include "test_images.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

// After <cstdio>: jpeglib.h uses FILE and size_t without declaring them.
#include <jpeglib.h>

namespace test_images {
namespace {

// libjpeg's default error_exit ends the process; this one jumps back so that
// a test fails instead. The functions that set the jump hold no C++ objects.
struct ErrorTrap {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}

void Quiet(j_common_ptr) {}

jpeg_error_mgr* InstallTrap(ErrorTrap* trap) {
  jpeg_std_error(&trap->pub);
  trap->pub.error_exit = JumpBack;
  trap->pub.output_message = Quiet;
  return &trap->pub;
}

struct EncodeJob {
  jpeg_compress_struct cinfo;
  ErrorTrap trap;
  unsigned char* out;  // from jpeg_mem_dest's malloc; the caller frees it
  unsigned long size;
};

bool RunEncode(EncodeJob* job, const Image* image, const JpegOptions* options,
               const jpeg_scan_info* scans, int scan_count) {
  job->cinfo.err = InstallTrap(&job->trap);
  if (setjmp(job->trap.jump)) {
    jpeg_destroy_compress(&job->cinfo);
    return false;
  }
  j_compress_ptr cinfo = &job->cinfo;
  jpeg_create_compress(cinfo);
  jpeg_mem_dest(cinfo, &job->out, &job->size);
  cinfo->image_width = image->width;
  cinfo->image_height = image->height;
  cinfo->input_components = image->channels;
  cinfo->in_color_space = image->channels == 1   ? JCS_GRAYSCALE
                          : image->channels == 3 ? JCS_RGB
                          : image->channels == 4 ? JCS_CMYK
                                                 : JCS_UNKNOWN;
  jpeg_set_defaults(cinfo);
  if (image->channels == 4) {
    jpeg_set_colorspace(cinfo, options->ycck ? JCS_YCCK : JCS_CMYK);
    cinfo->write_Adobe_marker = options->adobe_marker || options->ycck;
  }
  jpeg_set_quality(cinfo, options->quality, TRUE);
  if (options->sampling422 && image->channels == 3) {
    cinfo->comp_info[0].h_samp_factor = 2;
    cinfo->comp_info[0].v_samp_factor = 1;
  }
  cinfo->optimize_coding = options->optimize;
  if (options->progressive)
    jpeg_simple_progression(cinfo);
  if (scan_count > 0) {
    cinfo->scan_info = scans;
    cinfo->num_scans = scan_count;
  }
  cinfo->arith_code = options->arithmetic;
  cinfo->restart_interval = options->restart_interval;
  jpeg_start_compress(cinfo, TRUE);
  for (const std::vector<uint8_t>& app1 : options->app1) {
    jpeg_write_marker(cinfo, JPEG_APP0 + 1, app1.data(), static_cast<unsigned int>(app1.size()));
  }
  if (!options->icc.empty()) {
    jpeg_write_icc_profile(cinfo, options->icc.data(),
                           static_cast<unsigned int>(options->icc.size()));
  }
  const size_t stride = static_cast<size_t>(image->width) * image->channels;
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&image->data[cinfo->next_scanline * stride]);
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  return true;
}

std::vector<jpeg_scan_info> PerCoefficientScans(int components, int bits) {
  std::vector<jpeg_scan_info> scans;
  jpeg_scan_info dc{};
  dc.comps_in_scan = components;
  for (int c = 0; c < components; ++c)
    dc.component_index[c] = c;
  scans.push_back(dc);
  for (int c = 0; c < components; ++c) {
    for (int k = 1; k < 64; ++k) {
      for (int al = bits; al >= 0; --al) {
        jpeg_scan_info ac{};
        ac.comps_in_scan = 1;
        ac.component_index[0] = c;
        ac.Ss = k;
        ac.Se = k;
        ac.Ah = al == bits ? 0 : al + 1;
        ac.Al = al;
        scans.push_back(ac);
      }
    }
  }
  return scans;
}

struct DecodeJob {
  jpeg_decompress_struct cinfo;
  ErrorTrap trap;
  JOCTET* icc;  // from jpeg_read_icc_profile's malloc; the caller frees it
  unsigned int iccSize;
};

// Reads the headers into *decoded and the pixels into `pixels`, which must
// hold width * height * 3 bytes; with pixels null, stops after the headers.
bool RunDecode(DecodeJob* job, const uint8_t* data, size_t size, DecodedJpeg* decoded,
               uint8_t* pixels) {
  job->cinfo.err = InstallTrap(&job->trap);
  if (setjmp(job->trap.jump)) {
    jpeg_destroy_decompress(&job->cinfo);
    return false;
  }
  j_decompress_ptr cinfo = &job->cinfo;
  jpeg_create_decompress(cinfo);
  jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
  jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  if (!jpeg_read_icc_profile(cinfo, &job->icc, &job->iccSize))
    job->icc = nullptr;
  decoded->width = cinfo->image_width;
  decoded->height = cinfo->image_height;
  decoded->components = cinfo->num_components;
  decoded->progressive = cinfo->progressive_mode;
  decoded->arithmetic = cinfo->arith_code;
  for (int c = 0; c < cinfo->num_components && c < 4; ++c) {
    decoded->h_samp[c] = cinfo->comp_info[c].h_samp_factor;
    decoded->v_samp[c] = cinfo->comp_info[c].v_samp_factor;
  }
  if (pixels != nullptr) {
    cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
      JSAMPROW row = pixels + static_cast<size_t>(cinfo->output_scanline) * cinfo->output_width * 3;
      jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
  }
  jpeg_destroy_decompress(cinfo);
  return true;
}

}  // namespace

Image Blank(int width, int height, int channels) {
  Image image;
  image.width = width;
  image.height = height;
  image.channels = channels;
  image.data.assign(static_cast<size_t>(width) * height * channels, 0);
  return image;
}

Image Gradient(int width, int height, int channels) {
  Image image = Blank(width, height, channels);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        const int ramp = (x * (c + 1) * 255 / width + y * 255 / height) / (c + 2);
        image.At(x, y)[c] = static_cast<uint8_t>(c % 2 == 0 ? ramp : 255 - ramp);
      }
    }
  }
  return image;
}

Image Noise(int width, int height, int channels, uint32_t seed) {
  Image image = Blank(width, height, channels);
  std::mt19937 random(seed);
  for (uint8_t& byte : image.data)
    byte = static_cast<uint8_t>(random());
  return image;
}

std::vector<uint8_t> EncodeJpeg(const Image& image, const JpegOptions& options) {
  std::vector<jpeg_scan_info> scans;
  if (options.per_coefficient_scan_bits >= 0) {
    scans = PerCoefficientScans(image.channels, options.per_coefficient_scan_bits);
  }
  EncodeJob job{};
  const bool ok = RunEncode(&job, &image, &options, scans.data(), static_cast<int>(scans.size()));
  std::vector<uint8_t> jpeg;
  if (ok)
    jpeg.assign(job.out, job.out + job.size);
  std::free(job.out);
  return jpeg;
}

bool DecodeJpeg(const std::vector<uint8_t>& jpeg, DecodedJpeg* decoded) {
  DecodeJob job{};
  const bool read = RunDecode(&job, jpeg.data(), jpeg.size(), decoded, nullptr);
  if (job.icc != nullptr)
    decoded->icc.assign(job.icc, job.icc + job.iccSize);
  std::free(job.icc);
  if (!read)
    return false;
  decoded->rgb = Blank(decoded->width, decoded->height, 3);
  DecodeJob pixels_job{};
  const bool ok =
      RunDecode(&pixels_job, jpeg.data(), jpeg.size(), decoded, decoded->rgb.data.data());
  std::free(pixels_job.icc);
  return ok;
}

std::vector<Segment> SegmentsBeforeScan(const std::vector<uint8_t>& jpeg) {
  std::vector<Segment> segments;
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    const size_t length = jpeg[at + 2] << 8 | jpeg[at + 3];
    if (length < 2 || at + 2 + length > jpeg.size())
      break;
    segments.push_back({jpeg[at + 1],
                        {jpeg.begin() + static_cast<ptrdiff_t>(at + 4),
                         jpeg.begin() + static_cast<ptrdiff_t>(at + 2 + length)}});
    at += 2 + length;
  }
  return segments;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                              std::istreambuf_iterator<char>());
}

Image ReadPpm(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, max_value = 0;
  file >> magic >> width >> height >> max_value;
  file.get();
  if (!file || magic != "P6" || max_value != 255 || width <= 0 || height <= 0)
    return Image{};
  Image image = Blank(width, height, 3);
  file.read(reinterpret_cast<char*>(image.data.data()),
            static_cast<std::streamsize>(image.data.size()));
  return file ? image : Image{};
}

}  // namespace test_images
