// What cameras and editors put in a photo besides its pixels, made for the
// tests of what a copy carries: Exif segments and ICC profiles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace metadata_samples {

// An Exif APP1 segment's data as cameras write it, in either byte order:
// IFD0 with the camera's make, optionally an orientation (first or last),
// and pointers to an Exif IFD holding the time taken and a GPS IFD.
struct ExifRecipe {
  bool bigEndian = false;
  int orientation = -1;  // -1: no tag
  bool orientationFirst = false;
};

inline std::vector<uint8_t> CameraExif(const ExifRecipe& recipe) {
  std::vector<uint8_t> tiff;
  const auto u16 = [&](uint32_t v) {
    const uint8_t hi = static_cast<uint8_t>(v >> 8), lo = static_cast<uint8_t>(v);
    tiff.insert(tiff.end(), recipe.bigEndian ? std::initializer_list<uint8_t>{hi, lo}
                                             : std::initializer_list<uint8_t>{lo, hi});
  };
  const auto u32 = [&](uint32_t v) {
    recipe.bigEndian ? (u16(v >> 16), u16(v & 0xFFFF)) : (u16(v & 0xFFFF), u16(v >> 16));
  };
  struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
  };
  std::vector<Entry> ifd0 = {{0x010F, 2, 6, 0}, {0x8769, 4, 1, 0}, {0x8825, 4, 1, 0}};
  if (recipe.orientation >= 0) {
    const Entry orientation{0x0112, 3, 1, static_cast<uint32_t>(recipe.orientation)};
    ifd0.insert(recipe.orientationFirst ? ifd0.begin() : ifd0.end(), orientation);
  }
  const uint32_t ifd0At = 8, ifd0Bytes = 2 + 12 * static_cast<uint32_t>(ifd0.size()) + 4;
  const uint32_t makeAt = ifd0At + ifd0Bytes, exifAt = makeAt + 6, gpsAt = exifAt + 18;
  const uint32_t dateAt = gpsAt + 18;
  tiff.insert(tiff.end(), {static_cast<uint8_t>(recipe.bigEndian ? 'M' : 'I'),
                           static_cast<uint8_t>(recipe.bigEndian ? 'M' : 'I')});
  u16(42);
  u32(ifd0At);
  u16(static_cast<uint32_t>(ifd0.size()));
  for (const Entry& e : ifd0) {
    u16(e.tag);
    u16(e.type);
    u32(e.count);
    const uint32_t value = e.tag == 0x010F   ? makeAt
                           : e.tag == 0x8769 ? exifAt
                           : e.tag == 0x8825 ? gpsAt
                                             : e.value;
    e.type == 3 ? (u16(value), u16(0)) : u32(value);
  }
  u32(0);
  for (char c : std::string("Canon", 6))
    tiff.push_back(static_cast<uint8_t>(c));
  u16(1);  // the Exif IFD: DateTimeOriginal
  u16(0x9003), u16(2), u32(20), u32(dateAt);
  u32(0);
  u16(1);  // the GPS IFD: GPSLatitudeRef "N"
  u16(0x0001), u16(2), u32(2), tiff.insert(tiff.end(), {'N', 0, 0, 0});
  u32(0);
  for (char c : std::string("2024:05:01 10:00:00", 20))
    tiff.push_back(static_cast<uint8_t>(c));
  tiff.insert(tiff.begin(), {'E', 'x', 'i', 'f', 0, 0});
  return tiff;
}

// An ICC profile's bytes: a header declaring its size and colour space, then
// filler that tells any misplaced byte.
inline std::vector<uint8_t> IccProfile(size_t size, const char* space, uint32_t declared = 0) {
  std::vector<uint8_t> icc(size);
  for (size_t i = 0; i < size; ++i)
    icc[i] = static_cast<uint8_t>(i * 7 + i / 251);
  const uint32_t claimed = declared != 0 ? declared : static_cast<uint32_t>(size);
  for (int i = 0; i < 4; ++i) {
    icc[i] = static_cast<uint8_t>(claimed >> (24 - 8 * i));
    icc[16 + i] = static_cast<uint8_t>(space[i]);
    icc[36 + i] = static_cast<uint8_t>("acsp"[i]);
  }
  return icc;
}

}  // namespace metadata_samples
