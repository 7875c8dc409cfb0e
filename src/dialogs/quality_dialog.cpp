#include "dialogs/quality_dialog.h"

void EncodeForDialog(PhotoWork& photo, const UserChoices& choices, CodecProgress* progress) {
  photo.shownLimit = choices.atMostKb;
  photo.limitMissed = false;
  if (!choices.atMostKb) {
    photo.shownQuality = choices.quality;
    photo.encodeStatus = photo.conversion.Encode(choices.quality, progress);
    return;
  }
  QualitySearch found;
  photo.encodeStatus = photo.conversion.EncodeWithin(uint64_t{*choices.atMostKb} << 10,
                                                     choices.quality, progress, found);
  photo.shownQuality = found.outcome == QualitySearch::kStopped ? choices.quality : found.quality;
  photo.limitMissed = found.outcome == QualitySearch::kNoneFits;
}

QualityTexts QualityDialogTexts(const PhotoWork& photo, const UserChoices& choices) {
  const Conversion& conversion = photo.conversion;
  return {std::to_string(conversion.Width()) + " by " + std::to_string(conversion.Height()),
          std::to_string(photo.shownQuality), KbText(conversion.InputBytes()),
          KbText(conversion.CopyBytes()),
          choices.atMostKb ? std::to_string(*choices.atMostKb) : std::string()};
}

std::string LimitMissedText(uint32_t kb) {
  return "Even at quality 1 the copy is larger than " + std::to_string(kb) + " KB.";
}

int32_t QualityFromText(std::string_view text) {
  text = text.substr(0, 9);
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  int32_t value = 0;  // nine characters hold at most nine digits: no overflow
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + (text[i] - '0');
  return negative ? -value : value;
}

std::optional<uint32_t> LimitFromText(std::string_view text) {
  const std::string_view kept = text.substr(0, 9);
  const size_t first = kept.find_first_not_of(" \t\n\v\f\r");
  if (first == std::string_view::npos || kept[first] < '0' || kept[first] > '9')
    return std::nullopt;
  return static_cast<uint32_t>(QualityFromText(kept));
}

QualityResult DecideQuality(UserChoices& choices, const PhotoWork& photo,
                            std::string_view qualityText, std::string_view limitText,
                            bool sameForRest) {
  choices.sameForRest = sameForRest && photo.morePhotosFollow;
  const int32_t typed = QualityFromText(qualityText);
  const std::optional<uint32_t> limit = LimitFromText(limitText);
  if (typed == photo.shownQuality && limit == photo.shownLimit)
    return QUALITY_SAVE;
  if (typed != photo.shownQuality)
    choices.quality = typed;
  choices.atMostKb = limit;
  return QUALITY_RETRY;
}
