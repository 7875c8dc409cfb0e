// What the "Output Quality" dialog decides and computes, without its window.
#pragma once

#include <string>
#include <string_view>

#include "batch/job_state.h"
#include "codec/codec.h"

enum QualityResult : int {
  QUALITY_SAVE = 1,    // the JPEG buffer holds the encoding at the current quality
  QUALITY_RETRY = 96,  // a new quality was stored: show the dialog again
  QUALITY_SKIP = 69,   // do not save this file
};

// Encodes the photo's pixels at `quality` into its copy and keeps the
// codec's status in encodeStatus. `progress` (may be null) is told how the
// encoding goes, and may stop it.
void EncodeAtQuality(PhotoWork& photo, int32_t quality, CodecProgress* progress = nullptr);

// The texts the dialog shows.
struct QualityTexts {
  std::string resolution;  // "W by H"
  std::string quality;
  std::string inputSize;   // "N KB"
  std::string outputSize;  // "N KB"
};
QualityTexts QualityDialogTexts(const PhotoWork& photo, const UserChoices& choices);

// The quality field's text as a number: at most its first 9 characters,
// leading white space skipped, one optional sign, then decimal digits up to
// the first other character. No digits give 0.
int32_t QualityFromText(std::string_view text);

// Save when the typed quality is the current one; otherwise store it and ask
// for another encoding. The "Same for the rest" box's state is kept for the
// next showing and, on Save, for the batch; it counts only where another
// photo follows.
QualityResult DecideQuality(UserChoices& choices, const PhotoWork& photo,
                            std::string_view fieldText, bool sameForRest = false);
