// What the "Output Quality" dialog decides and computes, without its window.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "batch/job_state.h"
#include "batch/platform.h"
#include "codec/codec.h"

// Each opening's work: encodes the photo at the user's quality, or, with a
// limit, finds the highest quality up to it whose copy fits, and keeps the
// codec's status in encodeStatus and the quality shown in shownQuality.
// `progress` (may be null) is told how the work goes, and may stop it.
void EncodeForDialog(PhotoWork& photo, const UserChoices& choices,
                     CodecProgress* progress = nullptr);

// The texts the dialog shows.
struct QualityTexts {
  std::string resolution;  // "W by H"
  std::string quality;
  std::string inputSize;   // "N KB"
  std::string outputSize;  // "N KB"
  std::string atMost;      // the limit's number, empty without one
};
QualityTexts QualityDialogTexts(const PhotoWork& photo, const UserChoices& choices);

// "Even at quality 1 the copy is larger than N KB.": told after an opening
// whose limit no quality meets.
std::string LimitMissedText(uint32_t kb);

// The quality field's text as a number: at most its first 9 characters,
// leading white space skipped, one optional sign, then decimal digits up to
// the first other character. No digits give 0.
int32_t QualityFromText(std::string_view text);

// The "at most" field's text as a number of KB, read the same way; none,
// meaning no limit, when it holds no digits or a sign.
std::optional<uint32_t> LimitFromText(std::string_view text);

// Save when the fields hold what the dialog shows; otherwise store what they
// hold and ask for another opening. A quality typed over the one shown is
// the new ceiling; the one shown after a search is not. The "Same for the
// rest" box's state is kept for the next showing and, on Save, for the
// batch; it counts only where another photo follows.
QualityResult DecideQuality(UserChoices& choices, const PhotoWork& photo,
                            std::string_view qualityText, std::string_view limitText = {},
                            bool sameForRest = false);
