#include "checks.h"

#include "check_report.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <utility>

#include "batch/command_line.h"
#include "batch/input_list.h"
#include "batch/job_state.h"
#include "batch/output_naming.h"
#include "batch/selection.h"
#include "codec/exif_orientation.h"

namespace fuzz_checks {
namespace {

std::string_view AsText(std::span<const uint8_t> input) {
  return {reinterpret_cast<const char*>(input.data()), input.size()};
}

// A string that must end in a zero byte within its buffer, up to that byte.
std::string_view Terminated(const char* text, size_t room, bool* terminated) {
  const size_t length = strnlen(text, room);
  *terminated = length < room;
  return {text, length};
}

}  // namespace

// --- The Exif orientation reader ---

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

// --- The command line ---

Violations CheckCommandLine(std::span<const uint8_t> input) {
  Report report;
  const std::string_view text = AsText(input);
  std::string kept;
  std::copy_if(text.begin(), text.end(), std::back_inserter(kept), [](char c) { return c != '"'; });

  BatchInput job;
  CaptureArguments(job, text);
  const std::vector<char>& buffer = job.CommandLineBuffer;
  report.Check(job.commandLineLength == kept.size(),
               "the captured length is the text's without quotes");
  report.Check(buffer.size() == kept.size() + 3 &&
                   std::equal(kept.begin(), kept.end(), buffer.begin()) &&
                   std::all_of(buffer.end() - 3, buffer.end(), [](char c) { return c == '\0'; }),
               "the buffer holds the text without quotes, then three zero bytes");
  const InputMode mode = BeginBatch(job);
  report.Check(mode == (kept.empty() ? InputMode::kSelection : InputMode::kCommandLine),
               "the mode follows whether the text holds anything");
  if (mode != InputMode::kCommandLine || !report.Clean())
    return report.Take();

  // The original text, zero bytes after it as in the buffer, to compare the
  // walk's pieces with while the split writes terminators into the buffer.
  const std::string padded = kept + std::string(3, '\0');
  const std::string_view prefix(padded.data(), 3);
  const char* const begin = buffer.data();
  const char* const end = begin + buffer.size();
  size_t steps = 0;
  while (job.currentFile < job.commandLineLength) {
    if (!report.Check(++steps <= kept.size(), "the walk ends within one path per character"))
      break;
    const size_t start = job.currentFile;
    const char* path = SplitCurrentPath(job);
    if (!report.Check(path == begin + start, "each path starts at currentFile in the buffer") ||
        !report.Check(std::memchr(path, '\0', static_cast<size_t>(end - path)) != nullptr,
                      "each path ends inside the buffer") ||
        !report.Check(job.nextStart > start, "nextStart strictly increases"))
      break;
    // The path runs to the character before the prefix's next occurrence, or
    // to the end of the text.
    const size_t next = job.nextStart;
    if (!report.Check(next <= kept.size(), "nextStart stays within the text"))
      break;
    const bool split = next < kept.size();
    const size_t stop = split ? next - 1 : kept.size();
    report.Check(!split || (padded.compare(next, 3, prefix) == 0 && buffer[stop] == '\0'),
                 "a split is at the prefix, the character before it a terminator");
    report.Check(padded.find(prefix, start + 1) >= next,
                 "a path holds the prefix nowhere after its first character");
    const std::string_view piece(padded.data() + start, stop - start);
    report.Check(std::string_view(path) == piece.substr(0, piece.find('\0')),
                 "each path is the text up to its split");
    job.currentFile = next;
  }
  return report.Take();
}

// --- The open dialog's result ---

Violations CheckSelection(std::span<const uint8_t> input) {
  Report report;
  BatchInput job;
  const size_t copied = std::min(input.size(), kSelectionBytes);
  std::memcpy(job.SelectionBuffer.data(), input.data(), copied);

  // The result as the dialog lays it out: the first string (the folder, or
  // the one full path) and the names after it, each ended by a zero byte, up
  // to an empty one. Without that empty one the list was cut at the
  // buffer's end, and a string that reaches the end is unterminated.
  const std::string_view result(job.SelectionBuffer.data(), kSelectionBytes);
  struct Piece {
    std::string_view text;
    bool terminated;
  };
  std::vector<Piece> pieces;
  bool whole = false;
  for (size_t p = 0; p < result.size();) {
    const size_t zero = std::min(result.find('\0', p), result.size());
    if (!pieces.empty() && zero == p) {
      whole = true;
      break;
    }
    pieces.push_back({result.substr(p, zero - p), zero < result.size()});
    p = zero + 1;
  }
  const Piece first = pieces.front();
  const std::span<const Piece> names = std::span<const Piece>(pieces).subspan(1);

  const bool parsed = ParseSelection(job);
  report.Check(parsed == whole, "a result is taken exactly when it ends with its double zero");
  if (!parsed) {
    report.Check(job.fileCount == 0, "a cut result has no files");
    return report.Take();
  }
  report.Check(job.fileCount >= 1, "fileCount is at least 1");
  report.Check(static_cast<size_t>(job.fileCount) == std::max<size_t>(names.size(), 1),
               "fileCount is the number of names, or 1 for a full path");
  for (size_t index = 0; index < static_cast<size_t>(job.fileCount); ++index) {
    report.SetContext("file " + std::to_string(index) + ": ");
    const bool built = BuildSelectedPath(job, index);
    bool terminated = false;
    const std::string_view path = Terminated(job.inputPath.data(), kPathBytes, &terminated);
    if (!report.Check(terminated, "inputPath is zero-terminated"))
      continue;
    std::string expected(first.text);
    bool complete = first.terminated;
    if (!names.empty()) {
      expected += '\\';
      expected += names[index].text;
      complete = names[index].terminated;
    }
    const bool fits = complete && expected.size() < kPathBytes;
    report.Check(built == fits, "a path is built exactly when it is whole and fits");
    if (built)
      report.Check(path == expected, "a built path is the folder, a backslash and the name");
    else
      report.Check(
          std::all_of(job.inputPath.begin(), job.inputPath.end(), [](char c) { return c == '\0'; }),
          "a path that is not built is empty");
  }
  return report.Take();
}

// --- The output naming ---

Violations CheckOutputNaming(std::span<const uint8_t> input) {
  Report report;
  // The program names outputs of zero-terminated paths.
  const std::string_view text = AsText(input);
  const std::string_view path = text.substr(0, text.find('\0'));

  // The file name follows the last separator; the X goes before its first
  // dot, or at its end.
  size_t nameStart = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' || path[i] == '/')
      nameStart = i + 1;
  }
  size_t insertAt = nameStart;
  while (insertAt < path.size() && path[insertAt] != '.')
    ++insertAt;
  const std::string expected =
      std::string(path.substr(0, insertAt)) + 'X' + std::string(path.substr(insertAt));

  PhotoNames job;
  job.OutputPath.fill('?');
  job.DisplayName.fill('?');
  const PathBuffer untouched = job.DisplayName;
  const bool built = BuildOutputPath(job, path);
  report.Check(built == (expected.size() < kPathBytes),
               "an output path is refused exactly when it does not fit");
  report.Check(job.DisplayName == untouched, "nothing is written past OutputPath");
  if (!built) {
    report.Check(job.OutputPath[0] == '\0', "a refused output path is empty");
    return report.Take();
  }
  bool terminated = false;
  const std::string_view output = Terminated(job.OutputPath.data(), kPathBytes, &terminated);
  report.Check(terminated && output == expected,
               "the output path is the input with an X before the file name's first dot");
  BuildDisplayName(job);
  const std::string_view shown = Terminated(job.DisplayName.data(), kPathBytes, &terminated);
  report.Check(terminated && shown == std::string_view(expected).substr(nameStart),
               "the shown name is the output path's file name");
  return report.Take();
}

namespace {
constexpr Target kTargets[] = {
    {"codec", CheckCodec},
    {"exif_orientation", CheckExifOrientation},
    {"command_line", CheckCommandLine},
    {"selection", CheckSelection},
    {"output_naming", CheckOutputNaming},
};
}  // namespace

std::span<const Target> Targets() {
  return kTargets;
}

const Target* FindTarget(std::string_view name) {
  const auto found = std::find_if(std::begin(kTargets), std::end(kTargets),
                                  [name](const Target& t) { return t.name == name; });
  return found == std::end(kTargets) ? nullptr : found;
}

}  // namespace fuzz_checks
