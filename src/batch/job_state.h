// The program's working data, split by what it holds: the batch's input (its
// paths and how far the walk has come) and the user's choices, which live for
// the whole run; and the work of the photo in hand, which lives for its walk.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch/output_naming.h"
#include "convert/conversion.h"

// What the open dialog may return: a folder and the names chosen in it.
// Windows' ANSI dialog holds at most 32k characters of names chosen at once.
inline constexpr size_t kSelectionBytes = 32 * 1024;

// Where the batch's paths come from, and where its walk is.
struct BatchInput {
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
};

// What the user chose. Each photo's dialogs open with the choices the photo
// before left.
struct UserChoices {
  SizeChoice sizeChoice = SIZE_FULL;
  // The quality typed last: the copy's, or with a limit the highest tried.
  int32_t quality = 90;
  // "at most N KB": each copy takes the highest quality up to `quality`
  // whose copy is at most this many KB. None: no limit.
  std::optional<uint32_t> atMostKb;
  // "Same for the rest", checked when Save was pressed: the photos after this
  // one get their copies at the same choices, without dialogs.
  bool sameForRest = false;
};

struct JobState {
  BatchInput input;
  UserChoices choices;
};

// The photo in hand, through its dialogs: its conversion and what the batch
// knows of it.
struct PhotoWork {
  Conversion conversion;
  // The input's last-write time, which its copy takes: a Windows FILETIME,
  // 100-nanosecond units since 1601; 0 leaves the copy's own.
  uint64_t inputTime = 0;
  PhotoNames names;
  // How the last encoding went, CODEC_OK when there was none.
  int encodeStatus = CODEC_OK;
  // What "Output Quality" last showed: its copy's quality and the limit it
  // was found within, and whether no quality met that limit.
  int32_t shownQuality = 0;
  std::optional<uint32_t> shownLimit;
  bool limitMissed = false;
  // Another photo follows: "Same for the rest" is offered.
  bool morePhotosFollow = false;
};

// "N KB": the byte count divided by 1024, rounded down.
std::string KbText(uint32_t bytes);
