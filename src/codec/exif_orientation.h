// The one Exif entry a copy carries from its original: the orientation, which
// tells viewers how to turn the stored pixels. Everything else in Exif (the
// camera, the times, the place) stays behind.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The data of an APP1 segment (after its length field). Returns the value of
// IFD0's Orientation entry (tag 0x0112, SHORT, count 1) when the segment is
// Exif ("Exif\0\0", then a TIFF header in either byte order) and holds one,
// else 0. Every offset and count is checked against the segment: a damaged
// or hostile segment gives 0, never a read outside it.
uint16_t ExifOrientation(std::span<const uint8_t> app1);

// Orientations worth carrying: 1 is the stored way up, and there are 8.
constexpr bool IsTurningOrientation(uint16_t value) {
  return value >= 2 && value <= 8;
}

// A minimal Exif APP1 segment's data: the header, a big-endian TIFF header and
// an IFD0 holding the Orientation entry alone.
inline constexpr size_t kExifOrientationBytes = 32;
std::array<uint8_t, kExifOrientationBytes> ExifOrientationSegment(uint16_t orientation);
