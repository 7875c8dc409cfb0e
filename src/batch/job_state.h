// The program-wide record of all working data, and the arithmetic that the
// pipeline and both dialogs share: row pad, block sizes and KB texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "batch/output_block.h"
#include "batch/page_block.h"
#include "codec/codec.h"
#include "codec/large_blocks.h"

enum SizeChoice : int32_t {
  SIZE_FULL = 0,
  SIZE_HALF = 1,
  SIZE_QUARTER = 2,
};

// Paths and names, terminator included.
inline constexpr size_t kPathBytes = 260;
// What the open dialog may return: a folder and the names chosen in it.
// Windows' ANSI dialog holds at most 32k characters of names chosen at once.
inline constexpr size_t kSelectionBytes = 32 * 1024;

using PathBuffer = std::array<char, kPathBytes>;

struct JobState {
  // Platform handles, opaque to the portable code.
  void* instance = nullptr;
  void* hostWindow = nullptr;
  void* waitCursor = nullptr;
  void* restoreCursor = nullptr;

  // The argument text without its double quotes, then three zero bytes so that
  // the splitter may always look three characters ahead. The splitter writes
  // zero bytes into it. It holds the whole text, however long.
  std::vector<char> CommandLineBuffer = std::vector<char>(3, '\0');
  size_t commandLineLength = 0;
  std::array<char, 3> SplitPrefix{};

  // The open dialog's result and where each chosen name starts in it. On
  // the heap: the record may live on a stack.
  std::vector<char> SelectionBuffer = std::vector<char>(kSelectionBytes, '\0');
  std::vector<size_t> nameOffsets;
  int32_t fileCount = 0;
  size_t directoryLength = 0;

  // Selection mode: index of the chosen name; command-line mode: offset of the
  // current path in CommandLineBuffer.
  size_t currentFile = 0;
  size_t nextStart = 0;
  PathBuffer inputPath{};

  uint32_t fileSize = 0;
  // The input's last-write time, which its copy takes: a Windows FILETIME,
  // 100-nanosecond units since 1601; 0 leaves the copy's own.
  uint64_t inputTime = 0;
  PageBlock jpegBuffer;         // the input's bytes
  CodecMetadata metadata;       // what the copy carries from the input, read by its decode
  OutputBlock outputBuffer;     // the encoded output
  uint32_t encodedSize = 0;     // 0: no usable encoding in outputBuffer
  int encodeStatus = CODEC_OK;  // how the last encoding went

  int32_t width = 0;
  int32_t height = 0;
  int32_t rowPad = 0;
  SizeChoice sizeChoice = SIZE_FULL;
  int32_t quality = 90;
  PageBlock pixelBuffer;

  // "Same for the rest": offered when another photo follows the current one;
  // checked, Save makes the copies of all the photos after it at the same
  // size and quality without their dialogs. Unchecked for each new photo.
  bool morePhotosFollow = false;
  bool sameForRest = false;
  // Set while those photos are made: each takes over the blocks of the one
  // before (input, pixels, the codec's, output), grown where it needs more,
  // instead of fresh pages. All go when the batch ends.
  bool keepBlocks = false;

  PathBuffer OutputPath{};
  PathBuffer DisplayName{};

  // The codec's large blocks, kept warm from one encode of a photo to the
  // next, and as large as the program's other blocks may be.
  LargeBlocks largeBlocks{kMaxBlockBytes};
};

// Bytes that end each pixel row so that a row of 3-byte pixels fills a
// multiple of 4 bytes: 0 to 3.
int32_t RowPad(int32_t width);

// (width + row pad) x height x 3, in 64 bits: what the pixel buffer needs.
// Images larger than a 32-bit process can hold give sizes above
// kMaxBlockBytes, which PageBlock refuses.
uint64_t BlockSize(int32_t width, int32_t height);

// The most an encoding of the image with its metadata can take: what the
// output buffer must be able to hold, though it commits only what is written.
uint64_t OutputBound(int32_t width, int32_t height, const CodecMetadata& metadata);

// "N KB": the byte count divided by 1024, rounded down.
std::string KbText(uint32_t bytes);
