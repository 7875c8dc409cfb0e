// Shared by the JPEG helpers that read the frame header; the tests reach it
// only through FrameSize and InspectJpeg.
#pragma once

#include <cstddef>

#include "files.h"

namespace e2e {

// Where the first start-of-frame marker sits;
// 0 when there is none.
size_t FrameOffset(const Bytes& jpeg);

}  // namespace e2e
