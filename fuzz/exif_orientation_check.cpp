#include "exif_orientation_check.h"

#include <string>
#include <vector>

#include "codec/exif_orientation.h"

namespace fuzz_checks {

Violations CheckExifOrientation(std::span<const uint8_t> input) {
  Violations found;
  const uint16_t read = ExifOrientation(input);

  // The segment inside a larger buffer, as libjpeg keeps it among other
  // data: a read past its end sees the segment's own bytes again, which
  // hold an Exif header and entries wherever the input does.
  std::vector<uint8_t> buffer(input.begin(), input.end());
  buffer.insert(buffer.end(), input.begin(), input.end());
  if (ExifOrientation(std::span<const uint8_t>(buffer).first(input.size())) != read)
    found.push_back("the result depends on bytes after the segment");

  // A segment made for a copy, for the orientation the first two bytes name.
  const uint16_t value =
      input.size() < 2 ? uint16_t{6} : static_cast<uint16_t>(input[0] << 8 | input[1]);
  const auto made = ExifOrientationSegment(value);
  if (ExifOrientation(made) != value)
    found.push_back("a made segment reads as " + std::to_string(ExifOrientation(made)) + ", not " +
                    std::to_string(value));
  // Cut inside its one entry (which ends at byte 28), it holds no orientation.
  for (size_t cut = 0; cut < 28; ++cut) {
    // An exact copy, so that the sanitizer sees any read past the cut.
    const std::vector<uint8_t> shorter(made.begin(), made.begin() + cut);
    if (ExifOrientation(shorter) != 0)
      found.push_back("a made segment cut to " + std::to_string(cut) + " bytes reads as " +
                      std::to_string(ExifOrientation(shorter)));
  }
  return found;
}

}  // namespace fuzz_checks
