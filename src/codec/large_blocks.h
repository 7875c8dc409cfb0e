// libjpeg takes its memory from the program: small blocks straight from the C
// heap, large ones (whole-image coefficients, row buffers) through a cache
// that keeps what an encode frees for the next encode of the same photo.
// Re-encoding a photo at another quality then asks for the same sizes and
// finds them already touched, which spares a page fault per 4 KiB.
#pragma once

#include <cstddef>

// While an encode runs, large blocks it frees are kept and blocks it asks for
// come from those kept when one of the size is there. Blocks kept from an
// encode before that this one did not take back are freed when it ends.
void BeginKeepingLargeBlocks();
void EndKeepingLargeBlocks();

// Frees every kept block.
void ReleaseKeptLargeBlocks();

// Large blocks of more than `bytes` fail as if memory were short, as they do
// in a 32-bit process for a very large photo; tests take that path with it.
// SIZE_MAX (the start value) sets no limit.
void LimitLargeBlocks(size_t bytes);
