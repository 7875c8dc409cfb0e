// What must hold for any APP1 segment the Exif orientation reader is given.
// Kept beside checks.cpp, whose target table names it "exif_orientation".
#pragma once

#include <cstdint>
#include <span>

#include "checks.h"

namespace fuzz_checks {

// The bytes as an APP1 segment's data: the reader's result must come from
// them alone, not from bytes after the segment, and a segment made for a
// copy must read back as the orientation it was made for.
Violations CheckExifOrientation(std::span<const uint8_t> input);

}  // namespace fuzz_checks
