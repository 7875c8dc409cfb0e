// What the batch asks of the platform: the open dialog, input files, the two
// dialogs, message boxes, the window of the rest of a batch and the save. The
// Windows program implements it with the system's calls; the tests with a
// fake.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "batch/folder_walk.h"
#include "batch/job_state.h"
#include "batch/output_naming.h"

// The platform's code for a failure, 0 for none. The batch shows the
// system's text for it; the codes it makes itself are Windows' own.
using SystemError = uint32_t;
inline constexpr SystemError kNoError = 0;
inline constexpr SystemError kErrorNotEnoughMemory = 8;
inline constexpr SystemError kErrorFilenameTooLong = 206;

// How the open dialog ended.
enum class FileChoice {
  kChosen,     // the result is in input.SelectionBuffer
  kCancelled,  // by the user, or the dialog failed
  kTooMany,    // the names chosen do not fit in the buffer: nothing to act on
};

// How "Output Size" ends. 0 and 1 are the user's Cancel and OK; the others
// end it when the photo turns out unusable.
enum SizeResult : int {
  SIZE_CANCELLED = 0,
  SIZE_CONFIRMED = 1,
  SIZE_UNREADABLE = 2,  // the codec cannot decode the photo
  SIZE_NO_MEMORY = 3,   // the pixel buffer, or the decoder's memory, cannot be had
};

// How "Output Quality" ends.
enum QualityResult : int {
  QUALITY_SAVE = 1,    // the photo's copy is the one to write
  QUALITY_RETRY = 96,  // the user's choices changed: show the dialog again
  QUALITY_SKIP = 69,   // do not save this file
};

// An input file, open for reading only and shared with readers only, until
// the object goes. One thread uses it at a time.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Its size and last-write time (a FILETIME value).
  virtual SystemError SizeAndTime(uint64_t& bytes, uint64_t& lastWriteTime) = 0;
  // Fills the whole span with the next bytes, or fails.
  virtual SystemError Read(std::span<uint8_t> into) = 0;
};

// How many photos the rest of a batch converts at once, and the memory they
// may hold between them.
struct RestLimits {
  size_t workers = 1;
  uint64_t budget = 0;
};

class Platform : public FolderLister {
 public:
  virtual ~Platform() = default;

  // The multi-selection open dialog, its result in input.SelectionBuffer.
  virtual FileChoice ChooseFiles(BatchInput& input) = 0;

  // Whether `path` names a folder, which stands for the photos in it.
  virtual bool IsFolder(const char* path) = 0;
  // A folder's walk is over: a window that showed how it went closes.
  virtual void EndFolderSearch() = 0;

  // Opens the input at `path`; null, with `error` set, when it cannot be
  // opened. Any thread may call it.
  virtual std::unique_ptr<InputFile> OpenInput(const char* path, SystemError& error) = 0;

  // The two modal dialogs over the photo in hand and the user's choices;
  // their results are SizeResult and QualityResult.
  virtual int ShowSizeDialog(PhotoWork& photo, UserChoices& choices) = 0;
  virtual int ShowQualityDialog(PhotoWork& photo, UserChoices& choices) = 0;

  virtual void ShowMessage(const char* text) = 0;
  virtual void ShowSystemError(SystemError error) = 0;

  // Keeps the program's windows answering while the program's own thread
  // works between its windows (reading a large input, say).
  virtual void KeepAnswering() noexcept = 0;

  // The copies made without dialogs after "Same for the rest" are shown in a
  // window of their own: the photo in hand, `number` of `total`, under its
  // new name, how far the whole run has come, and a Cancel button.
  virtual void ShowBatchPhoto(size_t number, size_t total, const char* newName) = 0;
  // `done` of the whole run, 0 to 1. Keeps the program's windows answering;
  // false once the user has cancelled.
  virtual bool ReportBatchProgress(double done) noexcept = 0;
  virtual void CloseBatchProgress() = 0;
  // The rest of a batch's workers and memory, from the machine's processors
  // and the address space free when it starts.
  virtual RestLimits RestOfBatchLimits() = 0;
  // The system ends the user's session: the batch stops at the photo in hand.
  virtual bool SessionEnds() const = 0;

  // Writes the pieces, one after another, under `path` whole or not at all:
  // a file already there is replaced only by a complete new one, and is
  // untouched on failure. The new file takes `lastWriteTime` (0: its own).
  virtual SystemError SaveOutput(const char* path, std::span<const std::span<const uint8_t>> pieces,
                                 uint64_t lastWriteTime) = 0;

  // How paths are read in the platform's code page: which bytes start a
  // double-byte character.
  virtual LeadByteRule LeadBytes() const = 0;
};
