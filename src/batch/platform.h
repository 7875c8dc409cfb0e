// What the batch asks of the platform: the open dialog, the input file, the
// two dialogs, message boxes and the save. The Windows program implements it
// with the system's calls; the tests with a fake.
#pragma once

#include <cstdint>
#include <span>

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
  kChosen,     // the result is in job.SelectionBuffer
  kCancelled,  // by the user, or the dialog failed
  kTooMany,    // the names chosen do not fit in the buffer: nothing to act on
};

class Platform {
 public:
  virtual ~Platform() = default;

  // The multi-selection open dialog, its result in job.SelectionBuffer.
  virtual FileChoice ChooseFiles(JobState& job) = 0;

  // The input file: opened for reading only, sharing it with readers only,
  // until CloseInput. InputSizeAndTime gives its size and last-write time
  // (a FILETIME value). ReadInput fills the whole span or fails.
  virtual SystemError OpenInput(const char* path) = 0;
  virtual SystemError InputSizeAndTime(uint64_t& bytes, uint64_t& lastWriteTime) = 0;
  virtual SystemError ReadInput(std::span<uint8_t> into) = 0;
  virtual void CloseInput() = 0;

  // The two modal dialogs over the job; their results are SizeResult and
  // QualityResult.
  virtual int ShowSizeDialog(JobState& job) = 0;
  virtual int ShowQualityDialog(JobState& job) = 0;

  virtual void ShowMessage(const char* text) = 0;
  virtual void ShowSystemError(SystemError error) = 0;

  // The copies made without dialogs after "Same for the rest" are shown in a
  // window of their own: the photo in hand, `number` of `total`, under its
  // new name, how far the whole run has come, and a Cancel button.
  virtual void ShowBatchPhoto(size_t number, size_t total, const char* newName) = 0;
  // `done` of the whole run, 0 to 1. Keeps the program's windows answering;
  // false once the user has cancelled. Called from inside the codec.
  virtual bool ReportBatchProgress(double done) noexcept = 0;
  virtual void CloseBatchProgress() = 0;

  // Writes the pieces, one after another, under `path` whole or not at all:
  // a file already there is replaced only by a complete new one, and is
  // untouched on failure. The new file takes `lastWriteTime` (0: its own).
  virtual SystemError SaveOutput(const char* path, std::span<const std::span<const uint8_t>> pieces,
                                 uint64_t lastWriteTime) = 0;

  // How paths are read in the platform's code page: which bytes start a
  // double-byte character.
  virtual LeadByteRule LeadBytes() const = 0;
};
