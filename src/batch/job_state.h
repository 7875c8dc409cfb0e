// The program-wide record of all working data, and the arithmetic that the
// pipeline and both dialogs share: row pad, block sizes and KB texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "batch/page_block.h"

enum SizeChoice : int32_t {
  SIZE_FULL = 0,
  SIZE_HALF = 1,
  SIZE_QUARTER = 2,
};

// Paths and names, terminator included.
inline constexpr size_t kPathBytes = 260;
// What the open dialog may return: a folder and the names chosen in it.
inline constexpr size_t kSelectionBytes = 1000;

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

  // The open dialog's result and where each chosen name starts in it.
  std::array<char, kSelectionBytes> SelectionBuffer{};
  std::vector<size_t> nameOffsets;
  int32_t fileCount = 0;
  size_t directoryLength = 0;

  // Selection mode: index of the chosen name; command-line mode: offset of the
  // current path in CommandLineBuffer.
  size_t currentFile = 0;
  size_t nextStart = 0;
  PathBuffer inputPath{};

  uint32_t fileSize = 0;
  PageBlock jpegBuffer;      // the input's bytes, later the encoded output
  uint32_t encodedSize = 0;  // 0: no usable encoding in jpegBuffer

  int32_t width = 0;
  int32_t height = 0;
  int32_t rowPad = 0;
  SizeChoice sizeChoice = SIZE_FULL;
  int32_t quality = 90;
  PageBlock pixelBuffer;

  PathBuffer OutputPath{};
  PathBuffer DisplayName{};
};

// Bytes that end each pixel row so that a row of 3-byte pixels fills a
// multiple of 4 bytes: 0 to 3.
int32_t RowPad(int32_t width);

// (width + row pad) x height x 3, in 64 bits: what the pixel buffer needs.
// Images larger than a 32-bit process can hold give sizes above
// kMaxBlockBytes, which PageBlock refuses.
uint64_t BlockSize(int32_t width, int32_t height);

// The output JPEG buffer's capacity: the block size, raised to the encoder's
// worst case for the image when that is larger (tiny images encode to more
// bytes than their pixels take).
uint64_t OutputCapacity(int32_t width, int32_t height);

// "N KB": the byte count divided by 1024, rounded down.
std::string KbText(uint32_t bytes);
