// What must hold for any input to the code that takes data from outside the
// program: the codec binding, the Exif orientation reader, the command line,
// the open dialog's result and the output naming. The fuzz targets run these
// checks on every input they make; the unit tests replay the inputs that once
// failed them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz_checks {

// One line per check that failed; empty when everything held.
using Violations = std::vector<std::string>;

// The JPEG bytes through the header read and, for an image of up to 256 x
// 256 pixels, the decode at the full, half or quarter size the input's length
// picks into a block of the program's size, and the encode of the decoded
// image into a buffer of the program's capacity (codec_checks.cpp).
Violations CheckCodec(std::span<const uint8_t> input);

// The bytes as an APP1 segment's data: the orientation reader's result must
// come from them alone, not from bytes after the segment, and a segment made
// for a copy must read back as the orientation it was made for.
Violations CheckExifOrientation(std::span<const uint8_t> input);

// The bytes as argument text: captured, then split path by path to its end.
Violations CheckCommandLine(std::span<const uint8_t> input);

// The bytes as the open dialog's result (the first kSelectionBytes, zero
// bytes after shorter input): parsed, and every chosen path built.
Violations CheckSelection(std::span<const uint8_t> input);

// The bytes up to the first zero byte as an input path: its output path and
// the name shown for it.
Violations CheckOutputNaming(std::span<const uint8_t> input);

struct Target {
  std::string_view name;  // as scripts/fuzz and tests/fuzz-regressions name it
  Violations (*check)(std::span<const uint8_t>);
};

// Every target, and the one of a name (null when there is none).
std::span<const Target> Targets();
const Target* FindTarget(std::string_view name);

}  // namespace fuzz_checks
