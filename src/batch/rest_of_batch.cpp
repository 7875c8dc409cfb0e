#include "batch/rest_of_batch.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "batch/load_photo.h"
#include "batch/rest_scheduler.h"
#include "codec/step_progress.h"
#include "convert/conversion.h"
#include "convert/page_block.h"

namespace {

// One photo of the rest: what the program's thread prepared for it, and what
// its worker made of it.
struct RestPhoto {
  std::string path;
  // What the walk told in a photo's place (a folder without photos, say),
  // told in its turn.
  std::optional<PhotoOutcome> told;
  PhotoNames names;
  bool named = false;  // its X-name fits in a path
  // The worker's, for the program's thread once the photo is converted.
  PhotoOutcome outcome;    // goOn: a copy to write
  bool overLimit = false;  // no quality makes its copy as small as the limit
  uint64_t inputTime = 0;
  PageBlock copy;  // the copy's bytes, exactly
};

// Where a photo's reading, decoding and encoding fall within its share of
// the run.
constexpr double kRead = 0.05;
constexpr double kDecoded = 0.5;

// The workers' side: each converts its photos with a conversion of its own,
// whose blocks stay warm from one photo to the next.
class RestRun {
 public:
  RestRun(Platform& platform, InputMode mode, const UserChoices& choices,
          std::vector<RestPhoto>& photos, size_t workers)
      : platform_(platform), mode_(mode), choices_(choices), photos_(photos), warm_(workers, 0) {
    for (size_t w = 0; w < workers; ++w)
      conversions_.push_back(std::make_unique<Conversion>(Conversion::Blocks::kWarm));
  }

  void Convert(size_t index, size_t worker, PhotoGate& gate) {
    RestPhoto& photo = photos_[index];
    try {
      photo.outcome = Make(photo, *conversions_[worker], warm_[worker], gate);
    } catch (const std::bad_alloc&) {
      // A worker's thread has nothing above it to catch a small allocation
      // that failed: the photo gets the message memory short gets.
      photo.outcome = PhotoOutcome::Error(kErrorNotEnoughMemory);
    }
  }

  void Idle(size_t worker) {
    conversions_[worker]->Release();
    warm_[worker] = 0;
  }

 private:
  // Decodes and encodes with the photo's choices; the codec's status.
  // Memory short for the encoder's tables fails rather than making other
  // bytes than one thread would, unless `standardTables` allows them.
  int Code(Conversion& conversion, PhotoGate& gate, bool standardTables, bool& overLimit) {
    StepProgress decoding(&gate, kRead, kDecoded);
    const int decoded = conversion.Decode(choices_.sizeChoice, &decoding);
    if (decoded != CODEC_OK)
      return decoded;
    if (!conversion.PrepareCopy())
      return CODEC_NO_MEMORY;
    StepProgress encoding(&gate, kDecoded, 1);
    if (!choices_.atMostKb)
      return conversion.Encode(choices_.quality, &encoding, !standardTables);
    // The ceiling is the quality the user typed, whatever the photo before
    // came to.
    QualitySearch found;
    const int status = conversion.EncodeWithin(uint64_t{*choices_.atMostKb} << 10, choices_.quality,
                                               &encoding, found, !standardTables);
    overLimit = found.outcome == QualitySearch::kNoneFits;
    return status;
  }

  PhotoOutcome Make(RestPhoto& photo, Conversion& conversion, uint64_t& warm, PhotoGate& gate) {
    if (photo.told)
      return *photo.told;
    OpenedPhoto opened;
    PhotoOutcome outcome = OpenPhoto(platform_, mode_, photo.path.c_str(), opened);
    if (!outcome.goOn)
      return outcome;
    photo.inputTime = opened.lastWriteTime;
    const auto shedAll = [&] {
      conversion.Release();
      warm = 0;
      return opened.bytes;
    };
    if (!gate.Reserve(std::max(warm, opened.bytes), shedAll))
      return PhotoOutcome::Stop();
    StepProgress reading(&gate, 0, kRead);
    outcome = ReadPhoto(opened, conversion, &reading);
    if (!outcome.goOn)
      return outcome;
    if (!conversion.ReadHeader())
      return PhotoOutcome::Message(kNotAJpegText);
    const uint64_t need = conversion.MemoryNeed(choices_.sizeChoice);
    const auto shedWork = [&] {
      conversion.ReleaseWork();
      warm = 0;
      return need;
    };
    if (!gate.Reserve(std::max(warm, need), shedWork))
      return PhotoOutcome::Stop();
    warm = std::max(warm, need);

    int status = Code(conversion, gate, false, photo.overLimit);
    // Short beside other photos: again once alone. Alone, the encoder's
    // standard tables, as with one thread.
    while (status == CODEC_NO_MEMORY && gate.WaitAlone(need, shedWork))
      status = Code(conversion, gate, false, photo.overLimit);
    if (status == CODEC_NO_MEMORY && conversion.Width() > 0 && conversion.Height() > 0)
      status = Code(conversion, gate, true, photo.overLimit);
    switch (status) {
      case CODEC_OK:
        break;
      case CODEC_NO_MEMORY:
        return PhotoOutcome::Error(kErrorNotEnoughMemory);
      case CODEC_CANCELLED:
        return PhotoOutcome::Stop();
      case CODEC_UNREADABLE:
        return PhotoOutcome::Message(kNotAJpegText);
      default:
        break;  // nothing worth a file: a 0 by 0 copy, say
    }
    if (!photo.named)
      return PhotoOutcome::Error(kErrorFilenameTooLong);
    if (conversion.CopyBytes() == 0 || photo.overLimit)
      return PhotoOutcome::Skip();
    return KeepCopy(photo, conversion, gate);
  }

  // Copies the encoding out of the worker's blocks, so that the worker can go
  // on while its copy waits for its turn to be written.
  PhotoOutcome KeepCopy(RestPhoto& photo, const Conversion& conversion, PhotoGate& gate) {
    const uint32_t bytes = conversion.CopyBytes();
    if (!photo.copy.Allocate(bytes) && !(gate.WaitAlone(0, {}) && photo.copy.Allocate(bytes)))
      return PhotoOutcome::Error(kErrorNotEnoughMemory);
    uint8_t* to = photo.copy.data();
    for (const auto piece : conversion.CopyPieces())
      to = std::copy(piece.begin(), piece.end(), to);
    gate.Hold(bytes);
    return PhotoOutcome::GoOn();
  }

  Platform& platform_;
  const InputMode mode_;
  const UserChoices choices_;
  std::vector<RestPhoto>& photos_;
  std::vector<std::unique_ptr<Conversion>> conversions_;
  std::vector<uint64_t> warm_;  // what each worker's conversion may hold
};

// Names shown at most in the message that ends a run with a limit.
constexpr size_t kNamesShown = 20;

// "These photos cannot be made as small as N KB:", then their names.
std::string OverLimitText(uint32_t kb, const std::vector<std::string>& names) {
  std::string text = "These photos cannot be made as small as " + std::to_string(kb) + " KB:";
  for (size_t i = 0; i < names.size() && i < kNamesShown; ++i)
    text += "\n" + names[i];
  if (names.size() > kNamesShown)
    text += "\nand " + std::to_string(names.size() - kNamesShown) + " more.";
  return text;
}

// For each photo, the latest photo before it whose copy it reads: img.jpg's
// copy is imgX.jpg, which a later photo of the batch may be.
std::vector<size_t> CopiesRead(const std::vector<RestPhoto>& photos, LeadByteRule isLeadByte) {
  std::vector<size_t> after(photos.size(), RestScheduler::kNone);
  std::unordered_map<std::string, size_t> writer;
  for (size_t i = 0; i < photos.size(); ++i) {
    if (const auto it = writer.find(MatchKey(photos[i].path, isLeadByte)); it != writer.end())
      after[i] = it->second;
    if (photos[i].named)
      writer[MatchKey(photos[i].names.OutputPath.data(), isLeadByte)] = i;
  }
  return after;
}

}  // namespace

BatchEnding RunRest(JobState& job, Platform& platform, InputMode mode, PhotoWalk& walk) {
  const size_t first = walk.Number() + 1;
  std::vector<RestPhoto> photos;
  while (walk.Next()) {
    RestPhoto& photo = photos.emplace_back();
    photo.told = walk.Told();
    if (photo.told)
      continue;
    photo.path = walk.Path();
    // The window names the photo by its copy's name from the start.
    photo.named = BuildOutputPath(photo.names, photo.path, platform.LeadBytes());
    if (photo.named)
      BuildDisplayName(photo.names, platform.LeadBytes());
  }
  const size_t total = walk.Number();
  const RestLimits limits = platform.RestOfBatchLimits();
  const size_t workers = std::max<size_t>(1, std::min(limits.workers, photos.size()));
  RestRun run(platform, mode, job.choices, photos, workers);
  RestScheduler scheduler(
      photos.size(), {workers, limits.budget}, CopiesRead(photos, platform.LeadBytes()),
      [&run](size_t index, size_t worker, PhotoGate& gate) { run.Convert(index, worker, gate); },
      [&run](size_t worker) { run.Idle(worker); });

  std::optional<BatchEnding> ending;
  std::vector<std::string> overLimit;
  double shown = 0;
  for (size_t i = 0, number = first; i < photos.size() && !ending; ++i) {
    RestPhoto& photo = photos[i];
    if (!photo.told) {
      platform.ShowBatchPhoto(number++, total,
                              photo.named ? photo.names.DisplayName.data() : photo.path.c_str());
    }
    const bool converted = scheduler.Await(i, [&](double photosDone) {
      // Reports never go back, though a photo tried again alone starts over.
      shown = std::max(shown, photosDone / static_cast<double>(photos.size()));
      return platform.ReportBatchProgress(std::min(shown, 1.0));
    });
    if (!converted) {
      ending = BatchEnding::kDestroyHost;
      break;
    }
    if (photo.outcome.goOn) {
      const std::span<const uint8_t> bytes = photo.copy.bytes();
      const SystemError error =
          platform.SaveOutput(photo.names.OutputPath.data(), {&bytes, 1}, photo.inputTime);
      if (error != kNoError) {
        // A full disk or a folder gone fails every copy after this one: the
        // run ends with one message, not one for each photo left.
        platform.ShowSystemError(error);
        ending = BatchEnding::kDestroyHost;
      }
    } else {
      ending = Tell(platform, photo.outcome);
    }
    if (photo.overLimit)
      overLimit.push_back(photo.path.substr(FileNameStart(photo.path, platform.LeadBytes())));
    photo.copy.Release();
    scheduler.Done(i);
  }
  scheduler.Stop();
  platform.CloseBatchProgress();
  if (!overLimit.empty())
    platform.ShowMessage(OverLimitText(*job.choices.atMostKb, overLimit).c_str());
  return ending.value_or(BatchEnding::kDestroyHost);
}
