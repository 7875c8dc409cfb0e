// The reference: the conversion as a minimal libjpeg-turbo program does it.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include <jpeglib.h>

#include "codec/exif_orientation.h"
#include "conversion.h"
#include "convert/conversion.h"

namespace {

// A file's bytes, left uninitialized: a minimal program does not clear what
// it reads into.
struct Bytes {
  std::unique_ptr<uint8_t[]> data;
  size_t size = 0;
};

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const std::streamoff size = in.tellg();
  Bytes bytes{std::unique_ptr<uint8_t[]>(new uint8_t[size > 0 ? size : 1]), size_t(size)};
  if (size <= 0 || !in.seekg(0).read(reinterpret_cast<char*>(bytes.data.get()), size))
    return {};
  return bytes;
}

// What a copy may carry from its photo: the first Exif APP1's orientation and
// a complete profile, of any colour space.
struct Metadata {
  uint16_t orientation = 0;
  std::vector<uint8_t> icc;
  std::string IccSpace() const {
    return icc.size() >= 20 ? std::string(icc.begin() + 16, icc.begin() + 20) : "";
  }
};

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
      if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && !std::memcmp(m->data, "Exif\0", 6)) {
        metadata.orientation = ExifOrientation({m->data, m->data_length});
        break;
      }
    }
    JOCTET* icc = nullptr;
    unsigned int iccBytes = 0;
    if (jpeg_read_icc_profile(&d, &icc, &iccBytes))
      metadata.icc.assign(icc, icc + iccBytes);
    std::free(icc);
  }
  ~Decoder() { jpeg_destroy_decompress(&d); }
};

// Baseline 4:2:2 at `quality` into one buffer as large as the pixels, more
// than any photo encodes to at quality 90 (libjpeg's memory destination would
// grow it if not), carrying the metadata in the program's order: the
// orientation's APP1 right after JFIF's APP0, then an RGB profile.
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
    jpeg_write_marker(&c, JPEG_APP0 + 1, segment.data(), unsigned(segment.size()));
  }
  if (m.IccSpace() == "RGB ")
    jpeg_write_icc_profile(&c, m.icc.data(), unsigned(m.icc.size()));
  while (c.next_scanline < height)
    jpeg_write_scanlines(&c, rows.data() + c.next_scanline, height - c.next_scanline);
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  if (encoded != result.data.get())
    result.data.reset(encoded);
  return result;
}

// The photo's pixels at 1/denominator scale, as a minimal program decodes
// them, and what its copy may carry.
struct Decoded {
  std::unique_ptr<uint8_t[]> pixels;
  JDIMENSION width = 0, height = 0;
  Metadata metadata;
};

Decoded DecodePhoto(const Bytes& jpeg, int denominator) {
  Decoded result;
  Decoder decoder(jpeg);
  jpeg_decompress_struct& d = decoder.d;
  d.scale_denom = static_cast<unsigned int>(denominator);
  d.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&d);
  result.width = d.output_width;
  result.height = d.output_height;
  result.pixels.reset(new uint8_t[size_t{result.width} * 3 * result.height]);
  std::vector<JSAMPROW> rows(result.height);
  for (JDIMENSION y = 0; y < result.height; ++y)
    rows[y] = result.pixels.get() + static_cast<size_t>(y) * result.width * 3;
  while (d.output_scanline < result.height)
    jpeg_read_scanlines(&d, rows.data() + d.output_scanline, result.height - d.output_scanline);
  jpeg_finish_decompress(&d);
  result.metadata = std::move(decoder.metadata);
  return result;
}

}  // namespace

bool WriteFile(const char* path, std::span<const std::span<const uint8_t>> pieces) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto piece : pieces)
    out.write(reinterpret_cast<const char*>(piece.data()), std::streamsize(piece.size()));
  return static_cast<bool>(out.flush());
}

Phases RunReference(const std::string& photo, const std::string& output, int denominator,
                    bool optimizeHuffman) {
  Phases phases;
  const uint64_t faults = PageFaults();
  const int64_t start = NowNs();
  Bytes jpeg = ReadFile(photo);
  if (!jpeg.data)
    return phases;
  phases.read = NowNs() - start;
  Decoded decoded = DecodePhoto(jpeg, denominator);
  std::unique_ptr<uint8_t[]> pixels = std::move(decoded.pixels);
  const JDIMENSION width = decoded.width, height = decoded.height;
  const Metadata metadata = std::move(decoded.metadata);
  jpeg = {};
  phases.decode = NowNs() - start - phases.read;
  const Encoded encoded =
      Encode(pixels.get(), width, height, size_t{width} * 3, 90, optimizeHuffman, metadata);
  pixels.reset();
  const int64_t encodedAt = NowNs();
  phases.encode = encodedAt - start - phases.read - phases.decode;
  const std::span<const uint8_t> whole(encoded.data.get(), encoded.size);
  phases.ok = WriteFile(output.c_str(), {&whole, 1});
  phases.outputBytes = encoded.size;
  phases.total = NowNs() - start;
  phases.write = phases.total - (encodedAt - start);
  phases.pageFaults = PageFaults() - faults;
  return phases;
}

int64_t StandardTablesEncode(const std::string& photo, int denominator, int quality) {
  const Bytes jpeg = ReadFile(photo);
  if (!jpeg.data)
    return 0;
  const Decoded decoded = DecodePhoto(jpeg, denominator);
  const int64_t start = NowNs();
  Encode(decoded.pixels.get(), decoded.width, decoded.height, size_t{decoded.width} * 3, quality,
         false, decoded.metadata);
  return NowNs() - start;
}

std::string ProbePhoto(const std::string& photo) {
  Conversion conversion;
  const Bytes bytes = ReadFile(photo);
  if (!bytes.data || !conversion.PrepareInput(bytes.size))
    return "";
  std::memcpy(conversion.Input().data(), bytes.data.get(), bytes.size);
  if (!conversion.ReadHeader())
    return "";
  // The program read the headers, so libjpeg's own handler will not fire.
  const Decoder decoder(bytes);
  const jpeg_component_info& luma = decoder.d.comp_info[0];
  std::string space = decoder.metadata.IccSpace();
  space.erase(space.find_last_not_of(' ') + 1);
  std::ostringstream out;
  out << conversion.InputWidth() << ' ' << conversion.InputHeight() << ' ' << bytes.size << ' '
      << decoder.d.progressive_mode << ' ' << decoder.d.num_components << ' ' << luma.h_samp_factor
      << ' ' << luma.v_samp_factor << ' ' << decoder.metadata.orientation << ' '
      << decoder.metadata.icc.size() << ' ' << (space.empty() ? "-" : space);
  return out.str();
}
