#include "codec/exif_orientation.h"

namespace {

constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kEntryBytes = 12;

// Reads the TIFF structure after the Exif header; offsets count from its start.
class TiffReader {
 public:
  TiffReader(std::span<const uint8_t> tiff, bool big_endian) : tiff_(tiff), big_(big_endian) {}

  bool Has(size_t offset, size_t bytes) const {
    return offset <= tiff_.size() && bytes <= tiff_.size() - offset;
  }
  // Callers check Has() first.
  uint16_t U16(size_t at) const {
    return big_ ? static_cast<uint16_t>(tiff_[at] << 8 | tiff_[at + 1])
                : static_cast<uint16_t>(tiff_[at + 1] << 8 | tiff_[at]);
  }
  uint32_t U32(size_t at) const {
    return big_ ? static_cast<uint32_t>(U16(at)) << 16 | U16(at + 2)
                : static_cast<uint32_t>(U16(at + 2)) << 16 | U16(at);
  }

 private:
  std::span<const uint8_t> tiff_;
  bool big_;
};

}  // namespace

uint16_t ExifOrientation(std::span<const uint8_t> app1) {
  if (app1.size() < sizeof kExifHeader)
    return 0;
  for (size_t i = 0; i < sizeof kExifHeader; ++i) {
    if (app1[i] != kExifHeader[i])
      return 0;
  }
  const std::span<const uint8_t> tiff = app1.subspan(sizeof kExifHeader);
  if (tiff.size() < 8)
    return 0;
  bool big_endian;
  if (tiff[0] == 'M' && tiff[1] == 'M') {
    big_endian = true;
  } else if (tiff[0] == 'I' && tiff[1] == 'I') {
    big_endian = false;
  } else {
    return 0;
  }
  const TiffReader reader(tiff, big_endian);
  if (reader.U16(2) != 42)
    return 0;
  // IFD0 only, read once: no chain of IFDs is followed, so no loop can form.
  const size_t ifd = reader.U32(4);
  if (!reader.Has(ifd, 2))
    return 0;
  const size_t entries = reader.U16(ifd);
  // An IFD that claims more entries than the segment holds is damaged.
  if (!reader.Has(ifd + 2, entries * kEntryBytes))
    return 0;
  for (size_t i = 0; i < entries; ++i) {
    const size_t entry = ifd + 2 + i * kEntryBytes;
    if (reader.U16(entry) != kOrientationTag)
      continue;
    if (reader.U16(entry + 2) != kTypeShort || reader.U32(entry + 4) != 1)
      return 0;
    // A SHORT of count 1 sits in the first two bytes of the value field.
    return reader.U16(entry + 8);
  }
  return 0;
}

std::array<uint8_t, kExifOrientationBytes> ExifOrientationSegment(uint16_t orientation) {
  const auto high = static_cast<uint8_t>(orientation >> 8);
  const auto low = static_cast<uint8_t>(orientation & 0xFF);
  return {'E',  'x',  'i', 'f',        0, 0,        // Exif header
          'M',  'M',  0,   42,         0, 0, 0, 8,  // TIFF header, IFD0 at 8
          0,    1,                                  // one entry
          0x01, 0x12, 0,   kTypeShort, 0, 0, 0, 1,  // Orientation, SHORT, count 1
          high, low,  0,   0,                       // its value
          0,    0,    0,   0};                      // no next IFD
}
